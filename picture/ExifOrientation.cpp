#include "picture/ExifOrientation.h"
#include "picture/TiffReader.h"

#include <QTransform>
#include <cstdint>
#include <cstring>

namespace {

constexpr std::uint16_t kOrientationTag = 0x0112;
constexpr std::uint16_t kShortType = 3;
constexpr std::size_t kEntrySize = 12;

bool turnsQuarter(int orientation)
{
    return orientation >= 5 && orientation <= 8;
}

// Where the upright picture's pixel (x, y) comes from in a stored picture of w x h.
QPoint storedPoint(int x, int y, int w, int h, int orientation)
{
    switch (orientation) {
    case 2:
        return {w - 1 - x, y};
    case 3:
        return {w - 1 - x, h - 1 - y};
    case 4:
        return {x, h - 1 - y};
    case 5:
        return {y, x};
    case 6:
        return {y, h - 1 - x};
    case 7:
        return {w - 1 - y, h - 1 - x};
    case 8:
        return {w - 1 - y, x};
    default:
        return {x, y};
    }
}

} // namespace

int exifOrientation(const unsigned char *data, std::size_t length)
{
    static const unsigned char kExif[6] = {'E', 'x', 'i', 'f', 0, 0};
    if (!data || length < sizeof kExif + 8 || std::memcmp(data, kExif, sizeof kExif) != 0)
        return 1;
    // Offsets inside the block count from the TIFF header that follows "Exif\0\0".
    TiffReader tiff{data + sizeof kExif, length - sizeof kExif, false};
    if (tiff.data[0] == 'M' && tiff.data[1] == 'M')
        tiff.bigEndian = true;
    else if (!(tiff.data[0] == 'I' && tiff.data[1] == 'I'))
        return 1;
    if (tiff.u16(2) != 42)
        return 1;
    const std::size_t directory = tiff.u32(4);
    if (!tiff.has(directory, 2))
        return 1;
    const std::size_t entries = tiff.u16(directory);
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t entry = directory + 2 + i * kEntrySize;
        if (!tiff.has(entry, kEntrySize))
            return 1;
        if (tiff.u16(entry) != kOrientationTag)
            continue;
        if (tiff.u16(entry + 2) != kShortType || tiff.u32(entry + 4) != 1)
            return 1;
        const int value = tiff.u16(entry + 8);
        return value >= 1 && value <= 8 ? value : 1;
    }
    return 1;
}

QSize orientedSize(QSize stored, int orientation)
{
    return turnsQuarter(orientation) ? stored.transposed() : stored;
}

QRect storedRect(QRect upright, QSize stored, int orientation)
{
    if (upright.isEmpty())
        return {};
    const QPoint a = storedPoint(upright.left(), upright.top(), stored.width(), stored.height(), orientation);
    const QPoint b = storedPoint(upright.right(), upright.bottom(), stored.width(), stored.height(), orientation);
    return QRect(QPoint(qMin(a.x(), b.x()), qMin(a.y(), b.y())), QPoint(qMax(a.x(), b.x()), qMax(a.y(), b.y())));
}

QImage orientedImage(const QImage &stored, int orientation)
{
    switch (orientation) {
    case 2:
        return stored.mirrored(true, false);
    case 3:
        return stored.mirrored(true, true);
    case 4:
        return stored.mirrored(false, true);
    case 5:
        return stored.transformed(QTransform(0, 1, 1, 0, 0, 0));
    case 6:
        return stored.transformed(QTransform().rotate(90));
    case 7:
        return stored.transformed(QTransform(0, -1, -1, 0, 0, 0));
    case 8:
        return stored.transformed(QTransform().rotate(270));
    default:
        return stored;
    }
}
