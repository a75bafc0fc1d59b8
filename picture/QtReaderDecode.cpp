#include "picture/Budget.h"
#include "picture/FormatDecoders.h"
#include "picture/Reduce.h"

#include <QFile>
#include <QImageReader>
#include <QtEndian>

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

// Whether a PNG carries an ICC profile: an iCCP chunk, which comes before the first
// IDAT chunk. Read by position, so the reader's own reading is not disturbed.
bool pngHasIccProfile(int fd)
{
    off_t at = 8;
    for (int chunks = 0; chunks < 1000; ++chunks) {
        uchar header[8];
        if (::pread(fd, header, sizeof header, at) != ssize_t(sizeof header))
            return false;
        const QByteArrayView type(reinterpret_cast<const char *>(header) + 4, 4);
        if (type == "iCCP")
            return true;
        if (type == "IDAT" || type == "IEND")
            return false;
        at += off_t(qFromBigEndian<quint32>(header)) + 12;
    }
    return false;
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
    if (name.isEmpty())
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
    const bool profiled = format != PictureFormat::Png || pngHasIccProfile(fd);
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
