#include "show/FrameLayout.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

FrameLayout frameLayout(int frameSize, int frameWidth, int moveAmount, double scale)
{
    FrameLayout l;
    l.frameWidth = frameWidth;
    l.moveAmount = moveAmount;
    l.frameEdge = frameSize;
    l.matOffset = frameWidth + 3;
    l.matEdge = l.frameEdge - 2 * l.matOffset;
    if (scale != 1.0) {
        // The miniature keeps the full-size proportions; the border is one pixel wider
        // than the plain product so that it never vanishes, and the bevels are thin.
        l.frameWidth = int(frameWidth * scale) + 1;
        l.frameEdge = int(l.frameEdge * scale);
        l.frameBevel = 1;
        l.pictureBorder = int(8 * scale);
        l.matOffset = l.frameWidth + 1;
        l.matEdge = l.frameEdge - 2 * l.matOffset;
        l.matBevel = 1;
        l.moveAmount = int(moveAmount * scale) + 1;
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
