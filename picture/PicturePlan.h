#pragma once

#include "picture/PictureLoader.h"

#include <QSize>
#include <optional>
#include <vector>

// Where a picture at its own size (or the preview's plain reduction) stands in its area:
// which of its rows and columns show, and where they come from in the stored picture.
// Plain arithmetic, shared by the JPEG and BMP loaders.

// The most pixels a picture's header may claim. A tiny file can claim a huge picture;
// past this it is refused before anything is allocated or decoded.
constexpr quint64 kMaxPixels = 256ull * 1000 * 1000;

// Which source rows (or columns) the visible part of one axis takes.
struct AxisPlan
{
    int size = 0;            // the whole picture's extent after the reduction
    int first = 0;           // first visible position in the reduced picture
    std::vector<int> source; // for each visible position, the source position
};

// The reduced extent of an axis: Trunc(length x scale), cut toward zero; 0 when nothing
// is left (a picture so small shows nothing); empty when it is beyond any picture.
std::optional<int> reducedExtent(int length, double scale);

// One axis of `length` source pixels reduced to `reduced` and centred in `area` pixels
// (0: no area, the whole picture is kept).
//
// Reduction: reduced position d takes source position floor(d x length / reduced), a
// plain nearest-pixel stretch that drops pixels and never averages; at full size every
// pixel is taken.
//
// Placement: the picture is centred with the offset (area - reduced) / 2, truncated
// toward zero, so a larger picture loses equal margins, one pixel more at the right
// (bottom) when the difference is odd; only the positions inside the area are kept.
AxisPlan planAxis(int length, int reduced, int area);

struct PicturePlan
{
    AxisPlan columns;
    AxisPlan rows;

    bool empty() const { return columns.source.empty() || rows.source.empty(); }

    Picture emptyPicture() const { return Picture{QImage(), QSize(columns.size, rows.size), QPoint()}; }

    // A black picture of the visible part, to be filled; null when it cannot be made.
    QImage makePixels() const { return blackPixels(qint64(columns.source.size()), qint64(rows.source.size())); }

    static QImage blackPixels(qint64 width, qint64 height)
    {
        if (quint64(width * height) > kMaxPixels)
            return QImage();
        QImage pixels(int(width), int(height), QImage::Format_RGB32);
        if (!pixels.isNull())
            pixels.fill(Qt::black);
        return pixels;
    }

    Picture picture(QImage pixels) const
    {
        return Picture{std::move(pixels), QSize(columns.size, rows.size), QPoint(columns.first, rows.first)};
    }
};

std::optional<PicturePlan> planPicture(QSize source, double scale, QSize visible);

// The stored picture's rows and columns that make the visible part of the upright one.
// The plan is made in the upright picture; each of its columns is one column of the
// stored picture, or one row when the orientation swaps the axes (EXIF's 5 to 8), and
// likewise for its rows. The decoder wants them in ascending order, so a mirrored axis
// is reversed; the decoded part, turned upright, is then exactly the visible part.
struct StoredPlan
{
    std::vector<int> columns;
    std::vector<int> rows;
};

StoredPlan storedPlan(const PicturePlan &plan, QSize stored, int orientation);
