#include "app/windowplacement.h"

#include <algorithm>

namespace {

// Below this the controls cannot be reached; the window then takes its designed size.
constexpr int minimumSide = 100;

qint64 overlap(const QRect& a, const QRect& b) {
    const QRect i = a.intersected(b);
    return i.isEmpty() ? 0 : qint64(i.width()) * i.height();
}

} // namespace

QRect PlaceOnScreens(const QRect& restored, const QSize& design, const QList<QRect>& available) {
    if (available.isEmpty()) return restored;
    // The screen that shows most of the window, else the first (the primary one).
    QRect screen = available.first();
    qint64 best = 0;
    for (const QRect& s : available)
        if (const qint64 o = overlap(restored, s); o > best) {
            best = o;
            screen = s;
        }
    const auto side = [](int saved, int designed, int room) {
        const int wanted = saved < minimumSide ? designed : saved;
        return std::clamp(wanted, std::min(minimumSide, room), room);
    };
    const int w = side(restored.width(), design.width(), screen.width());
    const int h = side(restored.height(), design.height(), screen.height());
    const int x = std::clamp(restored.x(), screen.left(), screen.left() + screen.width() - w);
    const int y = std::clamp(restored.y(), screen.top(), screen.top() + screen.height() - h);
    return QRect(x, y, w, h);
}
