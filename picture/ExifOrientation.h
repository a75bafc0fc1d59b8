#pragma once

#include <QImage>
#include <QRect>
#include <QSize>
#include <cstddef>

// Phone and camera pictures are often stored sideways, with an EXIF orientation (tag
// 0x0112 of the first image directory of the APP1 "Exif" block) saying how to turn them
// upright. The values are EXIF's: 1 upright, 2 mirrored left to right, 3 turned half way,
// 4 mirrored top to bottom, 5 mirrored along the main diagonal, 6 to be turned a quarter
// clockwise, 7 mirrored along the other diagonal, 8 to be turned a quarter anticlockwise.

// The orientation an APP1 block's data (the bytes after the marker's length) asks for; 1
// for anything else: no "Exif" block, a truncated or malformed one, offsets out of range,
// a wrong byte-order mark, another type or count for the tag, a value outside 1 to 8.
// Reads only the first image directory, so it never follows a chain of offsets.
int exifOrientation(const unsigned char *data, std::size_t length);

// The upright picture's size for a stored picture of `stored` size.
QSize orientedSize(QSize stored, int orientation);

// The part of the stored picture that shows as `upright` (a rectangle of the upright
// picture, inside orientedSize(stored, orientation)).
QRect storedRect(QRect upright, QSize stored, int orientation);

// `stored` turned upright. Also right for a part of the stored picture: the part that
// storedRect gives for `upright` becomes exactly `upright`.
QImage orientedImage(const QImage &stored, int orientation);
