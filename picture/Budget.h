#pragma once

#include <QSize>
#include <QtGlobal>

// What a decode may cost, in one place. A file's header can claim any size in a few
// bytes, so the claim is judged before anything is allocated:
//
// - A decoder that streams (reads rows or scaled rows into a picture of the target size,
//   holding only a few rows of the full picture) may take a picture of up to
//   kMaxStreamedPixels: the time it takes is bounded by the data the file really holds.
// - A decoder that makes the whole picture before it can be reduced, and every decode at
//   the picture's own size, holds all its pixels at once: at most kMaxWholePixels, four
//   bytes each.
// - libheif's decoders hold about 16 bytes for each pixel of a picture coded as one (one
//   HEVC or AV1 picture, where phones and cameras write a grid of small tiles), so such a
//   picture may have at most kMaxCodedWholePixels: the same bytes as a whole decode. The
//   tiles of a grid are decoded up to four at once, so each may have a quarter of that.
// - A whole file that must be read into memory (an animation's container) may be at most
//   kMaxFileBytes.
namespace PictureBudget {

constexpr quint64 kMaxStreamedPixels = 256ull * 1000 * 1000;
constexpr quint64 kMaxWholePixels = 100ull * 1000 * 1000;
constexpr quint64 kMaxCodedWholePixels = kMaxWholePixels / 4;
constexpr quint64 kMaxCodedTilePixels = kMaxCodedWholePixels / 4;
constexpr qint64 kMaxFileBytes = 256ll * 1024 * 1024;

// Qt's readers check each allocation against a limit in megabytes; a whole picture of
// kMaxWholePixels at four bytes a pixel fits, anything larger fails.
constexpr int kAllocationLimitMB = int(kMaxWholePixels * 4 / (1024 * 1024)) + 1;

enum class Decoding { Streamed, Whole, CodedWhole, CodedTile };

// True when a picture claiming `claimed` may be decoded the given way.
inline bool allows(QSize claimed, Decoding decoding)
{
    if (claimed.width() <= 0 || claimed.height() <= 0)
        return false;
    const quint64 pixels = quint64(claimed.width()) * quint64(claimed.height());
    switch (decoding) {
    case Decoding::Streamed:
        return pixels <= kMaxStreamedPixels;
    case Decoding::Whole:
        return pixels <= kMaxWholePixels;
    case Decoding::CodedWhole:
        return pixels <= kMaxCodedWholePixels;
    case Decoding::CodedTile:
        return pixels <= kMaxCodedTilePixels;
    }
    return false;
}

} // namespace PictureBudget
