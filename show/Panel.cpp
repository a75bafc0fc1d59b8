#include "show/Panel.h"

#include "show/RectanglePaint.h"

#include <QPaintEvent>
#include <QPainter>

namespace {

// One bevel of `width` rings inside `rect` (inclusive right and bottom edges as the
// classic drawing has them): each ring's left column and top row in `top`, its right
// column and bottom row in `bottom`, so the top-right and bottom-left corner pixels take
// the bottom colour. Shrinks `rect` by the rings drawn.
void frame3D(QPainter &painter, QRect &rect, const QColor &top, const QColor &bottom, int width)
{
    for (int i = 0; i < width && rect.width() > 0 && rect.height() > 0; ++i) {
        const int l = rect.left(), t = rect.top(), r = rect.right(), b = rect.bottom();
        painter.fillRect(QRect(l, t, 1, rect.height()), top);
        painter.fillRect(QRect(l, t, rect.width() - 1, 1), top);
        painter.fillRect(QRect(r, t, 1, rect.height()), bottom);
        painter.fillRect(QRect(l, b, rect.width(), 1), bottom);
        rect.adjust(1, 1, -1, -1);
    }
}

void bevelColours(Panel::Bevel bevel, QColor &top, QColor &bottom)
{
    top = QColor::fromRgb(bevel == Panel::Lowered ? Panel::ButtonShadow : Panel::ButtonHighlight);
    bottom = QColor::fromRgb(bevel == Panel::Lowered ? Panel::ButtonHighlight : Panel::ButtonShadow);
}

} // namespace

Panel::Panel(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void Panel::setBevelOuter(Bevel bevel)
{
    m_bevelOuter = bevel;
    update();
}

void Panel::setBevelInner(Bevel bevel)
{
    m_bevelInner = bevel;
    update();
}

void Panel::setBevelWidth(int width)
{
    m_bevelWidth = width;
    update();
}

void Panel::setBorderWidth(int width)
{
    m_borderWidth = width;
    update();
}

void Panel::setBorderLine(bool line)
{
    m_borderLine = line;
    update();
}

void Panel::setColor(const QColor &color)
{
    m_color = color;
    update();
}

void Panel::setCaption(const QString &caption)
{
    m_caption = caption;
    update();
}

void Panel::setCaptionColor(const QColor &color)
{
    m_captionColor = color;
    update();
}

QRect Panel::clientRect() const
{
    int inset = lineWidth() + m_borderWidth;
    if (m_bevelOuter != None)
        inset += m_bevelWidth;
    if (m_bevelInner != None)
        inset += m_bevelWidth;
    return rect().adjusted(inset, inset, -inset, -inset);
}

void Panel::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    paintByRectangles(painter, event->region(), [this, &painter] { paint(painter); });
}

void Panel::paint(QPainter &painter) const
{
    QRect r = rect();
    if (m_borderLine) {
        painter.fillRect(r, QColor::fromRgb(WindowFrame));
        r.adjust(1, 1, -1, -1);
    }
    QColor top, bottom;
    if (m_bevelOuter != None) {
        bevelColours(m_bevelOuter, top, bottom);
        frame3D(painter, r, top, bottom, m_bevelWidth);
    }
    frame3D(painter, r, m_color, m_color, m_borderWidth);
    if (m_bevelInner != None) {
        bevelColours(m_bevelInner, top, bottom);
        frame3D(painter, r, top, bottom, m_bevelWidth);
    }
    if (r.width() > 0 && r.height() > 0)
        painter.fillRect(r, m_color);
    if (!m_caption.isEmpty()) {
        painter.setPen(m_captionColor);
        painter.setFont(font());
        painter.drawText(r, Qt::AlignCenter, m_caption);
    }
}
