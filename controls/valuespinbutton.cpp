#include "controls/valuespinbutton.h"

#include "runtime/errors.h"

#include <QFocusEvent>
#include <QImage>
#include <QKeyEvent>

namespace {

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

TValueSpinButton::TValueSpinButton(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
    m_up = new TRepeatSpeedButton(TRepeatSpeedButton::bkGlyphUp, this);
    m_down = new TRepeatSpeedButton(TRepeatSpeedButton::bkGlyphDown, this);
    for (TRepeatSpeedButton* b : {m_up, m_down}) {
        b->SetOnLeftPress([this](TRepeatSpeedButton* pressed) { ButtonPressed(pressed); });
        b->SetGlyphSource([this](const TRepeatSpeedButton* button, bool enabled) {
            return GlyphFor(button, enabled);
        });
    }
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
    if (m_pressTaker && m_pressTaker()) return;
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
