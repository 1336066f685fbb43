#include "controls/valuespinedit.h"

#include "controls/formreader.h"
#include "controls/toggleswitch.h"
#include "platform/formatsettings.h"
#include "platform/timesource.h"
#include "runtime/errors.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <qdrawutil.h>

#include <algorithm>
#include <cmath>
#include <limits>

using tarnwick::FormatSettings;

namespace {

constexpr qint64 msPerDay = 86'400'000;
const QDate dateBase(1899, 12, 30);

// A range is set when its bounds differ.
template <typename T> bool outside(T v, T lo, T hi) {
    return lo != hi && (v < lo || v > hi);
}
template <typename T> T clampTo(T v, T lo, T hi) {
    return lo != hi ? std::clamp(v, std::min(lo, hi), std::max(lo, hi)) : v;
}

// Milliseconds of the time of day of a value; a negative value uses its absolute value.
int timeOfDayMs(double v) {
    if (!std::isfinite(v)) return 0;
    const double ms = std::round(std::fabs(v) * msPerDay);
    if (ms >= 9.0e15) return 0; // beyond exact integers there is no time of day left
    return static_cast<int>(static_cast<qint64>(ms) % msPerDay);
}

// Reads a designator at i (the locale's or plain AM/PM, any case): 1 = AM, 2 = PM.
int readDesignator(const QString& t, int& i, const FormatSettings& fs) {
    struct Candidate {
        QString text;
        int kind;
    };
    const Candidate candidates[] = {{fs.amDesignator, 1},
                                    {fs.pmDesignator, 2},
                                    {QStringLiteral("AM"), 1},
                                    {QStringLiteral("PM"), 2}};
    int best = 0, bestLen = 0;
    for (const Candidate& c : candidates) {
        if (c.text.isEmpty() || c.text.size() <= bestLen) continue;
        if (QStringView(t).mid(i).startsWith(c.text, Qt::CaseInsensitive)) {
            best = c.kind;
            bestLen = int(c.text.size());
        }
    }
    i += bestLen;
    return best;
}

void skipBlanks(const QString& t, int& i) {
    while (i < t.size() && t[i] == u' ')
        ++i;
}

bool readNumber(const QString& t, int& i, int& out) {
    const int start = i;
    qint64 v = 0;
    while (i < t.size() && t[i] >= u'0' && t[i] <= u'9' && i - start < 9)
        v = v * 10 + (t[i++].unicode() - u'0');
    out = int(v);
    return i > start;
}

// Reads a text against a time format as FormatSettings writes it (hour, minute, second and
// designator fields, ':' for the time separator, other characters literal), for long time
// formats with words between the fields ("H時mm分ss秒") that the plain reading cannot take.
std::optional<double> timeByFormat(const QString& t, const QString& f, const FormatSettings& fs) {
    int i = 0, hour = -1, minute = 0, second = 0, ms = 0, designator = 0;
    for (int k = 0; k < f.size();) {
        const QChar c = f[k];
        int n = 1;
        while (k + n < f.size() && f[k + n] == c)
            ++n;
        if (c == u'\'') {
            int j = k + 1;
            QString literal;
            if (j < f.size() && f[j] == u'\'') {
                literal = QStringLiteral("'");
                ++j;
            } else {
                while (j < f.size() && f[j] != u'\'')
                    literal += f[j++];
                ++j;
            }
            if (!QStringView(t).mid(i).startsWith(literal)) return std::nullopt;
            i += int(literal.size());
            k = j;
            continue;
        }
        int value = 0;
        switch (c.unicode()) {
        case 'h':
        case 'H':
            if (!readNumber(t, i, value)) return std::nullopt;
            hour = value;
            break;
        case 'm':
            if (!readNumber(t, i, minute)) return std::nullopt;
            break;
        case 's':
            if (!readNumber(t, i, second)) return std::nullopt;
            break;
        case 'z':
            if (!readNumber(t, i, ms)) return std::nullopt;
            break;
        case 'A':
        case 'a':
            designator = readDesignator(t, i, fs);
            if (!designator) return std::nullopt;
            n = (k + 1 < f.size() && (f[k + 1] == u'P' || f[k + 1] == u'p')) ? 2 : 1;
            break;
        case ':':
            if (!QStringView(t).mid(i).startsWith(fs.timeSeparator)) return std::nullopt;
            i += int(fs.timeSeparator.size());
            break;
        default:
            if (c.isSpace()) {
                skipBlanks(t, i);
            } else {
                for (int r = 0; r < n; ++r, ++i)
                    if (i >= t.size() || t[i] != c) return std::nullopt;
            }
            break;
        }
        k += n;
    }
    skipBlanks(t, i);
    if (i != t.size() || hour < 0) return std::nullopt;
    if (designator) {
        if (hour < 1 || hour > 12) return std::nullopt;
        hour = hour % 12 + (designator == 2 ? 12 : 0);
    }
    if (hour > 23 || minute > 59 || second > 59 || ms > 999) return std::nullopt;
    return (hour * 3600.0 + minute * 60.0 + second + ms / 1000.0) / 86400.0;
}

// The order of day, month and year in the short date format, as letters "dMy".
QString dateFieldOrder(const QString& format) {
    QString order;
    bool quoted = false;
    for (QChar c : format) {
        if (c == u'\'') quoted = !quoted;
        if (quoted) continue;
        if ((c == u'd' || c == u'M' || c == u'y') && !order.contains(c)) order += c;
    }
    return order.size() == 3 ? order : QStringLiteral("dMy");
}

// The 1-based position of the first and second occurrence of sep (0 when absent).
std::pair<int, int> separatorPositions(const QString& t, const QString& sep) {
    if (sep.isEmpty()) return {0, 0};
    const int i1 = int(t.indexOf(sep));
    if (i1 < 0) return {0, 0};
    const int i2 = int(t.indexOf(sep, i1 + sep.size()));
    return {i1 + 1, i2 < 0 ? 0 : i2 + 1};
}

QString floatToText(double v, int precision) {
    const FormatSettings& fs = FormatSettings::current();
    QString s;
    if (precision > 0) {
        s = QString::number(v, 'f', precision);
    } else {
        s = QString::number(v, 'g', 15);
        // Exponents as "1E20" and "1E-7".
        const int e = int(s.indexOf(u'e'));
        if (e >= 0) {
            QString exp = s.mid(e + 1);
            const bool negative = exp.startsWith(u'-');
            exp.remove(0, exp.startsWith(u'-') || exp.startsWith(u'+') ? 1 : 0);
            while (exp.size() > 1 && exp.startsWith(u'0'))
                exp.remove(0, 1);
            s = s.left(e) + u'E' + (negative ? QStringLiteral("-") : QString()) + exp;
        }
    }
    return s.replace(u'.', fs.decimalSeparator);
}

std::optional<double> textToFloat(const QString& text) {
    const FormatSettings& fs = FormatSettings::current();
    QString t = text.trimmed();
    if (fs.decimalSeparator != QLatin1String(".")) {
        if (t.contains(u'.')) return std::nullopt;
        t.replace(fs.decimalSeparator, QStringLiteral("."));
    }
    bool ok = false;
    const double v = t.toDouble(&ok);
    if (!ok || !std::isfinite(v)) return std::nullopt;
    return v;
}

QPixmap arrowGlyph(bool up, bool enabled) {
    // 9 x 6 pixels: a triangle of five rows and one blank row.
    QImage img(9, 6, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    auto draw = [&](int dx, int dy, QColor c) {
        for (int row = 0; row < 5; ++row) {
            const int half = up ? row : 4 - row;
            for (int x = 4 - half; x <= 4 + half; ++x)
                if (x + dx < 9 && row + dy < 6) img.setPixelColor(x + dx, row + dy, c);
        }
    };
    if (enabled) {
        draw(0, 0, Qt::black);
    } else {
        draw(1, 1, Qt::white);
        draw(0, 0, QColor(0x80, 0x80, 0x80));
    }
    return QPixmap::fromImage(img);
}

} // namespace

// --- TRepeatSpeedButton

TRepeatSpeedButton::TRepeatSpeedButton(TButtonKind kind, TValueSpinButton* parent)
    : QAbstractButton(parent), m_kind(kind) {
    setFocusPolicy(Qt::NoFocus);
    setAutoRepeat(true);
    setAutoRepeatDelay(400);
    setAutoRepeatInterval(100);
}

void TRepeatSpeedButton::SetKind(TButtonKind kind) {
    m_kind = kind;
    update();
}

void TRepeatSpeedButton::SetDrawFocusRect(bool draw) {
    m_drawFocus = draw;
    update();
}

void TRepeatSpeedButton::SetFlat(bool flat) {
    m_flat = flat;
    update();
}

void TRepeatSpeedButton::mousePressEvent(QMouseEvent* e) {
    auto* spin = static_cast<TValueSpinButton*>(parentWidget());
    if (e->button() == Qt::LeftButton) spin->ButtonPressed(this);
    QAbstractButton::mousePressEvent(e);
    spin->update();
}

void TRepeatSpeedButton::mouseReleaseEvent(QMouseEvent* e) {
    QAbstractButton::mouseReleaseEvent(e);
    if (QWidget* spin = parentWidget()) spin->update();
}

void TRepeatSpeedButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect r = rect();
    const bool sunken = isDown();
    p.fillRect(r, palette().color(QPalette::Button));
    if (!m_flat || sunken) qDrawWinButton(&p, r, palette(), sunken);
    const int shift = sunken ? 1 : 0;
    if (m_kind == bkGlyphUp || m_kind == bkGlyphDown) {
        const QPixmap glyph =
            static_cast<TValueSpinButton*>(parentWidget())->GlyphFor(this, isEnabled());
        const QPoint at((r.width() - glyph.width()) / 2 + shift,
                        (r.height() - glyph.height()) / 2 + shift);
        p.drawPixmap(at, glyph);
    } else {
        // The system's scroll arrows: a triangle pointing left or right.
        const int size = std::max(2, std::min(r.width(), r.height()) / 4);
        const QPoint c = r.center() + QPoint(shift, shift);
        const int dir = m_kind == bkLeftArrow ? -1 : 1;
        QPolygon tri;
        tri << QPoint(c.x() + dir * size / 2, c.y()) << QPoint(c.x() - dir * size / 2, c.y() - size)
            << QPoint(c.x() - dir * size / 2, c.y() + size);
        p.setPen(Qt::NoPen);
        p.setBrush(isEnabled() ? palette().color(QPalette::ButtonText)
                               : palette().color(QPalette::Dark));
        p.drawPolygon(tri);
    }
    if (m_drawFocus) {
        QStyleOptionFocusRect opt;
        opt.initFrom(this);
        opt.rect = r.adjusted(3, 3, -3, -3);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &opt, &p, this);
    }
}

// --- TValueSpinButton

TValueSpinButton::TValueSpinButton(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
    m_up = new TRepeatSpeedButton(TRepeatSpeedButton::bkGlyphUp, this);
    m_down = new TRepeatSpeedButton(TRepeatSpeedButton::bkGlyphDown, this);
    m_focused = m_up;
    connect(m_up, &QAbstractButton::clicked, this, [this] { Click(m_up, m_onUpClick); });
    connect(m_down, &QAbstractButton::clicked, this, [this] { Click(m_down, m_onDownClick); });
    resize(15, 25);
    Relayout();
}

void TValueSpinButton::Click(TRepeatSpeedButton* b, const TNotifyEvent& event) {
    try {
        event(this);
    } catch (...) {
        // A failing click ends the repeat; the error goes to the application's handler.
        b->setDown(false);
        tarnwick::HandleException(std::current_exception());
    }
}

void TValueSpinButton::SetDirection(TSpinDirection d) {
    m_direction = d;
    m_up->SetKind(d == spVertical ? TRepeatSpeedButton::bkGlyphUp
                                  : TRepeatSpeedButton::bkRightArrow);
    m_down->SetKind(d == spVertical ? TRepeatSpeedButton::bkGlyphDown
                                    : TRepeatSpeedButton::bkLeftArrow);
    Relayout();
}

void TValueSpinButton::SetUpGlyph(const QPixmap& p) {
    m_upGlyph = p;
    m_up->update();
}

void TValueSpinButton::SetDownGlyph(const QPixmap& p) {
    m_downGlyph = p;
    m_down->update();
}

void TValueSpinButton::SetUpNumGlyphs(int n) {
    m_upNumGlyphs = std::clamp(n, 1, 4);
    m_up->update();
}

void TValueSpinButton::SetDownNumGlyphs(int n) {
    m_downNumGlyphs = std::clamp(n, 1, 4);
    m_down->update();
}

void TValueSpinButton::SetFlat(bool flat) {
    m_up->SetFlat(flat);
    m_down->SetFlat(flat);
}

QPixmap TValueSpinButton::GlyphFor(const TRepeatSpeedButton* b, bool enabled) const {
    const bool up = b == m_up;
    const QPixmap& glyph = up ? m_upGlyph : m_downGlyph;
    if (glyph.isNull()) return arrowGlyph(up, enabled);
    // Several images side by side: up, disabled, ...
    const int n = up ? m_upNumGlyphs : m_downNumGlyphs;
    const int w = glyph.width() / n;
    const int index = !enabled && n > 1 ? 1 : 0;
    return glyph.copy(index * w, 0, w, glyph.height());
}

void TValueSpinButton::ButtonPressed(TRepeatSpeedButton* b) {
    if (focusPolicy() != Qt::NoFocus && isEnabled()) SetFocusedButton(b);
    if (auto* edit = qobject_cast<TValueSpinEdit*>(m_focusControl);
        edit && edit->m_mouseFocusPending) {
        // The press itself already moved the focus into the edit.
        edit->SpinButtonPressed();
        return;
    }
    QWidget* fc = m_focusControl;
    if (fc && (fc->focusPolicy() & Qt::TabFocus) && fc->isEnabled() && fc->isVisible() &&
        !fc->hasFocus())
        fc->setFocus(Qt::OtherFocusReason);
    else if (focusPolicy() != Qt::NoFocus && isEnabled() && !hasFocus())
        setFocus(Qt::OtherFocusReason);
}

void TValueSpinButton::SetFocusedButton(TRepeatSpeedButton* b) {
    if (m_focused == b) return;
    const bool focused = hasFocus();
    m_focused->SetDrawFocusRect(false);
    m_focused = b;
    m_focused->SetDrawFocusRect(focused);
}

void TValueSpinButton::resizeEvent(QResizeEvent*) {
    Relayout();
}

void TValueSpinButton::Relayout() {
    const int minWidth = m_direction == spVertical ? 15 : 20;
    if (width() < minWidth) {
        resize(minWidth, height());
        return; // the resize lays out again
    }
    const int w = width(), h = height();
    if (m_direction == spVertical) {
        const int half = h / 2;
        m_up->setGeometry(0, 0, w, half);
        m_down->setGeometry(0, half - 1, w, h - (half - 1));
    } else {
        const int half = w / 2;
        m_down->setGeometry(0, 0, half, h);
        m_up->setGeometry(half, 0, w - half, h);
    }
}

void TValueSpinButton::keyPressEvent(QKeyEvent* e) {
    switch (e->key()) {
    case Qt::Key_Space:
        m_focused->click();
        break;
    case Qt::Key_Up:
        SetFocusedButton(m_up);
        m_up->click();
        break;
    case Qt::Key_Down:
        SetFocusedButton(m_down);
        m_down->click();
        break;
    default:
        QWidget::keyPressEvent(e);
    }
}

void TValueSpinButton::focusInEvent(QFocusEvent* e) {
    QWidget::focusInEvent(e);
    m_focused->SetDrawFocusRect(true);
}

void TValueSpinButton::focusOutEvent(QFocusEvent* e) {
    QWidget::focusOutEvent(e);
    m_focused->SetDrawFocusRect(false);
}

// --- TValueSpinEdit: conversions

QString TValueSpinEdit::TimeToText(double time) {
    return FormatSettings::current().longTime(QTime::fromMSecsSinceStartOfDay(timeOfDayMs(time)));
}

std::optional<double> TValueSpinEdit::TextToTime(const QString& t) {
    const FormatSettings& fs = FormatSettings::current();
    int i = 0;
    skipBlanks(t, i);
    int designator = readDesignator(t, i, fs);
    skipBlanks(t, i);
    int hour = 0, minute = 0, second = 0;
    if (!readNumber(t, i, hour)) return timeByFormat(t, fs.longTimeFormat, fs);
    const QString& sep = fs.timeSeparator;
    if (!sep.isEmpty() && QStringView(t).mid(i).startsWith(sep)) {
        i += int(sep.size());
        if (!readNumber(t, i, minute)) return std::nullopt;
        if (QStringView(t).mid(i).startsWith(sep)) {
            i += int(sep.size());
            if (!readNumber(t, i, second)) return std::nullopt;
        }
    }
    skipBlanks(t, i);
    if (designator == 0) {
        designator = readDesignator(t, i, fs);
        skipBlanks(t, i);
    }
    if (i != t.size()) return timeByFormat(t, fs.longTimeFormat, fs);
    if (designator != 0) {
        if (hour < 1 || hour > 12) return std::nullopt;
        hour = hour % 12 + (designator == 2 ? 12 : 0);
    }
    if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
    return (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
}

QString TValueSpinEdit::DateToText(double date) {
    const double days =
        std::isfinite(date) ? std::clamp(std::trunc(date), -693593.0, 2958465.0) : 0;
    return FormatSettings::current().shortDate(dateBase.addDays(qint64(days)));
}

std::optional<double> TValueSpinEdit::TextToDate(const QString& text) {
    const FormatSettings& fs = FormatSettings::current();
    if (fs.dateSeparator.isEmpty()) return std::nullopt;
    QStringList parts = text.trimmed().split(fs.dateSeparator);
    // Some formats end with the separator ("yy. M. d.").
    if (parts.size() > 1 && parts.last().trimmed().isEmpty()) parts.removeLast();
    if (parts.size() < 2 || parts.size() > 3) return std::nullopt;
    QList<int> numbers;
    QList<int> widths;
    for (const QString& part : parts) {
        const QString p = part.trimmed();
        int i = 0, n = 0;
        if (!readNumber(p, i, n) || i != p.size()) return std::nullopt;
        numbers << n;
        widths << int(p.size());
    }
    QString order = dateFieldOrder(fs.shortDateFormat);
    if (parts.size() == 2) order.remove(u'y');
    int day = 0, month = 0, year = tarnwick::TimeSource::current().now().date().year();
    for (int k = 0; k < order.size(); ++k) {
        if (order[k] == u'd') day = numbers[k];
        if (order[k] == u'M') month = numbers[k];
        if (order[k] == u'y') {
            year = numbers[k];
            if (widths[k] <= 2) year += year < 50 ? 2000 : 1900;
        }
    }
    const QDate d(year, month, day);
    if (!d.isValid()) return std::nullopt;
    return double(dateBase.daysTo(d));
}

// --- TValueSpinEdit

TValueSpinEdit::TValueSpinEdit(QWidget* parent) : QLineEdit(parent) {
    m_button = new TValueSpinButton(this);
    m_button->SetFocusControl(this);
    m_button->SetOnUpClick(TNotifyEvent(this, "StepUp"));
    m_button->SetOnDownClick(TNotifyEvent(this, "StepDown"));
    // Every real change of the text, by the user or by code, is one OnChange.
    connect(this, &QLineEdit::textChanged, this, [this] { m_onChange(this); });
    setText(QStringLiteral("0"));
    resize(121, 21);
    Relayout();
}

void TValueSpinEdit::SetDirection(TValueSpinButton::TSpinDirection d) {
    m_button->SetDirection(d);
    Relayout();
}

void TValueSpinEdit::SetPrecision(int p) {
    m_precision = p;
    if (m_spinType == sptFloat) SetFloatValue(FloatValue());
}

void TValueSpinEdit::SetSpinType(TValueSpinType t) {
    m_spinType = t;
    if (!IsLoading()) NormaliseText();
}

void TValueSpinEdit::NormaliseText() {
    switch (m_spinType) {
    case sptNormal:
        SetValue(Value());
        break;
    case sptFloat:
        SetFloatValue(FloatValue());
        break;
    case sptDate:
        SetDateValue(DateValue());
        break;
    case sptTime:
        SetTimeValue(TimeValue());
        break;
    case sptHex:
        SetHexValue(HexValue());
        break;
    }
}

void TValueSpinEdit::Loaded() {
    // Build the text from what the description stored; this raises OnChange when it differs.
    switch (m_spinType) {
    case sptDate:
        SetDateValue(m_dateValue);
        break;
    case sptTime:
        SetTimeValue(m_timeValue);
        break;
    case sptHex:
        SetHexValue(m_hexValue);
        break;
    default:
        break;
    }
    SetSpinType(m_spinType);
}

int TValueSpinEdit::Value() const {
    bool ok = false;
    const int v = text().trimmed().toInt(&ok, 10);
    return ok ? v : m_minValue;
}

void TValueSpinEdit::SetValue(int v) {
    setText(QString::number(clampTo(v, m_minValue, m_maxValue)));
    if (!m_editorEnabled) selectAll();
}

double TValueSpinEdit::FloatValue() const {
    return textToFloat(text()).value_or(double(m_minValue));
}

void TValueSpinEdit::SetFloatValue(double v) {
    setText(floatToText(clampTo(v, m_minFloat, m_maxFloat), m_precision));
}

double TValueSpinEdit::TimeValue() const {
    return TextToTime(text()).value_or(0.0);
}

void TValueSpinEdit::SetTimeValue(double v) {
    m_timeValue = v;
    if (IsLoading()) return;
    SetTextKeepCaret(TimeToText(v));
}

double TValueSpinEdit::DateValue() const {
    const QString t = text().trimmed();
    if (t.isEmpty() || t == QLatin1String("0")) {
        const QDateTime now = tarnwick::TimeSource::current().now();
        return double(dateBase.daysTo(now.date())) +
               now.time().msecsSinceStartOfDay() / double(msPerDay);
    }
    return TextToDate(t).value_or(m_minDate);
}

void TValueSpinEdit::SetDateValue(double v) {
    m_dateValue = v;
    if (IsLoading()) return;
    SetTextKeepCaret(DateToText(clampTo(v, m_minDate, m_maxDate)));
}

int TValueSpinEdit::HexValue() const {
    // The digits after the "0x" prefix; reading stops at the first character that is not one.
    const QString t = text().mid(2);
    quint32 v = 0;
    for (QChar c : t) {
        const int d = QStringLiteral("0123456789ABCDEF").indexOf(c.toUpper());
        if (d < 0) break;
        v = v << 4 | quint32(d);
    }
    return int(v);
}

void TValueSpinEdit::SetHexValue(int v) {
    m_hexValue = v;
    if (IsLoading()) return;
    setText(QStringLiteral("0x") + QString::number(quint32(v), 16).toUpper());
}

void TValueSpinEdit::SetSpinFlat(bool f) {
    m_spinFlat = f;
    m_button->SetFlat(f);
}

void TValueSpinEdit::SetAutoSize(bool a) {
    m_autoSize = a;
    Relayout();
}

void TValueSpinEdit::SetBorderStyle(TBorderStyle b) {
    m_borderStyle = b;
    setFrame(b == bsSingle);
    Relayout();
}

void TValueSpinEdit::SetCtl3D(bool c) {
    m_ctl3D = c;
    Relayout();
}

int TValueSpinEdit::CaretIndex() const {
    return hasSelectedText() ? selectionStart() : cursorPosition();
}

void TValueSpinEdit::SetTextKeepCaret(const QString& t) {
    const int caret = CaretIndex();
    setText(t);
    setCursorPosition(std::min(caret, int(t.size())));
}

// --- stepping

void TValueSpinEdit::Beep() {
    QApplication::beep();
}

void TValueSpinEdit::StepUp(QObject*) {
    Step(+1);
}

void TValueSpinEdit::StepDown(QObject*) {
    Step(-1);
}

void TValueSpinEdit::Step(int sign) {
    if (isReadOnly()) {
        Beep();
        return;
    }
    switch (m_spinType) {
    case sptNormal:
        SetValue(Value() + sign * m_increment);
        break;
    case sptFloat:
        SetFloatValue(FloatValue() + sign * m_incrementFloat);
        break;
    case sptDate:
        StepDate(sign);
        break;
    case sptTime:
        StepTime(sign);
        break;
    case sptHex:
        SetHexValue(int(quint32(HexValue()) + quint32(sign * m_increment)));
        break;
    }
}

void TValueSpinEdit::StepTime(int sign) {
    const auto [p1, p2] = separatorPositions(text(), FormatSettings::current().timeSeparator);
    const int c = CaretIndex();
    // The field under the caret; a field whose separator is missing reaches the end of the
    // text ("14" is an hour, "14:30" an hour and minutes).
    double step = 1.0 / 86400.0;
    if (p1 == 0 || c < p1)
        step = 1.0 / 24.0;
    else if (p2 == 0 || c < p2)
        step = 1.0 / 1440.0;
    SetTimeValue(TimeValue() + sign * step);
}

void TValueSpinEdit::StepDate(int sign) {
    const auto [p1, p2] = separatorPositions(text(), FormatSettings::current().dateSeparator);
    const int c = CaretIndex();
    const double v = DateValue();
    const double whole = std::trunc(v);
    const QDate d = dateBase.addDays(qint64(whole));
    QDate next;
    if (p1 == 0 || c < p1)
        next = d.addDays(sign);
    else if (p2 == 0 || c < p2)
        next = d.addMonths(sign); // keeps the day, limited to the month's length
    else
        next = d.addYears(sign);
    SetDateValue(double(dateBase.daysTo(next)) + (v - whole));
}

// --- keys and characters

bool TValueSpinEdit::IsValidChar(QChar ch) const {
    const FormatSettings& fs = FormatSettings::current();
    const int caret = CaretIndex();
    const bool control = ch.unicode() < 0x20;
    if (control) {
        if (ch == u'\r') return false;
        if (ch == u'\b' && !m_editorEnabled) return false;
        if (ch == u'\b' && m_spinType == sptHex && caret == 2 && !hasSelectedText()) return false;
        return true;
    }
    if (!m_editorEnabled) return false;
    if (m_spinType == sptHex) {
        const bool hexDigit =
            (ch >= u'0' && ch <= u'9') || (ch >= u'A' && ch <= u'F') || (ch >= u'a' && ch <= u'f');
        return hexDigit && caret > 1;
    }
    auto first = [](const QString& s) { return s.isEmpty() ? QChar() : s[0]; };
    const QChar tsep = first(fs.timeSeparator), dsep = first(fs.dateSeparator),
                dec = first(fs.decimalSeparator);
    if (ch == u'+' || ch == u'-' || ch.isDigit()) {
        if (ch.isDigit() && m_spinType == sptFloat && m_precision > 0 && !hasSelectedText()) {
            const int at = int(text().indexOf(dec));
            if (at >= 0 && caret > at) {
                int digits = 0;
                for (int i = at + 1; i < text().size() && text()[i].isDigit(); ++i)
                    ++digits;
                if (digits >= m_precision) return false;
            }
        }
        return ch.unicode() < 0x80; // ASCII digits only
    }
    bool allowed = false;
    if (ch == tsep) allowed |= m_spinType == sptTime && !text().contains(tsep);
    if (ch == dsep) allowed |= m_spinType == sptDate;
    if (ch == dec) {
        if (m_spinType == sptFloat)
            allowed |= !text().contains(dec);
        else if (ch != tsep && ch != dsep)
            allowed = true;
    }
    return allowed;
}

void TValueSpinEdit::keyPressEvent(QKeyEvent* e) {
    const int key = e->key();
    const bool plain = !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
    if (key == Qt::Key_Up && plain) {
        StepUp();
        return;
    }
    if (key == Qt::Key_Down && plain) {
        StepDown();
        return;
    }
    if (e->matches(QKeySequence::Cut) || e->matches(QKeySequence::Paste)) {
        if (!m_editorEnabled || isReadOnly()) return;
        QLineEdit::keyPressEvent(e);
        return;
    }
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        // A carriage return is never a valid character.
        Beep();
        if (m_returnIsTab) {
            QCoreApplication::postEvent(
                this, new QKeyEvent(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier));
            return;
        }
        QLineEdit::keyPressEvent(e);
        return;
    }
    if (key == Qt::Key_Delete) {
        if (!m_editorEnabled || (m_spinType == sptHex && CaretIndex() < 2)) return;
        QLineEdit::keyPressEvent(e);
        return;
    }
    QChar ch;
    if (key == Qt::Key_Backspace)
        ch = u'\b';
    else if (!e->text().isEmpty())
        ch = e->text()[0];
    if (!ch.isNull() && !IsValidChar(ch)) {
        Beep();
        return;
    }
    QLineEdit::keyPressEvent(e);
}

void TValueSpinEdit::contextMenuEvent(QContextMenuEvent* e) {
    // Cut and paste from the menu follow the same rule as their keys.
    if (!m_editorEnabled) return;
    QLineEdit::contextMenuEvent(e);
}

// --- focus and mouse

void TValueSpinEdit::focusInEvent(QFocusEvent* e) {
    QLineEdit::focusInEvent(e);
    if (e->reason() == Qt::MouseFocusReason) {
        // Whether the press is on the edit or on its buttons is known when it arrives.
        m_mouseFocusPending = true;
    } else if (m_autoSelect) {
        selectAll();
    } else if (hasSelectedText()) {
        setCursorPosition(cursorPosition());
    }
    m_onEnter(this);
}

void TValueSpinEdit::SpinButtonPressed() {
    m_mouseFocusPending = false;
    if (m_autoSelect) selectAll();
}

void TValueSpinEdit::focusOutEvent(QFocusEvent* e) {
    m_mouseFocusPending = false;
    // Leaving puts a value that lies outside its range back into it.
    switch (m_spinType) {
    case sptNormal:
        if (outside(Value(), m_minValue, m_maxValue)) SetValue(Value());
        break;
    case sptFloat:
        if (outside(FloatValue(), m_minFloat, m_maxFloat)) SetFloatValue(FloatValue());
        break;
    case sptDate:
        if (outside(DateValue(), m_minDate, m_maxDate)) SetDateValue(DateValue());
        break;
    case sptTime:
        if (outside(TimeValue(), m_minDate, m_maxDate)) SetTimeValue(TimeValue());
        break;
    case sptHex:
        SetHexValue(clampTo(HexValue(), m_minValue, m_maxValue));
        break;
    }
    QLineEdit::focusOutEvent(e);
    m_onExit(this);
}

void TValueSpinEdit::mousePressEvent(QMouseEvent* e) {
    const bool entered = m_mouseFocusPending;
    m_mouseFocusPending = false;
    QLineEdit::mousePressEvent(e);
    if (e->button() == Qt::LeftButton) m_pressed = true;
    // Entering by a click selects all only when typing is not allowed.
    if (entered && m_autoSelect && (e->button() != Qt::LeftButton || !m_editorEnabled)) selectAll();
}

void TValueSpinEdit::mouseReleaseEvent(QMouseEvent* e) {
    QLineEdit::mouseReleaseEvent(e);
    if (e->button() == Qt::LeftButton && m_pressed) {
        m_pressed = false;
        if (rect().contains(e->position().toPoint())) m_onClick(this);
    }
}

void TValueSpinEdit::mouseDoubleClickEvent(QMouseEvent* e) {
    QLineEdit::mouseDoubleClickEvent(e);
    m_onDblClick(this);
}

// --- layout

int TValueSpinEdit::MinHeight() const {
    const int own = QFontMetrics(font()).height();
    const int sys = QFontMetrics(QApplication::font()).height();
    return own + std::min(own, sys) / 4 + 2 + (m_borderStyle == bsSingle ? 4 : 0);
}

void TValueSpinEdit::Relayout() {
    setMinimumHeight(MinHeight());
    if (height() < MinHeight()) resize(width(), MinHeight());
    const bool border = m_borderStyle == bsSingle;
    const int minWidth = Direction() == TValueSpinButton::spVertical ? 15 : 20;
    const int bw = std::max(m_button->width(), minWidth);
    const int w = width(), h = height();
    // Positions are those of the client area; the frame lies outside it.
    const int frame = border ? (m_ctl3D ? 2 : 1) : 0;
    if (m_ctl3D || !border) {
        const int grow = border ? 0 : 4;
        m_button->setGeometry(frame + w - bw - 5 + grow, frame, bw, h - 5 + grow);
    } else {
        m_button->setGeometry(w - bw - frame, frame, bw, h - 2 * frame);
    }
    // The text ends two pixels left of the buttons (three without a border).
    setTextMargins(border ? 0 : 1, 0, bw + (border ? 2 : 3), 0);
}

void TValueSpinEdit::resizeEvent(QResizeEvent* e) {
    QLineEdit::resizeEvent(e);
    Relayout();
}

void TValueSpinEdit::changeEvent(QEvent* e) {
    QLineEdit::changeEvent(e);
    if (e->type() == QEvent::FontChange) Relayout();
}

void RegisterSpinAndSwitchControls() {
    TClassRegistry::Register<TValueSpinEdit>();
    TClassRegistry::Register<TToggleSwitch>();
}
