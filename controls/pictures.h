#pragma once

// The window's own pictures (fold glyphs, banner, About pictures, panel textures), drawn as
// vectors so that they stay crisp at any device pixel ratio. A picture is named in the window
// description by its name; an unknown name is an empty picture.

#include <QImage>
#include <QRectF>
#include <QSize>
#include <QString>

class QPainter;

namespace Pictures {

// Logical size of the picture; empty for an unknown name.
QSize Size(const QString& name);
bool Exists(const QString& name);
// Draws the picture scaled into target.
void Paint(const QString& name, QPainter& p, const QRectF& target);
// The picture at its logical size, rendered for the given device pixel ratio, on a
// transparent background.
QImage Render(const QString& name, qreal dpr);

} // namespace Pictures
