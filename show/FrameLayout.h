#pragma once

#include <QSize>

// The frame's geometry from a slot's settings and the preview scale (exactly 1.0 full
// screen). Every product with the scale is truncated toward zero.
struct FrameLayout
{
    int frameWidth = 0;       // width of the frame border
    int frameEdge = 0;        // pnlBase, square
    int frameBevel = 3;       // pnlBase's raised bevel, and the inset of the frame picture
    int matOffset = 0;        // pnlInner's left and top inside pnlBase
    int matEdge = 0;          // pnlInner, square
    int matBevel = 3;         // pnlInner's lowered bevel
    int pictureBorder = 8;    // pnlBack's border width: the panels' rest position
    int moveAmount = 0;       // one-pixel steps per move phase
    QSize errorSize{153, 17}; // pnlError

    // The clock shows on a frame border wider than 5.
    bool clockShown() const { return frameWidth > 5; }
    // pnlBack fills the mat inside its bevel.
    int pictureAreaEdge() const { return matEdge - 2 * matBevel; }
    // pnlA and pnlB fill pnlBack inside its border line and border width.
    int panelEdge() const { return pictureAreaEdge() - 2 - 2 * pictureBorder; }
    // The clock label's top inside pnlBase, for a clock font of `points` points: midway
    // between the mat's lower edge and the frame's, raised by half the font size and 3,
    // then moved down 1.
    int clockTop(int points) const { return (frameEdge + matOffset + matEdge) / 2 - points / 2 - 3 + 1; }
};

// The largest frame edge; a larger frame size counts as this, a negative one as 0, and
// the frame width lies between 0 and the frame size.
constexpr int kLargestFrameSize = 16384;

FrameLayout frameLayout(int frameSize, int frameWidth, int moveAmount, double scale);

// The clock's 12-pixel font in points at the primary screen's resolution (9 at 96 dpi):
// the size that clockTop reckons with.
int clockFontPoints();
