#include "picture/Budget.h"
#include "picture/FormatDecoders.h"
#include "picture/Reduce.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <memory>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The file is fed to libwebp in pieces of this size, and the cancel check is asked
// between them; the first read, which the header and the colour profile are taken from,
// is larger.
constexpr size_t kChunkBytes = 16 * 1024;
constexpr size_t kHeadBytes = 64 * 1024;

// Reads up to `size` bytes at the descriptor's position; -1 on an error.
ssize_t readSome(int fd, uint8_t *data, size_t size)
{
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, data + got, size - got);
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += size_t(n);
    }
    return ssize_t(got);
}

// The colour profile (ICCP chunk) the file's extended header announces; it comes before
// the picture's data, so the first piece of the file holds it when it is of usual size.
QColorSpace colourSpaceOf(const uint8_t *data, size_t size)
{
    WebPData bytes{data, size};
    WebPDemuxState state;
    const std::unique_ptr<WebPDemuxer, decltype(&WebPDemuxDelete)> demux(WebPDemuxPartial(&bytes, &state),
                                                                         &WebPDemuxDelete);
    if (!demux || !(WebPDemuxGetI(demux.get(), WEBP_FF_FORMAT_FLAGS) & ICCP_FLAG))
        return QColorSpace();
    WebPChunkIterator chunk;
    if (!WebPDemuxGetChunk(demux.get(), "ICCP", 1, &chunk))
        return QColorSpace();
    const QColorSpace space = QColorSpace::fromIccProfile(
        QByteArray(reinterpret_cast<const char *>(chunk.chunk.bytes), qsizetype(chunk.chunk.size)));
    WebPDemuxReleaseChunkIterator(&chunk);
    return space;
}

// Feeds `size` bytes to an incremental decoder a piece at a time, asking the cancel check
// between pieces; the decoder's status after the last piece fed.
VP8StatusCode feed(WebPIDecoder *decoder, const uint8_t *data, size_t size, const CancelCheck &cancelled)
{
    VP8StatusCode status = VP8_STATUS_SUSPENDED;
    for (size_t at = 0; at < size && status == VP8_STATUS_SUSPENDED; at += kChunkBytes) {
        if (isCancelled(cancelled))
            return VP8_STATUS_USER_ABORT;
        status = WebPIAppend(decoder, data + at, std::min(kChunkBytes, size - at));
    }
    return status;
}

// A decoder writing premultiplied BGRA (alpha over black, as every picture is shown) into
// `part` of `image`, scaled to the part's size while it decodes when the picture is of
// another size (libwebp's averaging reduction, holding a few rows of the full picture).
// libwebp keeps pointers into the configuration, so it lives beside the decoder.
class DecoderInto
{
public:
    DecoderInto(QImage &image, const QRect &part, QSize picture)
    {
        if (!WebPInitDecoderConfig(&m_config))
            return;
        m_config.options.use_scaling = part.size() != picture ? 1 : 0;
        m_config.options.scaled_width = part.width();
        m_config.options.scaled_height = part.height();
        m_config.output.colorspace = MODE_bgrA;
        m_config.output.is_external_memory = 1;
        m_config.output.u.RGBA.rgba = image.scanLine(part.top()) + 4 * qsizetype(part.left());
        m_config.output.u.RGBA.stride = int(image.bytesPerLine());
        m_config.output.u.RGBA.size
            = size_t(image.bytesPerLine()) * size_t(part.height() - 1) + 4 * size_t(part.width());
        m_decoder = WebPIDecode(nullptr, 0, &m_config);
    }
    ~DecoderInto() { WebPIDelete(m_decoder); }
    DecoderInto(const DecoderInto &) = delete;
    DecoderInto &operator=(const DecoderInto &) = delete;

    WebPIDecoder *get() const { return m_decoder; }

private:
    WebPDecoderConfig m_config;
    WebPIDecoder *m_decoder = nullptr;
};

// An animation's first frame as its canvas shows it: the canvas starts transparent (black
// here), and the first frame lies on it at its offset. Only that frame is decoded, scaled
// straight to its place in the target, so a vast canvas around a small frame costs
// nothing. The container is read whole (at most PictureBudget::kMaxFileBytes).
std::optional<QImage> decodeAnimation(int fd, QSize canvas, const DecodeRequest &request)
{
    const QSize target = requestedSize(canvas, request);
    const bool scaled = target != canvas;
    struct stat info;
    if (target.isEmpty()
        || !PictureBudget::allows(canvas, scaled ? PictureBudget::Decoding::Streamed : PictureBudget::Decoding::Whole)
        || ::fstat(fd, &info) != 0 || info.st_size > PictureBudget::kMaxFileBytes || ::lseek(fd, 0, SEEK_SET) != 0)
        return std::nullopt;
    std::vector<uint8_t> file(size_t(info.st_size));
    for (size_t at = 0; at < file.size(); at += kChunkBytes) {
        if (isCancelled(request.cancelled))
            return std::nullopt;
        const size_t piece = std::min(kChunkBytes, file.size() - at);
        if (readSome(fd, file.data() + at, piece) != ssize_t(piece))
            return std::nullopt;
    }
    const WebPData data{file.data(), file.size()};
    const std::unique_ptr<WebPDemuxer, decltype(&WebPDemuxDelete)> demux(WebPDemux(&data), &WebPDemuxDelete);
    if (!demux
        || QSize(int(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH)),
                 int(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT)))
            != canvas)
        return std::nullopt;
    WebPIterator frame;
    if (!WebPDemuxGetFrame(demux.get(), 1, &frame))
        return std::nullopt;
    const std::unique_ptr<WebPIterator, decltype(&WebPDemuxReleaseIterator)> release(&frame, &WebPDemuxReleaseIterator);
    QImage image(target, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return std::nullopt;
    image.fill(Qt::transparent);
    // The frame's edges on the target, rounded to whole pixels (the demuxer has checked
    // that the frame lies within the canvas). A frame smaller than a target pixel is not
    // seen.
    const double sx = double(target.width()) / canvas.width();
    const double sy = double(target.height()) / canvas.height();
    const QPoint topLeft(qRound(frame.x_offset * sx), qRound(frame.y_offset * sy));
    const QPoint end(qRound((frame.x_offset + frame.width) * sx), qRound((frame.y_offset + frame.height) * sy));
    const QRect part = QRect(topLeft, end - QPoint(1, 1)).intersected(image.rect());
    if (!part.isEmpty()) {
        const DecoderInto decoder(image, part, QSize(frame.width, frame.height));
        if (!decoder.get()
            || feed(decoder.get(), frame.fragment.bytes, frame.fragment.size, request.cancelled) != VP8_STATUS_OK)
            return std::nullopt;
    }
    return toSrgb(std::move(image), colourSpaceOf(file.data(), file.size()));
}

} // namespace

std::optional<QImage> decodeWebp(int fd, const DecodeRequest &request)
{
    std::vector<uint8_t> head(kHeadBytes);
    const ssize_t got = readSome(fd, head.data(), head.size());
    if (got <= 0)
        return std::nullopt;
    head.resize(size_t(got));
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(head.data(), head.size(), &features) != VP8_STATUS_OK)
        return std::nullopt;
    const QSize size(features.width, features.height);
    if (features.has_animation)
        return decodeAnimation(fd, size, request);

    // A still picture is decoded straight into the target: libwebp scales while it
    // decodes (an averaging reduction), holding a few rows of the full picture.
    const QSize target = requestedSize(size, request);
    const bool scaled = target != size;
    if (target.isEmpty()
        || !PictureBudget::allows(size, scaled ? PictureBudget::Decoding::Streamed : PictureBudget::Decoding::Whole))
        return std::nullopt;
    QImage image(target, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return std::nullopt;
    const DecoderInto decoder(image, image.rect(), size);
    if (!decoder.get())
        return std::nullopt;
    const QColorSpace space = colourSpaceOf(head.data(), head.size());
    VP8StatusCode status = feed(decoder.get(), head.data(), head.size(), request.cancelled);
    std::vector<uint8_t> piece(kChunkBytes);
    while (status == VP8_STATUS_SUSPENDED) {
        if (isCancelled(request.cancelled))
            return std::nullopt;
        const ssize_t n = readSome(fd, piece.data(), piece.size());
        if (n <= 0)
            return std::nullopt; // the file ends before the picture does
        status = WebPIAppend(decoder.get(), piece.data(), size_t(n));
    }
    if (status != VP8_STATUS_OK)
        return std::nullopt;
    return toSrgb(std::move(image), space);
}
