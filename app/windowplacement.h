#pragma once

#include <QList>
#include <QRect>

// Where a window with restored geometry goes, so that it can never be lost: wholly on one
// screen's available area, no larger than that area, and no smaller than usable.
//   restored   the saved outer geometry (any values a hand-edited settings file may hold)
//   design     the size the window was designed with; it replaces a size too small to use
//   available  each screen's available area (without panels and docks)
QRect PlaceOnScreens(const QRect& restored, const QSize& design, const QList<QRect>& available);
