#include "picture/JpegDecoder.h"

#include <errno.h>
#include <setjmp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <jerror.h>
#include <jpeglib.h>

enum { InputBufferSize = 65536, LargestMarkerData = 65533 };

struct PantelJpegDecoder
{
    /* First member, so that libjpeg's callbacks find the decoder from their cinfo. */
    struct jpeg_decompress_struct cinfo;
    struct jpeg_error_mgr error;
    struct jpeg_source_mgr source;
    struct jpeg_progress_mgr progress;
    jmp_buf jump;
    int failure;
    int fd;
    int anyInput;
    int endedEarly;         /* the file ended before the picture did */
    int dataEnded;          /* the entropy-coded data ended, at the file's end or a marker */
    JDIMENSION decodedRows; /* when dataEnded: the rows of the block rows completed before */
    int endScan;            /* when dataEnded: the scan it happened in */
    int headerRead;
    long memoryLimit;
    struct timespec deadline; /* when timed */
    int timed;
    PantelJpegStopCheck shouldStop;
    JOCTET buffer[InputBufferSize];
    size_t exifLength; /* 0 until an EXIF block is kept */
    JOCTET exif[LargestMarkerData];
};

static PantelJpegDecoder *decoderOf(void *cinfo)
{
    return (PantelJpegDecoder *)cinfo;
}

/* Every fatal error of libjpeg comes here and leaves through longjmp to the shim
 * function that made the call; the decoder is only destroyed afterwards. */
static void errorExit(j_common_ptr cinfo)
{
    PantelJpegDecoder *decoder = decoderOf(cinfo);
    if (decoder->failure == PANTEL_JPEG_OK) {
        const int code = cinfo->err->msg_code;
        decoder->failure = (code == JERR_OUT_OF_MEMORY || code == JERR_NO_BACKING_STORE) ? PANTEL_JPEG_NO_MEMORY
                                                                                         : PANTEL_JPEG_INVALID;
    }
    longjmp(decoder->jump, 1);
}

/* Notes where the picture's data ended: the rows of the block rows completed so far
 * hold real pixels; the rest would be grey blocks decoded from nothing. */
static void markDataEnded(PantelJpegDecoder *decoder)
{
    if (decoder->dataEnded)
        return;
    decoder->dataEnded = 1;
    decoder->endScan = decoder->cinfo.input_scan_number;
    /* A block row is max_v_samp_factor blocks high, each of them DCTSIZE rows at full
     * size and fewer when the picture is reduced. */
    decoder->decodedRows = decoder->cinfo.input_iMCU_row * (JDIMENSION)decoder->cinfo.max_v_samp_factor
        * (JDIMENSION)decoder->cinfo.min_DCT_scaled_size;
}

/* Warnings (corrupt data, premature end) are not fatal. The one that matters: the
 * decoder ran into a marker in the middle of the data. At the end-of-image marker (a
 * real one or the one made up at the file's end), or in a file without restart markers
 * to pick up from, nothing after it can be decoded. */
static void emitMessage(j_common_ptr cinfo, int level)
{
    if (level < 0) {
        const j_decompress_ptr dinfo = (j_decompress_ptr)cinfo;
        cinfo->err->num_warnings++;
        if (cinfo->err->msg_code == JWRN_HIT_MARKER
            && (dinfo->unread_marker == JPEG_EOI || dinfo->restart_interval == 0))
            markDataEnded(decoderOf(cinfo));
    }
}

/* Nobody reads the messages. */
static void outputMessage(j_common_ptr cinfo)
{
    (void)cinfo;
}

/* Gives up, through longjmp, once the time is up or the program is asked to end. Called
 * between pieces of work: at every row and scan libjpeg hands over, and at every piece
 * of the file read (a file can hold gigabytes between two markers). */
static void checkStop(PantelJpegDecoder *decoder)
{
    int stop = decoder->shouldStop && decoder->shouldStop();
    if (!stop && decoder->timed) {
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        stop = now.tv_sec > decoder->deadline.tv_sec
            || (now.tv_sec == decoder->deadline.tv_sec && now.tv_nsec >= decoder->deadline.tv_nsec);
    }
    if (stop) {
        decoder->failure = PANTEL_JPEG_ABANDONED;
        longjmp(decoder->jump, 1);
    }
}

static void initSource(j_decompress_ptr cinfo)
{
    (void)cinfo;
}

/* Reads the next piece of the file. At its end, as libjpeg's own file source does, a
 * warning and a made-up end-of-image marker: the picture then shows what was decoded.
 * The Huffman decoder reads ahead, so reaching the file's end does not yet mean that
 * data is missing (a file may just lack its end marker); it warns when it runs into the
 * marker for want of data. The arithmetic decoder reads only what it needs, and does
 * not warn. */
static boolean fillInputBuffer(j_decompress_ptr cinfo)
{
    PantelJpegDecoder *decoder = decoderOf(cinfo);
    ssize_t count;
    checkStop(decoder);
    do {
        count = read(decoder->fd, decoder->buffer, InputBufferSize);
    } while (count < 0 && errno == EINTR);
    if (count <= 0) {
        if (!decoder->anyInput)
            ERREXIT(cinfo, JERR_INPUT_EMPTY);
        WARNMS(cinfo, JWRN_JPEG_EOF);
        decoder->endedEarly = 1;
        if (cinfo->arith_code)
            markDataEnded(decoder);
        decoder->buffer[0] = (JOCTET)0xFF;
        decoder->buffer[1] = (JOCTET)JPEG_EOI;
        count = 2;
    } else {
        decoder->anyInput = 1;
    }
    cinfo->src->next_input_byte = decoder->buffer;
    cinfo->src->bytes_in_buffer = (size_t)count;
    return TRUE;
}

static void skipInputData(j_decompress_ptr cinfo, long count)
{
    struct jpeg_source_mgr *source = cinfo->src;
    if (count <= 0)
        return;
    while (count > (long)source->bytes_in_buffer) {
        count -= (long)source->bytes_in_buffer;
        fillInputBuffer(cinfo);
        /* Past the end only the made-up marker is left; keep it. */
        if (decoderOf(cinfo)->endedEarly)
            return;
    }
    source->next_input_byte += count;
    source->bytes_in_buffer -= (size_t)count;
}

/* Takes up to `count` bytes of the file into `into`; fewer only at the file's end, where
 * the made-up end-of-image marker stays in the buffer for libjpeg to find. */
static size_t takeBytes(j_decompress_ptr cinfo, JOCTET *into, size_t count)
{
    struct jpeg_source_mgr *source = cinfo->src;
    size_t taken = 0;
    while (taken < count) {
        size_t piece;
        if (decoderOf(cinfo)->endedEarly)
            break;
        if (source->bytes_in_buffer == 0) {
            fillInputBuffer(cinfo);
            continue;
        }
        piece = count - taken < source->bytes_in_buffer ? count - taken : source->bytes_in_buffer;
        memcpy(into + taken, source->next_input_byte, piece);
        source->next_input_byte += piece;
        source->bytes_in_buffer -= piece;
        taken += piece;
    }
    return taken;
}

/* An APP1 block: the first one that starts with "Exif\0\0" is kept for the picture's
 * orientation and every other one is skipped, so that a file of thousands of them costs
 * no more memory than one. */
static boolean readApp1(j_decompress_ptr cinfo)
{
    static const JOCTET exifStart[6] = {'E', 'x', 'i', 'f', 0, 0};
    PantelJpegDecoder *decoder = decoderOf(cinfo);
    JOCTET lengthBytes[2];
    size_t length;
    size_t taken = 0;
    if (takeBytes(cinfo, lengthBytes, 2) < 2)
        return TRUE;
    length = (size_t)lengthBytes[0] << 8 | lengthBytes[1];
    /* The length counts its own two bytes. */
    length = length < 2 ? 0 : length - 2;
    if (decoder->exifLength == 0 && length >= sizeof exifStart) {
        taken = takeBytes(cinfo, decoder->exif, sizeof exifStart);
        if (taken == sizeof exifStart && memcmp(decoder->exif, exifStart, sizeof exifStart) == 0) {
            taken += takeBytes(cinfo, decoder->exif + taken, length - taken);
            decoder->exifLength = taken;
            return TRUE;
        }
    }
    if (length > taken)
        skipInputData(cinfo, (long)(length - taken));
    return TRUE;
}

static void termSource(j_decompress_ptr cinfo)
{
    (void)cinfo;
}

/* libjpeg calls this for every block row it takes in from a multi-scan file, and for
 * every call that hands out rows. */
static void progressMonitor(j_common_ptr cinfo)
{
    PantelJpegDecoder *decoder = decoderOf(cinfo);
    if (((j_decompress_ptr)cinfo)->input_scan_number > PANTEL_JPEG_MAX_SCANS) {
        decoder->failure = PANTEL_JPEG_TOO_MANY_SCANS;
        longjmp(decoder->jump, 1);
    }
    checkStop(decoder);
}

/* Sets up libjpeg's side; zero when libjpeg could not (out of memory). */
static int setUp(PantelJpegDecoder *decoder)
{
    decoder->cinfo.err = jpeg_std_error(&decoder->error);
    decoder->error.error_exit = errorExit;
    decoder->error.emit_message = emitMessage;
    decoder->error.output_message = outputMessage;
    if (setjmp(decoder->jump)) {
        jpeg_destroy_decompress(&decoder->cinfo);
        return 0;
    }
    jpeg_create_decompress(&decoder->cinfo);
    decoder->cinfo.mem->max_memory_to_use = PANTEL_JPEG_MAX_MEMORY;
    /* The first EXIF block is kept with the header for its orientation. */
    jpeg_set_marker_processor(&decoder->cinfo, JPEG_APP0 + 1, readApp1);

    decoder->source.init_source = initSource;
    decoder->source.fill_input_buffer = fillInputBuffer;
    decoder->source.skip_input_data = skipInputData;
    decoder->source.resync_to_restart = jpeg_resync_to_restart;
    decoder->source.term_source = termSource;
    decoder->cinfo.src = &decoder->source;

    decoder->progress.progress_monitor = progressMonitor;
    decoder->cinfo.progress = &decoder->progress;
    return 1;
}

PantelJpegDecoder *pantelJpegCreate(int fd, long timeLimitMs, PantelJpegStopCheck shouldStop)
{
    PantelJpegDecoder *decoder = calloc(1, sizeof *decoder);
    if (!decoder)
        return NULL;
    decoder->fd = fd;
    decoder->shouldStop = shouldStop;
    decoder->memoryLimit = PANTEL_JPEG_MAX_MEMORY;
    if (timeLimitMs > 0) {
        clock_gettime(CLOCK_MONOTONIC, &decoder->deadline);
        decoder->deadline.tv_sec += timeLimitMs / 1000;
        decoder->deadline.tv_nsec += (timeLimitMs % 1000) * 1000000L;
        if (decoder->deadline.tv_nsec >= 1000000000L) {
            decoder->deadline.tv_sec += 1;
            decoder->deadline.tv_nsec -= 1000000000L;
        }
        decoder->timed = 1;
    }
    if (!setUp(decoder)) {
        free(decoder);
        return NULL;
    }
    return decoder;
}

void pantelJpegLimitMemory(PantelJpegDecoder *decoder, long bytes)
{
    if (bytes > 0 && bytes < decoder->memoryLimit) {
        decoder->memoryLimit = bytes;
        decoder->cinfo.mem->max_memory_to_use = bytes;
    }
}

static void readHeader(PantelJpegDecoder *decoder)
{
    jpeg_read_header(&decoder->cinfo, TRUE);
}

/* The bytes of the file not yet taken in by libjpeg; -1 when unknown. */
static int64_t bytesLeft(const PantelJpegDecoder *decoder)
{
    struct stat info;
    const off_t position = lseek(decoder->fd, 0, SEEK_CUR);
    if (position < 0 || fstat(decoder->fd, &info) != 0)
        return -1;
    return (int64_t)info.st_size - (int64_t)position + (int64_t)decoder->cinfo.src->bytes_in_buffer;
}

/* The 8 x 8 blocks of all components together. */
static uint64_t blockCount(j_decompress_ptr cinfo)
{
    uint64_t blocks = 0;
    int c;
    for (c = 0; c < cinfo->num_components; ++c)
        blocks += (uint64_t)cinfo->comp_info[c].width_in_blocks * cinfo->comp_info[c].height_in_blocks;
    return blocks;
}

/* What a multi-scan file's coefficients take: libjpeg keeps every block of every
 * component, each component rounded up to whole sampling units. */
static uint64_t coefficientBytes(j_decompress_ptr cinfo)
{
    uint64_t bytes = 0;
    int c;
    for (c = 0; c < cinfo->num_components; ++c) {
        const jpeg_component_info *component = &cinfo->comp_info[c];
        const uint64_t h = (uint64_t)component->h_samp_factor;
        const uint64_t v = (uint64_t)component->v_samp_factor;
        const uint64_t columns = (component->width_in_blocks + h - 1) / h * h;
        const uint64_t rows = (component->height_in_blocks + v - 1) / v * v;
        bytes += columns * rows * sizeof(JBLOCK);
    }
    return bytes;
}

int pantelJpegReadHeader(PantelJpegDecoder *decoder, uint64_t maxPixels, int *width, int *height)
{
    if (setjmp(decoder->jump))
        return decoder->failure;
    readHeader(decoder);
    if ((uint64_t)decoder->cinfo.image_width * decoder->cinfo.image_height > maxPixels)
        return PANTEL_JPEG_TOO_LARGE;
    /* The header is read up to the first scan's data. A few hundred bytes claiming
     * millions of blocks are no picture, however much of it would be shown. */
    if (!decoder->cinfo.arith_code) {
        const int64_t left = bytesLeft(decoder);
        if (left >= 0 && blockCount(&decoder->cinfo) > (uint64_t)left * 8)
            return PANTEL_JPEG_TOO_FEW_BITS;
    }
    if (jpeg_has_multiple_scans(&decoder->cinfo) && coefficientBytes(&decoder->cinfo) > (uint64_t)decoder->memoryLimit)
        return PANTEL_JPEG_NO_MEMORY;
    *width = (int)decoder->cinfo.image_width;
    *height = (int)decoder->cinfo.image_height;
    decoder->headerRead = 1;
    return PANTEL_JPEG_OK;
}

int pantelJpegScale(PantelJpegDecoder *decoder, int eighths, int *width, int *height)
{
    if (!decoder->headerRead || eighths < 1 || eighths > DCTSIZE)
        return PANTEL_JPEG_INVALID;
    if (setjmp(decoder->jump))
        return decoder->failure;
    decoder->cinfo.scale_num = (unsigned int)eighths;
    decoder->cinfo.scale_denom = DCTSIZE;
    jpeg_calc_output_dimensions(&decoder->cinfo);
    *width = (int)decoder->cinfo.output_width;
    *height = (int)decoder->cinfo.output_height;
    return PANTEL_JPEG_OK;
}

int pantelJpegExifBlock(const PantelJpegDecoder *decoder, const unsigned char **data, size_t *length)
{
    if (!decoder->headerRead || decoder->exifLength == 0)
        return 0;
    *data = decoder->exif;
    *length = decoder->exifLength;
    return 1;
}

/* The samplings for which skipping rows and cropping columns give exactly the pixels
 * of a full decode (sequential or multi-scan alike): one component, or three with the chroma at 1x1 and the luma at
 * 1x1, 2x1 or 2x2 (4:4:4, 4:2:2, 4:2:0). Other layouts are decoded in full. */
static int plainSampling(j_decompress_ptr cinfo)
{
    const jpeg_component_info *components = cinfo->comp_info;
    const int h = cinfo->max_h_samp_factor;
    const int v = cinfo->max_v_samp_factor;
    if (cinfo->num_components == 1)
        return 1;
    if (cinfo->num_components != 3)
        return 0;
    if (!((h == 1 && v == 1) || (h == 2 && v == 1) || (h == 2 && v == 2)))
        return 0;
    return components[0].h_samp_factor == h && components[0].v_samp_factor == v && components[1].h_samp_factor == 1
        && components[1].v_samp_factor == 1 && components[2].h_samp_factor == 1 && components[2].v_samp_factor == 1;
}

static uint32_t rgbPixel(const JSAMPLE *sample)
{
    return 0xff000000u | ((uint32_t)sample[0] << 16) | ((uint32_t)sample[1] << 8) | (uint32_t)sample[2];
}

/* CMYK as Adobe's programs write it, with every channel inverted. */
static uint32_t cmykPixel(const JSAMPLE *sample)
{
    const uint32_t k = sample[3];
    const uint32_t r = (sample[0] * k + 127) / 255;
    const uint32_t g = (sample[1] * k + 127) / 255;
    const uint32_t b = (sample[2] * k + 127) / 255;
    return 0xff000000u | (r << 16) | (g << 8) | b;
}

/* Whether the rows from decodedRows on hold nothing: the data ended in a sequential file,
 * or in the first scan of a multi-scan file (in a later scan every row has its coarse
 * picture already). */
static int rowsCut(const PantelJpegDecoder *decoder, int multiScan)
{
    return decoder->dataEnded && (!multiScan || decoder->endScan <= 1);
}

/* The decoding itself; a fatal error leaves it through longjmp to pantelJpegDecode. */
static void decodeInto(PantelJpegDecoder *decoder, const PantelJpegTarget *target)
{
    j_decompress_ptr cinfo = &decoder->cinfo;
    const int cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    JSAMPARRAY line;
    JDIMENSION xoffset = 0;
    JDIMENSION width;
    JDIMENSION stopAt;
    int multiScan;
    int outRow = 0;

    cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    /* A multi-scan file is taken in whole here, scan by scan under the scan limit. */
    jpeg_start_decompress(cinfo);
    multiScan = jpeg_has_multiple_scans(cinfo);

    width = cinfo->output_width;
    if (plainSampling(cinfo)) {
        /* Columns: decode only the band the target picks, widened by one block column on
         * each side so that the upsampler sees the same neighbours as in a full decode. */
        const JDIMENSION margin = (JDIMENSION)cinfo->max_h_samp_factor * DCTSIZE;
        const JDIMENSION first = (JDIMENSION)target->sourceColumns[0];
        const JDIMENSION last = (JDIMENSION)target->sourceColumns[target->columns - 1];
        const JDIMENSION left = first > margin ? first - margin : 0;
        const JDIMENSION right = last + 1 + margin < cinfo->output_width ? last + 1 + margin : cinfo->output_width;
        if (left > 0 || right < cinfo->output_width) {
            xoffset = left;
            width = right - left;
            jpeg_crop_scanline(cinfo, &xoffset, &width);
        }
        /* Rows above the band are not made into pixels: a sequential file only runs
         * their entropy decoding, a multi-scan file has taken them in already. */
        if (target->sourceRows[0] > 0)
            jpeg_skip_scanlines(cinfo, (JDIMENSION)target->sourceRows[0]);
    }
    line = (*cinfo->mem->alloc_sarray)((j_common_ptr)cinfo, JPOOL_IMAGE, width * (JDIMENSION)cinfo->output_components,
                                       1);

    /* Once the data has ended, the block row that was being decoded and those after it
     * stay black. A sequential file is decoded as its rows are read, so that happens in
     * this loop; a multi-scan file was taken in whole above. */
    stopAt = cinfo->output_height;
    if (rowsCut(decoder, multiScan) && decoder->decodedRows < stopAt)
        stopAt = decoder->decodedRows;
    while (outRow < target->rows && cinfo->output_scanline < stopAt) {
        const int y = (int)cinfo->output_scanline;
        if (jpeg_read_scanlines(cinfo, line, 1) != 1)
            break;
        while (outRow < target->rows && target->sourceRows[outRow] < y)
            ++outRow;
        while (outRow < target->rows && target->sourceRows[outRow] == y) {
            uint32_t *out = (uint32_t *)((unsigned char *)target->pixels + (size_t)outRow * target->stride);
            const size_t components = (size_t)cinfo->output_components;
            int c;
            for (c = 0; c < target->columns; ++c) {
                const JSAMPLE *sample = line[0] + (size_t)(target->sourceColumns[c] - (int)xoffset) * components;
                out[c] = cmyk ? cmykPixel(sample) : rgbPixel(sample);
            }
            ++outRow;
        }
        if (rowsCut(decoder, multiScan) && decoder->decodedRows < stopAt)
            stopAt = decoder->decodedRows;
    }
    if (rowsCut(decoder, multiScan)) {
        /* Rows of the unfinished block row that were already handed out. */
        for (outRow = 0; outRow < target->rows; ++outRow) {
            if ((JDIMENSION)target->sourceRows[outRow] >= decoder->decodedRows) {
                uint32_t *out = (uint32_t *)((unsigned char *)target->pixels + (size_t)outRow * target->stride);
                int c;
                for (c = 0; c < target->columns; ++c)
                    out[c] = 0xff000000u;
            }
        }
    }
    jpeg_abort_decompress(cinfo);
}

int pantelJpegDecode(PantelJpegDecoder *decoder, const PantelJpegTarget *target)
{
    if (!decoder->headerRead || target->rows <= 0 || target->columns <= 0)
        return PANTEL_JPEG_INVALID;
    if (setjmp(decoder->jump))
        return decoder->failure;
    decodeInto(decoder, target);
    return PANTEL_JPEG_OK;
}

void pantelJpegDestroy(PantelJpegDecoder *decoder)
{
    if (!decoder)
        return;
    jpeg_destroy_decompress(&decoder->cinfo);
    free(decoder);
}
