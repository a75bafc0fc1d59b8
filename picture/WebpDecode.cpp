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

// An animation's first frame as its canvas shows it. The container is read whole (at
// most PictureBudget::kMaxFileBytes) and the canvas made whole, so it is a whole decode.
std::optional<QImage> decodeAnimation(int fd, QSize canvas, const DecodeRequest &request)
{
    struct stat info;
    if (!PictureBudget::allows(canvas, PictureBudget::Decoding::Whole) || ::fstat(fd, &info) != 0
        || info.st_size > PictureBudget::kMaxFileBytes || ::lseek(fd, 0, SEEK_SET) != 0)
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
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options))
        return std::nullopt;
    // Premultiplied: the alpha then lies over black, as every picture is shown.
    options.color_mode = MODE_bgrA;
    options.use_threads = 0;
    const std::unique_ptr<WebPAnimDecoder, decltype(&WebPAnimDecoderDelete)> decoder(WebPAnimDecoderNew(&data,
                                                                                                        &options),
                                                                                     &WebPAnimDecoderDelete);
    WebPAnimInfo animation;
    if (!decoder || !WebPAnimDecoderGetInfo(decoder.get(), &animation)
        || QSize(int(animation.canvas_width), int(animation.canvas_height)) != canvas)
        return std::nullopt;
    uint8_t *pixels = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(decoder.get(), &pixels, &timestamp) || isCancelled(request.cancelled))
        return std::nullopt;
    const QImage frame(pixels, canvas.width(), canvas.height(), canvas.width() * 4,
                       QImage::Format_ARGB32_Premultiplied);
    auto picture = reduceImage(frame, requestedSize(canvas, request), request.cancelled);
    if (!picture)
        return std::nullopt;
    return toSrgb(std::move(*picture), colourSpaceOf(file.data(), file.size()));
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
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        return std::nullopt;
    config.options.use_scaling = scaled ? 1 : 0;
    config.options.scaled_width = target.width();
    config.options.scaled_height = target.height();
    config.output.colorspace = MODE_bgrA;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = image.bits();
    config.output.u.RGBA.stride = int(image.bytesPerLine());
    config.output.u.RGBA.size = size_t(image.sizeInBytes());
    const std::unique_ptr<WebPIDecoder, decltype(&WebPIDelete)> decoder(WebPIDecode(nullptr, 0, &config), &WebPIDelete);
    if (!decoder)
        return std::nullopt;
    const QColorSpace space = colourSpaceOf(head.data(), head.size());
    VP8StatusCode status = VP8_STATUS_SUSPENDED;
    for (size_t at = 0; at < head.size() && status == VP8_STATUS_SUSPENDED; at += kChunkBytes) {
        if (isCancelled(request.cancelled))
            return std::nullopt;
        status = WebPIAppend(decoder.get(), head.data() + at, std::min(kChunkBytes, head.size() - at));
    }
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
