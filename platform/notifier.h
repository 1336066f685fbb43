#pragma once

#include <QString>
#include <QStringList>

namespace tarnwick {

// Desktop notifications (org.freedesktop.Notifications on the session bus). Without a session
// bus or a notification service nothing happens.
class Notifier {
public:
    virtual ~Notifier() = default;
    // True when a notification was handed to a service.
    virtual bool notify(const QString& summary, const QString& body) = 0;

    static Notifier& current();
    static void install(Notifier* notifier);
};

class RecordingNotifier : public Notifier {
public:
    bool notify(const QString& summary, const QString& body) override {
        sent << summary + QStringLiteral(": ") + body;
        return true;
    }
    QStringList sent;
};

} // namespace tarnwick
