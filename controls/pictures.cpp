#include "controls/pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <functional>

namespace {

using Painter = std::function<void(QPainter&)>;

struct Picture {
    const char* name;
    QSize size;
    Painter paint;
};

const QColor clBlack(0, 0, 0), clGray(128, 128, 128), clSilver(192, 192, 192),
    clWhite(255, 255, 255), clNavy(0, 0, 128), clTeal(0, 128, 128), clYellow(255, 255, 0);

// A small raised plate with chevrons: the fold glyphs. Horizontal chevrons point down (the
// panel opens), vertical ones point up (the panel closes).
void foldGlyph(QPainter& p, QSizeF s, bool expand) {
    const QRectF plate(0.5, 0.5, s.width() - 1, s.height() - 1);
    p.setPen(Qt::NoPen);
    p.setBrush(clSilver);
    p.drawRect(plate);
    p.setPen(QPen(clWhite, 1));
    p.drawLine(plate.topLeft(), plate.topRight());
    p.drawLine(plate.topLeft(), plate.bottomLeft());
    p.setPen(QPen(clGray, 1));
    p.drawLine(plate.bottomLeft(), plate.bottomRight());
    p.drawLine(plate.topRight(), plate.bottomRight());
    p.setPen(QPen(clNavy, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    const QPointF c = plate.center();
    for (int i = -1; i <= 1; i += 2) {
        QPainterPath chevron;
        if (expand) {
            const qreal x = c.x() + i * 9;
            chevron.moveTo(x - 3.5, c.y() - 1.8);
            chevron.lineTo(x, c.y() + 1.8);
            chevron.lineTo(x + 3.5, c.y() - 1.8);
        } else {
            const qreal y = c.y() + i * 9;
            chevron.moveTo(c.x() - 3, y + 1.8);
            chevron.lineTo(c.x(), y - 1.8);
            chevron.lineTo(c.x() + 3, y + 1.8);
        }
        p.drawPath(chevron);
    }
    // Grip dots between the chevrons.
    p.setPen(Qt::NoPen);
    p.setBrush(clGray);
    for (int i = -1; i <= 1; ++i) {
        const QPointF d = expand ? QPointF(c.x() + i * 3, c.y()) : QPointF(c.x(), c.y() + i * 3);
        p.drawEllipse(d, 0.9, 0.9);
    }
}

// Two stacked discs with a clock hand: the program's mark.
void mark(QPainter& p, QPointF c, qreal r) {
    p.setPen(QPen(clNavy, r * 0.12));
    p.setBrush(clYellow);
    p.drawEllipse(c, r, r);
    p.setPen(QPen(clNavy, r * 0.14, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c, c + QPointF(0, -r * 0.65));
    p.drawLine(c, c + QPointF(r * 0.5, r * 0.2));
}

void banner(QPainter& p, QSizeF s) {
    QLinearGradient g(0, 0, 0, s.height());
    g.setColorAt(0, QColor(40, 70, 140));
    g.setColorAt(1, clNavy);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0, 0, s.width(), s.height()), 4, 4);
    const qreal r = s.height() * 0.3;
    mark(p, QPointF(r + 6, s.height() / 2), r);
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(int(s.height() * 0.42));
    f.setBold(true);
    p.setFont(f);
    p.setPen(clWhite);
    const QRectF text(2 * r + 12, 0, s.width() - 2 * r - 14, s.height() * 0.66);
    p.drawText(text, Qt::AlignLeft | Qt::AlignBottom, QStringLiteral("Tarnwick"));
    f.setBold(false);
    f.setPixelSize(std::max(6, int(s.height() * 0.2)));
    p.setFont(f);
    p.setPen(QColor(200, 210, 255));
    p.drawText(QRectF(text.left(), text.bottom(), text.width(), s.height() - text.bottom()),
               Qt::AlignLeft | Qt::AlignTop, QStringLiteral("backup · compact"));
}

// A database drum going into a folder: the About panel's picture.
void aboutPicture(QPainter& p, QSizeF s) {
    const qreal w = s.width(), h = s.height();
    p.setPen(QPen(clBlack, 1));
    p.setBrush(QColor(240, 200, 90));
    QPainterPath folder;
    folder.moveTo(w * 0.45, h * 0.35);
    folder.lineTo(w * 0.6, h * 0.35);
    folder.lineTo(w * 0.65, h * 0.45);
    folder.lineTo(w * 0.97, h * 0.45);
    folder.lineTo(w * 0.97, h * 0.95);
    folder.lineTo(w * 0.45, h * 0.95);
    folder.closeSubpath();
    p.drawPath(folder);
    const QRectF drum(w * 0.05, h * 0.1, w * 0.34, h * 0.8);
    const qreal cap = drum.height() * 0.22;
    p.setBrush(clTeal);
    p.drawRect(QRectF(drum.left(), drum.top() + cap / 2, drum.width(), drum.height() - cap));
    p.drawEllipse(QRectF(drum.left(), drum.bottom() - cap, drum.width(), cap));
    p.setPen(Qt::NoPen);
    p.drawRect(
        QRectF(drum.left() + 0.5, drum.top() + cap / 2, drum.width() - 1, drum.height() - cap));
    p.setPen(QPen(clBlack, 1));
    p.setBrush(QColor(80, 190, 190));
    p.drawEllipse(QRectF(drum.left(), drum.top(), drum.width(), cap));
    p.setPen(QPen(clNavy, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(w * 0.4, h * 0.5), QPointF(w * 0.6, h * 0.7));
    p.drawLine(QPointF(w * 0.6, h * 0.7), QPointF(w * 0.52, h * 0.7));
    p.drawLine(QPointF(w * 0.6, h * 0.7), QPointF(w * 0.6, h * 0.62));
}

void aboutTitle(QPainter& p, QSizeF s) {
    mark(p, QPointF(s.height() / 2, s.height() / 2), s.height() * 0.4);
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(int(s.height() * 0.55));
    f.setBold(true);
    f.setUnderline(true);
    p.setFont(f);
    p.setPen(QColor(0, 0, 255));
    p.drawText(QRectF(s.height() + 2, 0, s.width() - s.height() - 2, s.height()),
               Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Read me: Tarnwick"));
}

// Panel textures, tiled.
void brushedMetal(QPainter& p, QSizeF s) {
    p.fillRect(QRectF(QPointF(0, 0), s), clSilver);
    for (int y = 0; y < int(s.height()); ++y) {
        const int shade = 176 + (y * 37 % 11) * 3;
        p.setPen(QPen(QColor(shade, shade, shade + 6), 0.5));
        p.drawLine(QPointF(0, y + 0.25), QPointF(s.width(), y + 0.25));
    }
}

void dots(QPainter& p, QSizeF s) {
    p.fillRect(QRectF(QPointF(0, 0), s), QColor(212, 208, 200));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(180, 176, 168));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
            p.drawEllipse(
                QPointF(s.width() * (x + 0.25 + 0.5 * y) / 2 + 0.0, s.height() * (y + 0.5) / 2),
                0.9, 0.9);
}

void blueprint(QPainter& p, QSizeF s) {
    p.fillRect(QRectF(QPointF(0, 0), s), QColor(226, 234, 246));
    p.setPen(QPen(QColor(190, 204, 228), 0.6));
    p.drawLine(QPointF(0, 0.3), QPointF(s.width(), 0.3));
    p.drawLine(QPointF(0.3, 0), QPointF(0.3, s.height()));
}

const Picture pictures[] = {
    {"EXPAND",
     {41, 12},
     [](QPainter& p) {
         foldGlyph(p, {41, 12}, true);
     }},
    {"COLLAPS",
     {12, 41},
     [](QPainter& p) {
         foldGlyph(p, {12, 41}, false);
     }},
    {"Banner",
     {118, 40},
     [](QPainter& p) {
         banner(p, {118, 40});
     }},
    {"AboutTitle",
     {170, 20},
     [](QPainter& p) {
         aboutTitle(p, {170, 20});
     }},
    {"AboutPicture",
     {64, 40},
     [](QPainter& p) {
         aboutPicture(p, {64, 40});
     }},
    {"BrushedMetal",
     {32, 16},
     [](QPainter& p) {
         brushedMetal(p, {32, 16});
     }},
    {"Dots",
     {8, 8},
     [](QPainter& p) {
         dots(p, {8, 8});
     }},
    {"Blueprint",
     {12, 12},
     [](QPainter& p) {
         blueprint(p, {12, 12});
     }},
};

const Picture* find(const QString& name) {
    for (const Picture& pic : pictures)
        if (name.compare(QLatin1String(pic.name), Qt::CaseInsensitive) == 0) return &pic;
    return nullptr;
}

} // namespace

namespace Pictures {

QSize Size(const QString& name) {
    const Picture* pic = find(name);
    return pic ? pic->size : QSize();
}

bool Exists(const QString& name) {
    return find(name) != nullptr;
}

void Paint(const QString& name, QPainter& p, const QRectF& target) {
    const Picture* pic = find(name);
    if (!pic || target.isEmpty()) return;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.translate(target.topLeft());
    p.scale(target.width() / pic->size.width(), target.height() / pic->size.height());
    p.setClipRect(QRectF(QPointF(0, 0), QSizeF(pic->size)), Qt::IntersectClip);
    pic->paint(p);
    p.restore();
}

QImage Render(const QString& name, qreal dpr) {
    const Picture* pic = find(name);
    if (!pic) return {};
    const QSize px(int(std::ceil(pic->size.width() * dpr)),
                   int(std::ceil(pic->size.height() * dpr)));
    QImage img(px, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    img.setDevicePixelRatio(dpr);
    QPainter p(&img);
    Paint(name, p, QRectF(QPointF(0, 0), QSizeF(pic->size)));
    return img;
}

} // namespace Pictures
