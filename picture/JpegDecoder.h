#pragma once

/* The JPEG decoder: a small C shim around libjpeg. libjpeg reports a fatal error by
 * calling its error handler, which here leaves through longjmp back into the shim
 * function that called libjpeg; that is only sound in C frames, so this file is C and
 * the rest of the program sees plain return codes. */

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct PantelJpegDecoder PantelJpegDecoder;

/* Where the decoded pixels go: `rows` x `columns` pixels, 0xffRRGGBB each, at `pixels`
 * with `stride` bytes per row. Output row r takes source row `sourceRows[r]` and output
 * column c takes source column `sourceColumns[c]`; both lists are ascending (equal
 * neighbours allowed) and lie inside the picture. Rows that are never decoded (the data
 * ended early) are left as they are. */
typedef struct PantelJpegTarget
{
    uint32_t *pixels;
    size_t stride;
    int rows;
    int columns;
    const int *sourceRows;
    const int *sourceColumns;
} PantelJpegTarget;

/* Outcome of the decoder's calls. */
enum PantelJpegResult {
    PANTEL_JPEG_OK = 0,
    PANTEL_JPEG_INVALID = 1,   /* libjpeg refused the data */
    PANTEL_JPEG_TOO_LARGE = 2, /* the header claims more pixels than allowed */
    PANTEL_JPEG_TOO_MANY_SCANS = 3,
    PANTEL_JPEG_NO_MEMORY = 4,
    PANTEL_JPEG_TOO_FEW_BITS = 5, /* the file is too short for the picture it claims */
    PANTEL_JPEG_ABANDONED = 6     /* stopped: out of time, or asked to stop */
};

/* The most scans a multi-scan (progressive) file may have; a tiny file of thousands of
 * scans would otherwise keep the decoder busy for minutes. */
#define PANTEL_JPEG_MAX_SCANS 100

/* What libjpeg may allocate for one picture. A multi-scan (progressive) file holds all
 * its coefficients while it decodes, 2 bytes each, 64 for each 8 x 8 block of each
 * component; a picture that would need more is refused after its header, before any of
 * it is allocated. */
#define PANTEL_JPEG_MAX_MEMORY (256L * 1024L * 1024L)

/* Asked now and then while the decoder works; non-zero makes it give up. */
typedef int (*PantelJpegStopCheck)(void);

/* Reads from the open file `fd`, which stays the caller's. Null when out of memory.
 * `timeLimitMs`: from now on, the header and the decoding together may take this long
 * (0: no limit); `shouldStop` may be null. Past the limit, or once `shouldStop` says so,
 * the call at work ends with PANTEL_JPEG_ABANDONED. */
PantelJpegDecoder *pantelJpegCreate(int fd, long timeLimitMs, PantelJpegStopCheck shouldStop);

/* Lowers what libjpeg may allocate for this picture below PANTEL_JPEG_MAX_MEMORY; a
 * multi-scan file needing more is refused after its header. Call before the header. */
void pantelJpegLimitMemory(PantelJpegDecoder *decoder, long bytes);

/* Reads the header. `maxPixels`: the largest width x height accepted. A Huffman-coded
 * file must also hold at least one bit for each 8 x 8 block of each component after its
 * header: its first DC scan of a component spends at least that much. An arithmetic-coded
 * file has no such floor; only `maxPixels` limits it. */
int pantelJpegReadHeader(PantelJpegDecoder *decoder, uint64_t maxPixels, int *width, int *height);

/* The data of the first APP1 block that starts with "Exif\0\0" (the bytes after the
 * marker's length, at most 65533 of them), as read with the header; zero when there is
 * none. Only that block is kept: other APP1 blocks are skipped as the header is read.
 * The data stays the decoder's. The EXIF orientation is read from it. */
int pantelJpegExifBlock(const PantelJpegDecoder *decoder, const unsigned char **data, size_t *length);

/* Asks for the picture reduced by libjpeg's DCT scaling to `eighths`/8 of its size (1 to
 * 8) and gives the reduced size, each side rounded up. The target of pantelJpegDecode is
 * then in the reduced picture's rows and columns. Call after pantelJpegReadHeader. */
int pantelJpegScale(PantelJpegDecoder *decoder, int eighths, int *width, int *height);

/* Decodes into `target`. Call once, after a successful pantelJpegReadHeader. */
int pantelJpegDecode(PantelJpegDecoder *decoder, const PantelJpegTarget *target);

void pantelJpegDestroy(PantelJpegDecoder *decoder);

#ifdef __cplusplus
}
#endif
