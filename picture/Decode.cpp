#include "picture/Decode.h"

#include "picture/FormatDecoders.h"
#include "picture/Reduce.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Opens a regular file for reading. A FIFO, a device or a folder named like a picture is
// never read: the open cannot block (O_NONBLOCK) and what it opened is checked again.
int openRegularFile(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info;
    if (::stat(name.constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return -1;
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || flags < 0
        || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

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
