#pragma once

#include <QStringList>

namespace tarnwick {

// Printer queues the user can print to.
class PrinterQueues {
public:
    virtual ~PrinterQueues() = default;
    virtual QStringList queues() = 0;

    // The process-wide queues: CUPS unless a test installed another.
    static PrinterQueues& current();
    static void install(PrinterQueues* queues);
};

} // namespace tarnwick
