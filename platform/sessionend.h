#pragma once

#include <QDBusUnixFileDescriptor>
#include <QList>
#include <QString>

namespace tarnwick {

// The shutdown kinds offered by the shutdown combo box.
enum class SessionEndKind {
    None,        // any other text: nothing happens
    ProgramOnly, // "Program Only": the window closes normally (the caller's part)
    Shutdown,    // "Shutdown": the machine halts, safe to switch off
    Force,       // "Force": the session ends without asking its programs
    PowerOff,    // "Poweroff": the machine powers off
    LogOff,      // "Logoff": the user is logged off normally
    Reboot,      // "Reboot": the machine restarts
};

// Maps the combo box text, compared exactly (case and blanks count), to its kind.
SessionEndKind sessionEndKindForText(const QString& text);

// Ends the session or the machine's run. ProgramOnly and None are not requests to the system and
// are refused here: closing the program is the window's business.
class SessionEnd {
public:
    virtual ~SessionEnd() = default;
    // Sends the request; true when the system accepted it. Nothing is shown to the user either way.
    virtual bool request(SessionEndKind kind) = 0;
    // Why the last request failed, when that is known.
    virtual QString lastError() const { return {}; }

    // The process-wide service: systemd-logind unless a test installed another.
    static SessionEnd& current();
    // Installs a service (not owned) for the whole process; nullptr restores logind.
    static void install(SessionEnd* service);
};

// systemd-logind on the system bus (org.freedesktop.login1), and for a normal log-off the desktop's
// session manager on the session bus when one runs:
//
//   Shutdown  Manager.Halt(false)
//   PowerOff  Manager.PowerOff(false)
//   Reboot    Manager.Reboot(false)
//   Force     Manager.TerminateSession($XDG_SESSION_ID), or without that variable
//             Session.Terminate() on /org/freedesktop/login1/session/auto (the caller's session)
//   LogOff    the first session manager that owns its name on the session bus:
//               org.gnome.SessionManager  /org/gnome/SessionManager  Logout(uint32 1)
//               org.kde.Shutdown          /Shutdown                  org.kde.Shutdown.logout()
//               org.xfce.SessionManager   /org/xfce/SessionManager   org.xfce.Session.Manager
//                                                                    .Logout(false, true)
//             and when none runs, the same call as Force.
//
// The power calls are not interactive: nobody is expected at the machine, so logind must not wait
// for a password; where policy refuses, the request fails quietly. GNOME's mode 1 and Xfce's
// arguments log off without a confirmation dialog while letting programs with unsaved work object.
//
// Safety: inside a test (TARNWICK_TEST, TARNWICK_TESTDATA or TARNWICK_SOURCE_DIR set, or a bus
// address "disabled:") a bus is only used when it is a private one the test started: a unix socket
// path under the temporary folder, owned by this user. Otherwise the request is refused without
// connecting.
class LogindSessionEnd : public SessionEnd {
public:
    bool request(SessionEndKind kind) override;
    QString lastError() const override { return m_error; }
    // The call last sent, as "service path interface.method(args)", for diagnostics.
    QString lastCall() const { return m_call; }

private:
    QString m_error;
    QString m_call;
};

// Records requests instead of sending them.
class FakeSessionEnd : public SessionEnd {
public:
    bool request(SessionEndKind kind) override {
        requests.append(kind);
        return answer;
    }
    QString lastError() const override { return answer ? QString() : error; }
    QList<SessionEndKind> requests;
    bool answer = true;
    QString error; // said when the answer is false
};

// Whether a D-Bus address may be used for session-end calls in this process (see LogindSessionEnd).
bool sessionBusAllowed(const QString& address, QString* why = nullptr);
// True when the process runs as a test.
bool runningUnderTest();

// Holds a logind "delay" inhibitor on shutdown and sleep while it lives, so that the machine does
// not go down in the middle of a file job. Failing to get one (no logind, refused, or a test
// without a private bus) is not an error for the job: it just runs without the lock.
class ShutdownInhibitor {
public:
    explicit ShutdownInhibitor(const QString& why);
    ~ShutdownInhibitor() = default; // closing the descriptor releases the lock
    ShutdownInhibitor(const ShutdownInhibitor&) = delete;
    ShutdownInhibitor& operator=(const ShutdownInhibitor&) = delete;

    bool isHeld() const { return m_fd.isValid(); }
    void release() { m_fd = QDBusUnixFileDescriptor(); }
    QString error() const { return m_error; }

private:
    QDBusUnixFileDescriptor m_fd;
    QString m_error;
};

} // namespace tarnwick
