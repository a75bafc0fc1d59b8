#pragma once

#include <QColor>
#include <QRect>
#include <QString>
#include <QWidget>

// A panel in the classic style: an outer and an inner 3-D bevel of one width, a border
// of the panel's colour between them, and optionally a single 1-pixel black border line
// around everything. The client area is the rectangle inside line, bevels and border
// width; children that fill it sit exactly there. The border line lies outside the
// client coordinates the way a window border does: a child at client position (x, y)
// sits at (x + 1, y + 1) of a panel with a line, which clientToWidget() gives.
class Panel : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(Bevel bevelOuter READ bevelOuter WRITE setBevelOuter)
    Q_PROPERTY(Bevel bevelInner READ bevelInner WRITE setBevelInner)
    Q_PROPERTY(int bevelWidth READ bevelWidth WRITE setBevelWidth)
    Q_PROPERTY(int borderWidth READ borderWidth WRITE setBorderWidth)
    Q_PROPERTY(bool borderLine READ borderLine WRITE setBorderLine)
    Q_PROPERTY(QColor color READ color WRITE setColor)
    Q_PROPERTY(QString caption READ caption WRITE setCaption)
    Q_PROPERTY(QColor captionColor READ captionColor WRITE setCaptionColor)

public:
    enum Bevel { None, Lowered, Raised };
    Q_ENUM(Bevel)

    // The classic standard scheme, the same on every desktop.
    static constexpr QRgb ButtonFace = 0xFFC0C0C0;
    static constexpr QRgb ButtonHighlight = 0xFFFFFFFF;
    static constexpr QRgb ButtonShadow = 0xFF808080;
    static constexpr QRgb WindowFrame = 0xFF000000;

    explicit Panel(QWidget *parent = nullptr);

    Bevel bevelOuter() const { return m_bevelOuter; }
    void setBevelOuter(Bevel bevel);
    Bevel bevelInner() const { return m_bevelInner; }
    void setBevelInner(Bevel bevel);
    int bevelWidth() const { return m_bevelWidth; }
    void setBevelWidth(int width);
    int borderWidth() const { return m_borderWidth; }
    void setBorderWidth(int width);
    bool borderLine() const { return m_borderLine; }
    void setBorderLine(bool line);
    QColor color() const { return m_color; }
    void setColor(const QColor &color);
    QString caption() const { return m_caption; }
    void setCaption(const QString &caption);
    QColor captionColor() const { return m_captionColor; }
    void setCaptionColor(const QColor &color);

    // Width of the border line: 1 with a line, else 0.
    int lineWidth() const { return m_borderLine ? 1 : 0; }
    // The client area (inside line, bevels and border width) in widget coordinates.
    QRect clientRect() const;
    // Client coordinates to widget coordinates.
    QPoint clientToWidget(QPoint client) const { return client + QPoint(lineWidth(), lineWidth()); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void paint(QPainter &painter) const;

    Bevel m_bevelOuter = Raised;
    Bevel m_bevelInner = None;
    int m_bevelWidth = 1;
    int m_borderWidth = 0;
    bool m_borderLine = false;
    QColor m_color = QColor::fromRgb(ButtonFace);
    QString m_caption;
    QColor m_captionColor = Qt::black;
};
