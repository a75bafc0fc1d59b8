#include "show/ImageView.h"

#include <QPainter>

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

} // namespace

void ImageView::setPicture(std::optional<Picture> picture)
{
    m_picture = std::move(picture);
    m_stretched = QImage();
    // Stretched once, now, and only the stretch is kept: the decoded picture may be a
    // whole photo (tens of megabytes), of which the frame shows its own size.
    if (m_stretch && m_picture && !m_picture->pixels.isNull() && !size().isEmpty() && keepsStretch(size())
        && m_picture->pixels.size() != size()) {
        m_picture->pixels = m_picture->pixels.scaled(size(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
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

void ImageView::paintEvent(QPaintEvent *)
{
    if (!m_picture || m_picture->pixels.isNull())
        return;
    QPainter painter(this);
    if (m_stretch) {
        // A plain stretch: pixels are repeated or dropped, never blended.
        // Stretched once per size: the frame is repainted at every move step.
        if (!keepsStretch(size())) {
            painter.drawImage(rect(), m_picture->pixels);
            return;
        }
        if (m_stretched.size() != size())
            m_stretched = m_picture->pixels.scaled(size(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
        painter.drawImage(0, 0, m_stretched);
        return;
    }
    // A photo is never enlarged: it is centred in the area's device pixels and drawn one
    // picture pixel to one device pixel.
    const qreal ratio = devicePixelRatioF();
    const QPoint at = centredOffset(ratio == 1.0 ? size() : deviceSize(), m_picture->size) + m_picture->origin;
    if (ratio != 1.0)
        painter.scale(1.0 / ratio, 1.0 / ratio);
    painter.drawImage(at, m_picture->pixels);
}
