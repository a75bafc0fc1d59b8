#include "show/WindowPlacement.h"

#include <cmath>

WindowPlacement placeWindow(QRect screen, std::optional<QSize> parentSize, double ratio)
{
    // A preview parent that does not exist is treated as none: drawing into nothing helps
    // no one, so the saver runs full screen.
    if (!parentSize)
        return {false, screen, 1.0};
    // The scale compares the parent and the screen both in device pixels, so that the
    // miniature keeps the full screen's proportions at any ratio. The window covers the
    // parent, its logical size rounded up.
    return {true,
            QRect(0, 0, int(std::ceil(parentSize->width() / ratio)), int(std::ceil(parentSize->height() / ratio))),
            double(parentSize->width()) / (double(screen.width()) * ratio)};
}
