#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace tarnwick {

struct ShareLogin {
    QString address; // smb://server/share, sftp://host/path, ftp://, dav://
    QString user;    // empty: anonymous where the server allows it
    QString domain;
    QString password;
    // Asked when the server wants a decision (an unknown host key, say): the message and the
    // choices; returns the chosen index, or -1 to give up. Unset gives up.
    std::function<int(const QString&, const QStringList&)> question;
};

struct MountedShare {
    QString name;    // as the desktop shows it
    QString address; // the share's root address
    QString path;    // where its files can be reached as local paths, if anywhere
};

// Results of the operations below, in the numbering of the desktop the program was first
// written for, so that a stored or logged result keeps its meaning.
namespace netresult {
constexpr int Success = 0;
constexpr int Cancelled = -1;
constexpr int AccessDenied = 5;      // not allowed to reach the share
constexpr int NotSupported = 50;     // no network file system for this kind of address
constexpr int BadNetPath = 53;       // the server cannot be found
constexpr int BadNetName = 67;       // the server has no such share
constexpr int InvalidAddress = 1200; // not a network address
constexpr int ExtendedError = 1208;  // any other failure; the message says what
constexpr int LogonFailure = 1326;   // wrong user name or password
constexpr int NotConnected = 2250;   // nothing is mounted under that address
} // namespace netresult

// Network shares mounted for this user through the desktop's virtual file system, which needs
// no root rights. Calls block until done but keep the event loop running, so a window stays
// responsive and can cancel.
class NetworkShares {
public:
    virtual ~NetworkShares() = default;
    // Mounts the share; a share that is already mounted counts as success. Fills `message`
    // on failure.
    virtual int mount(const ShareLogin& login, QString* message) = 0;
    // Gives up a mount under way; it then returns Cancelled.
    virtual void cancel() = 0;
    virtual QList<MountedShare> mounted() = 0;
    virtual int unmount(const QString& address, QString* message) = 0;

    // The process-wide shares: GVfs unless a test installed another.
    static NetworkShares& current();
    // Installs shares (not owned) for the whole process; nullptr restores the default.
    static void install(NetworkShares* shares);
};

} // namespace tarnwick
