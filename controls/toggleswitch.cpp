#include "controls/toggleswitch.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

namespace {

// The built-in pictures use the sixteen standard colours only.
const QColor clBlack(0, 0, 0), clGray(128, 128, 128), clSilver(192, 192, 192),
    clWhite(255, 255, 255), clOlive(128, 128, 0), clMaroon(128, 0, 0);

QImage drawDefault(bool on) {
    QImage img(32, 48, QImage::Format_RGB32);
    // The background is the transparent colour (the bottom-left pixel).
    img.fill(clOlive);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, false);

    // Mounting plate with a raised edge.
    const QRect plate(4, 2, 24, 44);
    p.fillRect(plate, clSilver);
    p.setPen(clWhite);
    p.drawLine(plate.left() + 1, plate.top() + 1, plate.right() - 1, plate.top() + 1);
    p.drawLine(plate.left() + 1, plate.top() + 1, plate.left() + 1, plate.bottom() - 1);
    p.setPen(clGray);
    p.drawLine(plate.left() + 1, plate.bottom() - 1, plate.right() - 1, plate.bottom() - 1);
    p.drawLine(plate.right() - 1, plate.top() + 1, plate.right() - 1, plate.bottom() - 1);
    p.setPen(clBlack);
    p.setBrush(Qt::NoBrush);
    p.drawRect(plate.adjusted(0, 0, -1, -1));
    // Screws top and bottom.
    for (int y : {6, 40}) {
        p.setBrush(clGray);
        p.drawEllipse(QPoint(16, y), 2, 2);
    }

    // The bushing the lever turns in.
    p.setBrush(clGray);
    p.drawEllipse(QPoint(16, 24), 6, 6);
    p.setBrush(clBlack);
    p.drawEllipse(QPoint(16, 24), 2, 2);

    // The lever points towards its position: up for off, down for on.
    const int dir = on ? 1 : -1;
    const int tipY = 24 + dir * 15;
    QPolygon lever;
    lever << QPoint(14, 24) << QPoint(18, 24) << QPoint(19, tipY) << QPoint(13, tipY);
    p.setBrush(clWhite);
    p.drawPolygon(lever);
    p.setBrush(on ? clMaroon : clSilver);
    p.drawEllipse(QPoint(16, tipY), 4, 3);
    p.end();
    return img;
}

QColor transparentColor(const QImage& img) {
    return img.pixelColor(0, img.height() - 1);
}

} // namespace

TToggleSwitch::TToggleSwitch(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::TabFocus);
    resize(50, 60);
    for (int i = 0; i < 2; ++i) {
        m_glyphs[i] = DefaultGlyph(i == 1);
        BuildDisabled(i);
    }
}

QImage TToggleSwitch::DefaultGlyph(bool on) {
    static const QImage off = drawDefault(false), onImage = drawDefault(true);
    return on ? onImage : off;
}

void TToggleSwitch::SetStateOn(bool on) {
    if (on == m_stateOn) return;
    m_stateOn = on;
    update();
    if (on)
        DoOn();
    else
        DoOff();
}

void TToggleSwitch::DoOn() {
    m_onOn(this);
}

void TToggleSwitch::DoOff() {
    m_onOff(this);
}

void TToggleSwitch::SetGlyph(int index, const QImage& image) {
    if (image.isNull()) {
        m_glyphs[index] = DefaultGlyph(index == 1);
        m_customFlags &= quint8(~(1 << index));
    } else {
        m_glyphs[index] = image.convertToFormat(QImage::Format_RGB32);
        m_customFlags |= quint8(1 << index);
    }
    BuildDisabled(index);
    update();
}

void TToggleSwitch::BuildDisabled(int index) {
    // Embossed in two tones on the button face: the picture's black outline, once in the
    // highlight colour one pixel right and down, then in the shadow colour on top.
    const QImage& src = m_glyphs[index];
    QImage out(src.size(), QImage::Format_RGB32);
    out.fill(palette().color(QPalette::Button));
    const QColor light = palette().color(QPalette::Light);
    const QColor shadow = palette().color(QPalette::Dark);
    for (int pass = 0; pass < 2; ++pass) {
        const int d = pass == 0 ? 1 : 0;
        for (int y = 0; y < src.height(); ++y)
            for (int x = 0; x < src.width(); ++x)
                if (src.pixel(x, y) == qRgb(0, 0, 0) && x + d < out.width() && y + d < out.height())
                    out.setPixelColor(x + d, y + d, pass == 0 ? light : shadow);
    }
    m_disabled[index] = out;
}

void TToggleSwitch::SetTextPosition(TTextPos p) {
    if (p == m_textPosition) return;
    m_textPosition = p;
    update();
}

void TToggleSwitch::SetShowFocus(bool s) {
    if (s == m_showFocus) return;
    m_showFocus = s;
    update();
}

void TToggleSwitch::SetBorderStyle(TBorderStyle b) {
    if (b == m_borderStyle) return;
    m_borderStyle = b;
    update();
}

void TToggleSwitch::SetCaption(const QString& c) {
    if (c == m_caption) return;
    m_caption = c;
    // An accelerator in the caption only gives the switch the focus.
    if (m_shortcutId) releaseShortcut(m_shortcutId);
    m_shortcutId = 0;
    const QKeySequence mnemonic = QKeySequence::mnemonic(c);
    if (!mnemonic.isEmpty()) m_shortcutId = grabShortcut(mnemonic);
    update();
}

bool TToggleSwitch::event(QEvent* e) {
    if (e->type() == QEvent::Shortcut) {
        if (TabStop()) setFocus(Qt::ShortcutFocusReason);
        return true;
    }
    return QWidget::event(e);
}

QRect TToggleSwitch::ClientRect() const {
    return m_borderStyle == bsSingle ? rect().adjusted(1, 1, -1, -1) : rect();
}

QRect TToggleSwitch::PictureRect() const {
    const QRect c = ClientRect();
    const QSize s = m_glyphs[m_stateOn ? 1 : 0].size();
    const int W = c.width(), H = c.height(), w = s.width(), h = s.height();
    QPoint at;
    switch (m_textPosition) {
    case tpRight:
        at = {0, (H - h) / 2};
        break;
    case tpLeft:
        at = {W - w, (H - h) / 2};
        break;
    case tpAbove:
        at = {(W - w) / 2, H - h};
        break;
    case tpBelow:
        at = {(W - w) / 2, 0};
        break;
    case tpNone:
        at = {(W - w) / 2, (H - h) / 2};
        break;
    }
    return QRect(c.topLeft() + at, s);
}

void TToggleSwitch::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setFont(font());
    const QColor background = palette().color(backgroundRole());
    p.fillRect(rect(), background);
    if (m_borderStyle == bsSingle) {
        p.setPen(Qt::black);
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }

    const int index = m_stateOn ? 1 : 0;
    const QImage& picture =
        !isEnabled() && !m_disabled[index].isNull() ? m_disabled[index] : m_glyphs[index];
    // Drawn transparently: the picture's transparent colour shows the background.
    QImage shown(picture.size(), QImage::Format_RGB32);
    shown.fill(background);
    const QRgb key = transparentColor(picture).rgb();
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (const QRgb px = picture.pixel(x, y); px != key) shown.setPixel(x, y, px);
    const QRect pic = PictureRect();
    p.drawImage(pic.topLeft(), shown);

    if (hasFocus() && m_showFocus && TabStop()) {
        QStyleOptionFocusRect opt;
        opt.initFrom(this);
        opt.rect = pic;
        opt.backgroundColor = background;
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &opt, &p, this);
    }

    if (m_textPosition == tpNone || m_caption.isEmpty()) return;
    QRect area = ClientRect();
    switch (m_textPosition) {
    case tpRight:
        area.setLeft(area.left() + pic.width());
        break;
    case tpLeft:
        area.setRight(area.right() - pic.width());
        break;
    case tpAbove:
        area.setBottom(area.bottom() - pic.height());
        break;
    case tpBelow:
        area.setTop(area.top() + pic.height());
        break;
    case tpNone:
        break;
    }
    const int th = p.fontMetrics().height();
    area = QRect(area.left(), area.top() + (area.height() - th) / 2, area.width(), th);
    p.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    p.drawText(area,
               Qt::AlignHCenter | Qt::AlignTop | Qt::TextShowMnemonic | Qt::TextExpandTabs |
                   Qt::TextSingleLine,
               m_caption);
}

void TToggleSwitch::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) {
        if (TabStop() && !hasFocus()) setFocus(Qt::MouseFocusReason);
        m_pressed = true;
        Toggle();
    }
    QWidget::mousePressEvent(e);
}

void TToggleSwitch::mouseReleaseEvent(QMouseEvent* e) {
    const bool click =
        e->button() == Qt::LeftButton && m_pressed && rect().contains(e->position().toPoint());
    if (e->button() == Qt::LeftButton) m_pressed = false;
    QWidget::mouseReleaseEvent(e);
    if (click) m_onClick(this);
}

void TToggleSwitch::mouseDoubleClickEvent(QMouseEvent* e) {
    // The second press of a double click is a press too, unless it already came as one.
    if (!(m_pressed && e->button() == Qt::LeftButton)) mousePressEvent(e);
    if (e->button() == Qt::LeftButton) m_onDblClick(this);
}

int TToggleSwitch::ShortcutOf(const QKeyEvent* e) {
    int key = e->key();
    // Virtual key codes of the keys that differ from Qt's.
    switch (key) {
    case Qt::Key_Backspace:
        key = 8;
        break;
    case Qt::Key_Tab:
        key = 9;
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        key = 13;
        break;
    case Qt::Key_Escape:
        key = 27;
        break;
    case Qt::Key_PageUp:
        key = 33;
        break;
    case Qt::Key_PageDown:
        key = 34;
        break;
    case Qt::Key_End:
        key = 35;
        break;
    case Qt::Key_Home:
        key = 36;
        break;
    case Qt::Key_Left:
        key = 37;
        break;
    case Qt::Key_Up:
        key = 38;
        break;
    case Qt::Key_Right:
        key = 39;
        break;
    case Qt::Key_Down:
        key = 40;
        break;
    case Qt::Key_Insert:
        key = 45;
        break;
    case Qt::Key_Delete:
        key = 46;
        break;
    default:
        if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
            key = 112 + (key - Qt::Key_F1);
        else if (key > 0xFF)
            key = 0; // no shortcut code
        break;
    }
    const Qt::KeyboardModifiers m = e->modifiers();
    if (m & Qt::ShiftModifier) key |= scShift;
    if (m & Qt::ControlModifier) key |= scCtrl;
    if (m & Qt::AltModifier) key |= scAlt;
    return key;
}

void TToggleSwitch::keyPressEvent(QKeyEvent* e) {
    if (m_toggleKey != 0 && ShortcutOf(e) == m_toggleKey) {
        Toggle();
        e->accept();
        return;
    }
    QWidget::keyPressEvent(e);
}

void TToggleSwitch::focusInEvent(QFocusEvent* e) {
    QWidget::focusInEvent(e);
    if (m_showFocus) update();
    m_onEnter(this);
}

void TToggleSwitch::focusOutEvent(QFocusEvent* e) {
    QWidget::focusOutEvent(e);
    if (m_showFocus) update();
    m_onExit(this);
}

void TToggleSwitch::changeEvent(QEvent* e) {
    QWidget::changeEvent(e);
    if (e->type() == QEvent::EnabledChange) update();
    if (e->type() == QEvent::PaletteChange)
        for (int i = 0; i < 2; ++i)
            BuildDisabled(i);
}
