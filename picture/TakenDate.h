#pragma once

#include "picture/FormatSniff.h"

#include <QDate>
#include <QString>

// The day a photo was taken, from the EXIF block its format carries (exifTakenDate): a
// JPEG's APP1, a PNG's eXIf chunk, a WebP's EXIF chunk. Reads only the file's structure
// and that block, never the pixels; invalid without one, for another format or a file
// that is not a regular file. A HEIF's date comes with its decode (DecodeRequest): libheif
// reads the whole file to learn its structure, so it is read once, not again here.
QDate takenDateOf(const QString &path, PictureFormat format);
