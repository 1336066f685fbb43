#pragma once

#include <QObject>

class QSocketNotifier;

namespace tarnwick {

// Tells the program when the system's wall clock was set (by the user, NTP stepping it, a
// resume that corrects it): the counterpart of the system's time-changed notification.
// One per process, living on the main thread.
class SystemClockWatch : public QObject {
    Q_OBJECT
public:
    // The watch; created on first use, on the main thread, owned by the application object.
    // Null without an application object.
    static SystemClockWatch* instance();

    // Whether the kernel reports clock changes here (false: timeChanged only comes from
    // notifyTimeChanged()).
    bool IsWatching() const { return m_fd >= 0; }

    // Raises timeChanged as if the clock had been set (tests, and callers that set the clock).
    void notifyTimeChanged() { emit timeChanged(); }

signals:
    void timeChanged();

private:
    explicit SystemClockWatch(QObject* parent);
    ~SystemClockWatch() override;
    bool arm();
    void onActivated();

    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace tarnwick
