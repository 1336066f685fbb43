#include "controls/alarmclock.h"
#include "controls/graphics.h"

#include "controls/ticktimer.h"
#include "platform/formatsettings.h"
#include "platform/systemclockwatch.h"
#include "platform/timesource.h"
#include "runtime/errors.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace {

constexpr qint64 msPerDay = 86'400'000;

struct Hms {
    int h, m, s, ms;
};

// A time of day split as the alarm properties see it: rounded to whole milliseconds.
Hms Split(double time) {
    const qint64 total = std::llround(time * double(msPerDay));
    return {int(total / 3'600'000), int(total / 60'000 % 60), int(total / 1000 % 60),
            int(total % 1000)};
}

// The face is drawn in a square on screen: pixels are not always square, so vertical distances
// are scaled by (vertical pixels per mm) / (horizontal pixels per mm), read once.
double AspectRatio() {
    static const double ratio = [] {
        const QScreen* s = QGuiApplication::primaryScreen();
        if (!s || s->physicalDotsPerInchX() <= 0 || s->physicalDotsPerInchY() <= 0) return 1.0;
        return s->physicalDotsPerInchY() / s->physicalDotsPerInchX();
    }();
    return ratio;
}

// The 60 mark positions on a circle of radius 8000, y already scaled by the aspect ratio.
const std::array<QPoint, 60>& Marks() {
    static const std::array<QPoint, 60> table = [] {
        std::array<QPoint, 60> t;
        const double ratio = AspectRatio();
        for (int i = 0; i < 60; ++i) {
            const double a = i * 6.0 * M_PI / 180.0;
            t[i] = QPoint(int(std::lround(8000 * std::sin(a))),
                          int(std::lround(-8000 * std::cos(a) * ratio)));
        }
        return t;
    }();
    return table;
}

int ScreenWidth() {
    const QScreen* s = QGuiApplication::primaryScreen();
    return s && s->geometry().width() > 0 ? s->geometry().width() : 1024;
}

static_assert(int(TAlarmClock::bvNone) == int(Graphics::Bevel::None) &&
              int(TAlarmClock::bvLowered) == int(Graphics::Bevel::Lowered) &&
              int(TAlarmClock::bvRaised) == int(Graphics::Bevel::Raised) &&
              int(TAlarmClock::bvSpace) == int(Graphics::Bevel::Space));

void DrawBevel(QPainter& p, QRect& r, TAlarmClock::TPanelBevel bevel, int width,
               const QPalette& pal, const QColor& color) {
    Graphics::DrawBevel(p, r, Graphics::Bevel(bevel), width, pal, color);
}

} // namespace

TAlarmClock::TAlarmClock(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    const QTime now = Now();
    m_lastHour = quint16(now.hour() % 12);
    m_lastMinute = quint16(now.minute());
    m_lastSecond = quint16(now.second());
    // The caption holds the time of creation; it is never drawn.
    setWindowTitle(tarnwick::FormatSettings::current().longTime(now));
    if (auto* watch = tarnwick::SystemClockWatch::instance())
        connect(watch, &tarnwick::SystemClockWatch::timeChanged, this,
                &TAlarmClock::SystemTimeChanged);
    m_timer = new TTickTimer(this);
    m_timer->SetInterval(450);
    m_timer->SetOnTimer(TNotifyEvent(this, "TimerTick"));
}

TAlarmClock::~TAlarmClock() {
    // Before the widget parts go: no tick may reach a half-destroyed clock.
    delete m_timer;
}

// --- Alarm -----------------------------------------------------------------------------------

QTime TAlarmClock::Now() const {
    return tarnwick::TimeSource::current().now().time();
}

int TAlarmClock::AlarmHour() const {
    return Split(m_alarmTime).h;
}

int TAlarmClock::AlarmMinute() const {
    return Split(m_alarmTime).m;
}

int TAlarmClock::AlarmSecond() const {
    return Split(m_alarmTime).s;
}

void TAlarmClock::SetAlarmHour(int value) {
    SetAlarmPart(0, value);
}

void TAlarmClock::SetAlarmMinute(int value) {
    SetAlarmPart(1, value);
}

void TAlarmClock::SetAlarmSecond(int value) {
    SetAlarmPart(2, value);
}

void TAlarmClock::SetAlarmPart(int part, int value) {
    Hms t = Split(m_alarmTime);
    (part == 0 ? t.h : part == 1 ? t.m : t.s) = value;
    if (t.h < 0 || t.h > 23 || t.m < 0 || t.m > 59 || t.s < 0 || t.s > 59) {
        const QString& sep = tarnwick::FormatSettings::current().timeSeparator;
        throw EConvertError(QStringLiteral("''%1'' is not a valid time")
                                .arg(QString::number(t.h) + sep + QString::number(t.m) + sep +
                                     QString::number(t.s)));
    }
    m_alarmTime = t.h / 24.0 + t.m / 1440.0 + t.s / 86400.0;
    ReArm();
}

void TAlarmClock::SetAlarmFromTime(double time) {
    m_alarmTime = time - std::trunc(time);
    ReArm();
}

QTime TAlarmClock::AlarmTimeOfDay() const {
    const Hms a = Split(m_alarmTime);
    return QTime(a.h, a.m, a.s, a.ms);
}

bool TAlarmClock::InAlarmWindow(QTime now) const {
    const Hms a = Split(m_alarmTime);
    return now.hour() == a.h && now.minute() == a.m && now.second() >= a.s;
}

void TAlarmClock::ReArm() {
    const QDateTime at = tarnwick::TimeSource::current().now();
    const QTime now = at.time();
    m_lastCheck = at;
    const double timeOfDay = now.msecsSinceStartOfDay() / double(msPerDay);
    // Midnight is pending all day, except in its own window: re-arming there (a tick while the
    // alarm is off, or switching it on again) must not make it fire a second time that day.
    m_alarmPending = timeOfDay < m_alarmTime || (m_alarmTime == 0.0 && !InAlarmWindow(now));
}

void TAlarmClock::AlarmCheck() {
    const QDateTime now = tarnwick::TimeSource::current().now();
    const QDateTime last = std::exchange(m_lastCheck, now);
    if (m_alarmEnabled && InAlarmWindow(now.time())) {
        if (m_alarmPending) {
            // Cleared first: a job that processes events cannot re-enter this alarm.
            m_alarmPending = false;
            Fire(QDateTime(now.date(), AlarmTimeOfDay()), false);
        }
        return;
    }
    if (m_alarmEnabled && m_firesLate && last.isValid() && last < now) {
        // The first time the alarm was due after the last check: passed since, so the clock
        // jumped over it or no tick came through its minute.
        QDateTime due(last.date(), AlarmTimeOfDay());
        if (due <= last) due = due.addDays(1);
        if (due <= now) {
            ReArm();
            Fire(due, true);
            return;
        }
    }
    ReArm();
}

void TAlarmClock::Fire(const QDateTime& due, bool late) {
    // A clock set back brings the same day's time round again: it ran already.
    if (due == m_lastDue) return;
    m_lastDue = due;
    m_alarmLate = late;
    try {
        DoAlarm();
    } catch (...) {
        m_alarmLate = false;
        throw;
    }
    m_alarmLate = false;
}

void TAlarmClock::DoAlarm() {
    m_onAlarm(this);
}

void TAlarmClock::Loaded() {
    ReArm();
}

void TAlarmClock::SystemTimeChanged() {
    Invalidate();
    AlarmCheck();
}

void TAlarmClock::TimerTick(QObject*) {
    const QTime now = Now();
    const bool sized = m_backing.size() == size() * devicePixelRatio();
    if (!m_backingValid || !sized || (m_showMode == scDigital && now.hour() % 12 != m_lastHour)) {
        // A new hour changes the width of the block: draw everything.
        RenderFull();
        update();
    } else {
        const QRect dirty =
            m_showMode == scDigital ? DrawDigital(now, false) : DrawAnalog(now, false);
        if (!dirty.isEmpty()) update(dirty);
    }
    AlarmCheck();
}

// --- Panel -----------------------------------------------------------------------------------

QColor TAlarmClock::Color() const {
    return palette().color(QPalette::Window);
}

QColor TAlarmClock::FontColor() const {
    return palette().color(QPalette::WindowText);
}

void TAlarmClock::SetBevelInner(TPanelBevel value) {
    if (value == m_bevelInner) return;
    m_bevelInner = value;
    Invalidate();
    Realign();
}

void TAlarmClock::SetBevelOuter(TPanelBevel value) {
    if (value == m_bevelOuter) return;
    m_bevelOuter = value;
    Invalidate();
    Realign();
}

void TAlarmClock::SetBevelWidth(int value) {
    if (value == m_bevelWidth || value < 0) return;
    m_bevelWidth = value;
    Invalidate();
    Realign();
}

void TAlarmClock::SetBorderWidth(int value) {
    if (value == m_borderWidth || value < 0) return;
    m_borderWidth = value;
    Invalidate();
    Realign();
}

void TAlarmClock::SetBorderStyle(TBorderStyle value) {
    if (value == m_borderStyle) return;
    m_borderStyle = value;
    Invalidate();
    Realign();
}

void TAlarmClock::SetCtl3D(bool value) {
    if (value == m_ctl3D) return;
    m_ctl3D = value;
    Invalidate();
    Realign();
}

QRect TAlarmClock::DrawingRect() const {
    QRect r = rect();
    if (m_borderStyle == bsSingle) {
        const int frame = m_ctl3D ? 2 : 1;
        r.adjust(frame, frame, -frame, -frame);
    }
    int inset = m_borderWidth;
    if (m_bevelOuter != bvNone) inset += m_bevelWidth;
    if (m_bevelInner != bvNone) inset += m_bevelWidth;
    return r.adjusted(inset, inset, -inset, -inset);
}

// --- Display properties ----------------------------------------------------------------------

void TAlarmClock::SetAutoSize(bool value) {
    if (value == m_autoSize) return;
    m_autoSize = value;
    if (value) {
        Invalidate();
        Realign();
    }
}

void TAlarmClock::SetDotsColor(const QColor& value) {
    if (value == m_dotsColor) return;
    m_dotsColor = value;
    Invalidate();
}

void TAlarmClock::SetShowMode(TShowClock value) {
    if (value == m_showMode) return;
    m_showMode = value;
    Invalidate();
}

void TAlarmClock::SetShowSeconds(bool value) {
    if (value == m_showSeconds) return;
    m_showSeconds = value;
    Invalidate();
    Realign();
}

void TAlarmClock::SetTwelveHour(bool value) {
    if (value == m_twelveHour) return;
    m_twelveHour = value;
    Invalidate();
    Realign();
}

void TAlarmClock::SetLeadingZero(bool value) {
    if (value == m_leadingZero) return;
    m_leadingZero = value;
    Invalidate();
}

void TAlarmClock::Invalidate() {
    m_backingValid = false;
    update();
}

// Fits the font height to the drawing rectangle.
void TAlarmClock::Realign() {
    if (!m_autoSize || m_realigning) return;
    const QRect r = DrawingRect();
    const int availHeight = r.height() - 4;
    const int availWidth = r.width() - 30;
    if (availHeight <= 0 || availWidth <= 0) return;

    QFont f = font();
    f.setPixelSize(1000);
    const QFontMetrics big(f);
    QString sample = QStringLiteral("88888");
    if (m_showSeconds) sample += QStringLiteral("888");
    if (m_twelveHour) {
        const auto& fs = tarnwick::FormatSettings::current();
        const QFontMetrics fm(font());
        const bool amWider =
            fm.horizontalAdvance(fs.amDesignator) > fm.horizontalAdvance(fs.pmDesignator);
        sample += u' ' + (amWider ? fs.amDesignator : fs.pmDesignator);
    }
    const int sampleWidth = big.horizontalAdvance(sample);
    if (sampleWidth <= 0) return;
    const int height =
        int(std::min<qint64>(availHeight * 4 / 5, 1000LL * availWidth / sampleWidth));
    if (height <= 0) return;
    f.setPixelSize(height);
    m_realigning = true;
    setFont(f);
    m_realigning = false;
}

void TAlarmClock::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Invalidate();
    Realign();
}

void TAlarmClock::changeEvent(QEvent* event) {
    switch (event->type()) {
    case QEvent::FontChange:
    case QEvent::PaletteChange:
    case QEvent::LocaleChange:
    case QEvent::StyleChange:
    case QEvent::ThemeChange:
        Invalidate();
        Realign();
        break;
    default:
        break;
    }
    QWidget::changeEvent(event);
}

// --- Drawing ---------------------------------------------------------------------------------

void TAlarmClock::paintEvent(QPaintEvent* event) {
    if (!m_backingValid || m_backing.size() != size() * devicePixelRatio()) RenderFull();
    if (m_backing.isNull()) return;
    QPainter p(this);
    const qreal dpr = m_backing.devicePixelRatio();
    for (const QRect& r : event->region())
        p.drawImage(r, m_backing,
                    QRectF(r.x() * dpr, r.y() * dpr, r.width() * dpr, r.height() * dpr));
}

void TAlarmClock::RenderFull() {
    const qreal dpr = devicePixelRatio();
    const QSize px = size() * dpr;
    if (px.isEmpty()) {
        m_backing = QImage();
        m_backingValid = false;
        return;
    }
    if (m_backing.size() != px) {
        m_backing = QImage(px, QImage::Format_RGB32);
        m_backing.setDevicePixelRatio(dpr);
    }
    {
        QPainter p(&m_backing);
        DrawFrame(p);
    }
    m_backingValid = true;
    const QTime now = Now();
    if (m_showMode == scDigital)
        DrawDigital(now, true);
    else
        DrawAnalog(now, true);
}

void TAlarmClock::DrawFrame(QPainter& p) const {
    const QPalette& pal = palette();
    QRect r = rect();
    if (m_borderStyle == bsSingle) {
        if (m_ctl3D) {
            // Sunken edge, two lines.
            QRect outer = r;
            DrawBevel(p, outer, bvLowered, 1, pal, Color());
            p.fillRect(QRect(outer.left(), outer.top(), outer.width(), 1),
                       pal.color(QPalette::Shadow));
            p.fillRect(QRect(outer.left(), outer.top(), 1, outer.height()),
                       pal.color(QPalette::Shadow));
            p.fillRect(QRect(outer.left(), outer.bottom(), outer.width(), 1),
                       pal.color(QPalette::Midlight));
            p.fillRect(QRect(outer.right(), outer.top(), 1, outer.height()),
                       pal.color(QPalette::Midlight));
            r.adjust(2, 2, -2, -2);
        } else {
            p.setPen(Qt::black);
            p.setBrush(Qt::NoBrush);
            p.drawRect(r.adjusted(0, 0, -1, -1));
            r.adjust(1, 1, -1, -1);
        }
    }
    DrawBevel(p, r, m_bevelOuter, m_bevelWidth, pal, Color());
    p.fillRect(r, Color());
    r.adjust(m_borderWidth, m_borderWidth, -m_borderWidth, -m_borderWidth);
    DrawBevel(p, r, m_bevelInner, m_bevelWidth, pal, Color());
}

QRect TAlarmClock::DrawDigital(QTime now, bool full) {
    const int hour = now.hour(), minute = now.minute(), second = now.second();
    int shown = hour;
    if (m_twelveHour) {
        if (hour > 12)
            shown = hour - 12;
        else if (hour == 0)
            shown = 12;
    }
    QString text =
        m_leadingZero ? QString::number(shown).rightJustified(2, u'0') : QString::number(shown);
    text += u':' + QString::number(minute).rightJustified(2, u'0');
    if (m_showSeconds) text += u':' + QString::number(second).rightJustified(2, u'0');
    if (m_twelveHour) {
        const auto& fs = tarnwick::FormatSettings::current();
        text += u' ' + (hour < 12 ? fs.amDesignator : fs.pmDesignator);
    }
    int n = (shown > 9 || m_leadingZero) ? 5 : 4;
    if (m_showSeconds) n += 3;
    const QString suffix = text.mid(n);

    QPainter p(&m_backing);
    p.setFont(font());
    const QFontMetrics fm = p.fontMetrics();
    const int w = fm.horizontalAdvance(u'8');
    const int h = fm.height();
    const int suffixWidth = suffix.isEmpty() ? 0 : fm.horizontalAdvance(suffix);
    const QRect r = DrawingRect();
    const int left = r.left() + (r.width() - (n * w + suffixWidth)) / 2;
    const int top = r.top() + (r.height() - h) / 2;

    const bool twoCharHour = (m_showSeconds ? n - 3 : n) == 5;
    const int firstMinute = twoCharHour ? 4 : 3;
    const int firstSecond = twoCharHour ? 7 : 6;
    const bool hourChanged = hour % 12 != m_lastHour;
    const bool minuteChanged = minute != m_lastMinute;
    const bool secondChanged = second != m_lastSecond;

    m_report = DrawReport();
    m_report.full = full;
    m_report.cellCount = n;
    m_report.text = text;
    QRect dirty;
    p.setPen(FontColor());
    for (int i = 1; i <= n; ++i) {
        const QRect cell(left + (i - 1) * w, top, w, h);
        m_report.cellRects.append(cell);
        const bool isSecond = m_showSeconds && (i == firstSecond || i == firstSecond + 1);
        const bool isMinute = i == firstMinute || i == firstMinute + 1;
        if (!(full || (secondChanged && isSecond) || (minuteChanged && isMinute) || hourChanged))
            continue;
        p.fillRect(cell, Color());
        p.drawText(cell, Qt::AlignCenter | Qt::TextSingleLine | Qt::TextDontClip,
                   QString(text[i - 1]));
        m_report.cells.append(i);
        dirty |= cell;
    }
    if ((full || hourChanged) && !suffix.isEmpty()) {
        const QRect box(left + n * w, top, suffixWidth, h);
        p.fillRect(box, Color());
        p.drawText(box, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextDontClip,
                   suffix);
        dirty |= box;
    }
    m_lastHour = quint16(hour % 12);
    m_lastMinute = quint16(minute);
    m_lastSecond = quint16(second);
    // Glyphs may overhang their cell a little.
    return dirty.isEmpty() ? dirty : dirty.adjusted(-2, -2, 2, 2);
}

QRect TAlarmClock::DrawAnalog(QTime now, bool full) {
    const int hour12 = now.hour() % 12, minute = now.minute(), second = now.second();
    if (full) {
        const double ratio = AspectRatio();
        const QRect r = DrawingRect();
        const int width = std::max(0, std::min(r.width(), int(r.height() / ratio)));
        const int height = int(std::lround(width * ratio));
        m_face = QRect(r.left() + (r.width() - width) / 2, r.top() + (r.height() - height) / 2,
                       width, height);
        // The marks sit on the radius: keep them inside the face.
        m_radius = std::max(0, width / 2 - std::max(2, width * 25 / ScreenWidth()));
        m_centre = QPoint(m_face.left() + width / 2, m_face.top() + height / 2);
    }
    const bool handsMoved = full || hour12 != m_lastHour || minute != m_lastMinute;
    const bool secondMoved = full || second != m_lastSecond || handsMoved;
    if (m_radius > 0) {
        if (!full && m_showSeconds && secondMoved) InvertSecondHand(m_lastSecond);
        if (handsMoved) {
            QPainter p(&m_backing);
            if (full)
                DrawMarks(p);
            else
                DrawHands(p, m_lastHour, m_lastMinute, true);
            DrawHands(p, hour12, minute, false);
        }
        if (m_showSeconds && secondMoved) InvertSecondHand(second);
    }
    m_lastHour = quint16(hour12);
    m_lastMinute = quint16(minute);
    m_lastSecond = quint16(second);
    return (handsMoved || (m_showSeconds && secondMoved)) ? m_face.adjusted(-1, -1, 1, 1) : QRect();
}

void TAlarmClock::DrawMarks(QPainter& p) {
    const auto& marks = Marks();
    const double ratio = AspectRatio();
    const int size = std::max(2, m_face.width() * 25 / ScreenWidth());
    const int sizeY = std::max(1, int(std::lround(size * ratio)));
    const QPalette& pal = palette();
    for (int i = 0; i < 60; ++i) {
        const QPoint c = m_centre + QPoint(int(qint64(marks[i].x()) * m_radius / 8000),
                                           int(qint64(marks[i].y()) * m_radius / 8000));
        if (i % 5 == 0) {
            const QRect box(c.x() - size / 2, c.y() - sizeY / 2, size, sizeY);
            if (m_ctl3D && size > 2) {
                p.fillRect(box, m_dotsColor);
                QRect frame = box;
                DrawBevel(p, frame, bvRaised, 1, pal, Color());
            } else {
                p.fillRect(box, FontColor());
            }
        } else if (m_ctl3D) {
            p.fillRect(QRect(c.x() - 1, c.y() - 1, 1, 1), pal.color(QPalette::Dark));
            p.fillRect(QRect(c.x(), c.y(), 1, 1), pal.color(QPalette::Light));
        } else {
            p.fillRect(QRect(c.x(), c.y(), 1, 1), FontColor());
        }
    }
}

void TAlarmClock::DrawHands(QPainter& p, int hour12, int minute, bool erase) {
    const double ratio = AspectRatio();
    // A kite from the centre: length, width at the base and tail, as fractions of the radius.
    auto kite = [&](int mark, double length, double width, double tail) {
        const double a = mark * 6.0 * M_PI / 180.0;
        const QPointF dir(std::sin(a), -std::cos(a) * ratio);
        const QPointF across(std::cos(a), std::sin(a) * ratio);
        const QPointF c(m_centre);
        const double r = m_radius;
        const QPointF points[4] = {c + dir * (r * length), c + across * (r * width),
                                   c - dir * (r * tail), c - across * (r * width)};
        p.drawPolygon(points, 4);
    };
    const QColor color = erase ? Color() : FontColor();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(color);
    p.setBrush(color);
    kite(5 * hour12 + minute / 12, 0.60, 0.07, 0.15);
    kite(minute, 0.80, 0.05, 0.20);
}

// Inverts the pixels of the second hand's line: a second call restores them.
void TAlarmClock::InvertSecondHand(int second) {
    const qreal dpr = m_backing.devicePixelRatio();
    const auto& mark = Marks()[second % 60];
    int x0 = int(m_centre.x() * dpr), y0 = int(m_centre.y() * dpr);
    const int x1 = int((m_centre.x() + qint64(mark.x()) * m_radius * 8 / 10 / 8000) * dpr);
    const int y1 = int((m_centre.y() + qint64(mark.y()) * m_radius * 8 / 10 / 8000) * dpr);
    const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    for (;;) {
        if (x0 >= 0 && y0 >= 0 && x0 < m_backing.width() && y0 < m_backing.height()) {
            auto* line = reinterpret_cast<QRgb*>(m_backing.scanLine(y0));
            line[x0] ^= 0x00FFFFFF;
        }
        if (x0 == x1 && y0 == y1) break;
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
}
