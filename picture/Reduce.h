#pragma once

#include "picture/Cancel.h"

#include <QImage>
#include <QSize>

#include <cstdint>
#include <optional>
#include <vector>

// The largest size with the picture's aspect ratio that fits in `area`, never larger than
// the picture itself (a picture that fits keeps its own size). The side that limits the
// fit takes the area's extent exactly; the other is picture x area / picture on that
// axis, rounded to the nearest pixel (halves up) and at least 1, so it never exceeds the
// area. An empty picture or area gives an empty size.
QSize fittedSize(QSize picture, QSize area);

// Shrinks a picture to an exact smaller size by area averaging: each target pixel is the
// mean of the source area it covers, source pixels on its edges counted by the part of
// them that lies inside, so nothing is dropped and fine patterns turn to their mean
// instead of moiré. Integer arithmetic throughout, exact up to the final rounding to the
// nearest level. Rows are fed one at a time, top to bottom; only the target and two rows
// of sums are held, never the source.
class AreaReducer
{
public:
    // How a fed row's pixels are laid out: Rgb32 as QImage::Format_RGB32 (one 32-bit
    // 0xffRRGGBB each), Rgb24 as three bytes R, G, B.
    enum class Layout { Rgb32, Rgb24 };

    // `target` must be no larger than `source` on either axis; isNull() otherwise, or
    // when the target's pixels cannot be allocated.
    AreaReducer(QSize source, QSize target);

    bool isNull() const { return m_image.isNull(); }
    void addRow(const uchar *pixels, Layout layout);
    bool finished() const { return m_sourceRow == m_source.height(); }
    // The reduced picture (Format_RGB32) once every source row has been fed.
    QImage take() { return std::move(m_image); }

private:
    template <Layout layout> void sumRow(const uchar *pixels);
    void emitRow();

    struct Span
    {
        int first;        // the target column (row) the source pixel starts in
        std::uint32_t w0; // its weight there; the rest of dw (dh) goes to the next one
    };

    QSize m_source;
    QSize m_target;
    QImage m_image;
    std::vector<Span> m_columns;
    std::vector<std::uint32_t> m_rowSums; // one source row, reduced across: 3 per target column
    std::vector<std::uint64_t> m_current; // the target row being filled
    std::vector<std::uint64_t> m_next;    // the share of the next one
    int m_sourceRow = 0;
    int m_targetRow = 0;
};

// A whole picture reduced to `target` (no larger than it), strip by strip so that a
// picture in another format is converted a few rows at a time, never whole. Asks
// `cancelled` between strips. Empty when cancelled or when the target cannot be made.
// Alpha is put over black. The result is Format_RGB32 and keeps the source's colour space.
std::optional<QImage> reduceImage(const QImage &source, QSize target, const CancelCheck &cancelled = {});
