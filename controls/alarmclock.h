#pragma once

#include "runtime/component.h"

#include <QColor>
#include <QDateTime>
#include <QImage>
#include <QList>
#include <QRect>
#include <QTime>
#include <QWidget>

class QPainter;
class TTickTimer;

// A panel that shows the current local time, digital or analog, and raises OnAlarm once a day
// at a stored time of day. Its timer hands a tick to the main thread every 450 ms; the tick
// draws only what changed and then checks the alarm. With FiresLate, a time the clock jumped
// over (suspend, a step of the system time) or that passed between two ticks still raises
// OnAlarm, late, at the next tick; a clock set back never raises it twice for the same day.
//
// Colours: `Color` is the palette's Window colour, the font colour its WindowText; the font is
// the widget's font.
class TAlarmClock : public QWidget, public TComponentState {
    Q_OBJECT
    Q_PROPERTY(TPanelBevel BevelInner READ BevelInner WRITE SetBevelInner)
    Q_PROPERTY(TPanelBevel BevelOuter READ BevelOuter WRITE SetBevelOuter)
    Q_PROPERTY(int BevelWidth READ BevelWidth WRITE SetBevelWidth)
    Q_PROPERTY(int BorderWidth READ BorderWidth WRITE SetBorderWidth)
    Q_PROPERTY(TBorderStyle BorderStyle READ BorderStyle WRITE SetBorderStyle)
    Q_PROPERTY(bool Ctl3D READ Ctl3D WRITE SetCtl3D)
    Q_PROPERTY(bool AlarmEnabled READ AlarmEnabled WRITE SetAlarmEnabled)
    Q_PROPERTY(int AlarmHour READ AlarmHour WRITE SetAlarmHour)
    Q_PROPERTY(int AlarmMinute READ AlarmMinute WRITE SetAlarmMinute)
    Q_PROPERTY(int AlarmSecond READ AlarmSecond WRITE SetAlarmSecond)
    Q_PROPERTY(bool AutoSize READ AutoSize WRITE SetAutoSize)
    Q_PROPERTY(QColor DotsColor READ DotsColor WRITE SetDotsColor)
    Q_PROPERTY(TShowClock ShowMode READ ShowMode WRITE SetShowMode)
    Q_PROPERTY(bool ShowSeconds READ ShowSeconds WRITE SetShowSeconds)
    Q_PROPERTY(bool TwelveHour READ TwelveHour WRITE SetTwelveHour)
    Q_PROPERTY(bool LeadingZero READ LeadingZero WRITE SetLeadingZero)
    Q_PROPERTY(TNotifyEvent OnAlarm READ OnAlarm WRITE SetOnAlarm)
public:
    enum TShowClock { scDigital, scAnalog };
    Q_ENUM(TShowClock)
    enum TPanelBevel { bvNone, bvLowered, bvRaised, bvSpace };
    Q_ENUM(TPanelBevel)
    enum TBorderStyle { bsNone, bsSingle };
    Q_ENUM(TBorderStyle)

    explicit TAlarmClock(QWidget* parent = nullptr);
    ~TAlarmClock() override;

    // Panel
    TPanelBevel BevelInner() const { return m_bevelInner; }
    void SetBevelInner(TPanelBevel value);
    TPanelBevel BevelOuter() const { return m_bevelOuter; }
    void SetBevelOuter(TPanelBevel value);
    int BevelWidth() const { return m_bevelWidth; }
    void SetBevelWidth(int value);
    int BorderWidth() const { return m_borderWidth; }
    void SetBorderWidth(int value);
    TBorderStyle BorderStyle() const { return m_borderStyle; }
    void SetBorderStyle(TBorderStyle value);
    bool Ctl3D() const { return m_ctl3D; }
    void SetCtl3D(bool value);
    QColor Color() const;
    QColor FontColor() const;

    // Alarm
    bool AlarmEnabled() const { return m_alarmEnabled; }
    void SetAlarmEnabled(bool value) { m_alarmEnabled = value; }
    int AlarmHour() const;
    void SetAlarmHour(int value);
    int AlarmMinute() const;
    void SetAlarmMinute(int value);
    int AlarmSecond() const;
    void SetAlarmSecond(int value);
    TNotifyEvent OnAlarm() const { return m_onAlarm; }
    void SetOnAlarm(const TNotifyEvent& value) { m_onAlarm = value; }
    // Stores the time-of-day part of `time` (any whole days dropped) and re-arms.
    void SetAlarmFromTime(double time);
    double AlarmTime() const { return m_alarmTime; }
    bool AlarmPending() const { return m_alarmPending; }
    // True while OnAlarm is raised after its time's minute had passed.
    bool AlarmLate() const { return m_alarmLate; }
    // Whether a time passed without a tick in its minute still raises OnAlarm (off: that day's
    // alarm is missed).
    bool FiresLate() const { return m_firesLate; }
    void SetFiresLate(bool value) { m_firesLate = value; }

    // Display
    bool AutoSize() const { return m_autoSize; }
    void SetAutoSize(bool value);
    QColor DotsColor() const { return m_dotsColor; }
    void SetDotsColor(const QColor& value);
    TShowClock ShowMode() const { return m_showMode; }
    void SetShowMode(TShowClock value);
    bool ShowSeconds() const { return m_showSeconds; }
    void SetShowSeconds(bool value);
    bool TwelveHour() const { return m_twelveHour; }
    void SetTwelveHour(bool value);
    bool LeadingZero() const { return m_leadingZero; }
    void SetLeadingZero(bool value);

    // The clock's timer (tests stop it to drive ticks themselves).
    TTickTimer* TickTimer() const { return m_timer; }

    // What the last draw of the digital display did, for tests: the digit cells it drew
    // (1-based), whether it was a full draw, the number of digit cells, the text shown and the
    // rectangle of each cell.
    struct DrawReport {
        QList<int> cells;
        bool full = false;
        int cellCount = 0;
        QString text;
        QList<QRect> cellRects;
    };
    const DrawReport& LastDraw() const { return m_report; }

    // Where the display is drawn: the client area inside the frame, bevels and border.
    QRect DrawingRect() const;

public slots:
    // The tick: draws what changed, then checks the alarm. Normally run by the timer.
    void TimerTick(QObject* Sender);

protected:
    // Raises OnAlarm with the clock as sender.
    virtual void DoAlarm();
    void Loaded() override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void SystemTimeChanged();
    void AlarmCheck();
    void ReArm();
    void Fire(const QDateTime& due, bool late);
    QTime AlarmTimeOfDay() const;
    bool InAlarmWindow(QTime now) const;
    void SetAlarmPart(int part, int value);
    QTime Now() const;

    void Invalidate();
    void Realign();
    void RenderFull();
    void DrawFrame(QPainter& p) const;
    QRect DrawDigital(QTime now, bool full);
    QRect DrawAnalog(QTime now, bool full);
    void DrawMarks(QPainter& p);
    void DrawHands(QPainter& p, int hour12, int minute, bool erase);
    void InvertSecondHand(int second);

    TTickTimer* m_timer = nullptr;
    double m_alarmTime = 0.0;
    bool m_alarmPending = true;
    bool m_alarmLate = false;
    bool m_firesLate = false;
    QDateTime m_lastCheck;  // when the alarm was last checked or armed
    QDateTime m_lastDue;    // the day and time the alarm last fired for
    quint16 m_lastHour = 0; // hour mod 12
    quint16 m_lastMinute = 0;
    quint16 m_lastSecond = 0;
    // Analog face
    QRect m_face;
    int m_radius = 0;
    QPoint m_centre;

    bool m_alarmEnabled = false;
    bool m_autoSize = false;
    QColor m_dotsColor = QColor(0, 0x80, 0x80);
    TShowClock m_showMode = scDigital;
    bool m_showSeconds = true;
    bool m_twelveHour = false;
    bool m_leadingZero = true;
    TNotifyEvent m_onAlarm;

    TPanelBevel m_bevelInner = bvLowered;
    TPanelBevel m_bevelOuter = bvRaised;
    int m_bevelWidth = 1;
    int m_borderWidth = 0;
    TBorderStyle m_borderStyle = bsNone;
    bool m_ctl3D = true;

    // Qt paints only in paintEvent, so ticks draw into this image and ask for the changed
    // rectangles to be shown; paintEvent copies them.
    QImage m_backing;
    bool m_backingValid = false;
    bool m_realigning = false;
    DrawReport m_report;
};
