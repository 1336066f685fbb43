#include "platform/notifier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QVariantMap>

#include <atomic>

namespace tarnwick {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");

class DBusNotifier : public Notifier {
public:
    bool notify(const QString& summary, const QString& body) override {
        if (qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS").startsWith(QLatin1String("disabled:")))
            return false;
        static std::atomic<int> counter{0};
        const QString name = QStringLiteral("tarnwick-notify-%1").arg(counter++);
        bool sent = false;
        {
            QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
            if (bus.isConnected() && bus.interface() &&
                bus.interface()->isServiceRegistered(kService).value()) {
                QDBusMessage m = QDBusMessage::createMethodCall(
                    kService, QStringLiteral("/org/freedesktop/Notifications"), kService,
                    QStringLiteral("Notify"));
                m.setArguments(
                    {QStringLiteral("Tarnwick"), quint32(0), QStringLiteral("dialog-error"),
                     summary, body, QStringList(),
                     QVariantMap{{QStringLiteral("urgency"), QVariant::fromValue(uchar(2))}},
                     qint32(-1)});
                sent = bus.call(m, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
            }
        }
        QDBusConnection::disconnectFromBus(name);
        return sent;
    }
};

std::atomic<Notifier*> installed{nullptr};

} // namespace

Notifier& Notifier::current() {
    if (Notifier* n = installed.load(std::memory_order_acquire)) return *n;
    static DBusNotifier native;
    return native;
}

void Notifier::install(Notifier* notifier) {
    installed.store(notifier, std::memory_order_release);
}

} // namespace tarnwick
