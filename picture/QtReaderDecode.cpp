#include "picture/Budget.h"
#include "picture/FormatDecoders.h"
#include "picture/Reduce.h"

#include <QFile>
#include <QImageReader>
#include <QtEndian>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The file as Qt's readers see it: every read first asks whether the decode was given
// up, and fails when it was, so that a reader stops within one buffer of the request.
class CancellableFile : public QFile
{
public:
    explicit CancellableFile(const CancelCheck &cancelled) : m_cancelled(cancelled) {}

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (isCancelled(m_cancelled))
            return -1;
        return QFile::readData(data, maxSize);
    }

private:
    const CancelCheck &m_cancelled;
};

// What a PNG's chunks say before Qt's reader sees them: whether every chunk up to IEND
// lies within the file (libpng takes a text chunk's claimed length for what to allocate,
// so a 326-byte file claiming more took 1.6 GB), and whether an ICC profile (an iCCP
// chunk) comes before the pixels. Read by position, so the reader's own reading is not
// disturbed.
struct PngChunks
{
    bool sound = false;
    bool iccProfile = false;
};

PngChunks pngChunks(int fd)
{
    struct stat info;
    if (::fstat(fd, &info) != 0)
        return {};
    PngChunks chunks;
    bool pixels = false;
    for (off_t at = 8; info.st_size - at >= 12;) {
        uchar header[8];
        if (::pread(fd, header, sizeof header, at) != ssize_t(sizeof header))
            return {};
        const quint64 length = qFromBigEndian<quint32>(header);
        if (length + 12 > quint64(info.st_size - at))
            return {};
        const QByteArrayView type(reinterpret_cast<const char *>(header) + 4, 4);
        chunks.iccProfile = chunks.iccProfile || (type == "iCCP" && !pixels);
        pixels = pixels || type == "IDAT";
        if (type == "IEND") {
            chunks.sound = true;
            return chunks;
        }
        at += off_t(length + 12);
    }
    return {};
}

QByteArray readerFormat(PictureFormat format)
{
    switch (format) {
    case PictureFormat::Png:
        return QByteArrayLiteral("png");
    case PictureFormat::Gif:
        return QByteArrayLiteral("gif");
    case PictureFormat::Tiff:
        return QByteArrayLiteral("tiff");
    case PictureFormat::Bmp:
        return QByteArrayLiteral("bmp");
    default:
        return QByteArray();
    }
}

} // namespace

std::optional<QImage> decodeWithQtReader(int fd, PictureFormat format, const DecodeRequest &request)
{
    const QByteArray name = readerFormat(format);
    const PngChunks png = format == PictureFormat::Png ? pngChunks(fd) : PngChunks{true, false};
    if (name.isEmpty() || !png.sound)
        return std::nullopt;
    CancellableFile device(request.cancelled);
    // The caller keeps and closes the descriptor.
    if (!device.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        return std::nullopt;
    QImageReader reader(&device, name);
    reader.setAutoDetectImageFormat(false);
    reader.setDecideFormatFromContent(false);
    reader.setAllocationLimit(PictureBudget::kAllocationLimitMB);
    reader.setAutoTransform(true);

    // The header's claim, in the stored orientation; the fit is made on the upright
    // picture, which a quarter turn (TIFF's orientation tag) makes the other way round.
    const QSize stored = reader.size();
    const bool turned = reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
    const QSize upright = turned ? stored.transposed() : stored;
    const QSize target = requestedSize(upright, request);
    if (target.isEmpty())
        return std::nullopt;

    // A reader that scales while it reads (Qt's PNG reader, row by row, averaging) holds
    // only the target and a few rows; the others make the whole picture first.
    const bool scales
        = target != upright && reader.supportsOption(QImageIOHandler::ScaledSize) && format == PictureFormat::Png;
    if (!PictureBudget::allows(stored, scales ? PictureBudget::Decoding::Streamed : PictureBudget::Decoding::Whole))
        return std::nullopt;
    if (scales)
        reader.setScaledSize(turned ? target.transposed() : target);
    QImage image;
    if (!reader.read(&image) || image.isNull() || isCancelled(request.cancelled))
        return std::nullopt;
    // Only an embedded ICC profile is converted. Qt also makes a colour space of PNG's
    // gamma and chromaticity chunks, which ImageMagick and others write into ordinary
    // sRGB pictures as a gamma of 2.2; turning those from pure gamma into sRGB's curve
    // would darken the shadows of every such picture, and no viewer does it.
    const bool profiled = format != PictureFormat::Png || png.iccProfile;
    const QColorSpace space = profiled ? image.colorSpace() : QColorSpace();
    if (image.size() != target) {
        auto reduced = reduceImage(image, target, request.cancelled);
        if (!reduced)
            return std::nullopt;
        image = std::move(*reduced);
    } else if (image.format() != QImage::Format_RGB32) {
        image.convertTo(QImage::Format_RGB32);
    }
    return toSrgb(std::move(image), space);
}
