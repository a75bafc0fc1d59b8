#pragma once

#include "picture/Cancel.h"

#include <QDate>
#include <QImage>
#include <QSize>
#include <QString>

#include <optional>

// What is asked of a decode: the picture at its own size (an empty `area`, 1:1) or fitted
// into `area` (fittedSize: aspect kept, never enlarged), and when to give up.
struct DecodeRequest
{
    QSize area;
    CancelCheck cancelled;
    // Where a HEIF's decode puts the day its EXIF says the photo was taken (exifTakenDate),
    // read from the structure the decode has read already; none: not read.
    QDate *takenDate = nullptr;
};

// One picture file to pixels, the decoder picked by the file's content (sniffFormat), for
// PNG, GIF, TIFF, WebP and HEIF/HEIC/AVIF. The result is upright (the file's own rotation
// and mirroring applied), in sRGB (an embedded colour profile converted), opaque (alpha
// put over black), Format_RGB32, of the requested size; an animation gives its first
// frame. Empty ("invalid") for a file that is missing, not a regular file, of another or
// unknown format, corrupt or truncated, beyond PictureBudget, or cancelled. JPEG and BMP
// files are not decoded here: the show's own loader reads them.
std::optional<QImage> decodeFile(const QString &path, const DecodeRequest &request);
