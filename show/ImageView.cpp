#include "ImageView.h"

#include <QPainter>

ImageView::ImageView(QWidget *parent)
    : QWidget(parent)
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

void ImageView::paintEvent(QPaintEvent *)
{
    if (!m_picture || m_picture->pixels.isNull())
        return;
    QPainter painter(this);
    if (m_stretch) {
        // A plain stretch: pixels are repeated or dropped, never blended.
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        if (m_picture->size == m_picture->pixels.size())
            painter.drawImage(rect(), m_picture->pixels);
        return;
    }
    const QPoint at = centredOffset(size(), m_picture->size) + m_picture->origin;
    painter.drawImage(at, m_picture->pixels);
}
