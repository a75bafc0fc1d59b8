#include "show/ImageView.h"

#include "platform/LargePageImage.h"
#include "show/RectanglePaint.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cstring>
#include <vector>

ImageView::ImageView(QWidget *parent) : QWidget(parent)
{
}

void ImageView::setStretch(bool stretch)
{
    m_stretch = stretch;
    update();
}

namespace {

// A stretched picture is kept at the widget's size up to this many pixels (a 4096-pixel
// square); a larger widget, only possible with a hand-edited frame size, is stretched
// anew for the part each paint draws.
constexpr qint64 kLargestStretch = qint64(4096) * 4096;

bool keepsStretch(QSize size)
{
    return qint64(size.width()) * size.height() <= kLargestStretch;
}

// The painter draws 32-bit pixels as they are; any other picture (a colour table, as the
// golden bar has, 24-bit pixels, alpha not premultiplied) it converts whole at every
// paint, even for the strip that a move step brings into view. So a picture is converted
// once, before it is drawn: the pixels on the screen are the same.
QImage drawable(const QImage &image)
{
    switch (image.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32_Premultiplied:
        return image;
    default:
        return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                             : QImage::Format_RGB32);
    }
}

} // namespace

QImage ImageView::stretched(const QImage &picture, QSize size)
{
    // A picture with a full colour table of opaque colours (the golden bar) is stretched
    // here straight into 32-bit pixels. The pixels are those of Qt's plain stretch, which
    // for a colour table steps through the source in fixed point: target column x takes
    // source column (m / 2 + x m) / 4096, with m the inverse scale times 4096, truncated,
    // and rows alike. A table of the columns, a colour look-up a source pixel and a copy
    // of each repeated row make it many times faster than the stretch and the conversion
    // after it, on the way to the first frame.
    const int width = picture.width();
    const int height = picture.height();
    // Positions are kept in 32 bits with 12 of them for the fraction: a side of 2^18 pixels
    // or more (only a hand-made picture) goes to Qt's own stretch.
    constexpr int kLongestSide = 1 << 18;
    if (picture.format() != QImage::Format_Indexed8 || picture.colorCount() != 256 || picture.hasAlphaChannel()
        || size.isEmpty() || width == 0 || height == 0 || width >= kLongestSide || height >= kLongestSide)
        return drawable(picture.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation));
    const QTransform inverse
        = QImage::trueMatrix(QTransform::fromScale(qreal(size.width()) / width, qreal(size.height()) / height), width,
                             height)
              .inverted();
    const auto step = [](qreal scale) { return quint32(int(scale * 4096.0)); };
    const auto start = [](qreal offset, quint32 step) { return quint32(qRound(offset * 4096.0)) + step / 2; };
    const quint32 xStep = step(inverse.m11());
    const quint32 yStep = step(inverse.m22());
    // A column or row that falls outside the source keeps the colour of index 0, as in
    // Qt's stretch; with these scales none does. Such a column reads the extra last
    // entry of a row's colours, which holds that colour.
    std::vector<int> columns(size_t(size.width()));
    quint32 at = start(inverse.dx(), xStep);
    for (int x = 0; x < size.width(); ++x, at += xStep)
        columns[size_t(x)] = at < quint32(width) << 12 ? int(at >> 12) : width;
    const QList<QRgb> colours = picture.colorTable();
    QImage result = largePageImage(size);
    if (result.isNull())
        return {};
    // An enlarged row repeats the source row before it: it is copied rather than built
    // again; and a widened row is built from its source pixels' colours, looked up once
    // each.
    const bool enlarged = size.width() >= width;
    std::vector<QRgb> rowColours(enlarged ? size_t(width) + 1 : 0, colours.at(0));
    const size_t rowBytes = size_t(size.width()) * sizeof(QRgb);
    const QRgb *built = nullptr;
    int builtRow = -1;
    at = start(inverse.dy(), yStep);
    for (int y = 0; y < size.height(); ++y, at += yStep) {
        auto *line = reinterpret_cast<QRgb *>(result.scanLine(y));
        if (at >= quint32(height) << 12) {
            std::fill(line, line + size.width(), colours.at(0));
            continue;
        }
        const int row = int(at >> 12);
        if (row == builtRow) {
            std::memcpy(line, built, rowBytes);
            continue;
        }
        const uchar *source = picture.constScanLine(row);
        if (enlarged) {
            for (int x = 0; x < width; ++x)
                rowColours[size_t(x)] = colours.at(source[x]);
            for (int x = 0; x < size.width(); ++x)
                line[x] = rowColours[size_t(columns[size_t(x)])];
        } else {
            for (int x = 0; x < size.width(); ++x)
                line[x] = columns[size_t(x)] < width ? colours.at(source[columns[size_t(x)]]) : colours.at(0);
        }
        built = line;
        builtRow = row;
    }
    return result;
}

void ImageView::setPicture(std::optional<Picture> picture)
{
    m_picture = std::move(picture);
    m_stretched = QImage();
    // Stretched once, now, and only the stretch is kept: the decoded picture may be a
    // whole photo (tens of megabytes), of which the frame shows its own size.
    if (m_stretch && m_picture && !m_picture->pixels.isNull() && !size().isEmpty() && keepsStretch(size())
        && m_picture->pixels.size() != size()) {
        m_picture->pixels = stretched(m_picture->pixels, size());
        m_picture->size = size();
        m_picture->origin = QPoint();
    }
    update();
}

void ImageView::setImage(const QImage &image)
{
    if (image.isNull()) {
        clear();
        return;
    }
    setPicture(Picture{image, image.size(), QPoint(0, 0)});
}

QPoint ImageView::centredOffset(QSize area, QSize picture)
{
    // Integer division truncates toward zero, as the placement rule wants.
    return QPoint((area.width() - picture.width()) / 2, (area.height() - picture.height()) / 2);
}

QSize ImageView::deviceSize() const
{
    const qreal ratio = devicePixelRatioF();
    return QSize(qRound(width() * ratio), qRound(height() * ratio));
}

void ImageView::paintEvent(QPaintEvent *event)
{
    if (!m_picture || m_picture->pixels.isNull())
        return;
    QPainter painter(this);
    if (m_stretch) {
        // A plain stretch: pixels are repeated or dropped, never blended.
        // Stretched once per size: the frame is repainted at every move step.
        if (!keepsStretch(size())) {
            m_picture->pixels = drawable(m_picture->pixels);
            painter.drawImage(rect(), m_picture->pixels);
            return;
        }
        if (m_stretched.size() != size())
            m_stretched = stretched(m_picture->pixels, size());
        paintByRectangles(painter, event->region(), [&] { painter.drawImage(0, 0, m_stretched); });
        return;
    }
    // A photo is never enlarged: it is centred in the area's device pixels and drawn one
    // picture pixel to one device pixel. Converted at its first paint, not when it is
    // set: a hidden area (the golden bar's holder) is never drawn.
    m_picture->pixels = drawable(m_picture->pixels);
    const qreal ratio = devicePixelRatioF();
    const QPoint at = centredOffset(ratio == 1.0 ? size() : deviceSize(), m_picture->size) + m_picture->origin;
    if (ratio != 1.0)
        painter.scale(1.0 / ratio, 1.0 / ratio);
    painter.drawImage(at, m_picture->pixels);
}
