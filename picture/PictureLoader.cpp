#include "picture/PictureLoader.h"
#include "picture/PicturePlan.h"
#include "picture/RegularFile.h"

#include "picture/ExifDate.h"
#include "picture/ExifOrientation.h"
#include "picture/JpegDecoder.h"
#include "picture/Reduce.h"
#include "platform/TerminationSignal.h"

#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// How long one picture may take to decode. A file can hold gigabytes of data the decoder
// has to read through, or arithmetic-coded blocks that cost time without costing bytes;
// past this its picture is given up as invalid and the show goes on.
constexpr long kDecodeTimeLimitMs = 3000;

// What a picture decoded whole (a BMP, or a frame picture before its stretch) may take.
// Qt counts a BMP at four bytes a pixel whatever its depth, so this admits up to 12.5
// megapixels: a 12-megapixel camera picture shows, and the saver stays within some
// 60 MB of its rest size with the decode and the part of it that is kept.
constexpr qint64 kDecodeBudgetBytes = qint64(48) * 1024 * 1024;
constexpr int kBmpAllocationLimitMB = int(kDecodeBudgetBytes / (1024 * 1024));

// A progressive (multi-scan) JPEG keeps every coefficient of the whole picture while it
// decodes, however much it is reduced: 72 MB for an ordinary 24-megapixel photo (4:2:0).
// A frame picture may take that much, so that such a photo still makes a frame, and no
// more: a small crafted file could otherwise claim 256 MB of them for a border.
constexpr long kFrameJpegMemoryBytes = 80L * 1024 * 1024;

// A BMP may claim up to this many pixels whatever its file size; beyond it, at most this
// many pixels for each byte of the file.
constexpr quint64 kBmpFreePixels = 1024 * 1024;
constexpr quint64 kBmpPixelsPerByte = 1024;

// By the extension only, the text from the name's last "." on, upper-cased in ASCII;
// the content is never sniffed.
PictureFormat formatOf(const QString &path)
{
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return PictureFormat::Invalid;
    // ASCII letters only: no other letter of any case may stand for one of these.
    QString extension = name.mid(dot);
    for (QChar &c : extension) {
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - 'a' + 'A');
    }
    if (extension == QLatin1String(".BMP"))
        return PictureFormat::Bmp;
    if (extension == QLatin1String(".JPG") || extension == QLatin1String(".JPEG"))
        return PictureFormat::Jpeg;
    return PictureFormat::Invalid;
}

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(FileDescriptor &&other) noexcept : m_fd(other.release()) {}
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;

    int get() const { return m_fd; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

// The EXIF orientation the file's header carries; 1 without one.
int jpegOrientation(const PantelJpegDecoder *decoder)
{
    const unsigned char *data = nullptr;
    size_t length = 0;
    if (!pantelJpegExifBlock(decoder, &data, &length))
        return 1;
    return exifOrientation(data, length);
}

struct JpegDecoderDeleter
{
    void operator()(PantelJpegDecoder *decoder) const { pantelJpegDestroy(decoder); }
};

// The caller's cancel check for the decode under way on this thread. libjpeg's stop
// check is a plain C function without a context, and a decode runs on one thread from
// start to end, so the check is kept per thread for as long as loadPicture runs.
thread_local const CancelCheck *t_cancelled = nullptr;

// The caller's cancel check, asked by the decoders for as long as one load runs.
class CancelScope
{
public:
    explicit CancelScope(const CancelCheck &cancelled) { t_cancelled = &cancelled; }
    ~CancelScope() { t_cancelled = nullptr; }
    CancelScope(const CancelScope &) = delete;
    CancelScope &operator=(const CancelScope &) = delete;
};

// The file of a picture the loader reads itself (JPEG or BMP); none for another format or
// a file that cannot be opened as a regular file.
FileDescriptor openLoaderFile(const QString &path, PictureFormat format)
{
    if (format != PictureFormat::Jpeg && format != PictureFormat::Bmp)
        return FileDescriptor();
    return FileDescriptor(openRegularFile(path));
}

// A SIGTERM must not wait for a picture, nor a caller that no longer wants it: the
// decoder gives up and the window closes.
int terminationArrived()
{
    return terminationPending() || (t_cancelled && isCancelled(*t_cancelled)) ? 1 : 0;
}

using JpegDecoder = std::unique_ptr<PantelJpegDecoder, JpegDecoderDeleter>;

// A decoder over `file` with its header read, `size` the stored picture's; none for data
// libjpeg refuses or a header over the limits. `memoryLimit` (bytes, 0: libjpeg's own) is
// set before the header, whose reading already sizes the decoder's buffers.
JpegDecoder openJpeg(const FileDescriptor &file, QSize &size, long memoryLimit = 0)
{
    JpegDecoder decoder(pantelJpegCreate(file.get(), kDecodeTimeLimitMs, terminationArrived));
    if (!decoder)
        return nullptr;
    if (memoryLimit > 0)
        pantelJpegLimitMemory(decoder.get(), memoryLimit);
    int width = 0;
    int height = 0;
    if (pantelJpegReadHeader(decoder.get(), kMaxPixels, &width, &height) != PANTEL_JPEG_OK)
        return nullptr;
    size = QSize(width, height);
    return decoder;
}

std::optional<Picture> loadJpeg(const FileDescriptor &file, double scale, QSize visible)
{
    QSize stored;
    const JpegDecoder decoder = openJpeg(file, stored);
    if (!decoder)
        return std::nullopt;
    // A picture stored sideways is turned upright before it is centred and cropped.
    const int orientation = jpegOrientation(decoder.get());
    const auto plan = planPicture(orientedSize(stored, orientation), scale, visible);
    if (!plan)
        return std::nullopt;
    if (plan->empty())
        return plan->emptyPicture();
    const StoredPlan part = storedPlan(*plan, stored, orientation);
    QImage pixels = PicturePlan::blackPixels(qint64(part.columns.size()), qint64(part.rows.size()));
    if (pixels.isNull())
        return std::nullopt;
    PantelJpegTarget target;
    target.pixels = reinterpret_cast<uint32_t *>(pixels.bits());
    target.stride = size_t(pixels.bytesPerLine());
    target.rows = pixels.height();
    target.columns = pixels.width();
    target.sourceRows = part.rows.data();
    target.sourceColumns = part.columns.data();
    if (pantelJpegDecode(decoder.get(), &target) != PANTEL_JPEG_OK)
        return std::nullopt;
    if (orientation != 1) {
        pixels = orientedImage(pixels, orientation);
        pixels.convertTo(QImage::Format_RGB32);
        if (pixels.isNull())
            return std::nullopt;
    }
    return plan->picture(std::move(pixels));
}

// Qt's BMP reader has no way to be stopped, but it reads the file as it decodes: once the
// time is up, SIGTERM has come or the caller gave up, every read fails, the reader runs
// through its remaining rows without data (a matter of milliseconds within the decode
// budget) and the picture is given up.
class GuardedFile : public QFile
{
public:
    GuardedFile() { m_clock.start(); }

    bool abandoned() const { return m_abandoned; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        m_abandoned = m_abandoned || terminationArrived() || m_clock.hasExpired(kDecodeTimeLimitMs);
        return m_abandoned ? -1 : QFile::readData(data, maxSize);
    }

private:
    QElapsedTimer m_clock;
    bool m_abandoned = false;
};

// The whole BMP as Qt decodes it, in its own format (a colour table, one bit a pixel, or
// 32 bits); empty when it is no picture, would exceed the decode budget or was abandoned.
std::optional<QImage> readBmp(FileDescriptor &file)
{
    GuardedFile device;
    if (!device.open(file.get(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return std::nullopt;
    file.release();
    QImageReader reader(&device, QByteArrayLiteral("bmp"));
    reader.setAutoDetectImageFormat(false);
    reader.setDecideFormatFromContent(false);
    reader.setAllocationLimit(kBmpAllocationLimitMB);
    // The header's claim is checked before anything is decoded. Qt decodes a BMP whole,
    // making the full picture before it reads a row, so a few bytes of header claiming a
    // hundred megapixels would cost hundreds of megabytes. A file cannot describe many
    // more pixels than it has bytes (a run-length coded one does at most a few hundred
    // per byte), so beyond a megapixel the claim must keep within 1024 pixels a byte; and
    // however well coded, the picture must fit the decode budget.
    // A top-down BMP (rows stored top row first) gives its height as a negative number;
    // Qt reads it the right way up, so only the magnitude counts.
    const QSize claimed = reader.size();
    const qint64 claimedWidth = claimed.width();
    const qint64 claimedHeight = qAbs(qint64(claimed.height()));
    if (claimedWidth <= 0 || claimedHeight <= 0)
        return std::nullopt;
    const quint64 claimedPixels = quint64(claimedWidth) * quint64(claimedHeight);
    const quint64 fileBytes = quint64(qMax<qint64>(device.size(), 0));
    if (claimedPixels > kMaxPixels || claimedPixels * 4 > quint64(kDecodeBudgetBytes)
        || (claimedPixels > kBmpFreePixels && claimedPixels > fileBytes * kBmpPixelsPerByte))
        return std::nullopt;
    QImage image;
    if (!reader.read(&image) || image.isNull() || device.abandoned())
        return std::nullopt;
    // The alpha of a 32-bit BMP is not shown.
    if (image.format() == QImage::Format_ARGB32)
        image.reinterpretAsFormat(QImage::Format_RGB32);
    return image;
}

std::optional<Picture> loadBmp(FileDescriptor &file, double scale, QSize visible)
{
    std::optional<QImage> decoded = readBmp(file);
    if (!decoded)
        return std::nullopt;
    // Moved, so that dropping `image` below frees the whole picture.
    QImage image = std::move(*decoded);
    decoded.reset();
    const auto plan = planPicture(image.size(), scale, visible);
    if (!plan)
        return std::nullopt;
    if (plan->empty())
        return plan->emptyPicture();
    QImage pixels = plan->makePixels();
    if (pixels.isNull())
        return std::nullopt;

    // Only the part the plan picks is converted.
    const QRect sourceRect(QPoint(plan->columns.source.front(), plan->rows.source.front()),
                           QPoint(plan->columns.source.back(), plan->rows.source.back()));
    QImage part = sourceRect == image.rect() ? image : image.copy(sourceRect);
    image = QImage();
    part.convertTo(QImage::Format_RGB32);
    if (part.isNull())
        return std::nullopt;
    for (int r = 0; r < pixels.height(); ++r) {
        const auto *in
            = reinterpret_cast<const QRgb *>(part.constScanLine(plan->rows.source[size_t(r)] - sourceRect.y()));
        auto *out = reinterpret_cast<QRgb *>(pixels.scanLine(r));
        for (int c = 0; c < pixels.width(); ++c)
            out[c] = 0xff000000u | in[plan->columns.source[size_t(c)] - sourceRect.x()];
    }
    return plan->picture(std::move(pixels));
}

// The smallest of libjpeg's reductions (eighths of the size) at which the upright picture
// still covers `frame` on both sides, so that the stretch over the frame only ever drops
// pixels of a decode not much larger than the frame; the full size when the picture is
// not larger than the frame. Lowered further while the reduced picture would exceed the
// decode budget (only a frame of thousands of pixels, set by hand, comes near it).
int frameScale(PantelJpegDecoder *decoder, int orientation, QSize frame)
{
    const auto reduced = [decoder, orientation](int eighths) {
        int width = 0;
        int height = 0;
        if (pantelJpegScale(decoder, eighths, &width, &height) != PANTEL_JPEG_OK)
            return QSize();
        return orientedSize(QSize(width, height), orientation);
    };
    int eighths = 8;
    if (!frame.isEmpty()) {
        for (int candidate = 1; candidate < 8; ++candidate) {
            const QSize size = reduced(candidate);
            if (size.width() >= frame.width() && size.height() >= frame.height()) {
                eighths = candidate;
                break;
            }
        }
    }
    const auto bytes = [&reduced](int candidate) {
        const QSize size = reduced(candidate);
        return qint64(size.width()) * size.height() * 4;
    };
    while (eighths > 1 && bytes(eighths) > kDecodeBudgetBytes)
        --eighths;
    return eighths;
}

// The whole picture at libjpeg's reduction `eighths`, turned upright.
std::optional<QImage> decodeWholeJpeg(PantelJpegDecoder *decoder, int eighths, int orientation)
{
    int width = 0;
    int height = 0;
    if (pantelJpegScale(decoder, eighths, &width, &height) != PANTEL_JPEG_OK)
        return std::nullopt;
    QImage pixels = PicturePlan::blackPixels(width, height);
    if (pixels.isNull())
        return std::nullopt;
    std::vector<int> rows(static_cast<size_t>(height));
    std::vector<int> columns(static_cast<size_t>(width));
    std::iota(rows.begin(), rows.end(), 0);
    std::iota(columns.begin(), columns.end(), 0);
    PantelJpegTarget target;
    target.pixels = reinterpret_cast<uint32_t *>(pixels.bits());
    target.stride = size_t(pixels.bytesPerLine());
    target.rows = height;
    target.columns = width;
    target.sourceRows = rows.data();
    target.sourceColumns = columns.data();
    if (pantelJpegDecode(decoder, &target) != PANTEL_JPEG_OK)
        return std::nullopt;
    if (orientation != 1) {
        pixels = orientedImage(pixels, orientation);
        pixels.convertTo(QImage::Format_RGB32);
        if (pixels.isNull())
            return std::nullopt;
    }
    return pixels;
}

std::optional<Picture> loadFrameJpeg(const FileDescriptor &file, QSize frame)
{
    QSize stored;
    const JpegDecoder decoder = openJpeg(file, stored, kFrameJpegMemoryBytes);
    if (!decoder)
        return std::nullopt;
    const int orientation = jpegOrientation(decoder.get());
    std::optional<QImage> pixels
        = decodeWholeJpeg(decoder.get(), frameScale(decoder.get(), orientation, frame), orientation);
    if (!pixels)
        return std::nullopt;
    const QSize size = pixels->size();
    return Picture{std::move(*pixels), size, QPoint()};
}

// A fitted JPEG: libjpeg reduces it to the smallest of its eighths that still covers the
// fitted size (the same choice as a frame picture's), which the area average then brings
// to the exact size, so every source pixel counts and the decode costs what the area does.
std::optional<QImage> loadFittedJpeg(const FileDescriptor &file, QSize area, const CancelCheck &cancelled)
{
    QSize stored;
    const JpegDecoder decoder = openJpeg(file, stored);
    if (!decoder)
        return std::nullopt;
    const int orientation = jpegOrientation(decoder.get());
    const QSize fitted = fittedSize(orientedSize(stored, orientation), area);
    if (fitted.isEmpty())
        return std::nullopt;
    std::optional<QImage> pixels
        = decodeWholeJpeg(decoder.get(), frameScale(decoder.get(), orientation, fitted), orientation);
    if (!pixels)
        return std::nullopt;
    // libjpeg rounds its reduced sides up, so the fitted size stands; only a decode that
    // the budget made smaller than asked is fitted again.
    const QSize decoded = pixels->size();
    const QSize target = decoded.expandedTo(fitted) == decoded ? fitted : fittedSize(decoded, fitted);
    if (target == pixels->size())
        return pixels;
    return reduceImage(*pixels, target, cancelled);
}

} // namespace

std::optional<Picture> loadFramePicture(const QString &path, QSize frame)
{
    const PictureFormat format = formatOf(path);
    FileDescriptor file = openLoaderFile(path, format);
    if (file.get() < 0)
        return std::nullopt;
    if (format == PictureFormat::Jpeg)
        return loadFrameJpeg(file, frame);
    std::optional<QImage> image = readBmp(file);
    if (!image)
        return std::nullopt;
    const QSize size = image->size();
    return Picture{std::move(*image), size, QPoint()};
}

std::optional<Picture> loadPicture(const QString &path, double scale, QSize visible, const CancelCheck &cancelled)
{
    return loadPictureAs(path, formatOf(path), scale, visible, cancelled);
}

std::optional<Picture> loadPictureAs(const QString &path, PictureFormat format, double scale, QSize visible,
                                     const CancelCheck &cancelled)
{
    const CancelScope scope(cancelled);
    FileDescriptor file = openLoaderFile(path, format);
    if (file.get() < 0)
        return std::nullopt;
    if (format == PictureFormat::Jpeg)
        return loadJpeg(file, scale, visible);
    return loadBmp(file, scale, visible);
}

std::optional<QImage> loadFittedPicture(const QString &path, PictureFormat format, QSize area,
                                        const CancelCheck &cancelled)
{
    const CancelScope scope(cancelled);
    FileDescriptor file = openLoaderFile(path, format);
    if (file.get() < 0)
        return std::nullopt;
    if (format == PictureFormat::Jpeg)
        return loadFittedJpeg(file, area, cancelled);
    std::optional<QImage> image = readBmp(file);
    if (!image || isCancelled(cancelled))
        return std::nullopt;
    const QSize target = fittedSize(image->size(), area);
    if (target.isEmpty())
        return std::nullopt;
    return reduceImage(*image, target, cancelled);
}

PictureFormat pictureFormat(const QString &path, bool sniff)
{
    if (!sniff)
        return formatOf(path);
    const FileDescriptor file(openRegularFile(path));
    char head[kSniffBytes];
    const ssize_t got = file.get() < 0 ? -1 : ::pread(file.get(), head, sizeof head, 0);
    return got > 0 ? sniffFormat(QByteArrayView(head, got)) : PictureFormat::Invalid;
}

QDate jpegTakenDate(const QString &path)
{
    const FileDescriptor file(openRegularFile(path));
    if (file.get() < 0)
        return QDate();
    QSize stored;
    const JpegDecoder decoder = openJpeg(file, stored);
    const unsigned char *data = nullptr;
    size_t length = 0;
    if (!decoder || !pantelJpegExifBlock(decoder.get(), &data, &length))
        return QDate();
    return exifTakenDate(data, length);
}
