#pragma once

#include "picture/FormatSniff.h"

#include <QDate>
#include <QString>

// The day a photo was taken, from the EXIF block its format carries (exifTakenDate): a
// JPEG's APP1, a PNG's eXIf chunk, a WebP's EXIF chunk, a HEIF's "Exif" item. Reads only
// the file's structure and that block, never the pixels; invalid without one, for another
// format or a file that is not a regular file.
QDate takenDateOf(const QString &path, PictureFormat format);
