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
    const QPoint at = centredOffset(size(), m_picture->size) + m_picture->origin;
    painter.drawImage(at, m_picture->pixels);
}
