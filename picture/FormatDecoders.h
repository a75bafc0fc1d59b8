#pragma once

// The format paths behind decodeFile, each given an open regular file (read from its
// start) and the request, each keeping to PictureBudget.
#include "picture/Decode.h"
#include "picture/FormatSniff.h"

#include <QColorSpace>

// PNG, GIF and TIFF (and BMP) through Qt's image readers.
std::optional<QImage> decodeWithQtReader(int fd, PictureFormat format, const DecodeRequest &request);
std::optional<QImage> decodeWebp(int fd, const DecodeRequest &request);
std::optional<QImage> decodeHeif(int fd, const DecodeRequest &request);

// The size to decode to: the picture's own, or fitted into the request's area.
QSize requestedSize(QSize picture, const DecodeRequest &request);

// An RGB32 picture described by `space` (invalid: none given, taken as sRGB) made sRGB.
// Empty when the conversion cannot be done.
std::optional<QImage> toSrgb(QImage image, const QColorSpace &space);
