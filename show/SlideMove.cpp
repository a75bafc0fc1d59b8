#include "show/SlideMove.h"

int slideStep(int left, int slideWidth, int border)
{
    if (left >= border)
        return 0;
    const int half = (-slideWidth - border) / 2;
    int step;
    if (left < half)
        step = ((-slideWidth - left) / 2) - 1;
    else
        step = ((left - border) / 5) - 1;
    return -step;
}

MoveState moveStep(MoveState state, QSize frame, QSize window)
{
    state.left += state.right ? 1 : -1;
    state.top += state.down ? 1 : -1;
    if (state.left <= 0)
        state.right = !state.right;
    if (state.top <= 0)
        state.down = !state.down;
    if (state.left + frame.width() >= window.width())
        state.right = !state.right;
    if (state.top + frame.height() >= window.height())
        state.down = !state.down;
    return state;
}
