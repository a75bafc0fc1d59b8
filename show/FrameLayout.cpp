#include "show/FrameLayout.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <limits>

FrameLayout frameLayout(int frameSize, int frameWidth, int moveAmount, double scale)
{
    // A hand-edited settings file may hold any number. The frame is bounded so that it
    // draws in bounded time and memory, and the arithmetic is done wide so that nothing
    // overflows; every value the settings dialog offers lies well inside the bounds.
    const qint64 edge = std::clamp<qint64>(frameSize, 0, kLargestFrameSize);
    const qint64 width = std::clamp<qint64>(frameWidth, 0, edge);
    const qint64 move = std::clamp<qint64>(moveAmount, 0, std::numeric_limits<int>::max() - 1);
    FrameLayout l;
    l.frameWidth = int(width);
    l.moveAmount = int(move);
    l.frameEdge = int(edge);
    l.matOffset = int(width + 3);
    l.matEdge = int(edge - 2 * (width + 3));
    if (scale != 1.0) {
        // The miniature keeps the full-size proportions; the border is one pixel wider
        // than the plain product so that it never vanishes, and the bevels are thin.
        l.frameWidth = int(qint64(double(width) * scale) + 1);
        l.frameEdge = int(double(edge) * scale);
        l.frameBevel = 1;
        l.pictureBorder = int(8 * scale);
        l.matOffset = l.frameWidth + 1;
        l.matEdge = l.frameEdge - 2 * l.matOffset;
        l.matBevel = 1;
        l.moveAmount = int(qint64(double(move) * scale) + 1);
        l.errorSize = QSize(int(153 * scale), int(17 * scale));
    }
    return l;
}

int clockFontPoints()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    const double dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
    return int(std::lround(12.0 * 72.0 / dpi));
}
