#include "platform/sessionend.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QVariant>

#include <atomic>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick {

namespace {

constexpr int kCallTimeoutMs = 10000;
const QString kLogin1 = QStringLiteral("org.freedesktop.login1");
const QString kLogin1Path = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");

bool isDisabled(const QString& address) {
    return address.startsWith(QLatin1String("disabled:"));
}

// The socket path of a single "unix:path=..." address, or "" for any other form.
QString unixSocketPath(const QString& address) {
    if (!address.startsWith(QLatin1String("unix:")) || address.contains(QLatin1Char(';')))
        return QString();
    QString path;
    for (const QString& kv : address.mid(5).split(QLatin1Char(','))) {
        if (kv.startsWith(QLatin1String("path=")))
            path = QString::fromUtf8(QByteArray::fromPercentEncoding(kv.mid(5).toUtf8()));
        else if (!kv.startsWith(QLatin1String("guid=")))
            return QString(); // abstract, tmpdir, runtime, ... are not private folders
    }
    return path;
}

bool isUnder(const QString& path, const QString& folder) {
    const QString f = QFileInfo(folder).canonicalFilePath();
    return !f.isEmpty() && path.startsWith(f + QLatin1Char('/'));
}

// One connection per request, to the address in the environment at that moment.
class Bus {
public:
    Bus(QDBusConnection::BusType type, const char* envVar) {
        static std::atomic<int> counter{0};
        m_name = QStringLiteral("tarnwick-session-end-%1").arg(counter++);
        const QString address = qEnvironmentVariable(envVar);
        if (!sessionBusAllowed(address, &m_error)) return;
        m_tried = true;
        QDBusConnection c = address.isEmpty() ? QDBusConnection::connectToBus(type, m_name)
                                              : QDBusConnection::connectToBus(address, m_name);
        if (!c.isConnected()) {
            m_error = QStringLiteral("cannot connect to the bus: %1").arg(c.lastError().message());
            return;
        }
        m_conn = c;
    }
    // Qt's bus thread starts at the first call into it, so a refused bus never calls.
    ~Bus() {
        if (m_tried) QDBusConnection::disconnectFromBus(m_name);
    }
    Bus(const Bus&) = delete;
    Bus& operator=(const Bus&) = delete;

    bool ok() const { return m_conn.has_value(); }
    QDBusConnection& conn() { return *m_conn; }
    QString error() const { return m_error; }

private:
    QString m_name;
    std::optional<QDBusConnection> m_conn;
    QString m_error;
    bool m_tried = false;
};

QString describe(const QDBusMessage& m) {
    QStringList args;
    for (const QVariant& v : m.arguments()) {
        if (v.typeId() == QMetaType::Bool)
            args << (v.toBool() ? QStringLiteral("true") : QStringLiteral("false"));
        else if (v.typeId() == QMetaType::QString)
            args << QLatin1Char('"') + v.toString() + QLatin1Char('"');
        else
            args << v.toString();
    }
    return QStringLiteral("%1 %2 %3.%4(%5)")
        .arg(m.service(), m.path(), m.interface(), m.member(), args.join(QLatin1String(", ")));
}

LogindSessionEnd logindService;
std::atomic<SessionEnd*> installed{nullptr};

} // namespace

SessionEndKind sessionEndKindForText(const QString& text) {
    // In the order of the original table; the texts are compared exactly.
    if (text == QLatin1String("Program Only")) return SessionEndKind::ProgramOnly;
    if (text == QLatin1String("Shutdown")) return SessionEndKind::Shutdown;
    if (text == QLatin1String("Force")) return SessionEndKind::Force;
    if (text == QLatin1String("Poweroff")) return SessionEndKind::PowerOff;
    if (text == QLatin1String("Logoff")) return SessionEndKind::LogOff;
    if (text == QLatin1String("Reboot")) return SessionEndKind::Reboot;
    return SessionEndKind::None;
}

SessionEnd& SessionEnd::current() {
    SessionEnd* s = installed.load(std::memory_order_acquire);
    return s ? *s : logindService;
}

void SessionEnd::install(SessionEnd* service) {
    installed.store(service, std::memory_order_release);
}

bool runningUnderTest() {
    for (const char* v : {"TARNWICK_TEST", "TARNWICK_TESTDATA", "TARNWICK_SOURCE_DIR"})
        if (qEnvironmentVariableIsSet(v)) return true;
    return isDisabled(qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS")) ||
           isDisabled(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"));
}

bool sessionBusAllowed(const QString& address, QString* why) {
    QString ignored;
    QString& reason = why ? *why : ignored;
    if (isDisabled(address)) {
        reason = QStringLiteral("the bus is disabled");
        return false;
    }
    if (!runningUnderTest()) return true;

    // A test may only reach a bus it started itself.
    const QString path = unixSocketPath(address);
    if (path.isEmpty() || !QDir::isAbsolutePath(path)) {
        reason = QStringLiteral("refused in a test: %1 is not a private socket path")
                     .arg(address.isEmpty() ? QStringLiteral("the default bus") : address);
        return false;
    }
    const QString canonical = QFileInfo(path).canonicalFilePath();
    struct stat st {};
    struct stat folder {};
    if (canonical.isEmpty() ||
        !(isUnder(canonical, QDir::tempPath()) || isUnder(canonical, QStringLiteral("/tmp"))) ||
        ::lstat(QFile::encodeName(canonical).constData(), &st) != 0 || !S_ISSOCK(st.st_mode) ||
        st.st_uid != ::getuid() ||
        ::stat(QFile::encodeName(QFileInfo(canonical).path()).constData(), &folder) != 0 ||
        folder.st_uid != ::getuid()) {
        reason = QStringLiteral("refused in a test: %1 is not this user's socket in a temporary "
                                "folder")
                     .arg(path);
        return false;
    }
    return true;
}

bool LogindSessionEnd::request(SessionEndKind kind) {
    m_error.clear();
    m_call.clear();

    auto send = [this](Bus& bus, QDBusMessage msg, const QVariantList& args) {
        msg.setArguments(args);
        m_call = describe(msg);
        const QDBusMessage reply = bus.conn().call(msg, QDBus::Block, kCallTimeoutMs);
        if (reply.type() == QDBusMessage::ErrorMessage) {
            m_error = reply.errorName() + QLatin1String(": ") + reply.errorMessage();
            return false;
        }
        return true;
    };
    auto logind = [&](const QString& method, const QVariantList& args) {
        Bus bus(QDBusConnection::SystemBus, "DBUS_SYSTEM_BUS_ADDRESS");
        if (!bus.ok()) {
            m_error = bus.error();
            return false;
        }
        return send(bus, QDBusMessage::createMethodCall(kLogin1, kLogin1Path, kManager, method),
                    args);
    };
    auto terminateSession = [&]() {
        const QString id = qEnvironmentVariable("XDG_SESSION_ID");
        if (!id.isEmpty()) return logind(QStringLiteral("TerminateSession"), {id});
        Bus bus(QDBusConnection::SystemBus, "DBUS_SYSTEM_BUS_ADDRESS");
        if (!bus.ok()) {
            m_error = bus.error();
            return false;
        }
        return send(bus,
                    QDBusMessage::createMethodCall(kLogin1,
                                                   kLogin1Path + QLatin1String("/session/auto"),
                                                   QStringLiteral("org.freedesktop.login1.Session"),
                                                   QStringLiteral("Terminate")),
                    {});
    };

    switch (kind) {
    case SessionEndKind::None:
    case SessionEndKind::ProgramOnly:
        m_error = QStringLiteral("not a request for the system");
        return false;
    case SessionEndKind::Shutdown:
        return logind(QStringLiteral("Halt"), {false});
    case SessionEndKind::PowerOff:
        return logind(QStringLiteral("PowerOff"), {false});
    case SessionEndKind::Reboot:
        return logind(QStringLiteral("Reboot"), {false});
    case SessionEndKind::Force:
        return terminateSession();
    case SessionEndKind::LogOff:
        break;
    }

    // A normal log-off goes through the desktop, which lets programs save or object.
    {
        Bus bus(QDBusConnection::SessionBus, "DBUS_SESSION_BUS_ADDRESS");
        if (bus.ok() && bus.conn().interface()) {
            struct Manager {
                const char *service, *path, *interface, *method;
                QVariantList args;
            };
            const Manager managers[] = {
                {"org.gnome.SessionManager",
                 "/org/gnome/SessionManager",
                 "org.gnome.SessionManager",
                 "Logout",
                 {QVariant::fromValue(quint32(1))}},
                {"org.kde.Shutdown", "/Shutdown", "org.kde.Shutdown", "logout", {}},
                {"org.xfce.SessionManager",
                 "/org/xfce/SessionManager",
                 "org.xfce.Session.Manager",
                 "Logout",
                 {false, true}},
            };
            for (const Manager& m : managers) {
                if (!bus.conn().interface()->isServiceRegistered(QLatin1String(m.service)).value())
                    continue;
                return send(bus,
                            QDBusMessage::createMethodCall(
                                QLatin1String(m.service), QLatin1String(m.path),
                                QLatin1String(m.interface), QLatin1String(m.method)),
                            m.args);
            }
        }
    }
    return terminateSession();
}

ShutdownInhibitor::ShutdownInhibitor(const QString& why) {
    Bus bus(QDBusConnection::SystemBus, "DBUS_SYSTEM_BUS_ADDRESS");
    if (!bus.ok()) {
        m_error = bus.error();
        return;
    }
    if (!(bus.conn().connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing)) {
        m_error = QStringLiteral("the bus cannot pass file descriptors");
        return;
    }
    QDBusMessage msg =
        QDBusMessage::createMethodCall(kLogin1, kLogin1Path, kManager, QStringLiteral("Inhibit"));
    msg.setArguments({QStringLiteral("shutdown:sleep"), QStringLiteral("Tarnwick"), why,
                      QStringLiteral("delay")});
    const QDBusMessage reply = bus.conn().call(msg, QDBus::Block, kCallTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage || reply.arguments().isEmpty()) {
        m_error = reply.errorName() + QLatin1String(": ") + reply.errorMessage();
        return;
    }
    m_fd = reply.arguments().constFirst().value<QDBusUnixFileDescriptor>();
    if (!m_fd.isValid()) m_error = QStringLiteral("logind returned no lock");
}

} // namespace tarnwick
