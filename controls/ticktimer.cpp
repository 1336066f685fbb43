#include "controls/ticktimer.h"

#include "runtime/errors.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QTimerEvent>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tarnwick::detail {

// What a timer and its worker share. Everything else of the timer is main-thread only.
struct TickShared {
    std::mutex m;
    std::condition_variable cv;
    TTickTimer* owner = nullptr; // cleared by the timer's destruction
    bool terminated = false;
    bool suspended = true;
    unsigned interval = 1000;
    quint64 wake = 0; // bumped to cut a sleep short
    // Copies of the owner's settings, for the worker.
    bool enabled = true;
    bool sync = true;
    TNotifyEvent onTimer;
    // Hand-over: the last tick posted and the last one that has run on the main thread.
    quint64 posted = 0;
    quint64 done = 0;
    bool inWorkerTick = false;

    // Runs a handed-over tick on the main thread, unless the timer is gone or the tick is stale.
    static void Deliver(const std::shared_ptr<TickShared>& s, quint64 seq) {
        TTickTimer* owner;
        {
            std::lock_guard lock(s->m);
            owner = s->owner;
            if (!owner || seq != s->posted) return;
        }
        // Ticks of other timers posted before this one belong to the same batch of posted
        // events; with the glib dispatcher a loop that the handler runs to process events does
        // not send them until something wakes the dispatcher. Without this, a job started by an
        // alarm would hold the other clocks' workers until it ends.
        if (auto* dispatcher = QAbstractEventDispatcher::instance()) dispatcher->wakeUp();
        std::exception_ptr error;
        try {
            owner->Timer(); // may destroy the owner: it is not touched afterwards
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard lock(s->m);
            s->done = seq;
        }
        s->cv.notify_all();
        // The worker has nothing to do with a failed tick; the application hears of it and the
        // timer keeps ticking.
        if (error) tarnwick::HandleException(error);
    }
};

} // namespace tarnwick::detail

using tarnwick::detail::TickShared;

namespace {
std::atomic<int> liveWorkers{0};
} // namespace

// ---------------------------------------------------------------------------------------------

TTimerThread::TTimerThread(std::shared_ptr<TickShared> shared) : m_shared(std::move(shared)) {}

TTimerThread::~TTimerThread() {
    Terminate();
    wait();
}

void TTimerThread::Suspend() {
    {
        std::lock_guard lock(m_shared->m);
        m_shared->suspended = true;
        ++m_shared->wake;
    }
    m_shared->cv.notify_all();
}

void TTimerThread::Resume() {
    {
        std::lock_guard lock(m_shared->m);
        m_shared->suspended = false;
        ++m_shared->wake;
    }
    m_shared->cv.notify_all();
}

bool TTimerThread::Suspended() const {
    std::lock_guard lock(m_shared->m);
    return m_shared->suspended;
}

void TTimerThread::SetInterval(unsigned ms) {
    {
        std::lock_guard lock(m_shared->m);
        m_shared->interval = ms;
        ++m_shared->wake;
    }
    m_shared->cv.notify_all();
}

void TTimerThread::Terminate() {
    {
        std::lock_guard lock(m_shared->m);
        m_shared->terminated = true;
        ++m_shared->wake;
    }
    m_shared->cv.notify_all();
}

int TTimerThread::LiveCount() {
    return liveWorkers.load();
}

void TTimerThread::run() {
    ++liveWorkers;
    TickShared& s = *m_shared;
    std::unique_lock lock(s.m);
    while (!s.terminated) {
        // A pass that cannot tick waits for a change instead of spinning.
        if (s.suspended || !s.owner || s.interval == 0) {
            s.cv.wait(lock);
            continue;
        }
        const quint64 wake = s.wake;
        const bool cut = s.cv.wait_for(lock, std::chrono::milliseconds(s.interval),
                                       [&] { return s.terminated || s.wake != wake; });
        if (cut || s.terminated || s.suspended || !s.owner || !s.enabled) continue;

        if (s.sync) {
            QCoreApplication* app = QCoreApplication::instance();
            if (!app) continue;
            const quint64 seq = ++s.posted;
            // Queued on the main thread's event loop, so it also runs inside a job that
            // processes events. The functor keeps the state alive, not the timer.
            QMetaObject::invokeMethod(
                app, [shared = m_shared, seq] { TickShared::Deliver(shared, seq); },
                Qt::QueuedConnection);
            s.cv.wait(lock, [&] { return s.done >= seq || !s.owner || s.terminated; });
        } else {
            // The owner waits for this before it goes away.
            TTickTimer* owner = s.owner;
            const TNotifyEvent handler = s.onTimer;
            s.inWorkerTick = true;
            lock.unlock();
            try {
                handler(owner);
            } catch (...) {
                // Nobody on this thread to tell; the tick is lost, the timer goes on.
            }
            lock.lock();
            s.inWorkerTick = false;
            s.cv.notify_all();
        }
    }
    lock.unlock();
    --liveWorkers;
}

// ---------------------------------------------------------------------------------------------

TTickTimer::TTickTimer(QObject* owner)
    : TComponent(owner), m_shared(std::make_shared<TickShared>()) {
    m_shared->owner = this;
}

TTickTimer::~TTickTimer() {
    m_destroying = true;
    m_enabled = false;
    m_onTimer = TNotifyEvent();
    KillWindowTimer();
    {
        std::lock_guard lock(m_shared->m);
        m_shared->owner = nullptr;
        m_shared->enabled = false;
        m_shared->onTimer = TNotifyEvent();
        m_shared->terminated = true;
        ++m_shared->wake;
    }
    // Releases a worker that waits for a tick on this (main) thread.
    m_shared->cv.notify_all();
    if (!m_thread) return;
    if (QThread::currentThread() == m_thread) {
        // Destroyed by its own unsynchronised tick: the thread cannot wait for itself.
        connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);
        m_thread = nullptr;
        return;
    }
    m_thread->wait();
    delete m_thread;
}

void TTickTimer::SyncShared() {
    std::lock_guard lock(m_shared->m);
    m_shared->enabled = m_enabled;
    m_shared->sync = m_syncEvent;
    m_shared->onTimer = m_onTimer;
}

void TTickTimer::SetEnabled(bool value) {
    if (value == m_enabled) return;
    m_enabled = value;
    SyncShared();
    UpdateTimer();
}

void TTickTimer::SetInterval(uint value) {
    if (value == m_interval) return;
    m_interval = value;
    UpdateTimer();
}

void TTickTimer::SetSyncEvent(bool value) {
    m_syncEvent = value;
    SyncShared();
}

void TTickTimer::SetThreaded(bool value) {
    if (value == m_threaded) return;
    m_threaded = value;
    UpdateTimer();
}

void TTickTimer::SetThreadPriority(TThreadPriority value) {
    if (value == m_priority) return;
    m_priority = value;
    if (m_threaded) UpdateTimer();
}

void TTickTimer::SetOnTimer(const TNotifyEvent& value) {
    const bool wasAssigned = m_onTimer.Assigned();
    m_onTimer = value;
    SyncShared();
    if (wasAssigned != m_onTimer.Assigned()) UpdateTimer();
}

bool TTickTimer::WorkerActive() const {
    return m_thread && !m_thread->Suspended();
}

void TTickTimer::KillWindowTimer() {
    if (m_windowTimerId) killTimer(m_windowTimerId);
    m_windowTimerId = 0;
}

void TTickTimer::UpdateTimer() {
    const bool run = m_interval != 0 && m_enabled && m_onTimer.Assigned();
    if (m_threaded) {
        KillWindowTimer();
        if (m_thread) m_thread->Suspend();
        if (m_thread) m_thread->SetInterval(m_interval);
        if (!run) return;
        const auto priority = static_cast<QThread::Priority>(m_priority);
        if (!m_thread) {
            m_thread = new TTimerThread(m_shared);
            m_thread->SetInterval(m_interval);
            m_thread->Resume();
            m_thread->start(priority);
        } else {
            m_thread->setPriority(priority);
            m_thread->Resume();
        }
        return;
    }
    if (m_thread) m_thread->Suspend();
    KillWindowTimer();
    if (!run) return;
    m_windowTimerId = startTimer(std::chrono::milliseconds(m_interval), Qt::PreciseTimer);
    if (m_windowTimerId == 0) throw EOutOfResources(QStringLiteral("Not enough timers available"));
}

void TTickTimer::timerEvent(QTimerEvent* event) {
    if (event->timerId() != m_windowTimerId) {
        TComponent::timerEvent(event);
        return;
    }
    try {
        Timer();
    } catch (...) {
        tarnwick::HandleException(std::current_exception());
    }
}

void TTickTimer::Timer() {
    if (m_enabled && !m_destroying && m_onTimer.Assigned()) m_onTimer(this);
}
