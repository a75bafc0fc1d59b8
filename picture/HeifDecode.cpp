#include "picture/Budget.h"
#include "picture/ExifDate.h"
#include "picture/FormatDecoders.h"
#include "picture/HeifLibrary.h"
#include "picture/HeifPrimary.h"
#include "picture/Reduce.h"

#include <QtEndian>

#include <algorithm>
#include <memory>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The loaded library; decodeHeif has made sure it is there before anything calls this.
const HeifLibrary &heif()
{
    return *heifLibrary();
}

// libheif reads the file through this: by position, on demand, and not at all once the
// decode has been given up. While it reads the file's structure a failed read ends its
// work with an error; while it decodes, libheif 1.15 takes a failed read of a grid's
// tile for impossible (it has checked the file's size) and aborts the process, so a read
// given up or failing then gives zeros, which the decoder rejects as a broken stream.
struct FileSource
{
    int fd = -1;
    qint64 size = 0;
    qint64 position = 0;
    const CancelCheck *cancelled = nullptr;
    bool decoding = false;
};

int64_t sourcePosition(void *userdata)
{
    return static_cast<FileSource *>(userdata)->position;
}

int sourceRead(void *data, size_t size, void *userdata)
{
    auto *source = static_cast<FileSource *>(userdata);
    auto *bytes = static_cast<char *>(data);
    const auto failed = [&] {
        if (!source->decoding)
            return 1;
        std::fill_n(bytes, size, 0);
        source->position += qint64(size);
        return 0;
    };
    if (isCancelled(*source->cancelled))
        return failed();
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::pread(source->fd, bytes + got, size - got, off_t(source->position + qint64(got)));
        if (n <= 0)
            return failed();
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
    void operator()(heif_context *context) const { heif().heif_context_free(context); }
    void operator()(heif_image_handle *handle) const { heif().heif_image_handle_release(handle); }
    void operator()(heif_image *image) const { heif().heif_image_release(image); }
    void operator()(heif_decoding_options *options) const { heif().heif_decoding_options_free(options); }
};
template <typename T> using Owned = std::unique_ptr<T, Deleters>;

QSize sizeOf(const heif_image_handle *handle)
{
    return QSize(heif().heif_image_handle_get_width(handle), heif().heif_image_handle_get_height(handle));
}

// The smallest embedded thumbnail at least as large as the target on both axes; the
// primary picture when there is none.
Owned<heif_image_handle> pickSource(Owned<heif_image_handle> primary, QSize target)
{
    const int count = heif().heif_image_handle_get_number_of_thumbnails(primary.get());
    if (count <= 0 || target == sizeOf(primary.get()))
        return primary;
    std::vector<heif_item_id> ids(static_cast<size_t>(count));
    heif().heif_image_handle_get_list_of_thumbnail_IDs(primary.get(), ids.data(), count);
    Owned<heif_image_handle> best;
    for (const heif_item_id id : ids) {
        heif_image_handle *thumbnail = nullptr;
        if (heif().heif_image_handle_get_thumbnail(primary.get(), id, &thumbnail).code != heif_error_Ok)
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
    const heif_color_profile_type type = heif().heif_image_handle_get_color_profile_type(handle);
    if (type != heif_color_profile_type_prof && type != heif_color_profile_type_rICC)
        return QColorSpace();
    QByteArray profile(qsizetype(heif().heif_image_handle_get_raw_color_profile_size(handle)), Qt::Uninitialized);
    if (profile.isEmpty()
        || heif().heif_image_handle_get_raw_color_profile(handle, profile.data()).code != heif_error_Ok)
        return QColorSpace();
    return QColorSpace::fromIccProfile(profile);
}

// How 8-bit Y, Cb, Cr become R, G, B, in 16-bit fixed point: the matrix the stream's
// colour description names (BT.709, BT.2020, else BT.601) and its range (full, or video
// levels 16-235 and 16-240, stretched here).
struct YcbcrMatrix
{
    int yScale, yOffset, crR, cbG, crG, cbB;

    static YcbcrMatrix of(const heif_color_profile_nclx &nclx)
    {
        double kr = 0.299, kb = 0.114;
        if (nclx.matrix_coefficients == heif_matrix_coefficients_ITU_R_BT_709_5) {
            kr = 0.2126;
            kb = 0.0722;
        } else if (nclx.matrix_coefficients == heif_matrix_coefficients_ITU_R_BT_2020_2_non_constant_luminance) {
            kr = 0.2627;
            kb = 0.0593;
        }
        const double kg = 1.0 - kr - kb;
        const bool full = nclx.full_range_flag != 0;
        const double y = full ? 1.0 : 255.0 / 219.0;
        const double c = full ? 1.0 : 255.0 / 224.0;
        const auto fixed = [](double v) { return int(v * 65536.0 + 0.5); };
        return YcbcrMatrix{fixed(y),
                           full ? 0 : 16,
                           fixed(2 * (1 - kr) * c),
                           fixed(2 * kb * (1 - kb) / kg * c),
                           fixed(2 * kr * (1 - kr) / kg * c),
                           fixed(2 * (1 - kb) * c)};
    }

    static uchar clamp(int v) { return uchar(std::clamp((v + 32768) >> 16, 0, 255)); }
};

// Feeds a decoded picture held as 8-bit R, G and B planes (libheif composes a grid of
// tiles so) to the reducer a row at a time.
bool feedRgbPlanes(const heif_image *image, AreaReducer &reducer, const CancelCheck &cancelled, bool *gaveUp)
{
    const heif_channel channels[] = {heif_channel_R, heif_channel_G, heif_channel_B};
    const uint8_t *planes[3];
    int strides[3];
    const int width = heif().heif_image_get_width(image, heif_channel_R);
    const int height = heif().heif_image_get_height(image, heif_channel_R);
    for (int c = 0; c < 3; ++c) {
        planes[c] = heif().heif_image_get_plane_readonly(image, channels[c], &strides[c]);
        if (!planes[c] || heif().heif_image_get_bits_per_pixel_range(image, channels[c]) != 8
            || heif().heif_image_get_width(image, channels[c]) < width
            || heif().heif_image_get_height(image, channels[c]) < height)
            return false;
    }
    if (width <= 0 || height <= 0)
        return false;
    std::vector<uchar> row(size_t(width) * 3);
    for (int y = 0; y < height; ++y) {
        if (y % 64 == 0 && isCancelled(cancelled)) {
            *gaveUp = true;
            return true;
        }
        for (int c = 0; c < 3; ++c) {
            const uint8_t *line = planes[c] + qsizetype(y) * strides[c];
            for (int x = 0; x < width; ++x)
                row[3 * size_t(x) + size_t(c)] = line[x];
        }
        reducer.addRow(row.data(), AreaReducer::Layout::Rgb24);
    }
    return true;
}

// Feeds a decoded picture held as 8-bit Y, Cb and Cr planes (4:2:0, 4:2:2 or 4:4:4), or
// as a Y plane alone (grey), to the reducer, converting one row at a time.
bool feedYcbcrPlanes(const heif_image *image, const heif_image_handle *handle, AreaReducer &reducer,
                     const CancelCheck &cancelled, bool *gaveUp)
{
    const heif_chroma chroma = heif().heif_image_get_chroma_format(image);
    const bool grey = heif().heif_image_get_colorspace(image) == heif_colorspace_monochrome;
    if (!grey
        && (heif().heif_image_get_colorspace(image) != heif_colorspace_YCbCr
            || (chroma != heif_chroma_420 && chroma != heif_chroma_422 && chroma != heif_chroma_444)))
        return false;
    // Without a colour description libheif takes BT.601 at full range, as encoders
    // writing HEIF do; so does this.
    heif_color_profile_nclx *nclx = nullptr;
    heif_color_profile_nclx fallback{};
    fallback.matrix_coefficients = heif_matrix_coefficients_ITU_R_BT_601_6;
    fallback.full_range_flag = 1;
    const bool described = heif().heif_image_handle_get_nclx_color_profile(handle, &nclx).code == heif_error_Ok && nclx;
    const YcbcrMatrix m = YcbcrMatrix::of(described ? *nclx : fallback);
    heif().heif_nclx_color_profile_free(nclx);
    int yStride = 0, cbStride = 0, crStride = 0;
    const uint8_t *yPlane = heif().heif_image_get_plane_readonly(image, heif_channel_Y, &yStride);
    const int width = heif().heif_image_get_width(image, heif_channel_Y);
    const int height = heif().heif_image_get_height(image, heif_channel_Y);
    if (!yPlane || width <= 0 || height <= 0 || heif().heif_image_get_bits_per_pixel_range(image, heif_channel_Y) != 8)
        return false;
    // A grey picture is read as one whose chroma is neutral everywhere.
    const uint8_t neutral = 128;
    const uint8_t *cbPlane = &neutral, *crPlane = &neutral;
    int shiftX = 31, shiftY = 31;
    if (!grey) {
        cbPlane = heif().heif_image_get_plane_readonly(image, heif_channel_Cb, &cbStride);
        crPlane = heif().heif_image_get_plane_readonly(image, heif_channel_Cr, &crStride);
        shiftX = chroma == heif_chroma_444 ? 0 : 1;
        shiftY = chroma == heif_chroma_420 ? 1 : 0;
        for (const heif_channel channel : {heif_channel_Cb, heif_channel_Cr}) {
            if (heif().heif_image_get_bits_per_pixel_range(image, channel) != 8
                || heif().heif_image_get_width(image, channel) < ((width + shiftX) >> shiftX)
                || heif().heif_image_get_height(image, channel) < ((height + shiftY) >> shiftY))
                return false;
        }
        if (!cbPlane || !crPlane)
            return false;
    }
    std::vector<uchar> row(size_t(width) * 3);
    for (int y = 0; y < height; ++y) {
        if (y % 64 == 0 && isCancelled(cancelled)) {
            *gaveUp = true;
            return true;
        }
        const uint8_t *luma = yPlane + qsizetype(y) * yStride;
        const uint8_t *cb = cbPlane + qsizetype(y >> shiftY) * cbStride;
        const uint8_t *cr = crPlane + qsizetype(y >> shiftY) * crStride;
        for (int x = 0; x < width; ++x) {
            const int l = (luma[x] - m.yOffset) * m.yScale;
            const int b = cb[x >> shiftX] - 128;
            const int r = cr[x >> shiftX] - 128;
            row[3 * size_t(x)] = YcbcrMatrix::clamp(l + m.crR * r);
            row[3 * size_t(x) + 1] = YcbcrMatrix::clamp(l - m.cbG * b - m.crG * r);
            row[3 * size_t(x) + 2] = YcbcrMatrix::clamp(l + m.cbB * b);
        }
        reducer.addRow(row.data(), AreaReducer::Layout::Rgb24);
    }
    return true;
}

// Feeds the picture as libheif holds it to the reducer, when that is 8-bit planes it
// reads; false otherwise (libheif then converts).
bool feedPlanes(const heif_image *image, const heif_image_handle *handle, AreaReducer &reducer,
                const CancelCheck &cancelled, bool *gaveUp)
{
    if (heif().heif_image_get_colorspace(image) == heif_colorspace_RGB
        && heif().heif_image_get_chroma_format(image) == heif_chroma_444)
        return feedRgbPlanes(image, reducer, cancelled, gaveUp);
    return feedYcbcrPlanes(image, handle, reducer, cancelled, gaveUp);
}

// No EXIF block of a real photo comes near this; a larger claim is not read.
constexpr size_t kMaxExifBytes = 1024 * 1024;

// The primary picture's "Exif" item, which starts with the offset of the TIFF structure
// after its first four bytes.
QDate exifDateOf(const heif_image_handle *primary)
{
    heif_item_id id = 0;
    if (heif().heif_image_handle_get_list_of_metadata_block_IDs(primary, "Exif", &id, 1) != 1)
        return QDate();
    const size_t size = heif().heif_image_handle_get_metadata_size(primary, id);
    if (size < 4 || size > kMaxExifBytes)
        return QDate();
    std::vector<uchar> block(size);
    if (heif().heif_image_handle_get_metadata(primary, id, block.data()).code != heif_error_Ok)
        return QDate();
    const quint32 offset = qFromBigEndian<quint32>(block.data());
    return offset <= size - 4 ? exifTakenDate(block.data() + 4 + offset, size - 4 - offset) : QDate();
}

QSize decodedSize(const heif_image *image, heif_channel channel)
{
    return QSize(heif().heif_image_get_width(image, channel), heif().heif_image_get_height(image, channel));
}

} // namespace

std::optional<QImage> decodeHeif(int fd, const DecodeRequest &request)
{
    struct stat info;
    if (!heifLibrary() || ::fstat(fd, &info) != 0)
        return std::nullopt;
    FileSource source{fd, qint64(info.st_size), 0, &request.cancelled};
    heif_reader reader{};
    reader.reader_api_version = 1;
    reader.get_position = sourcePosition;
    reader.read = sourceRead;
    reader.seek = sourceSeek;
    reader.wait_for_file_size = sourceSize;
    const Owned<heif_context> context(heif().heif_context_alloc());
    if (!context
        || heif().heif_context_read_from_reader(context.get(), &reader, &source, nullptr).code != heif_error_Ok)
        return std::nullopt;
    heif_image_handle *handle = nullptr;
    if (heif().heif_context_get_primary_image_handle(context.get(), &handle).code != heif_error_Ok)
        return std::nullopt;
    Owned<heif_image_handle> primary(handle);
    if (request.takenDate)
        *request.takenDate = exifDateOf(primary.get());

    // The sizes libheif gives are the upright picture's: it applies the file's rotation
    // and mirroring itself while decoding, so the picture is never turned again here.
    // libheif makes the whole picture, so its claim must fit a whole decode; one coded as
    // a single picture costs its decoder far more than a grid of tiles.
    const QSize upright = sizeOf(primary.get());
    const QSize target = requestedSize(upright, request);
    // A grid is made at the size its description gives, which must fit as well, and every
    // coded picture at the size its own stream gives. Other kinds of primary picture
    // (overlays, derived pictures) are made at sizes not read here.
    const HeifPrimary kind = readHeifPrimary(fd);
    const bool tiled = kind.type == "grid";
    using PictureBudget::Decoding;
    if (target.isEmpty() || !(tiled || kind.type == "hvc1" || kind.type == "av01")
        || !PictureBudget::allows(upright, tiled ? Decoding::Whole : Decoding::CodedWhole)
        || (tiled && !(kind.gridSize && PictureBudget::allows(*kind.gridSize, Decoding::Whole))) || !kind.largestCoded
        || !PictureBudget::allows(*kind.largestCoded, tiled ? Decoding::CodedTile : Decoding::CodedWhole))
        return std::nullopt;
    const QColorSpace space = colourSpaceOf(primary.get());
    const Owned<heif_image_handle> chosen = pickSource(std::move(primary), target);

    const Owned<heif_decoding_options> options(heif().heif_decoding_options_alloc());
    if (!options)
        return std::nullopt;
    options->convert_hdr_to_8bit = 1;
    // The picture as libheif holds it first, so that no converted copy is made beside it:
    // a coded picture's own planes (4:2:0 as phones and cameras write them, or grey), a
    // grid's R, G and B planes. A picture of more than 8 bits, or held otherwise, is
    // decoded again as RGB.
    heif_image *decoded = nullptr;
    source.decoding = true;
    const bool planar = heif()
                            .heif_decode_image(chosen.get(), &decoded, heif_colorspace_undefined, heif_chroma_undefined,
                                               options.get())
                            .code
        == heif_error_Ok;
    Owned<heif_image> image(decoded);
    if (isCancelled(request.cancelled))
        return std::nullopt;
    const heif_channel first
        = planar && heif().heif_image_get_colorspace(decoded) == heif_colorspace_RGB ? heif_channel_R : heif_channel_Y;
    const QSize planesSize = planar ? decodedSize(decoded, first) : QSize();
    if (!planesSize.isEmpty()) {
        AreaReducer reducer(planesSize, target);
        bool gaveUp = false;
        if (!reducer.isNull() && feedPlanes(decoded, chosen.get(), reducer, request.cancelled, &gaveUp)) {
            if (gaveUp)
                return std::nullopt;
            return toSrgb(reducer.take(), space);
        }
    }
    image.reset();
    decoded = nullptr;
    if (heif()
            .heif_decode_image(chosen.get(), &decoded, heif_colorspace_RGB, heif_chroma_interleaved_RGB, options.get())
            .code
        != heif_error_Ok)
        return std::nullopt;
    image.reset(decoded);
    const QSize size = decodedSize(decoded, heif_channel_interleaved);
    int stride = 0;
    const uint8_t *plane = heif().heif_image_get_plane_readonly(decoded, heif_channel_interleaved, &stride);
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
