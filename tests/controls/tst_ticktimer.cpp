#include "controls/alarmclock.h"
#include "controls/ticktimer.h"
#include "platform/systemclockwatch.h"
#include "platform/timesource.h"
#include "runtime/errors.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <thread>

namespace {

// Runs the event loop until `done` or a generous deadline; never a timing assertion.
template <typename F> bool pumpUntil(F done, int ms = 10000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

class TWindow : public QObject {
    Q_OBJECT
public:
    int ticks = 0;
    int depth = 0;
    int maxDepth = 0;
    QList<QThread*> threads;
    // While one tick of A runs and processes events, ticks of B arrive.
    TTickTimer* other = nullptr;
    int otherTicksInside = 0;
    int otherTicks = 0;
    int throwUntil = 0;
    TTickTimer* deleteMe = nullptr;

public slots:
    void TimerATimer(QObject*) {
        ++ticks;
        threads.append(QThread::currentThread());
        ++depth;
        maxDepth = std::max(maxDepth, depth);
        if (other) {
            const int before = otherTicks;
            pumpUntil([&] { return otherTicks >= before + 3; });
            otherTicksInside += otherTicks - before;
        }
        --depth;
    }
    void TimerBTimer(QObject*) {
        ++otherTicks;
        threads.append(QThread::currentThread());
    }
    void ThrowingTimer(QObject*) {
        ++ticks;
        if (ticks <= throwUntil) throw EConvertError(QStringLiteral("tick failed"));
    }
    void DeletingTimer(QObject*) {
        ++ticks;
        delete deleteMe;
        deleteMe = nullptr;
    }
    void CountTimer(QObject*) {
        ++ticks;
        threads.append(QThread::currentThread());
    }
};

// Collects what reaches the application's exception handler.
struct CaughtErrors {
    QStringList messages;
    CaughtErrors() {
        tarnwick::SetExceptionHandler(
            [this](std::exception_ptr e) { messages << tarnwick::ExceptionMessage(e); });
    }
    ~CaughtErrors() { tarnwick::SetExceptionHandler({}); }
};

} // namespace

class TestTickTimer : public QObject {
    Q_OBJECT
private slots:
    void cleanup() {
        // Every worker of the test has ended: destruction joins it.
        QCOMPARE(TTimerThread::LiveCount(), 0);
    }

    void ticksRunOnTheMainThread_data() {
        QTest::addColumn<bool>("threaded");
        QTest::newRow("worker thread") << true;
        QTest::newRow("window timer") << false;
    }
    void ticksRunOnTheMainThread() {
        QFETCH(bool, threaded);
        TWindow w;
        TTickTimer timer;
        timer.SetThreaded(threaded);
        timer.SetInterval(2);
        timer.SetOnTimer(TNotifyEvent(&w, "CountTimer"));
        QCOMPARE(timer.WorkerActive(), threaded);
        QCOMPARE(timer.WindowTimerActive(), !threaded);
        QVERIFY(pumpUntil([&] { return w.ticks >= 5; }));
        for (QThread* t : w.threads)
            QCOMPARE(t, QThread::currentThread());
    }

    void withoutSyncEventTicksRunOnTheWorker() {
        TWindow w;
        TTickTimer timer;
        timer.SetSyncEvent(false);
        timer.SetInterval(2);
        timer.SetOnTimer(TNotifyEvent(&w, "CountTimer"));
        QTRY_VERIFY_WITH_TIMEOUT(timer.WorkerActive(), 1000);
        QThread::msleep(50); // no event processing needed
        timer.SetEnabled(false);
        QVERIFY(w.ticks > 0);
        for (QThread* t : w.threads)
            QVERIFY(t != QThread::currentThread());
    }

    void reconfiguration_data() {
        QTest::addColumn<bool>("assigned");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<uint>("interval");
        QTest::addColumn<bool>("running");
        QTest::newRow("running") << true << true << 10u << true;
        QTest::newRow("no handler") << false << true << 10u << false;
        QTest::newRow("disabled") << true << false << 10u << false;
        QTest::newRow("interval 0") << true << true << 0u << false;
    }
    void reconfiguration() {
        QFETCH(bool, assigned);
        QFETCH(bool, enabled);
        QFETCH(uint, interval);
        QFETCH(bool, running);
        for (bool threaded : {true, false}) {
            TWindow w;
            TTickTimer timer;
            timer.SetThreaded(threaded);
            timer.SetOnTimer(TNotifyEvent(&w, "CountTimer"));
            timer.SetInterval(interval);
            timer.SetEnabled(enabled);
            if (!assigned) timer.SetOnTimer(TNotifyEvent());
            QCOMPARE(timer.WorkerActive(), running && threaded);
            QCOMPARE(timer.WindowTimerActive(), running && !threaded);
            // Switching modes moves the ticking over.
            timer.SetThreaded(!threaded);
            QCOMPARE(timer.WorkerActive(), running && !threaded);
            QCOMPARE(timer.WindowTimerActive(), running && threaded);
        }
    }

    // A tick whose handler processes events: another timer's ticks arrive inside it, its own
    // worker waits (no nested tick of the same timer).
    void ticksArriveWhileAHandlerProcessesEvents() {
        TWindow w;
        TTickTimer a, b;
        w.other = &b;
        b.SetInterval(2);
        b.SetOnTimer(TNotifyEvent(&w, "TimerBTimer"));
        a.SetInterval(2);
        a.SetOnTimer(TNotifyEvent(&w, "TimerATimer"));
        QVERIFY(pumpUntil([&] { return w.ticks >= 3; }));
        a.SetEnabled(false);
        QVERIFY(w.otherTicksInside >= 9);
        QCOMPARE(w.maxDepth, 1);
        for (QThread* t : w.threads)
            QCOMPARE(t, QThread::currentThread());
    }

    // Clock A's alarm runs a job that processes events: clock B's alarm fires inside it, A's
    // does not fire again, although A's ticks in the same minute keep coming.
    void alarmIsNotReEntered();

    void destroyingWhileTheWorkerWaitsDoesNotHang() {
        TWindow w;
        auto* timer = new TTickTimer;
        timer->SetInterval(1);
        timer->SetOnTimer(TNotifyEvent(&w, "CountTimer"));
        // The main thread does not look at events: the worker posts a tick and waits for it.
        QThread::msleep(30);
        delete timer;
        QCoreApplication::processEvents(); // the orphaned tick finds its timer gone
        QCOMPARE(w.ticks, 0);
    }

    void handlerMayDestroyItsTimer() {
        TWindow w;
        w.deleteMe = new TTickTimer;
        w.deleteMe->SetInterval(1);
        w.deleteMe->SetOnTimer(TNotifyEvent(&w, "DeletingTimer"));
        QVERIFY(pumpUntil([&] { return w.deleteMe == nullptr; }));
        QCoreApplication::processEvents();
        QCOMPARE(w.ticks, 1);
    }

    void manyCreateDestroyCycles() {
        TWindow w;
        for (int i = 0; i < 300; ++i) {
            auto* timer = new TTickTimer;
            timer->SetThreaded(i % 7 != 0);
            timer->SetSyncEvent(i % 5 != 0);
            timer->SetInterval(1 + i % 3);
            timer->SetOnTimer(TNotifyEvent(&w, "CountTimer"));
            if (i % 3 == 0) QThread::usleep(1500);
            if (i % 4 == 0) QCoreApplication::processEvents();
            delete timer;
        }
        QCoreApplication::processEvents();
    }

    void exceptionsInTicksGoToTheApplication_data() {
        QTest::addColumn<bool>("threaded");
        QTest::newRow("worker thread") << true;
        QTest::newRow("window timer") << false;
    }
    void exceptionsInTicksGoToTheApplication() {
        QFETCH(bool, threaded);
        CaughtErrors errors;
        TWindow w;
        w.throwUntil = 2;
        TTickTimer timer;
        timer.SetThreaded(threaded);
        timer.SetInterval(2);
        timer.SetOnTimer(TNotifyEvent(&w, "ThrowingTimer"));
        // The timer keeps ticking after a failed tick.
        QVERIFY(pumpUntil([&] { return w.ticks >= 5; }));
        QCOMPARE(errors.messages, (QStringList{"tick failed", "tick failed"}));
    }

    void noWindowTimerIsAnOutOfResourcesError() {
        TWindow w;
        QString message;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Timers can only be used"));
        // A thread without an event loop cannot have a timer.
        std::thread t([&] {
            TTickTimer timer;
            timer.SetThreaded(false);
            timer.SetInterval(10);
            try {
                timer.SetOnTimer(TNotifyEvent(&w, "CountTimer"));
            } catch (const EOutOfResources& e) {
                message = e.Message();
            }
        });
        t.join();
        QCOMPARE(message, QStringLiteral("Not enough timers available"));
    }
};

class TAlarmWindow : public QObject {
    Q_OBJECT
public:
    int aAlarms = 0, bAlarms = 0, bInsideA = 0;
    bool inA = false;
    tarnwick::ManualTimeSource* time = nullptr;
public slots:
    void AlarmClock1Alarm(QObject*) {
        ++aAlarms;
        inA = true;
        // A job that processes events while B's alarm time comes; meanwhile the system time
        // is set, which runs A's alarm check again inside its own alarm.
        time->set(QTime(2, 0, 6));
        tarnwick::SystemClockWatch::instance()->notifyTimeChanged();
        pumpUntil([&] { return bAlarms > 0; });
        pumpUntil([] { return false; }, 50);
        inA = false;
    }
    void AlarmClock2Alarm(QObject*) {
        ++bAlarms;
        if (inA) ++bInsideA;
    }
};

void TestTickTimer::alarmIsNotReEntered() {
    tarnwick::ManualTimeSource time(QDateTime(QDate(2026, 3, 10), QTime(1, 59, 59)));
    tarnwick::TimeSource::install(&time);
    {
        TAlarmWindow w;
        w.time = &time;
        TAlarmClock a, b;
        a.SetOnAlarm(TNotifyEvent(&w, "AlarmClock1Alarm"));
        b.SetOnAlarm(TNotifyEvent(&w, "AlarmClock2Alarm"));
        int second = 5;
        for (TAlarmClock* c : {&a, &b}) {
            c->resize(100, 20);
            c->SetAlarmFromTime(0.0);
            c->SetAlarmEnabled(true);
            c->SetAlarmFromTime((2 * 3600 + second++) / 86400.0);
            c->TickTimer()->SetInterval(2);
        }
        time.set(QTime(2, 0, 5));
        QVERIFY(pumpUntil([&] { return w.aAlarms > 0 && !w.inA; }));
        pumpUntil([] { return false; }, 50); // more ticks of both in the alarm minute
        QCOMPARE(w.aAlarms, 1);
        QCOMPARE(w.bAlarms, 1);
        QCOMPARE(w.bInsideA, 1);
    }
    tarnwick::TimeSource::install(nullptr);
}

QTEST_MAIN(TestTickTimer)
#include "tst_ticktimer.moc"
