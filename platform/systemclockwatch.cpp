#include "platform/systemclockwatch.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <sys/timerfd.h>
#include <unistd.h>

namespace tarnwick {

SystemClockWatch* SystemClockWatch::instance() {
    static QPointer<SystemClockWatch> watch;
    QCoreApplication* app = QCoreApplication::instance();
    if (!watch && app) watch = new SystemClockWatch(app);
    return watch;
}

SystemClockWatch::SystemClockWatch(QObject* parent) : QObject(parent) {
    // An absolute CLOCK_REALTIME timer far in the future that the kernel cancels whenever the
    // clock is set: reading it then fails with ECANCELED.
    m_fd = timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_fd < 0) return;
    if (!arm()) {
        ::close(m_fd);
        m_fd = -1;
        return;
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SystemClockWatch::onActivated);
}

SystemClockWatch::~SystemClockWatch() {
    delete m_notifier;
    if (m_fd >= 0) ::close(m_fd);
}

bool SystemClockWatch::arm() {
    itimerspec timer{};
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    timer.it_value.tv_sec = now.tv_sec + 10LL * 365 * 24 * 3600;
    return timerfd_settime(m_fd, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &timer, nullptr) == 0;
}

void SystemClockWatch::onActivated() {
    std::uint64_t expirations = 0;
    const ssize_t n = ::read(m_fd, &expirations, sizeof expirations);
    const bool changed = n < 0 && errno == ECANCELED;
    // A cancelled timer stays readable until it is set again; so does an expired one.
    arm();
    if (changed) emit timeChanged();
}

} // namespace tarnwick
