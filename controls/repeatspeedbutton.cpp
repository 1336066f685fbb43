#include "controls/repeatspeedbutton.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <qdrawutil.h>

#include <algorithm>

TRepeatSpeedButton::TRepeatSpeedButton(TButtonKind kind, QWidget* parent)
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
    if (e->button() == Qt::LeftButton && m_onLeftPress) m_onLeftPress(this);
    QAbstractButton::mousePressEvent(e);
    if (QWidget* spin = parentWidget()) spin->update();
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
        const QPixmap glyph = m_glyphSource ? m_glyphSource(this, isEnabled()) : QPixmap();
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
