#pragma once

#include "runtime/component.h"

#include <QThread>

#include <memory>

namespace tarnwick::detail {
struct TickShared;
}

// The worker of a threaded TTickTimer: sleeps its interval, then hands the tick to the main
// thread and waits until it has run (or runs it itself without SyncEvent). All it shares with
// its timer is a small state under a mutex, so the timer can go away at any moment: a worker
// waiting for the main thread is released by the destruction.
class TTimerThread : public QThread {
    Q_OBJECT
public:
    explicit TTimerThread(std::shared_ptr<tarnwick::detail::TickShared> shared);
    ~TTimerThread() override;

    // Created suspended; Resume() lets it tick, Suspend() stops it after the current pass.
    void Suspend();
    void Resume();
    bool Suspended() const;
    void SetInterval(unsigned ms);
    // Ends the loop; the owner then waits for the thread.
    void Terminate();

    // Workers whose loop is running, in the whole process (tests check that none is left).
    static int LiveCount();

protected:
    void run() override;

private:
    std::shared_ptr<tarnwick::detail::TickShared> m_shared;
};

// A timer component that ticks from a worker thread (handing each tick to the main thread) or
// from a timer of the main thread's event loop (the window-timer mode).
class TTickTimer : public TComponent {
    Q_OBJECT
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
    Q_PROPERTY(uint Interval READ Interval WRITE SetInterval)
    Q_PROPERTY(bool SyncEvent READ SyncEvent WRITE SetSyncEvent)
    Q_PROPERTY(bool Threaded READ Threaded WRITE SetThreaded)
    Q_PROPERTY(TThreadPriority ThreadPriority READ ThreadPriority WRITE SetThreadPriority)
    Q_PROPERTY(TNotifyEvent OnTimer READ OnTimer WRITE SetOnTimer)
public:
    enum TThreadPriority {
        tpIdle,
        tpLowest,
        tpLower,
        tpNormal,
        tpHigher,
        tpHighest,
        tpTimeCritical
    };
    Q_ENUM(TThreadPriority)

    explicit TTickTimer(QObject* owner = nullptr);
    ~TTickTimer() override;

    bool Enabled() const { return m_enabled; }
    void SetEnabled(bool value);
    uint Interval() const { return m_interval; }
    void SetInterval(uint value);
    bool SyncEvent() const { return m_syncEvent; }
    void SetSyncEvent(bool value);
    bool Threaded() const { return m_threaded; }
    void SetThreaded(bool value);
    TThreadPriority ThreadPriority() const { return m_priority; }
    void SetThreadPriority(TThreadPriority value);
    TNotifyEvent OnTimer() const { return m_onTimer; }
    void SetOnTimer(const TNotifyEvent& value);

    // State for tests: the worker is resumed / the window timer runs.
    bool WorkerActive() const;
    bool WindowTimerActive() const { return m_windowTimerId != 0; }

protected:
    // One tick: calls OnTimer if enabled, not being destroyed and assigned.
    virtual void Timer();
    void timerEvent(QTimerEvent* event) override;

private:
    friend class TTimerThread;
    friend struct tarnwick::detail::TickShared;
    void UpdateTimer();
    void KillWindowTimer();
    void SyncShared();

    bool m_enabled = true;
    uint m_interval = 1000;
    bool m_syncEvent = true;
    bool m_threaded = true;
    TThreadPriority m_priority = tpNormal;
    TNotifyEvent m_onTimer;
    bool m_destroying = false;
    int m_windowTimerId = 0;
    std::shared_ptr<tarnwick::detail::TickShared> m_shared;
    TTimerThread* m_thread = nullptr;
};
