#pragma once

#include "picture/Cancel.h"
#include "picture/FormatSniff.h"

#include <QDate>
#include <QImage>
#include <QPoint>
#include <QSize>
#include <QString>
#include <optional>

// A decoded picture, or the part of it that can be seen. The picture areas draw a
// picture at its own size, centred; a picture larger than its area loses its margins,
// so the loader keeps only the rows and columns that fall inside the area. `pixels` is
// that part, `origin` where it sits in the whole picture, `size` the whole picture's
// size (after any reduction). Drawing `pixels` at `origin` of a picture of `size`
// centred in the area gives exactly what drawing the whole picture would.
struct Picture
{
    QImage pixels;
    QSize size;
    QPoint origin;
};

// Loads a picture file by the format its extension names: ".bmp" as BMP, ".jpg" and
// ".jpeg" as JPEG (the content is never sniffed, so a ".bmp" holding JPEG data is
// invalid). `scale` 1.0 keeps the full size; any other factor reduces the picture to
// trunc(w x scale) x trunc(h x scale) by a plain nearest-pixel stretch (pixels dropped,
// not averaged): reduced position d takes source position floor(d x w / trunc(w x scale)),
// and likewise for rows. A picture that reduces to nothing in either direction gives a
// picture without pixels (null `pixels`, `size` as reduced), not an invalid one.
// A JPEG's EXIF orientation (APP1) is honoured: the picture is turned upright first, and
// the reduction, centring and cropping, `size` and `origin` are the upright picture's.
// `visible`: the size of the area the picture is centred in; only what falls inside it
// is kept, and a sequential JPEG is not even decoded beyond the last visible row. An
// empty `visible` keeps the whole picture. `pixels` is always Format_RGB32.
//
// Empty result for an invalid picture: undecodable or truncated-beyond-use data, a file
// that is missing, unreadable or not a regular file (FIFOs and folders are never opened),
// a header claiming more than 256 megapixels (256,000,000 pixels), a BMP claiming more
// than 12,582,912 pixels (a BMP is decoded whole, and Qt counts four bytes a pixel of a
// 48 MB decode budget), a BMP claiming more than a megapixel and more than 1024 pixels
// for each byte of its file, a Huffman-coded JPEG with fewer bits after its header than
// 8 x 8 blocks in its components, a progressive JPEG of more than 100 scans or needing
// more than 256 MB to decode, a 12-bit JPEG, a picture whose decoding takes more than 3
// seconds or is still under way when SIGTERM arrives. A BMP stored top row first shows
// like one stored bottom row first. A JPEG that ends early shows the rows decoded before
// its end; the rest is black. CMYK JPEGs are shown, taken as Adobe's inverted CMYK. A
// symbolic link is followed to a regular file.
// `cancelled`, asked as the decode goes on (a worker thread's request given up), makes
// it end early as invalid, as SIGTERM does.
std::optional<Picture> loadPicture(const QString &path, double scale = 1.0, QSize visible = QSize(),
                                   const CancelCheck &cancelled = {});

// A frame picture, to be stretched over a frame of `frame` pixels: the whole picture,
// upright, invalid as for loadPicture. A JPEG larger than the frame is decoded reduced by
// libjpeg (to 1/8, 2/8, ... 7/8 of its size), to the smallest reduction that still covers
// the frame on both sides, so that its cost follows the frame, not the file; a JPEG not
// larger than the frame, and a BMP, come at their own size (the BMP within the decode
// budget above, in the format Qt decodes it to: a colour table, one bit a pixel or 32
// bits). A progressive JPEG holds all its coefficients whatever the reduction, so one
// needing more than 80 MB of them (beyond a 24-megapixel photo's 72 MB) is invalid
// here. An empty `frame` asks for the full size. `size` is the pixels' size and `origin` (0, 0).
std::optional<Picture> loadFramePicture(const QString &path, QSize frame);

// The loader's own formats told apart by the name's extension as loadPicture does, or,
// `sniff`, by the file's content (sniffFormat); Invalid when the file cannot be read.
PictureFormat pictureFormat(const QString &path, bool sniff);

// As loadPicture, for a file of the given format (JPEG or BMP, anything else is invalid)
// whatever its name.
std::optional<Picture> loadPictureAs(const QString &path, PictureFormat format, double scale, QSize visible,
                                     const CancelCheck &cancelled = {});

// The whole picture, upright, shrunk with its aspect kept to fittedSize within `area`
// (never enlarged) by an area average, Format_RGB32; invalid as for loadPicture, for an
// empty `area`, or once `cancelled` says so. A JPEG is first reduced by libjpeg (as a
// frame picture is, to the smallest eighth still covering the fitted size); a BMP is
// decoded whole within the decode budget.
std::optional<QImage> loadFittedPicture(const QString &path, PictureFormat format, QSize area,
                                        const CancelCheck &cancelled = {});

// The day a JPEG's EXIF block says it was taken (exifTakenDate); invalid without one.
// Reads the file's header only.
QDate jpegTakenDate(const QString &path);
