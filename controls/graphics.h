#pragma once

// Colour and cursor identifiers as the window description and the settings use them
// ("clSilver", "crHandPoint"), and the window's font substitutions.

#include <QColor>
#include <QPalette>
#include <QRect>
#include <QString>
#include <Qt>

#include <optional>

class QPainter;

namespace Graphics {

// A named colour ("clSilver") or a colour number ("$00C0C0C0", "12632256": 0x00BBGGRR).
std::optional<QColor> ColorFromText(const QString& text);
// The colour's identifier when it has one, else its number in decimal (0x00BBGGRR).
QString ColorToText(const QColor& color);
// 0x00BBGGRR, the colour number of the description and the settings.
int ColorToNumber(const QColor& color);
QColor ColorFromNumber(int number);

std::optional<Qt::CursorShape> CursorFromText(const QString& text);
QString CursorToText(Qt::CursorShape cursor);

// The classic panel bevels, in the order of the controls' TPanelBevel enumerations.
enum class Bevel { None, Lowered, Raised, Space };

// Draws a bevel `width` pixels wide along the inside of r, in the palette's light and dark
// colours (a space bevel in `face`), and shrinks r by what it drew.
void DrawBevel(QPainter& p, QRect& r, Bevel bevel, int width, const QPalette& pal,
               const QColor& face);

// Maps the fonts that the window names to metric-compatible ones installed on Linux.
void InstallFontSubstitutions();

} // namespace Graphics
