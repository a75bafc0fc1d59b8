#include "picture/Reduce.h"

#include <QColorSpace>

#include <algorithm>

QSize fittedSize(QSize picture, QSize area)
{
    if (picture.isEmpty() || area.isEmpty())
        return QSize();
    if (picture.width() <= area.width() && picture.height() <= area.height())
        return picture;
    const qint64 w = picture.width();
    const qint64 h = picture.height();
    // Width limits when w / h >= aw / ah, compared without division.
    if (w * area.height() >= h * area.width()) {
        const qint64 height = (2 * h * area.width() + w) / (2 * w);
        return QSize(area.width(), int(std::max<qint64>(1, height)));
    }
    const qint64 width = (2 * w * area.height() + h) / (2 * h);
    return QSize(int(std::max<qint64>(1, width)), area.height());
}

namespace {

// The source pixel i of an axis covers [i x dst, (i + 1) x dst) in units where the whole
// axis is src x dst long; target pixel t covers [t x src, (t + 1) x src). A source pixel
// (dst units) is never wider than a target pixel (src units), so it touches at most two.
std::uint32_t spanWeight(qint64 i, qint64 src, qint64 dst, int *first)
{
    const qint64 start = i * dst;
    const qint64 t = start / src;
    *first = int(t);
    return std::uint32_t(std::min((i + 1) * dst, (t + 1) * src) - start);
}

} // namespace

AreaReducer::AreaReducer(QSize source, QSize target) : m_source(source), m_target(target)
{
    // A row's sums are 32-bit: 255 x source width must fit.
    constexpr int kMaxWidth = 16 * 1000 * 1000;
    if (source.isEmpty() || target.isEmpty() || target.width() > source.width() || target.height() > source.height()
        || source.width() > kMaxWidth)
        return;
    m_image = QImage(target, QImage::Format_RGB32);
    if (m_image.isNull())
        return;
    m_columns.resize(size_t(source.width()));
    for (int x = 0; x < source.width(); ++x) {
        Span &span = m_columns[size_t(x)];
        span.w0 = spanWeight(x, source.width(), target.width(), &span.first);
    }
    m_rowSums.assign(size_t(target.width()) * 3, 0);
    m_current.assign(m_rowSums.size(), 0);
    m_next.assign(m_rowSums.size(), 0);
}

template <AreaReducer::Layout layout> void AreaReducer::sumRow(const uchar *pixels)
{
    std::fill(m_rowSums.begin(), m_rowSums.end(), 0);
    const std::uint32_t dw = std::uint32_t(m_target.width());
    std::uint32_t *sums = m_rowSums.data();
    for (int x = 0; x < m_source.width(); ++x) {
        std::uint32_t r, g, b;
        if constexpr (layout == Layout::Rgb32) {
            const QRgb pixel = reinterpret_cast<const QRgb *>(pixels)[x];
            r = qRed(pixel);
            g = qGreen(pixel);
            b = qBlue(pixel);
        } else {
            r = pixels[3 * x];
            g = pixels[3 * x + 1];
            b = pixels[3 * x + 2];
        }
        const Span span = m_columns[size_t(x)];
        std::uint32_t *at = sums + 3 * span.first;
        at[0] += span.w0 * r;
        at[1] += span.w0 * g;
        at[2] += span.w0 * b;
        if (span.w0 != dw) {
            const std::uint32_t w1 = dw - span.w0;
            at[3] += w1 * r;
            at[4] += w1 * g;
            at[5] += w1 * b;
        }
    }
}

void AreaReducer::addRow(const uchar *pixels, Layout layout)
{
    if (isNull() || finished())
        return;
    if (layout == Layout::Rgb32)
        sumRow<Layout::Rgb32>(pixels);
    else
        sumRow<Layout::Rgb24>(pixels);
    int first = 0;
    const std::uint64_t w0 = spanWeight(m_sourceRow, m_source.height(), m_target.height(), &first);
    const std::uint64_t w1 = std::uint64_t(m_target.height()) - w0;
    for (size_t i = 0; i < m_rowSums.size(); ++i) {
        m_current[i] += w0 * m_rowSums[i];
        if (w1 != 0)
            m_next[i] += w1 * m_rowSums[i];
    }
    ++m_sourceRow;
    // The target row is complete once the source rows have covered its whole extent.
    const qint64 covered = qint64(m_sourceRow) * m_target.height();
    if (covered >= qint64(m_targetRow + 1) * m_source.height())
        emitRow();
}

void AreaReducer::emitRow()
{
    // Every target pixel's weights add up to src width x src height units.
    const std::uint64_t total = std::uint64_t(m_source.width()) * std::uint64_t(m_source.height());
    auto *line = reinterpret_cast<QRgb *>(m_image.scanLine(m_targetRow));
    for (int x = 0; x < m_target.width(); ++x) {
        const std::uint64_t *sum = m_current.data() + 3 * x;
        line[x] = qRgb(int((sum[0] + total / 2) / total), int((sum[1] + total / 2) / total),
                       int((sum[2] + total / 2) / total));
    }
    m_current.swap(m_next);
    std::fill(m_next.begin(), m_next.end(), 0);
    ++m_targetRow;
}

std::optional<QImage> reduceImage(const QImage &source, QSize target, const CancelCheck &cancelled)
{
    AreaReducer reducer(source.size(), target);
    if (reducer.isNull())
        return std::nullopt;
    constexpr int kStripRows = 32;
    const bool direct = source.format() == QImage::Format_RGB32;
    for (int y = 0; y < source.height(); y += kStripRows) {
        if (isCancelled(cancelled))
            return std::nullopt;
        const int rows = std::min(kStripRows, source.height() - y);
        QImage strip;
        if (!direct) {
            strip = source.copy(0, y, source.width(), rows).convertToFormat(QImage::Format_RGB32);
            if (strip.isNull())
                return std::nullopt;
        }
        for (int r = 0; r < rows; ++r)
            reducer.addRow(direct ? source.constScanLine(y + r) : strip.constScanLine(r), AreaReducer::Layout::Rgb32);
    }
    QImage reduced = reducer.take();
    reduced.setColorSpace(source.colorSpace());
    return reduced;
}
