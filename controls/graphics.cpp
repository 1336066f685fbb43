#include "controls/graphics.h"

#include <QFont>
#include <QPainter>

#include <array>
#include <utility>

namespace Graphics {

namespace {

struct NamedColor {
    const char* name;
    QRgb rgb;
};

// The standard named colours, plus the system colours the window uses, with their usual
// values on a classic desktop.
constexpr std::array<NamedColor, 24> namedColors{{
    {"clBlack", 0x000000},      {"clMaroon", 0x800000},    {"clGreen", 0x008000},
    {"clOlive", 0x808000},      {"clNavy", 0x000080},      {"clPurple", 0x800080},
    {"clTeal", 0x008080},       {"clGray", 0x808080},      {"clSilver", 0xC0C0C0},
    {"clRed", 0xFF0000},        {"clLime", 0x00FF00},      {"clYellow", 0xFFFF00},
    {"clBlue", 0x0000FF},       {"clFuchsia", 0xFF00FF},   {"clAqua", 0x00FFFF},
    {"clWhite", 0xFFFFFF},      {"clBtnFace", 0xC0C0C0},   {"clWindow", 0xFFFFFF},
    {"clWindowText", 0x000000}, {"clBtnText", 0x000000},   {"clInfoBk", 0xFFFFE1},
    {"clInfoText", 0x000000},   {"clHighlight", 0x000080}, {"clBtnShadow", 0x808080},
}};

struct NamedCursor {
    const char* name;
    Qt::CursorShape shape;
};

constexpr std::array<NamedCursor, 12> namedCursors{{
    {"crDefault", Qt::ArrowCursor},
    {"crArrow", Qt::ArrowCursor},
    {"crCross", Qt::CrossCursor},
    {"crIBeam", Qt::IBeamCursor},
    {"crSizeNS", Qt::SizeVerCursor},
    {"crSizeWE", Qt::SizeHorCursor},
    {"crUpArrow", Qt::UpArrowCursor},
    {"crHourGlass", Qt::WaitCursor},
    {"crNo", Qt::ForbiddenCursor},
    {"crHandPoint", Qt::PointingHandCursor},
    {"crHelp", Qt::WhatsThisCursor},
    {"crAppStart", Qt::BusyCursor},
}};

} // namespace

int ColorToNumber(const QColor& c) {
    return c.red() | (c.green() << 8) | (c.blue() << 16);
}

QColor ColorFromNumber(int n) {
    return QColor(n & 0xFF, (n >> 8) & 0xFF, (n >> 16) & 0xFF);
}

std::optional<QColor> ColorFromText(const QString& text) {
    const QString t = text.trimmed();
    for (const auto& nc : namedColors)
        if (t.compare(QLatin1String(nc.name), Qt::CaseInsensitive) == 0) return QColor(nc.rgb);
    bool ok = false;
    int n = t.startsWith('$') ? t.mid(1).toInt(&ok, 16) : t.toInt(&ok, 10);
    if (!ok) return std::nullopt;
    return ColorFromNumber(n);
}

QString ColorToText(const QColor& color) {
    const QRgb rgb = color.rgb() & 0xFFFFFF;
    // The first name wins, so system colours that share a value print as the plain name.
    for (const auto& nc : namedColors)
        if (nc.rgb == rgb) return QLatin1String(nc.name);
    return QString::number(ColorToNumber(color));
}

std::optional<Qt::CursorShape> CursorFromText(const QString& text) {
    for (const auto& nc : namedCursors)
        if (text.trimmed().compare(QLatin1String(nc.name), Qt::CaseInsensitive) == 0)
            return nc.shape;
    return std::nullopt;
}

QString CursorToText(Qt::CursorShape cursor) {
    for (const auto& nc : namedCursors)
        if (nc.shape == cursor) return QLatin1String(nc.name);
    return QString::number(int(cursor));
}

void DrawBevel(QPainter& p, QRect& r, Bevel bevel, int width, const QPalette& pal,
               const QColor& face) {
    if (bevel == Bevel::None) return;
    QColor topLeft = pal.color(QPalette::Light), bottomRight = pal.color(QPalette::Dark);
    if (bevel == Bevel::Lowered) std::swap(topLeft, bottomRight);
    if (bevel == Bevel::Space) topLeft = bottomRight = face;
    for (int i = 0; i < width && r.width() > 0 && r.height() > 0; ++i) {
        p.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), bottomRight);
        p.fillRect(QRect(r.right(), r.top(), 1, r.height()), bottomRight);
        p.fillRect(QRect(r.left(), r.top(), r.width(), 1), topLeft);
        p.fillRect(QRect(r.left(), r.top(), 1, r.height()), topLeft);
        r.adjust(1, 1, -1, -1);
    }
}

void InstallFontSubstitutions() {
    // Liberation Sans has Arial's metrics, so the designed layout holds.
    QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Small Fonts"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
}

} // namespace Graphics
