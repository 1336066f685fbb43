#include "controls/alarmclock.h"
#include "controls/ticktimer.h"
#include "platform/formatsettings.h"
#include "platform/systemclockwatch.h"
#include "platform/timesource.h"
#include "runtime/errors.h"

#include <QApplication>
#include <QImage>
#include <QTest>

#include <functional>

using tarnwick::FormatSettings;
using tarnwick::ManualTimeSource;
using tarnwick::TimeSource;

namespace {

const QDate day0(2026, 3, 10);

class TWindow : public QObject {
    Q_OBJECT
public:
    QList<QDateTime> fired;
    QList<QObject*> senders;
    std::function<void()> onAlarm;
public slots:
    void AlarmClock2Alarm(QObject* Sender) {
        fired.append(TimeSource::current().now());
        senders.append(Sender);
        if (onAlarm) onAlarm();
    }
};

double dayFraction(QTime t) {
    return t.msecsSinceStartOfDay() / 86400000.0;
}

// A clock whose ticks the test drives: its own timer is stopped.
struct Rig {
    ManualTimeSource time{QDateTime(day0, QTime(12, 0))};
    TWindow window;
    std::unique_ptr<TAlarmClock> clock;

    Rig() {
        TimeSource::install(&time);
        clock = std::make_unique<TAlarmClock>();
        clock->TickTimer()->SetEnabled(false);
        clock->resize(0, 0); // nothing to draw: alarm tests tick through whole days
        clock->SetOnAlarm(TNotifyEvent(&window, "AlarmClock2Alarm"));
    }
    ~Rig() {
        clock.reset();
        TimeSource::install(nullptr);
    }
    // How the main window arms a job.
    void arm(double time) {
        clock->SetAlarmFromTime(0.0);
        clock->SetAlarmEnabled(true);
        clock->SetAlarmFromTime(time);
    }
    void tickAt(const QDateTime& t) {
        time.set(t);
        clock->TimerTick(clock->TickTimer());
    }
    // Ticks every 450 ms until `end`; far from `near` (a time of day) every 20 s, which still
    // lands several ticks in every minute.
    void tickUntil(const QDateTime& end, QTime near = QTime()) {
        while (time.now() < end) {
            int step = 450;
            if (near.isValid()) {
                const int d = std::abs(time.now().time().secsTo(near));
                if (std::min(d, 86400 - d) > 120) step = 20000;
            }
            time.advance(step);
            clock->TimerTick(clock->TickTimer());
        }
    }
};

QImage image(QWidget& w) {
    return w.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace

class TestAlarmClock : public QObject {
    Q_OBJECT
private slots:
    void init() { FormatSettings::install(nullptr); }

    // --- Alarm ----------------------------------------------------------------------------

    void alarmFiresOncePerDay_data() {
        QTest::addColumn<QTime>("start");
        QTest::addColumn<QTime>("alarm");
        QTest::addColumn<int>("hours");
        QTest::addColumn<QList<QDateTime>>("expected");
        const QTime t1430(14, 30);
        QTest::newRow("later today")
            << QTime(14, 0) << t1430 << 25
            << QList<QDateTime>{QDateTime(day0, t1430), QDateTime(day0.addDays(1), t1430)};
        QTest::newRow("same minute, later second")
            << QTime(14, 30, 20) << t1430 << 26
            << QList<QDateTime>{QDateTime(day0.addDays(1), t1430)};
        QTest::newRow("earlier today")
            << QTime(15, 0) << t1430 << 24 << QList<QDateTime>{QDateTime(day0.addDays(1), t1430)};
        QTest::newRow("alarm second passed within the minute")
            << QTime(14, 30, 40) << QTime(14, 30, 30) << 24
            << QList<QDateTime>{QDateTime(day0.addDays(1), QTime(14, 30, 30))};
        QTest::newRow("midnight every day")
            << QTime(22, 0) << QTime(0, 0) << 27
            << QList<QDateTime>{QDateTime(day0.addDays(1), QTime(0, 0)),
                                QDateTime(day0.addDays(2), QTime(0, 0))};
        QTest::newRow("midnight armed inside its minute")
            << QTime(0, 0, 30) << QTime(0, 0) << 25
            << QList<QDateTime>{QDateTime(day0.addDays(1), QTime(0, 0))};
    }
    void alarmFiresOncePerDay() {
        QFETCH(QTime, start);
        QFETCH(QTime, alarm);
        QFETCH(int, hours);
        QFETCH(QList<QDateTime>, expected);
        Rig rig;
        rig.time.set(QDateTime(day0, start));
        rig.arm(dayFraction(alarm));
        rig.tickUntil(QDateTime(day0, start).addSecs(hours * 3600), alarm);

        QCOMPARE(rig.window.fired.size(), expected.size());
        for (int i = 0; i < expected.size(); ++i) {
            // The first tick at or after the alarm time.
            const qint64 late = expected[i].msecsTo(rig.window.fired[i]);
            QVERIFY2(late >= 0 && late < 450, qPrintable(rig.window.fired[i].toString()));
        }
        QCOMPARE(rig.window.senders.value(0, rig.clock.get()), rig.clock.get());
    }

    void reEnablingAfterFiringDoesNotFireAgain_data() {
        QTest::addColumn<QTime>("alarm");
        QTest::addColumn<bool>("rearmLikeTheWindow");
        QTest::newRow("14:30, flag toggled") << QTime(14, 30) << false;
        QTest::newRow("14:30, armed again") << QTime(14, 30) << true;
        QTest::newRow("midnight, flag toggled") << QTime(0, 0) << false;
        QTest::newRow("midnight, armed again") << QTime(0, 0) << true;
    }
    void reEnablingAfterFiringDoesNotFireAgain() {
        QFETCH(QTime, alarm);
        QFETCH(bool, rearmLikeTheWindow);
        Rig rig;
        const QDateTime at(day0, alarm);
        rig.time.set(at.addSecs(-10));
        rig.arm(dayFraction(alarm));
        rig.tickUntil(at.addSecs(5));
        QCOMPARE(rig.window.fired.size(), 1);

        rig.clock->SetAlarmEnabled(false);
        rig.tickUntil(at.addSecs(10)); // ticks with the alarm off re-arm
        if (rearmLikeTheWindow)
            rig.arm(dayFraction(alarm));
        else
            rig.clock->SetAlarmEnabled(true);
        rig.tickUntil(at.addSecs(120));
        QCOMPARE(rig.window.fired.size(), 1);
    }

    void blockedThroughTheMinuteMissesTheDay() {
        Rig rig;
        rig.time.set(QDateTime(day0, QTime(14, 0)));
        rig.arm(dayFraction(QTime(14, 30)));
        rig.tickUntil(QDateTime(day0, QTime(14, 29, 59)));
        QVERIFY(rig.clock->AlarmPending());
        // The next tick only comes after the alarm minute.
        rig.tickAt(QDateTime(day0, QTime(14, 31, 0, 200)));
        QVERIFY(rig.window.fired.isEmpty());
        QVERIFY(!rig.clock->AlarmPending());
        rig.tickUntil(QDateTime(day0.addDays(1), QTime(14, 31)), QTime(14, 30));
        QCOMPARE(rig.window.fired.size(), 1);
        QCOMPARE(rig.window.fired[0].date(), day0.addDays(1));
    }

    // With FiresLate, a tick only after the alarm's minute (ticks blocked, suspend, the clock
    // stepped forward) still fires, once and late; the next day is on time. A clock set back after
    // that does not fire the same day's alarm again.
    void passedAlarmFiresLateOnceADay_data() {
        QTest::addColumn<QDateTime>("next");
        QTest::newRow("after the minute") << QDateTime(day0, QTime(14, 31, 0, 200));
        QTest::newRow("hours later") << QDateTime(day0, QTime(19, 0));
        QTest::newRow("after midnight") << QDateTime(day0.addDays(1), QTime(1, 0));
    }
    void passedAlarmFiresLateOnceADay() {
        QFETCH(QDateTime, next);
        Rig rig;
        rig.clock->SetFiresLate(true);
        QList<bool> late;
        rig.window.onAlarm = [&] { late << rig.clock->AlarmLate(); };
        rig.time.set(QDateTime(day0, QTime(14, 0)));
        rig.arm(dayFraction(QTime(14, 30)));
        rig.tickUntil(QDateTime(day0, QTime(14, 29, 59)));
        QVERIFY(rig.clock->AlarmPending());
        rig.tickAt(next);
        QCOMPARE(rig.window.fired, QList<QDateTime>{next});
        QCOMPARE(late, QList<bool>{true});
        QVERIFY(!rig.clock->AlarmLate());
        // Set back over the alarm's time: that day's alarm ran already.
        rig.tickAt(QDateTime(day0, QTime(14, 29, 50)));
        rig.tickUntil(QDateTime(day0, QTime(14, 31)));
        QCOMPARE(rig.window.fired.size(), 1);
        rig.tickUntil(QDateTime(day0.addDays(1), QTime(14, 31)), QTime(14, 30));
        QCOMPARE(rig.window.fired.size(), 2);
        QCOMPARE(rig.window.fired[1].date(), day0.addDays(1));
        QCOMPARE(late, (QList<bool>{true, false}));
    }

    void alarmDisabledNeverFires() {
        Rig rig;
        rig.time.set(QDateTime(day0, QTime(14, 0)));
        rig.clock->SetAlarmFromTime(dayFraction(QTime(14, 30)));
        rig.tickUntil(QDateTime(day0, QTime(14, 35)), QTime(14, 30));
        QVERIFY(rig.window.fired.isEmpty());
        QVERIFY(!rig.clock->AlarmPending()); // re-armed by the ticks: 14:30 has passed
    }

    void setAlarmFromTimeDropsTheDate_data() {
        QTest::addColumn<double>("argument");
        QTest::addColumn<double>("stored");
        QTest::addColumn<int>("hour");
        QTest::addColumn<int>("minute");
        QTest::addColumn<int>("second");
        QTest::newRow("1.75") << 1.75 << 0.75 << 18 << 0 << 0;
        QTest::newRow("date of 2026") << 46091.5 << 0.5 << 12 << 0 << 0;
        QTest::newRow("whole day") << 3.0 << 0.0 << 0 << 0 << 0;
        QTest::newRow("14:30:15") << (14 * 3600 + 30 * 60 + 15) / 86400.0
                                  << (14 * 3600 + 30 * 60 + 15) / 86400.0 << 14 << 30 << 15;
        // Split rounds to whole milliseconds: a hair below a second is that second.
        QTest::newRow("rounding") << 59.9996 / 86400.0 << 59.9996 / 86400.0 << 0 << 1 << 0;
    }
    void setAlarmFromTimeDropsTheDate() {
        QFETCH(double, argument);
        QFETCH(double, stored);
        Rig rig;
        rig.clock->SetAlarmFromTime(argument);
        QVERIFY(qAbs(rig.clock->AlarmTime() - stored) < 1e-9);
        QTEST(int(rig.clock->AlarmHour()), "hour");
        QTEST(int(rig.clock->AlarmMinute()), "minute");
        QTEST(int(rig.clock->AlarmSecond()), "second");
    }

    void alarmPartsRebuildTheTimeAndReArm() {
        Rig rig;
        rig.time.set(QDateTime(day0, QTime(15, 0)));
        rig.clock->SetAlarmFromTime(dayFraction(QTime(9, 0, 0, 700)));
        QVERIFY(!rig.clock->AlarmPending());
        rig.clock->SetAlarmHour(16);
        QCOMPARE(rig.clock->AlarmTime(), 16 / 24.0); // milliseconds dropped
        QVERIFY(rig.clock->AlarmPending());
        rig.clock->SetAlarmMinute(45);
        rig.clock->SetAlarmSecond(30);
        QCOMPARE(rig.clock->AlarmTime(), 16 / 24.0 + 45 / 1440.0 + 30 / 86400.0);
        rig.clock->SetAlarmHour(14);
        QVERIFY(!rig.clock->AlarmPending());
    }

    void invalidAlarmPartIsAConversionError_data() {
        QTest::addColumn<int>("part");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("separator");
        QTest::addColumn<QString>("message");
        QTest::newRow("hour 24") << 0 << 24 << ":"
                                 << "''24:0:0'' is not a valid time";
        QTest::newRow("hour 24, dot separator") << 0 << 24 << "."
                                                << "''24.0.0'' is not a valid time";
        QTest::newRow("minute 60") << 1 << 60 << ":"
                                   << "''0:60:0'' is not a valid time";
        QTest::newRow("second 255") << 2 << 255 << ":"
                                    << "''0:0:255'' is not a valid time";
    }
    void invalidAlarmPartIsAConversionError() {
        QFETCH(int, part);
        QFETCH(int, value);
        QFETCH(QString, separator);
        QFETCH(QString, message);
        FormatSettings fs;
        fs.timeSeparator = separator;
        FormatSettings::install(&fs);
        Rig rig;
        rig.clock->SetAlarmFromTime(0.0);
        QString caught;
        try {
            if (part == 0)
                rig.clock->SetAlarmHour(value);
            else if (part == 1)
                rig.clock->SetAlarmMinute(value);
            else
                rig.clock->SetAlarmSecond(value);
        } catch (const EConvertError& e) {
            caught = e.Message();
        }
        FormatSettings::install(nullptr);
        QCOMPARE(caught, message);
        QCOMPARE(rig.clock->AlarmTime(), 0.0);
    }

    void loadedReArms() {
        Rig rig;
        rig.time.set(QDateTime(day0, QTime(10, 0)));
        rig.clock->BeginLoading();
        rig.clock->SetAlarmFromTime(dayFraction(QTime(11, 0)));
        QVERIFY(rig.clock->AlarmPending());
        rig.time.set(QDateTime(day0, QTime(12, 0))); // reading the window took a while
        rig.clock->EndLoading();
        QVERIFY(!rig.clock->AlarmPending());
    }

    void systemTimeChangeRunsTheAlarmCheck() {
        Rig rig;
        rig.time.set(QDateTime(day0, QTime(14, 0)));
        rig.arm(dayFraction(QTime(14, 30)));
        rig.time.set(QDateTime(day0, QTime(14, 30, 10)));
        auto* watch = tarnwick::SystemClockWatch::instance();
        QVERIFY(watch);
        QVERIFY(watch->IsWatching()); // the kernel reports clock changes
        watch->notifyTimeChanged();
        QCOMPARE(rig.window.fired.size(), 1);
    }

    // --- Digital display ------------------------------------------------------------------

    void digitalText_data() {
        QTest::addColumn<QTime>("time");
        QTest::addColumn<bool>("twelveHour");
        QTest::addColumn<bool>("leadingZero");
        QTest::addColumn<bool>("showSeconds");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("cells");
        QTest::newRow("00:05 12h")
            << QTime(0, 5, 7) << true << true << true << "12:05:07 vorm." << 8;
        QTest::newRow("13:00 12h")
            << QTime(13, 0) << true << true << true << "01:00:00 nachm." << 8;
        QTest::newRow("noon 12h") << QTime(12, 0, 1) << true << true << true << "12:00:01 nachm."
                                  << 8;
        QTest::newRow("09:41 12h")
            << QTime(9, 41, 7) << true << true << true << "09:41:07 vorm." << 8;
        QTest::newRow("13:00 24h") << QTime(13, 0) << false << true << true << "13:00:00" << 8;
        QTest::newRow("9:59 no zero")
            << QTime(9, 59, 59) << false << false << true << "9:59:59" << 7;
        QTest::newRow("10:00 no zero") << QTime(10, 0) << false << false << true << "10:00:00" << 8;
        QTest::newRow("13:00 12h no zero, no seconds")
            << QTime(13, 0) << true << false << false << "1:00 nachm." << 4;
        QTest::newRow("0:05 24h no zero") << QTime(0, 5) << false << false << false << "0:05" << 4;
    }
    void digitalText() {
        QFETCH(QTime, time);
        QFETCH(bool, twelveHour);
        QFETCH(bool, leadingZero);
        QFETCH(bool, showSeconds);
        FormatSettings fs;
        fs.amDesignator = QStringLiteral("vorm.");
        fs.pmDesignator = QStringLiteral("nachm.");
        FormatSettings::install(&fs);
        Rig rig;
        rig.clock->resize(200, 30);
        rig.clock->SetTwelveHour(twelveHour);
        rig.clock->SetLeadingZero(leadingZero);
        rig.clock->SetShowSeconds(showSeconds);
        rig.tickAt(QDateTime(day0, time));
        FormatSettings::install(nullptr);
        QTEST(rig.clock->LastDraw().text, "text");
        QTEST(rig.clock->LastDraw().cellCount, "cells");
        QVERIFY(rig.clock->LastDraw().full);
    }

    void onlyChangedCellsAreRedrawn_data() {
        QTest::addColumn<bool>("leadingZero");
        QTest::addColumn<bool>("showSeconds");
        QTest::addColumn<QList<QTime>>("ticks");
        // Per tick: the cells drawn, then the cell count; a full draw draws them all.
        QTest::addColumn<QList<QList<int>>>("cells");
        QTest::addColumn<QList<int>>("counts");
        QTest::addColumn<QList<bool>>("full");
        const QList<QTime> ticks{QTime(9, 59, 58), QTime(9, 59, 58, 450), QTime(9, 59, 59),
                                 QTime(10, 0),     QTime(10, 0, 1),       QTime(10, 1, 0)};
        QTest::newRow("no leading zero")
            << false << true << ticks
            << QList<QList<int>>{{1, 2, 3, 4, 5, 6, 7},    {},     {6, 7},
                                 {1, 2, 3, 4, 5, 6, 7, 8}, {7, 8}, {4, 5, 7, 8}}
            << QList<int>{7, 7, 7, 8, 8, 8} << QList<bool>{true, false, false, true, false, false};
        QTest::newRow("leading zero")
            << true << true << ticks
            << QList<QList<int>>{{1, 2, 3, 4, 5, 6, 7, 8}, {},     {7, 8},
                                 {1, 2, 3, 4, 5, 6, 7, 8}, {7, 8}, {4, 5, 7, 8}}
            << QList<int>{8, 8, 8, 8, 8, 8} << QList<bool>{true, false, false, true, false, false};
        QTest::newRow("no seconds")
            << false << false << ticks
            << QList<QList<int>>{{1, 2, 3, 4}, {}, {}, {1, 2, 3, 4, 5}, {}, {4, 5}}
            << QList<int>{4, 4, 4, 5, 5, 5} << QList<bool>{true, false, false, true, false, false};
    }
    void onlyChangedCellsAreRedrawn() {
        QFETCH(bool, leadingZero);
        QFETCH(bool, showSeconds);
        QFETCH(QList<QTime>, ticks);
        QFETCH(QList<QList<int>>, cells);
        QFETCH(QList<int>, counts);
        QFETCH(QList<bool>, full);
        Rig rig;
        rig.clock->resize(200, 30);
        rig.clock->SetLeadingZero(leadingZero);
        rig.clock->SetShowSeconds(showSeconds);
        for (int i = 0; i < ticks.size(); ++i) {
            rig.tickAt(QDateTime(day0, ticks[i]));
            const auto& draw = rig.clock->LastDraw();
            const QByteArray at = ticks[i].toString("HH:mm:ss.zzz").toLatin1();
            QVERIFY2(draw.cells == cells[i], at.constData());
            QVERIFY2(draw.cellCount == counts[i], at.constData());
            QVERIFY2(draw.full == full[i], at.constData());
        }
    }

    // What the ticks drew piece by piece equals a fresh full paint at the same time, and a
    // tick changes no pixel outside the cells it reports.
    void incrementalDrawingMatchesAFullPaint_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("twelveHour");
        QTest::newRow("digital") << int(TAlarmClock::scDigital) << false;
        QTest::newRow("digital 12h") << int(TAlarmClock::scDigital) << true;
        QTest::newRow("analog") << int(TAlarmClock::scAnalog) << false;
    }
    void incrementalDrawingMatchesAFullPaint() {
        QFETCH(int, mode);
        QFETCH(bool, twelveHour);
        Rig rig;
        TAlarmClock& c = *rig.clock;
        c.resize(160, 120);
        c.SetShowMode(TAlarmClock::TShowClock(mode));
        c.SetTwelveHour(twelveHour);
        QPalette pal = c.palette();
        pal.setColor(QPalette::Window, Qt::lightGray);
        pal.setColor(QPalette::WindowText, Qt::yellow);
        c.setPalette(pal);
        QFont f = c.font();
        f.setPixelSize(13);
        c.setFont(f);
        c.SetBorderStyle(TAlarmClock::bsSingle);

        rig.tickAt(QDateTime(day0, QTime(13, 58, 57)));
        for (QTime t : {QTime(13, 58, 58), QTime(13, 58, 59), QTime(13, 59, 0), QTime(13, 59, 1)}) {
            const QImage before = image(c);
            rig.tickAt(QDateTime(day0, t));
            const QImage after = image(c);
            QVERIFY(before != after);
            if (mode == TAlarmClock::scDigital) {
                QRegion drawn;
                for (int cell : c.LastDraw().cells)
                    drawn += c.LastDraw().cellRects[cell - 1].adjusted(-2, -2, 2, 2);
                for (int y = 0; y < after.height(); ++y)
                    for (int x = 0; x < after.width(); ++x)
                        if (before.pixel(x, y) != after.pixel(x, y))
                            QVERIFY2(drawn.contains(QPoint(x, y)),
                                     qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
            }
        }
        TAlarmClock fresh;
        fresh.TickTimer()->SetEnabled(false);
        fresh.resize(c.size());
        fresh.SetShowMode(c.ShowMode());
        fresh.SetTwelveHour(twelveHour);
        fresh.setPalette(pal);
        fresh.setFont(f);
        fresh.SetBorderStyle(TAlarmClock::bsSingle);
        QCOMPARE(image(c), image(fresh));
    }

    void settingChangesForceAFullDraw_data() {
        QTest::addColumn<int>("change");
        QTest::newRow("palette") << 0;
        QTest::newRow("font") << 1;
        QTest::newRow("locale") << 2;
        QTest::newRow("system time") << 3;
        QTest::newRow("display property") << 4;
    }
    void settingChangesForceAFullDraw() {
        QFETCH(int, change);
        Rig rig;
        TAlarmClock& c = *rig.clock;
        c.resize(200, 30);
        rig.tickAt(QDateTime(day0, QTime(8, 0, 0)));
        rig.tickAt(QDateTime(day0, QTime(8, 0, 1)));
        QVERIFY(!c.LastDraw().full);
        switch (change) {
        case 0: {
            QPalette p = c.palette();
            p.setColor(QPalette::Window, Qt::red);
            c.setPalette(p);
            break;
        }
        case 1: {
            QFont f = c.font();
            f.setPixelSize(20);
            c.setFont(f);
            break;
        }
        case 2:
            c.setLocale(QLocale(QLocale::German));
            break;
        case 3:
            tarnwick::SystemClockWatch::instance()->notifyTimeChanged();
            break;
        case 4:
            c.SetLeadingZero(false);
            break;
        }
        rig.tickAt(QDateTime(day0, QTime(8, 0, 2)));
        QVERIFY(c.LastDraw().full);
    }

    void autoSizeFitsTheFont_data() {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("twelveHour");
        QTest::addColumn<bool>("showSeconds");
        QTest::newRow("wide") << QSize(400, 40) << true << true;
        QTest::newRow("narrow") << QSize(120, 80) << true << true;
        QTest::newRow("24h no seconds") << QSize(120, 80) << false << false;
    }
    void autoSizeFitsTheFont() {
        QFETCH(QSize, size);
        QFETCH(bool, twelveHour);
        QFETCH(bool, showSeconds);
        Rig rig;
        TAlarmClock& c = *rig.clock;
        c.resize(size);
        c.SetTwelveHour(twelveHour);
        c.SetShowSeconds(showSeconds);
        c.SetAutoSize(true);
        c.show();
        QVERIFY(QTest::qWaitForWindowExposed(&c));

        const auto fits = [&] {
            const QRect r = c.DrawingRect();
            const int height = c.font().pixelSize();
            const int heightLimit = (r.height() - 4) * 4 / 5;
            QString sample = showSeconds ? "88888888" : "88888";
            if (twelveHour) sample += " " + FormatSettings::current().pmDesignator;
            const int width = QFontMetrics(c.font()).horizontalAdvance(sample);
            const int widthLimit = r.width() - 30;
            // Within a few percent: glyph widths do not scale exactly with the height.
            return height > 0 && height <= heightLimit && width <= widthLimit * 1.04 &&
                   (height == heightLimit || width >= widthLimit * 0.9);
        };
        QVERIFY(fits());
        const int height = c.font().pixelSize();

        c.resize(size * 2);
        QTRY_VERIFY(c.font().pixelSize() > height);
        QVERIFY(fits());

        // Too small to hold anything: the font stays.
        const int before = c.font().pixelSize();
        c.resize(25, 6);
        QTest::qWait(1);
        QCOMPARE(c.font().pixelSize(), before);
    }

    // --- Component model ------------------------------------------------------------------

    void publishedProperties() {
        Rig rig;
        TAlarmClock& c = *rig.clock;
        QStringList names;
        for (const QMetaProperty& p : ComponentModel::PublishedProperties(&c))
            names << p.name();
        for (const char* n :
             {"AlarmEnabled", "AlarmHour", "AlarmMinute", "AlarmSecond", "AutoSize", "DotsColor",
              "ShowMode", "ShowSeconds", "TwelveHour", "LeadingZero", "OnAlarm", "BevelInner",
              "BevelOuter", "BevelWidth", "BorderWidth", "BorderStyle"})
            QVERIFY2(names.contains(n), n);
        QCOMPARE(c.DotsColor(), QColor(0, 0x80, 0x80));
        QVERIFY(c.ShowSeconds() && c.LeadingZero() && !c.TwelveHour() && !c.AlarmEnabled());
        QCOMPARE(c.BevelInner(), TAlarmClock::bvLowered);
        QCOMPARE(c.BevelOuter(), TAlarmClock::bvRaised);
        QVERIFY(c.AlarmPending());

        QVERIFY(ComponentModel::FindProperty(&c, "ShowMode")->write(&c, "scAnalog"));
        QCOMPARE(c.ShowMode(), TAlarmClock::scAnalog);
        QVERIFY(ComponentModel::FindProperty(&c, "BorderStyle")->write(&c, "bsSingle"));
        QCOMPARE(c.BorderStyle(), TAlarmClock::bsSingle);
        const QMetaProperty minute = *ComponentModel::FindProperty(&c, "AlarmMinute");
        QVERIFY(minute.write(&c, "30"));
        QCOMPARE(c.AlarmTime(), 30 / 1440.0);
        QCOMPARE(minute.read(&c).toString(), QStringLiteral("30")); // as the store writes it
        QVERIFY(ComponentModel::WriteEvent(&c, *ComponentModel::FindProperty(&c, "OnAlarm"),
                                           &rig.window, "AlarmClock2Alarm"));
        QCOMPARE(c.OnAlarm().Name(), QByteArray("AlarmClock2Alarm"));
    }
};

QTEST_MAIN(TestAlarmClock)
#include "tst_alarmclock.moc"
