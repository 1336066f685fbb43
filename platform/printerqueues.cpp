#include "platform/printerqueues.h"

#include <QProcess>
#include <QStandardPaths>

#include <atomic>

namespace tarnwick {

namespace {

// CUPS's own list of destinations (`lpstat -e`); no CUPS client means no queues.
class CupsPrinterQueues : public PrinterQueues {
public:
    QStringList queues() override {
        const QString lpstat = QStandardPaths::findExecutable(QStringLiteral("lpstat"));
        if (lpstat.isEmpty()) return {};
        QProcess p;
        p.start(lpstat, {QStringLiteral("-e")});
        if (!p.waitForFinished(5000)) {
            p.kill();
            p.waitForFinished(1000);
            return {};
        }
        if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) return {};
        QStringList names;
        for (const QByteArray& line : p.readAllStandardOutput().split('\n'))
            if (!line.trimmed().isEmpty()) names << QString::fromLocal8Bit(line.trimmed());
        return names;
    }
};

std::atomic<PrinterQueues*> installed{nullptr};

} // namespace

PrinterQueues& PrinterQueues::current() {
    static CupsPrinterQueues cups;
    PrinterQueues* q = installed.load();
    return q ? *q : cups;
}

void PrinterQueues::install(PrinterQueues* queues) {
    installed.store(queues);
}

} // namespace tarnwick
