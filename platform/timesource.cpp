#include "platform/timesource.h"

#include <atomic>

namespace tarnwick {

namespace {
class SystemTimeSource final : public TimeSource {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

SystemTimeSource systemSource;
std::atomic<TimeSource*> installed{nullptr};
} // namespace

TimeSource& TimeSource::current() {
    TimeSource* s = installed.load(std::memory_order_acquire);
    return s ? *s : systemSource;
}

void TimeSource::install(TimeSource* source) {
    installed.store(source, std::memory_order_release);
}

} // namespace tarnwick
