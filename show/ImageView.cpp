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

void ImageView::setPicture(std::optional<Picture> picture)
{
    m_picture = std::move(picture);
    m_stretched = QImage();
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
