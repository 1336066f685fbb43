#pragma once

#include <QObject>

class QSocketNotifier;

namespace tarnwick {

// Turns SIGTERM and SIGINT into a Qt signal on the main thread (through a self-pipe, since
// almost nothing is safe inside a signal handler). One instance at a time; the handlers are
// restored when it goes.
class Termination : public QObject {
    Q_OBJECT
public:
    explicit Termination(QObject* parent = nullptr);
    ~Termination() override;

signals:
    void requested(int signal);

private:
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace tarnwick
