#pragma once

#include <QPainter>
#include <QRegion>

#include <cmath>

// Paints a widget's paint region one rectangle at a time, the painter clipped to each.
// Clipped to a rectangle, the raster engine fills and copies straight into the backing
// store; clipped to a region of several (a frame around an opaque child, which Qt leaves
// out of its parent's region) it goes row by row, and hands the rows of a tall area to a
// pool of threads, which the first frame would have to start. The rectangles do not
// overlap, so every pixel is painted once, as before. At a fractional pixel ratio a
// clip's rectangle and the region's would round to device pixels differently, which could
// leave a seam: there the region is painted whole.
template <typename Paint> void paintByRectangles(QPainter &painter, const QRegion &region, Paint paint)
{
    const qreal ratio = painter.device()->devicePixelRatioF();
    if (region.rectCount() <= 1 || ratio != std::floor(ratio)) {
        paint();
        return;
    }
    for (const QRect &part : region) {
        painter.setClipRect(part);
        paint();
    }
}
