#include "picture/Decode.h"

#include "picture/FormatDecoders.h"
#include "picture/Reduce.h"
#include "picture/RegularFile.h"

#include <QFile>

#include <unistd.h>

namespace {

PictureFormat sniffFile(int fd)
{
    char head[kSniffBytes];
    const ssize_t got = ::pread(fd, head, sizeof head, 0);
    if (got <= 0)
        return PictureFormat::Invalid;
    return sniffFormat(QByteArrayView(head, got));
}

} // namespace

QSize requestedSize(QSize picture, const DecodeRequest &request)
{
    return request.area.isEmpty() ? picture : fittedSize(picture, request.area);
}

std::optional<QImage> toSrgb(QImage image, const QColorSpace &space)
{
    if (image.isNull())
        return std::nullopt;
    if (space.isValid() && space != QColorSpace(QColorSpace::SRgb)) {
        image.setColorSpace(space);
        image.convertToColorSpace(QColorSpace::SRgb);
        if (image.isNull())
            return std::nullopt;
    }
    image.setColorSpace(QColorSpace());
    if (image.format() != QImage::Format_RGB32)
        image.convertTo(QImage::Format_RGB32);
    if (image.isNull())
        return std::nullopt;
    return image;
}

std::optional<QImage> decodeFile(const QString &path, const DecodeRequest &request)
{
    const int fd = openRegularFile(path);
    if (fd < 0)
        return std::nullopt;
    std::optional<QImage> picture;
    switch (const PictureFormat format = sniffFile(fd)) {
    case PictureFormat::Png:
    case PictureFormat::Gif:
    case PictureFormat::Tiff:
        picture = decodeWithQtReader(fd, format, request);
        break;
    case PictureFormat::WebP:
        picture = decodeWebp(fd, request);
        break;
    case PictureFormat::Heif:
        picture = decodeHeif(fd, request);
        break;
    case PictureFormat::Jpeg:
    case PictureFormat::Bmp:
    case PictureFormat::Invalid:
        break;
    }
    ::close(fd);
    if (isCancelled(request.cancelled))
        return std::nullopt;
    return picture;
}
