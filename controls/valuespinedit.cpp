#include "controls/valuespinedit.h"

#include "controls/formreader.h"
#include "controls/spinvaluetext.h"
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

// A range is set when its bounds differ.
template <typename T> bool outside(T v, T lo, T hi) {
    return lo != hi && (v < lo || v > hi);
}
template <typename T> T clampTo(T v, T lo, T hi) {
    return lo != hi ? std::clamp(v, std::min(lo, hi), std::max(lo, hi)) : v;
}

// The 1-based position of the first and second occurrence of sep (0 when absent).
std::pair<int, int> separatorPositions(const QString& t, const QString& sep) {
    if (sep.isEmpty()) return {0, 0};
    const int i1 = int(t.indexOf(sep));
    if (i1 < 0) return {0, 0};
    const int i2 = int(t.indexOf(sep, i1 + sep.size()));
    return {i1 + 1, i2 < 0 ? 0 : i2 + 1};
}

} // namespace

// --- TValueSpinEdit

TValueSpinEdit::TValueSpinEdit(QWidget* parent) : QLineEdit(parent) {
    m_button = new TValueSpinButton(this);
    m_button->SetFocusControl(this);
    m_button->SetPressTaker([this] {
        // The press itself already moved the focus into the edit.
        if (m_button->FocusControl() != this || !m_mouseFocusPending) return false;
        SpinButtonPressed();
        return true;
    });
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
    return spinvaluetext::textToFloat(text()).value_or(double(m_minValue));
}

void TValueSpinEdit::SetFloatValue(double v) {
    setText(spinvaluetext::floatToText(clampTo(v, m_minFloat, m_maxFloat), m_precision));
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
        return double(spinvaluetext::dateBase().daysTo(now.date())) +
               now.time().msecsSinceStartOfDay() / double(spinvaluetext::MsPerDay);
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
    const QDate d = spinvaluetext::dateBase().addDays(qint64(whole));
    QDate next;
    if (p1 == 0 || c < p1)
        next = d.addDays(sign);
    else if (p2 == 0 || c < p2)
        next = d.addMonths(sign); // keeps the day, limited to the month's length
    else
        next = d.addYears(sign);
    SetDateValue(double(spinvaluetext::dateBase().daysTo(next)) + (v - whole));
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
