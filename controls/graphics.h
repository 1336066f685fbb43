#pragma once

// Colour and cursor identifiers as the window description and the settings use them
// ("clSilver", "crHandPoint"), and the window's font substitutions.

#include <QColor>
#include <QString>
#include <Qt>

#include <optional>

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

// Maps the fonts that the window names to metric-compatible ones installed on Linux.
void InstallFontSubstitutions();

} // namespace Graphics
