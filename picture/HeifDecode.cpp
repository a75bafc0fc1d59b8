#include "picture/Budget.h"
#include "picture/FormatDecoders.h"
#include "picture/Reduce.h"

#include <libheif/heif.h>

#include <memory>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// libheif reads the file through this: by position, on demand, and not at all once the
// decode has been given up (a read that fails ends libheif's work with an error).
struct FileSource
{
    int fd = -1;
    qint64 size = 0;
    qint64 position = 0;
    const CancelCheck *cancelled = nullptr;
};

int64_t sourcePosition(void *userdata)
{
    return static_cast<FileSource *>(userdata)->position;
}

int sourceRead(void *data, size_t size, void *userdata)
{
    auto *source = static_cast<FileSource *>(userdata);
    if (isCancelled(*source->cancelled))
        return 1;
    auto *bytes = static_cast<char *>(data);
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::pread(source->fd, bytes + got, size - got, off_t(source->position + qint64(got)));
        if (n <= 0)
            return 1;
        got += size_t(n);
    }
    source->position += qint64(got);
    return 0;
}

int sourceSeek(int64_t position, void *userdata)
{
    auto *source = static_cast<FileSource *>(userdata);
    if (position < 0 || position > source->size)
        return 1;
    source->position = position;
    return 0;
}

heif_reader_grow_status sourceSize(int64_t target, void *userdata)
{
    return target <= static_cast<FileSource *>(userdata)->size ? heif_reader_grow_status_size_reached
                                                               : heif_reader_grow_status_size_beyond_eof;
}

struct Deleters
{
    void operator()(heif_context *context) const { heif_context_free(context); }
    void operator()(heif_image_handle *handle) const { heif_image_handle_release(handle); }
    void operator()(heif_image *image) const { heif_image_release(image); }
    void operator()(heif_decoding_options *options) const { heif_decoding_options_free(options); }
};
template <typename T> using Owned = std::unique_ptr<T, Deleters>;

QSize sizeOf(const heif_image_handle *handle)
{
    return QSize(heif_image_handle_get_width(handle), heif_image_handle_get_height(handle));
}

// The smallest embedded thumbnail at least as large as the target on both axes; the
// primary picture when there is none.
Owned<heif_image_handle> pickSource(Owned<heif_image_handle> primary, QSize target)
{
    const int count = heif_image_handle_get_number_of_thumbnails(primary.get());
    if (count <= 0 || target == sizeOf(primary.get()))
        return primary;
    std::vector<heif_item_id> ids(static_cast<size_t>(count));
    heif_image_handle_get_list_of_thumbnail_IDs(primary.get(), ids.data(), count);
    Owned<heif_image_handle> best;
    for (const heif_item_id id : ids) {
        heif_image_handle *thumbnail = nullptr;
        if (heif_image_handle_get_thumbnail(primary.get(), id, &thumbnail).code != heif_error_Ok)
            continue;
        Owned<heif_image_handle> owned(thumbnail);
        const QSize size = sizeOf(thumbnail);
        if (size.width() >= target.width() && size.height() >= target.height()
            && (!best
                || quint64(size.width()) * size.height()
                    < quint64(sizeOf(best.get()).width()) * sizeOf(best.get()).height()))
            best = std::move(owned);
    }
    return best ? std::move(best) : std::move(primary);
}

// The profile the file gives (an ICC profile; an nclx description only tells libheif how
// to turn its planes into RGB, which the decode has done).
QColorSpace colourSpaceOf(const heif_image_handle *handle)
{
    const heif_color_profile_type type = heif_image_handle_get_color_profile_type(handle);
    if (type != heif_color_profile_type_prof && type != heif_color_profile_type_rICC)
        return QColorSpace();
    QByteArray profile(qsizetype(heif_image_handle_get_raw_color_profile_size(handle)), Qt::Uninitialized);
    if (profile.isEmpty() || heif_image_handle_get_raw_color_profile(handle, profile.data()).code != heif_error_Ok)
        return QColorSpace();
    return QColorSpace::fromIccProfile(profile);
}

} // namespace

std::optional<QImage> decodeHeif(int fd, const DecodeRequest &request)
{
    struct stat info;
    if (::fstat(fd, &info) != 0)
        return std::nullopt;
    FileSource source{fd, qint64(info.st_size), 0, &request.cancelled};
    heif_reader reader{};
    reader.reader_api_version = 1;
    reader.get_position = sourcePosition;
    reader.read = sourceRead;
    reader.seek = sourceSeek;
    reader.wait_for_file_size = sourceSize;
    const Owned<heif_context> context(heif_context_alloc());
    if (!context || heif_context_read_from_reader(context.get(), &reader, &source, nullptr).code != heif_error_Ok)
        return std::nullopt;
    heif_image_handle *handle = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &handle).code != heif_error_Ok)
        return std::nullopt;
    Owned<heif_image_handle> primary(handle);

    // The sizes libheif gives are the upright picture's: it applies the file's rotation
    // and mirroring itself while decoding, so the picture is never turned again here.
    // libheif makes the whole picture, so its claim must fit a whole decode.
    const QSize upright = sizeOf(primary.get());
    const QSize target = requestedSize(upright, request);
    if (target.isEmpty() || !PictureBudget::allows(upright, PictureBudget::Decoding::Whole))
        return std::nullopt;
    const QColorSpace space = colourSpaceOf(primary.get());
    const Owned<heif_image_handle> chosen = pickSource(std::move(primary), target);

    const Owned<heif_decoding_options> options(heif_decoding_options_alloc());
    if (!options)
        return std::nullopt;
    options->convert_hdr_to_8bit = 1;
    heif_image *decoded = nullptr;
    if (heif_decode_image(chosen.get(), &decoded, heif_colorspace_RGB, heif_chroma_interleaved_RGB, options.get()).code
        != heif_error_Ok)
        return std::nullopt;
    const Owned<heif_image> image(decoded);
    const QSize size(heif_image_get_width(decoded, heif_channel_interleaved),
                     heif_image_get_height(decoded, heif_channel_interleaved));
    int stride = 0;
    const uint8_t *plane = heif_image_get_plane_readonly(decoded, heif_channel_interleaved, &stride);
    if (!plane || size.isEmpty() || stride < size.width() * 3 || isCancelled(request.cancelled))
        return std::nullopt;

    // The decoded rows go straight into the target, a strip at a time: no second copy
    // of the full picture is made.
    AreaReducer reducer(size, target);
    if (reducer.isNull())
        return std::nullopt;
    constexpr int kStripRows = 64;
    for (int y = 0; y < size.height(); ++y) {
        if (y % kStripRows == 0 && isCancelled(request.cancelled))
            return std::nullopt;
        reducer.addRow(plane + qsizetype(y) * stride, AreaReducer::Layout::Rgb24);
    }
    return toSrgb(reducer.take(), space);
}
