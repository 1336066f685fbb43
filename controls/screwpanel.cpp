#include "controls/screwpanel.h"

#include <QPainter>

#include <algorithm>

TScrewPanel::TScrewPanel(QWidget* parent) : QFrame(parent) {
    resize(45, 45);
    SetColor(palette().color(QPalette::Button));
}

void TScrewPanel::SetColor(const QColor& c) {
    m_color = c;
    // Half of each channel up for the light edge, half down for the dark one.
    auto shift = [](int v, int delta) { return std::clamp(v + delta, 0, 255); };
    m_light = QColor(shift(c.red(), c.red() / 2), shift(c.green(), c.green() / 2),
                     shift(c.blue(), c.blue() / 2));
    m_dark = QColor(c.red() - c.red() / 2, c.green() - c.green() / 2, c.blue() - c.blue() / 2);
    update();
}

void TScrewPanel::SetMargin(int m) {
    if (m < width() - m_screwSize && m < height() - m_screwSize) {
        m_margin = m;
        update();
    }
}

void TScrewPanel::SetScrewSize(int s) {
    if (s < width() && s < height()) {
        m_screwSize = s;
        update();
    }
}

void TScrewPanel::SetShowScrews(bool s) {
    m_showScrews = s;
    update();
}

void TScrewPanel::SetAlignment(TAlignment a) {
    m_alignment = a;
    update();
}

void TScrewPanel::SetCaption(const QString& c) {
    m_caption = c;
    update();
}

void TScrewPanel::SetBevelInner(TPanelBevel b) {
    m_inner = b;
    update();
}

void TScrewPanel::SetBevelOuter(TPanelBevel b) {
    m_outer = b;
    update();
}

void TScrewPanel::SetBevelWidth(int w) {
    m_bevelWidth = std::max(1, w);
    update();
}

void TScrewPanel::SetBorderWidth(int w) {
    m_borderWidth = std::max(0, w);
    update();
}

void TScrewPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QRect r = rect();
    p.fillRect(r, m_color);
    auto bevel = [&](TPanelBevel b) {
        if (b == bvNone) return;
        const QColor tl = b == bvLowered ? m_dark : b == bvSpace ? m_color : m_light;
        const QColor br = b == bvLowered ? m_light : b == bvSpace ? m_color : m_dark;
        for (int i = 0; i < m_bevelWidth && !r.isEmpty(); ++i) {
            p.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), br);
            p.fillRect(QRect(r.right(), r.top(), 1, r.height()), br);
            p.fillRect(QRect(r.left(), r.top(), r.width(), 1), tl);
            p.fillRect(QRect(r.left(), r.top(), 1, r.height()), tl);
            r.adjust(1, 1, -1, -1);
        }
    };
    bevel(m_outer);
    r.adjust(m_borderWidth, m_borderWidth, -m_borderWidth, -m_borderWidth);
    bevel(m_inner);

    if (m_showScrews) {
        p.setRenderHint(QPainter::Antialiasing);
        const int d = 4 * m_screwSize;
        const int left = r.left() + m_margin, top = r.top() + m_margin;
        const int right = r.right() + 1 - d - m_margin, bottom = r.bottom() + 1 - d - m_margin;
        for (QPoint at :
             {QPoint(left, top), QPoint(right, top), QPoint(left, bottom), QPoint(right, bottom)}) {
            const QRectF disc(at.x() + 0.5, at.y() + 0.5, d - 1, d - 1);
            p.setPen(QPen(m_dark, 1));
            p.setBrush(QColor(0xC0, 0xC0, 0xC0));
            p.drawEllipse(disc);
            p.setPen(QPen(m_light, 1));
            p.drawArc(disc, 45 * 16, 180 * 16);
            // The slot, lower left to upper right.
            const qreal inset = d * 0.25;
            const QPointF a(disc.left() + inset, disc.bottom() - inset);
            const QPointF b(disc.right() - inset, disc.top() + inset);
            p.setPen(QPen(QColor(0x80, 0x80, 0x80), 1));
            p.drawLine(a, b);
            p.setPen(QPen(Qt::white, 1));
            p.drawLine(a + QPointF(0.7, 0.7), b + QPointF(0.7, 0.7));
        }
        p.setRenderHint(QPainter::Antialiasing, false);
    }
    if (!m_caption.isEmpty()) {
        const Qt::Alignment h = m_alignment == taLeftJustify    ? Qt::AlignLeft
                                : m_alignment == taRightJustify ? Qt::AlignRight
                                                                : Qt::AlignHCenter;
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(r, int(h | Qt::AlignVCenter | Qt::TextSingleLine), m_caption);
    }
}
