#include "controls/paneles.h"

#include "controls/graphics.h"
#include "controls/pictures.h"

#include <QPainter>

TPaneles::TPaneles(QWidget* parent) : QFrame(parent) {}

TPaneles::~TPaneles() {
    if (m_holder) m_holder->Unlink(this);
}

void TPaneles::SetBitmap(const QString& name) {
    m_bitmap = name;
    // An own picture wins over the holder's, so the panel stops following it.
    if (m_holder) {
        if (Pictures::Size(name).isEmpty())
            m_holder->Link(this);
        else
            m_holder->Unlink(this);
    }
    update();
}

void TPaneles::SetBitmapHolder(TBitmapHolder* holder) {
    if (m_holder == holder) return;
    if (m_holder) {
        m_holder->Unlink(this);
        disconnect(m_holder, nullptr, this, nullptr);
    }
    m_holder = holder;
    if (holder) {
        if (Pictures::Size(m_bitmap).isEmpty()) holder->Link(this);
        connect(holder, &TBitmapHolder::destroying, this, [this] {
            m_holder = nullptr;
            update();
        });
    }
    update();
}

QString TPaneles::BackgroundPicture() const {
    if (!Pictures::Size(m_bitmap).isEmpty()) return m_bitmap;
    if (m_holder && !m_holder->IsEmpty()) return m_holder->Bitmap();
    return {};
}

void TPaneles::SetCaption(const QString& c) {
    m_caption = c;
    update();
}

void TPaneles::SetAlignment(TAlignment a) {
    m_alignment = a;
    update();
}

void TPaneles::SetBevelInner(TPanelBevel b) {
    m_inner = b;
    update();
}

void TPaneles::SetBevelOuter(TPanelBevel b) {
    m_outer = b;
    update();
}

void TPaneles::SetBevelWidth(int w) {
    m_bevelWidth = std::max(1, w);
    update();
}

void TPaneles::SetBorderWidth(int w) {
    m_borderWidth = std::max(0, w);
    update();
}

void TPaneles::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QColor face = palette().color(QPalette::Window);
    const QString picture = BackgroundPicture();
    if (picture.isEmpty()) {
        p.fillRect(rect(), face);
    } else {
        // Whole tiles from the top-left corner, cut at the right and bottom edges.
        const QImage tile = Pictures::Render(picture, devicePixelRatioF());
        p.drawTiledPixmap(rect(), QPixmap::fromImage(tile));
    }
    QRect r = rect();
    Graphics::DrawBevel(p, r, Graphics::Bevel(m_outer), m_bevelWidth, palette(), face);
    for (int i = 0; i < m_borderWidth && !r.isEmpty(); ++i) {
        p.setPen(face);
        p.drawRect(r.adjusted(0, 0, -1, -1));
        r.adjust(1, 1, -1, -1);
    }
    Graphics::DrawBevel(p, r, Graphics::Bevel(m_inner), m_bevelWidth, palette(), face);
    if (!m_caption.isEmpty()) {
        const int lineHeight = fontMetrics().height();
        const QRect line(r.left(), r.top() + (r.height() - lineHeight) / 2, r.width(), lineHeight);
        const Qt::Alignment h = m_alignment == taLeftJustify    ? Qt::AlignLeft
                                : m_alignment == taRightJustify ? Qt::AlignRight
                                                                : Qt::AlignHCenter;
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(line, int(h | Qt::AlignVCenter | Qt::TextExpandTabs), m_caption);
    }
}
