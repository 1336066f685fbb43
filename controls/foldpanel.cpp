#include "controls/foldpanel.h"

#include "controls/graphics.h"
#include "controls/pictures.h"

#include <QChildEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QTimer>

// --- client

TFoldPanelClient::TFoldPanelClient(TFoldPanel* panel) : TPaneles(panel) {
    setObjectName(QStringLiteral("FoldPanelClient"));
    SetBevelOuter(bvNone);
    SetBevelInner(bvNone);
}

// --- panel

TFoldPanel::TFoldPanel(QWidget* parent) : QFrame(parent) {
    m_client = new TFoldPanelClient(this);
    setMouseTracking(true);
    m_captionFont = QFont(QStringLiteral("Small Fonts"));
    m_captionFont.setPointSize(7);
    resize(185, 41);
    m_unfoldedHeight = height();
    // A new panel comes up unfolded through the normal path.
    m_status = fsCollapsed;
    m_heightLock = false;
    unfold();
}

TFoldPanel::~TFoldPanel() = default;

void TFoldPanel::InsertControl(QWidget* control) {
    if (!control || control == m_client || control->parentWidget() == m_client) return;
    // Reparenting hides a widget; keep the visibility it was given.
    const bool hidden =
        control->isHidden() && control->testAttribute(Qt::WA_WState_ExplicitShowHide);
    const QPoint at = control->pos();
    control->setParent(m_client);
    control->move(at);
    if (!hidden) control->show();
}

void TFoldPanel::childEvent(QChildEvent* e) {
    QFrame::childEvent(e);
    // Controls added by code after loading move into the client once they are built.
    if (e->added() && e->child()->isWidgetType() && m_client && !IsLoading()) {
        QPointer<QObject> child = e->child();
        QTimer::singleShot(0, this, [this, child] {
            if (auto* w = qobject_cast<QWidget*>(child.data()); w && w->parentWidget() == this)
                InsertControl(w);
        });
    }
}

void TFoldPanel::Loaded() {
    // A copy: moving a child changes the list.
    const QObjectList own = children();
    for (QObject* o : own)
        if (auto* w = qobject_cast<QWidget*>(o); w && w != m_client) InsertControl(w);
    layoutClient();
}

int TFoldPanel::bevelInset() const {
    return (m_inner != bvNone ? m_bevelWidth : 0) + (m_outer != bvNone ? m_bevelWidth : 0);
}

QString TFoldPanel::drawnGlyph() const {
    return m_status == fsCollapsed ? m_glyphExpand : m_glyphCollaps;
}

int TFoldPanel::FoldedHeight() const {
    return Pictures::Size(m_glyphExpand).height() + (m_borderStyle == bsSingle ? 2 : 0) +
           2 * bevelInset();
}

void TFoldPanel::setHeightKeepingEdge(int h) {
    const bool bottom = m_position == fpLeftBottom || m_position == fpRightBottom;
    const int top = bottom ? y() + height() - h : y();
    m_settingGeometry = true;
    setGeometry(x(), top, width(), h);
    m_settingGeometry = false;
}

void TFoldPanel::SetFoldStatus(TFoldStatus s) {
    if (s == m_status) return;
    if (s == fsExpanded)
        unfold();
    else
        fold();
}

void TFoldPanel::unfold() {
    m_beforeExpand(this);
    m_status = fsExpanded;
    m_heightLock = false;
    setHeightKeepingEdge(m_unfoldedHeight);
    layoutClient();
    m_client->show();
    m_glyphRect = GlyphDestination();
    update();
    m_afterExpand(this);
}

void TFoldPanel::fold() {
    if (!m_folding) return;
    m_beforeCollaps(this);
    m_unfoldedHeight = height();
    m_status = fsCollapsed;
    m_client->hide();
    setHeightKeepingEdge(FoldedHeight());
    m_heightLock = true;
    m_glyphRect = GlyphDestination();
    update();
    m_afterCollaps(this);
}

void TFoldPanel::SetFolding(bool f) {
    if (f == m_folding) return;
    m_folding = f;
    m_client->SetIgnoreColumn(!f);
    if (!f && m_status == fsCollapsed) unfold();
    layoutClient();
    update();
}

void TFoldPanel::layoutClient() {
    const QString glyph = drawnGlyph();
    int column = Pictures::Size(glyph).width() + bevelInset();
    if (m_folding && m_seperated) column += 2;
    const int frame = (m_borderStyle == bsSingle ? 1 : 0) + m_borderWidth + bevelInset();
    QRect r = rect().adjusted(frame, frame, -frame, -frame);
    if (m_status == fsCollapsed) r.setHeight(std::max(r.height(), m_unfoldedHeight - 2 * frame));
    if (!m_client->IgnoreColumn()) {
        if (m_position == fpLeftTop || m_position == fpLeftBottom)
            r.setLeft(r.left() + column);
        else
            r.setWidth(r.width() - column);
    }
    m_client->setGeometry(r);
}

QRect TFoldPanel::GlyphDestination() const {
    const QSize size = Pictures::Size(drawnGlyph());
    const int inset = bevelInset();
    const bool left = m_position == fpLeftTop || m_position == fpLeftBottom;
    const bool top = m_position == fpLeftTop || m_position == fpRightTop;
    const int x = left ? inset : width() - size.width() - inset;
    const int y = top ? inset : height() - size.height() - inset;
    return QRect(QPoint(x, y), size);
}

void TFoldPanel::SetCaption(const QString& c) {
    m_caption = c;
    update();
}

void TFoldPanel::SetCaptionFont(const QFont& f) {
    m_captionFont = f;
    update();
}

void TFoldPanel::SetGlyphExpand(const QString& name) {
    m_glyphExpand = name.isEmpty() ? QStringLiteral("EXPAND") : name;
    m_imageRatio = 0;
    layoutClient();
    update();
}

void TFoldPanel::SetGlyphCollaps(const QString& name) {
    m_glyphCollaps = name.isEmpty() ? QStringLiteral("COLLAPS") : name;
    m_imageRatio = 0;
    layoutClient();
    update();
}

void TFoldPanel::SetSeperated(bool s) {
    m_seperated = s;
    layoutClient();
    update();
}

void TFoldPanel::SetSeperatorLineStyle(TBevelStyle s) {
    m_seperatorStyle = s;
    update();
}

void TFoldPanel::SetFoldPosition(TFoldPosition p) {
    m_position = p;
    layoutClient();
    update();
}

void TFoldPanel::SetFoldActiveColor(const QColor& c) {
    m_activeColor = c;
    m_imageRatio = 0;
    update();
}

void TFoldPanel::SetBevelInner(TPanelBevel b) {
    m_inner = b;
    layoutClient();
    update();
}

void TFoldPanel::SetBevelOuter(TPanelBevel b) {
    m_outer = b;
    layoutClient();
    update();
}

void TFoldPanel::SetBevelWidth(int w) {
    m_bevelWidth = std::max(1, w);
    layoutClient();
    update();
}

void TFoldPanel::SetBorderWidth(int w) {
    m_borderWidth = std::max(0, w);
    layoutClient();
    update();
}

void TFoldPanel::SetBorderStyle(TBorderStyle s) {
    m_borderStyle = s;
    layoutClient();
    update();
}

void TFoldPanel::resizeEvent(QResizeEvent* e) {
    QFrame::resizeEvent(e);
    // A folded panel keeps its folded height, whoever resizes it.
    if (m_heightLock && !m_settingGeometry && height() != FoldedHeight()) {
        m_settingGeometry = true;
        resize(width(), FoldedHeight());
        m_settingGeometry = false;
    }
    if (m_status == fsExpanded && !m_settingGeometry) m_unfoldedHeight = height();
    layoutClient();
    m_glyphRect = GlyphDestination();
}

void TFoldPanel::moveEvent(QMoveEvent* e) {
    QFrame::moveEvent(e);
    if (m_status == fsExpanded && !m_settingGeometry) m_unfoldedHeight = height();
}

// The highlighted glyphs: each pixel ANDed with the active colour.
void TFoldPanel::makeHighlights() {
    const qreal ratio = devicePixelRatioF();
    if (m_imageRatio == ratio) return;
    m_imageRatio = ratio;
    m_expandImage = Pictures::Render(m_glyphExpand, ratio);
    m_collapsImage = Pictures::Render(m_glyphCollaps, ratio);
    const QRgb mask = m_activeColor.rgb() | 0xFF000000;
    auto highlight = [mask](const QImage& src) {
        QImage img = src.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < img.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
            for (int x = 0; x < img.width(); ++x)
                line[x] &= mask;
        }
        return img;
    };
    m_expandHighlight = highlight(m_expandImage);
    m_collapsHighlight = highlight(m_collapsImage);
}

void TFoldPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QPalette& pal = palette();
    const QColor face = pal.color(QPalette::Window);
    p.fillRect(rect(), face);
    QRect r = rect();
    if (m_borderStyle == bsSingle) {
        p.setPen(pal.color(QPalette::WindowText));
        p.drawRect(r.adjusted(0, 0, -1, -1));
        r.adjust(1, 1, -1, -1);
    }
    Graphics::DrawBevel(p, r, Graphics::Bevel(m_outer), m_bevelWidth, pal, face);
    r.adjust(m_borderWidth, m_borderWidth, -m_borderWidth, -m_borderWidth);
    Graphics::DrawBevel(p, r, Graphics::Bevel(m_inner), m_bevelWidth, pal, face);
    if (!m_folding) return;

    const QColor shadow = pal.color(QPalette::Dark), light = pal.color(QPalette::Light);
    const bool folded = m_status == fsCollapsed;
    if (folded && m_inner == bvNone && m_outer == bvNone) {
        p.setPen(shadow);
        p.drawRect(QRect(QPoint(-1, -1), QPoint(width() - 1, height() - 1)));
        p.setPen(light);
        p.drawRect(QRect(QPoint(0, 0), QPoint(width(), height())));
    }
    makeHighlights();
    const QRect dest = GlyphDestination();
    const QImage& glyph = folded ? (m_highlighted ? m_expandHighlight : m_expandImage)
                                 : (m_highlighted ? m_collapsHighlight : m_collapsImage);
    p.drawImage(dest, glyph);
    if (m_pressed) {
        // Sunken while pressed.
        p.setPen(shadow);
        p.drawRect(dest.adjusted(0, 0, -1, -1));
        const QRect in = dest.adjusted(1, 1, -1, -1);
        p.fillRect(QRect(in.left(), in.top(), in.width(), 1), shadow);
        p.fillRect(QRect(in.left(), in.top(), 1, in.height()), shadow);
        p.fillRect(QRect(in.left(), in.bottom(), in.width(), 1), light);
        p.fillRect(QRect(in.right(), in.top(), 1, in.height()), light);
    }
    if (m_seperated) {
        const bool left = m_position == fpLeftTop || m_position == fpLeftBottom;
        const bool top = m_position == fpLeftTop || m_position == fpRightTop;
        const int x = left ? dest.right() + 1 : dest.left() - 2;
        const int y1 = top ? dest.top() : height() - dest.bottom() - 1;
        const int y2 = top ? height() - dest.top() : dest.bottom() + 1;
        const QColor first = m_seperatorStyle == bsLowered ? shadow : light;
        const QColor second = m_seperatorStyle == bsLowered ? light : shadow;
        p.fillRect(QRect(x, y1, 1, y2 - y1), first);
        p.fillRect(QRect(x + 1, y1, 1, y2 - y1), second);
    }
    m_glyphRect = dest;
    if (folded && !m_caption.isEmpty()) {
        p.setFont(m_captionFont);
        const QFontMetrics fm(m_captionFont);
        const int th = fm.height();
        const int bottom = dest.top() + dest.height();
        const int ty = dest.top() + (th > bottom ? 0 : (bottom - th) / 2);
        const int tw = fm.horizontalAdvance(m_caption);
        const bool left = m_position == fpLeftTop || m_position == fpLeftBottom;
        const int tx = left ? dest.left() + dest.width() + 10 : dest.left() - tw - 10;
        p.setPen(pal.color(QPalette::WindowText));
        p.drawText(QRect(tx, ty, tw, th), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                   m_caption);
    }
}

void TFoldPanel::mouseMoveEvent(QMouseEvent* e) {
    if (m_folding) {
        const bool over = m_glyphRect.contains(e->position().toPoint());
        if (over != m_highlighted) {
            m_highlighted = over;
            update(m_glyphRect);
        }
    }
    QFrame::mouseMoveEvent(e);
}

void TFoldPanel::leaveEvent(QEvent* e) {
    if (m_highlighted) {
        m_highlighted = false;
        update(m_glyphRect);
    }
    QFrame::leaveEvent(e);
}

void TFoldPanel::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) {
        QFrame::mousePressEvent(e);
        return;
    }
    m_pressPoint = e->position().toPoint();
    m_pressInside = true;
    if (m_glyphRect.contains(m_pressPoint)) {
        m_pressed = true;
        update(m_glyphRect);
    }
    e->accept();
}

void TFoldPanel::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || !m_pressInside) {
        QFrame::mouseReleaseEvent(e);
        return;
    }
    m_pressInside = false;
    const QPoint at = e->position().toPoint();
    if (m_folding && m_glyphRect.contains(m_pressPoint) && m_glyphRect.contains(at))
        m_clickedOnGlyph = true;
    if (m_pressed) {
        m_pressed = false;
        update(m_glyphRect);
    }
    e->accept();
    // A click is a release over the control that was pressed.
    if (rect().contains(at)) {
        if (m_clickedOnGlyph) {
            m_clickedOnGlyph = false;
            foldClick();
        } else {
            m_onClick(this);
        }
    }
}

void TFoldPanel::foldClick() {
    bool doFoldAction = true;
    m_onFoldClick(this, m_status, &doFoldAction);
    if (doFoldAction) SetFoldStatus(m_status == fsExpanded ? fsCollapsed : fsExpanded);
}
