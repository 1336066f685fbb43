#include "platform/systemlog.h"

#include <atomic>

#include <syslog.h>

namespace tarnwick {

namespace {

class Syslog : public SystemLog {
public:
    Syslog() { ::openlog("tarnwick", LOG_PID, LOG_USER); }
    void write(Level level, const QString& line) override {
        // One entry per line: the compact job's lines end in line breaks of their own.
        const QString text = line.trimmed();
        if (text.isEmpty()) return;
        ::syslog(level == Error ? LOG_ERR : LOG_INFO, "%s", text.toUtf8().constData());
    }
};

std::atomic<SystemLog*> installed{nullptr};

} // namespace

SystemLog& SystemLog::current() {
    if (SystemLog* log = installed.load(std::memory_order_acquire)) return *log;
    static Syslog native;
    return native;
}

void SystemLog::install(SystemLog* log) {
    installed.store(log, std::memory_order_release);
}

} // namespace tarnwick
