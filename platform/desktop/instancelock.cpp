#include "platform/desktop/instancelock.h"

#include "platform/posix/filelocks.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

#include <unistd.h>

namespace tarnwick {

namespace {

const QByteArray activateRequest = "activate\n";

class LocalInstanceLock : public InstanceLock {
public:
    explicit LocalInstanceLock(QString folder) : m_folder(std::move(folder)) {}

    bool acquire(const QString& name) override {
        // The name becomes a file name: keep it to one plain path component.
        QString safe = name;
        safe.replace('/', '_');
        if (safe.isEmpty() || safe.startsWith('.')) safe.prepend('_');
        m_socketPath = m_folder + '/' + safe + QStringLiteral(".socket");
        // A kernel lock on the file, not its contents, says who holds the name: it goes with its
        // holder however that ends, so a copy killed at any moment (even while starting) leaves
        // nothing that could keep the next one out. An older copy's lock file is locked alike.
        m_lock = std::make_unique<posix::LockFile>(
            QFile::encodeName(m_folder).toStdString(),
            QFile::encodeName(safe + QStringLiteral(".lock")).toStdString());
        switch (m_lock->tryLock()) {
        case posix::LockResult::Taken:
            break;
        case posix::LockResult::Busy:
            return false;
        case posix::LockResult::Failed:
            // The folder is unusable: run as the only copy rather than not at all.
            qWarning("single-instance lock: %s", m_lock->error().c_str());
            m_lock.reset();
            return true;
        }
        // A socket left by a crashed holder would refuse the listen.
        QLocalServer::removeServer(m_socketPath);
        m_server = std::make_unique<QLocalServer>();
        m_server->setSocketOptions(QLocalServer::UserAccessOption);
        if (m_server->listen(m_socketPath))
            QObject::connect(m_server.get(), &QLocalServer::newConnection, [this] { accept(); });
        return true;
    }

    void onActivate(std::function<void()> activate) override { m_activate = std::move(activate); }

    bool activateHolder() override {
        // The holder listens right after taking the lock; give a copy started at the same moment
        // a little while to get there.
        const QDeadlineTimer deadline(5000);
        do {
            QLocalSocket socket;
            socket.connectToServer(m_socketPath);
            if (socket.waitForConnected(500)) {
                socket.write(activateRequest);
                const bool sent = socket.waitForBytesWritten(2000);
                socket.disconnectFromServer();
                if (socket.state() != QLocalSocket::UnconnectedState)
                    socket.waitForDisconnected(1000);
                return sent;
            }
            QThread::msleep(50);
        } while (!deadline.hasExpired());
        return false;
    }

private:
    void accept() {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
                // Anything but the one request, or too much of it, is dropped.
                if (socket->bytesAvailable() > 64) {
                    socket->abort();
                    return;
                }
                if (!socket->canReadLine()) return;
                if (socket->readLine() == activateRequest && m_activate) m_activate();
                socket->disconnectFromServer();
            });
        }
    }

    QString m_folder;
    QString m_socketPath;
    std::unique_ptr<posix::LockFile> m_lock;
    std::unique_ptr<QLocalServer> m_server;
    std::function<void()> m_activate;
};

} // namespace

std::unique_ptr<InstanceLock> createLocalInstanceLock(const QString& folder) {
    return std::make_unique<LocalInstanceLock>(folder);
}

std::unique_ptr<InstanceLock> InstanceLock::create() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath() + QStringLiteral("/tarnwick-%1").arg(::getuid());
    return createLocalInstanceLock(folder);
}

} // namespace tarnwick
