#pragma once

#include <QString>
#include <QStringList>

namespace tarnwick {

// The system log (syslog, read with journalctl), where every job line also goes so that an
// administrator can follow unattended runs. Identity "tarnwick".
class SystemLog {
public:
    enum Level { Info, Error };
    virtual ~SystemLog() = default;
    virtual void write(Level level, const QString& line) = 0;

    // The process-wide log: syslog unless a test installed another.
    static SystemLog& current();
    // Installs a log (not owned); nullptr restores syslog.
    static void install(SystemLog* log);
};

// Test double.
class RecordingSystemLog : public SystemLog {
public:
    void write(Level level, const QString& line) override {
        lines << (level == Error ? QStringLiteral("E ") : QStringLiteral("I ")) + line;
    }
    QStringList lines;
};

} // namespace tarnwick
