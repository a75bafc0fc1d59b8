#pragma once

#include "picture/PictureLoader.h"

#include <QWidget>
#include <optional>

// An image area: holds one picture or none. Centred, it draws the picture at its own
// size with the offsets (area - picture) / 2, truncated toward zero, clipped at the
// area's edges; stretched, it draws the whole picture over the whole widget. Where it
// draws nothing the parent shows through.
class ImageView : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(bool stretch READ stretch WRITE setStretch)

public:
    explicit ImageView(QWidget *parent = nullptr);

    bool stretch() const { return m_stretch; }
    void setStretch(bool stretch);

    bool hasPicture() const { return m_picture.has_value(); }
    const std::optional<Picture> &picture() const { return m_picture; }
    // A decoded picture (or the visible part of one), or none to empty the area. Set on a
    // stretched area that has its size, the picture is kept only as stretched to it.
    void setPicture(std::optional<Picture> picture);
    // A whole image; a null image empties the area.
    void setImage(const QImage &image);
    void clear() { setPicture(std::nullopt); }

    // `picture` stretched plainly over `size` (pixels repeated or dropped, never blended),
    // in 32-bit pixels that the painter draws as they are.
    static QImage stretched(const QImage &picture, QSize size);
    // Where the picture's top-left corner goes when centred in an area of `area`.
    static QPoint centredOffset(QSize area, QSize picture);
    // The area in device pixels, where photos are drawn 1:1: the logical size times the
    // device pixel ratio, rounded to the nearest pixel.
    QSize deviceSize() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::optional<Picture> m_picture;
    bool m_stretch = false;
    QImage m_stretched; // the picture stretched to the widget's size
};
