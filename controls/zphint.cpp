#include "controls/zphint.h"

#include "controls/pictures.h"

#include <QApplication>
#include <QCursor>
#include <QHelpEvent>
#include <QPainter>
#include <QPainterPath>
#include <QProxyStyle>
#include <QScreen>
#include <QStyleFactory>
#include <QTimer>

#include <cmath>

// --- application timings

namespace {

struct Pauses {
    int pause = 500, hide = 5000, shortPause = 25;
};

Pauses& pauses() {
    static Pauses p;
    return p;
}

// Hands the application's first-hint delay to Qt, which decides when a tooltip is due.
class HintTimingStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* ret) const override {
        if (hint == SH_ToolTip_WakeUpDelay) return pauses().pause;
        return QProxyStyle::styleHint(hint, option, widget, ret);
    }
};

void installTimingStyle() {
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app || dynamic_cast<HintTimingStyle*>(QApplication::style())) return;
    QApplication::setStyle(
        new HintTimingStyle(QStyleFactory::create(QApplication::style()->name())));
}

void setPause(int& slot, int ms) {
    if (ms > 0 && ms != slot) slot = ms;
}

} // namespace

namespace ApplicationHints {
int Pause() {
    return pauses().pause;
}
int HidePause() {
    return pauses().hide;
}
int ShortPause() {
    return pauses().shortPause;
}
void SetPause(int ms) {
    setPause(pauses().pause, ms);
}
void SetHidePause(int ms) {
    setPause(pauses().hide, ms);
}
void SetShortPause(int ms) {
    setPause(pauses().shortPause, ms);
}
} // namespace ApplicationHints

// --- hint window

TRegionHint::TRegionHint(const TZPHint* settings)
    // Transparent for input: the arrow's tip lies under the pointer, and a hint that took the
    // pointer would make the control below lose it and hide the hint again.
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus |
                           Qt::WindowStaysOnTopHint | Qt::WindowTransparentForInput),
      m_settings(settings) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setObjectName(QStringLiteral("RegionHint"));
}

namespace {

// Half-axes of the ellipse around a w × h box, the long side first as the formula needs.
std::pair<int, int> ellipseAround(double w, double h) {
    if (h < w) {
        const int a = int(std::lround((std::sqrt(h * h / 4 + w * w) + h / 2) / 2));
        const int b = int(std::lround(std::sqrt(std::max(0.0, double(a) * a - w * w / 4))));
        return {a, b};
    }
    const int b = int(std::lround((std::sqrt(w * w / 4 + h * h) + w / 2) / 2));
    const int a = int(std::lround(std::sqrt(std::max(0.0, double(b) * b - h * h / 4))));
    return {a, b};
}

} // namespace

QSize TRegionHint::MeasureText(const TZPHint& s, const QString& text, int maxWidth) {
    const QFontMetrics fm(s.HintFont());
    return fm.boundingRect(QRect(0, 0, std::max(1, maxWidth), 0), Qt::TextWordWrap, text).size();
}

TRegionHint::Layout TRegionHint::Compute(const TZPHint& s, QSize textSize, QPoint cursor,
                                         QRect screen, int cursorHeight) {
    Layout l;
    int w = textSize.width() + 2 * s.BorderWidth();
    int h = textSize.height() + 2 * s.BorderHeight();
    int left = s.BorderWidth();
    switch (s.HintStyle()) {
    case TZPHint::hsRectangle:
        w += 2;
        h += 2;
        left += 1;
        break;
    case TZPHint::hsElliptic: {
        const auto [a, b] = ellipseAround(w, h);
        w = 2 * a + 2;
        h = 2 * b + 2;
        left = (w - textSize.width()) / 2;
        break;
    }
    case TZPHint::hsCutAngleRect:
        w += s.RadiusWidth() + 2;
        h += s.RadiusHeight() + 2;
        left += (s.RadiusWidth() + 2) / 2;
        break;
    case TZPHint::hsRoundRect: {
        const auto [p, q] = ellipseAround(s.RadiusWidth(), s.RadiusHeight());
        w += 2 * p + 2;
        h += 2 * q + 2;
        left += p + 1;
        break;
    }
    }
    const int bodyHeight = h;
    const bool arrow = s.ArrowStyle() == TZPHint::asArrow;
    if (arrow) {
        h += s.ArrowHeight();
        if (s.ArrowWidth() + s.ArrowOffsetHor() > w) {
            w = s.ArrowWidth() + s.ArrowOffsetHor();
            left = (w - textSize.width()) / 2;
        }
    }
    TZPHint::TDisplayedHint anchor = s.DisplayedHint();
    if (anchor == TZPHint::dhAuto)
        anchor = arrow ? TZPHint::dhCursorPoint : TZPHint::dhOutCursorPoint;
    QPoint p = cursor;
    if (anchor == TZPHint::dhOutCursorPoint) p.ry() += cursorHeight;

    // Placement: right/left and down/up of the pointer, flipped at the screen's edges.
    int dir = s.HintDirection();
    bool rightward = dir != TZPHint::hdUpLeft && dir != TZPHint::hdDownLeft;
    bool downward = dir != TZPHint::hdUpRight && dir != TZPHint::hdUpLeft;
    int x = rightward ? p.x() : p.x() - w;
    int y = downward ? p.y() : p.y() - h;
    const int screenRight = screen.left() + screen.width();
    const int screenBottom = screen.top() + screen.height();
    if (dir == TZPHint::hdAuto) {
        if (x + w > screenRight) x = screenRight - w;
        if (x < screen.left()) x = screen.left();
        if (y + h > screenBottom) {
            downward = false;
            y = p.y() - h;
        }
    } else {
        if (rightward && x + w > screenRight) {
            rightward = false;
            x = p.x() - w;
        } else if (!rightward && x < screen.left()) {
            rightward = true;
            x = p.x();
        }
        if (downward && y + h > screenBottom) {
            downward = false;
            y = p.y() - h;
        } else if (!downward && y < screen.top()) {
            downward = true;
            y = p.y();
        }
        dir = downward ? (rightward ? TZPHint::hdDownRight : TZPHint::hdDownLeft)
                       : (rightward ? TZPHint::hdUpRight : TZPHint::hdUpLeft);
    }
    l.direction = dir;
    l.window = QRect(x, y, w, h);
    const int bodyTop = arrow && downward ? s.ArrowHeight() : 0;
    l.body = QRect(0, bodyTop, w, bodyHeight);

    switch (s.HintStyle()) {
    case TZPHint::hsRectangle:
        l.region = QRegion(l.body);
        break;
    case TZPHint::hsElliptic:
        l.region = QRegion(l.body, QRegion::Ellipse);
        break;
    case TZPHint::hsCutAngleRect: {
        const int cx = s.RadiusWidth() / 2, cy = s.RadiusHeight() / 2;
        const QRect b = l.body;
        QPolygon cut;
        cut << QPoint(b.left() + cx, b.top()) << QPoint(b.right() + 1 - cx, b.top())
            << QPoint(b.right() + 1, b.top() + cy) << QPoint(b.right() + 1, b.bottom() + 1 - cy)
            << QPoint(b.right() + 1 - cx, b.bottom() + 1) << QPoint(b.left() + cx, b.bottom() + 1)
            << QPoint(b.left(), b.bottom() + 1 - cy) << QPoint(b.left(), b.top() + cy);
        l.region = QRegion(cut);
        break;
    }
    case TZPHint::hsRoundRect: {
        QPainterPath path;
        path.addRoundedRect(QRectF(l.body), s.RadiusWidth(), s.RadiusHeight());
        l.region = QRegion(path.toFillPolygon().toPolygon());
        break;
    }
    }
    if (arrow) {
        const QPoint tip = p - QPoint(x, y);
        int baseLeft;
        if (dir == TZPHint::hdAuto) {
            const int third = w / 3;
            if (tip.x() < third)
                baseLeft = s.ArrowOffsetHor();
            else if (tip.x() > w - third)
                baseLeft = w - s.ArrowOffsetHor() - s.ArrowWidth();
            else
                baseLeft = (w - s.ArrowWidth()) / 2;
        } else {
            baseLeft = rightward ? s.ArrowOffsetHor() : w - s.ArrowOffsetHor() - s.ArrowWidth();
        }
        baseLeft = std::clamp(baseLeft, 0, std::max(0, w - s.ArrowWidth()));
        // The base reaches a little into the body so the two join without a seam.
        const int baseY =
            downward ? bodyTop + s.BorderHeight() + 2 : bodyHeight - s.BorderHeight() - 2;
        l.arrow << QPoint(baseLeft, baseY) << QPoint(baseLeft + s.ArrowWidth(), baseY)
                << QPoint(std::clamp(tip.x(), 0, w), std::clamp(tip.y(), 0, h));
        l.region = l.region.united(QRegion(l.arrow));
    }
    l.text = QRect(QPoint(left, bodyTop + (bodyHeight - textSize.height()) / 2), textSize);
    return l;
}

QImage TRegionHint::background(QSize size) const {
    const qreal ratio = devicePixelRatioF();
    QImage body(size * ratio, QImage::Format_RGB32);
    body.setDevicePixelRatio(ratio);
    {
        QPainter p(&body);
        if (m_settings->UseWallPaper()) {
            const QImage tile = Pictures::Render(m_settings->WallPaper(), ratio);
            p.drawTiledPixmap(QRect(QPoint(0, 0), size), QPixmap::fromImage(tile));
        } else {
            p.fillRect(QRect(QPoint(0, 0), size), m_settings->HintColor());
        }
    }
    const auto style = m_settings->TransparencyStyle();
    if (style == TZPHint::tsNone) return body;
    QScreen* screen = QGuiApplication::screenAt(m_layout.window.center());
    if (!screen) return body;
    QImage under =
        screen->grabWindow(0, m_layout.window.x(), m_layout.window.y(), size.width(), size.height())
            .toImage()
            .convertToFormat(QImage::Format_RGB32)
            .scaled(body.size());
    if (under.isNull()) return body;
    const int t0 = m_settings->Transparency(), t1 = m_settings->EndTransparency();
    for (int y = 0; y < body.height(); ++y) {
        auto* b = reinterpret_cast<QRgb*>(body.scanLine(y));
        const auto* u = reinterpret_cast<const QRgb*>(under.constScanLine(y));
        for (int x = 0; x < body.width(); ++x) {
            int t = t0;
            if (style == TZPHint::tsHGradient)
                t = t0 + int(std::lround(double(t1 - t0) * x / body.width()));
            else if (style == TZPHint::tsVGradient)
                t = t0 + int(std::lround(double(t1 - t0) * y / body.height()));
            auto mix = [t](int c, int s) { return ((100 - t) * c + t * s) / 100; };
            b[x] = qRgb(mix(qRed(b[x]), qRed(u[x])), mix(qGreen(b[x]), qGreen(u[x])),
                        mix(qBlue(b[x]), qBlue(u[x])));
        }
    }
    return body;
}

void TRegionHint::ShowHint(const QString& text, QPoint cursor) {
    m_text = text;
    QScreen* screen = QGuiApplication::screenAt(cursor);
    if (!screen) screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
    const QSize textSize = MeasureText(*m_settings, text, area.width() / 2);
    int cursorHeight = 20;
    const QCursor c = QCursor(Qt::ArrowCursor);
    if (!c.mask().isNull()) cursorHeight = c.mask().height();
    m_layout = Compute(*m_settings, textSize, cursor, area, cursorHeight);
    hide();
    setGeometry(m_layout.window);
    setMask(m_layout.region);
    m_background = background(m_layout.window.size());
    show();
    raise();
    update();
}

void TRegionHint::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(QPoint(0, 0), m_background);
    // The outline: what of the region does not survive a shift by the border in each direction.
    const int bw = m_settings->BorderWidth(), bh = m_settings->BorderHeight();
    const QRegion& r = m_layout.region;
    const QRegion inner = r.intersected(r.translated(bw, 0))
                              .intersected(r.translated(-bw, 0))
                              .intersected(r.translated(0, bh))
                              .intersected(r.translated(0, -bh));
    p.setClipRegion(r.subtracted(inner));
    p.fillRect(rect(), m_settings->BorderColor());
    p.setClipping(false);
    p.setFont(m_settings->HintFont());
    p.setPen(m_settings->HintFontColor());
    int align = Qt::TextWordWrap | Qt::AlignVCenter;
    switch (m_settings->AlignText()) {
    case TZPHint::atLeft:
        align |= Qt::AlignLeft;
        break;
    case TZPHint::atCenter:
        align |= Qt::AlignHCenter;
        break;
    case TZPHint::atRight:
        align |= Qt::AlignRight;
        break;
    case TZPHint::atJustified:
        align |= Qt::AlignJustify;
        break;
    }
    p.drawText(m_layout.text, align, m_text);
}

// --- component

TZPHint::TZPHint(QObject* owner) : TComponent(owner) {
    m_font = QFont(QStringLiteral("Arial"));
    m_font.setPointSize(8);
    pauses() = Pauses{};
    m_hideTimer = new QTimer(this);
    m_hideTimer->setSingleShot(true);
    connect(m_hideTimer, &QTimer::timeout, this, &TZPHint::HideHint);
}

TZPHint::~TZPHint() {
    if (m_active && QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
}

void TZPHint::SetActive(bool a) {
    if (a == m_active) return;
    m_active = a;
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    if (a) {
        installTimingStyle();
        app->installEventFilter(this);
    } else {
        app->removeEventFilter(this);
        HideHint();
    }
}

void TZPHint::SetWallPaper(const QString& name) {
    m_wallPaper = name;
    if (Pictures::Size(name).isEmpty()) m_useWallPaper = false;
}

void TZPHint::SetUseWallPaper(bool u) {
    m_useWallPaper = u && !Pictures::Size(m_wallPaper).isEmpty();
}

void TZPHint::SetHintPause(int ms) {
    if (ms <= 0 || ms == m_pause) return;
    m_pause = ms;
    ApplicationHints::SetPause(ms);
}

void TZPHint::SetHintHidePause(int ms) {
    if (ms <= 0 || ms == m_hidePause) return;
    m_hidePause = ms;
    ApplicationHints::SetHidePause(ms);
}

void TZPHint::SetHintShortPause(int ms) {
    if (ms <= 0 || ms == m_shortPause) return;
    m_shortPause = ms;
    ApplicationHints::SetShortPause(ms);
}

TRegionHint* TZPHint::HintWindow() const {
    return m_window && m_window->isVisible() ? m_window.get() : nullptr;
}

void TZPHint::ShowHintFor(QWidget* control, QPoint cursor) {
    // A control without a hint shows its parent's, as far up as the window.
    QString text;
    QWidget* owner = control;
    for (; owner; owner = owner->isWindow() ? nullptr : owner->parentWidget())
        if (!owner->toolTip().isEmpty()) {
            text = owner->toolTip();
            break;
        }
    bool canShow = true;
    m_onShowHint(&text, &canShow, static_cast<QObject*>(control));
    if (text.isEmpty() || !canShow) {
        HideHint();
        return;
    }
    if (!m_window) m_window = std::make_unique<TRegionHint>(this);
    m_hintControl = owner ? owner : control;
    m_window->ShowHint(text, cursor);
    m_hideTimer->start(ApplicationHints::HidePause());
}

void TZPHint::HideHint() {
    m_hideTimer->stop();
    m_hintControl = nullptr;
    if (m_window) m_window->hide();
}

bool TZPHint::eventFilter(QObject* watched, QEvent* e) {
    switch (e->type()) {
    case QEvent::ToolTip:
        if (auto* w = qobject_cast<QWidget*>(watched)) {
            ShowHintFor(w, static_cast<QHelpEvent*>(e)->globalPos());
            return true;
        }
        break;
    case QEvent::Leave:
        if (m_hintControl && watched == m_hintControl) HideHint();
        break;
    case QEvent::MouseButtonPress:
    case QEvent::KeyPress:
    case QEvent::Wheel:
    case QEvent::WindowDeactivate:
        if (m_hintControl) HideHint();
        break;
    default:
        break;
    }
    return false;
}
