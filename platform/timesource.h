#pragma once

#include <QDateTime>

namespace tarnwick {

// Where the program reads the current local time. Tests install their own source so that
// anything that depends on the time of day can be checked without waiting for it.
class TimeSource {
public:
    virtual ~TimeSource() = default;
    virtual QDateTime now() const = 0;

    // The process-wide source; the system clock unless a test installed another.
    static TimeSource& current();
    // Installs a source (not owned) for the whole process; nullptr restores the system clock.
    static void install(TimeSource* source);
};

// A source whose time only moves when told to.
class ManualTimeSource : public TimeSource {
public:
    explicit ManualTimeSource(QDateTime start = QDateTime(QDate(2026, 1, 5), QTime(12, 0)))
        : m_now(start) {}
    QDateTime now() const override { return m_now; }
    void set(const QDateTime& t) { m_now = t; }
    void set(QTime t) { m_now.setTime(t); }
    void advance(qint64 ms) { m_now = m_now.addMSecs(ms); }

private:
    QDateTime m_now;
};

} // namespace tarnwick
