#pragma once

// The arithmetic of the show window's animation, without any window: the timers call it
// and the tests call it directly. All divisions truncate toward zero.

#include <QSize>
#include <QtGlobal>

// One slide tick. The incoming panel's left edge is `left` (client coordinates of the
// picture area), `slideWidth` the panels' width and `border` the picture area's border
// width, which is also the panels' rest position. Returns how many pixels both panels
// move to the right; 0 when the incoming panel has arrived and the slide ends. The
// first half speeds up (the distance covered, halved, plus one), the second half slows
// down (a fifth of the distance still to go, plus one), so the panel stops exactly at
// `border`.
int slideStep(int left, int slideWidth, int border);

// The frame's position and direction while it drifts.
struct MoveState
{
    int left = 0;
    int top = 0;
    bool right = true;
    bool down = true;
    bool operator==(const MoveState &) const = default;
};

// One move tick: one pixel on each axis, then the four edge tests in order (left edge,
// top edge, right edge, bottom edge), each toggling its flag on its own. A frame at
// least as large as the window meets the far-edge test at every step and so steps back
// and forth by one pixel; at 0 or beyond it meets both tests of the axis at once, keeps
// its direction and drifts out of the window.
MoveState moveStep(MoveState state, QSize frame, QSize window);

// The frame's start position on one axis: 10 plus a random number below the free room
// minus 20 (`random(n)` gives 0 to n - 1, and 0 for n = 0).
template <typename Random> int randomFramePosition(int window, int frame, Random &&random)
{
    const int room = qMax(0, window - frame - 20);
    return (room > 0 ? int(random(room)) : 0) + 10;
}

// A rest or slide interval of 0 or less would never fire and stop the show for ever;
// such values run as the shortest ones the settings dialog offers.
constexpr int ShortestStayTime = 10;
constexpr int ShortestSlideInterval = 1;
constexpr int usableStayTime(int stayTime)
{
    return stayTime > 0 ? stayTime : ShortestStayTime;
}
constexpr int usableSlideInterval(int interval)
{
    return interval > 0 ? interval : ShortestSlideInterval;
}
