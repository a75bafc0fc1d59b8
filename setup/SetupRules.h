#pragma once

#include "settings/SlotSettings.h"

#include <QString>
#include <optional>

// The settings dialog's rules that need no window.

// The folder check before saving: a folder text that is empty after trimming (the slot
// is not in use) passes; otherwise its last character, not trimmed, must not be the
// path separator "/" (a root or a text ending in a separator names no picture folder).
bool folderTextAcceptable(const QString &folderText);

// The message for a refused folder text.
QString folderCheckMessage(const QString &folderText);

// The sample's picture index for a folder listing of `count` pictures asked for at
// `index`: past the end falls back to the first, below 0 goes to the last. Empty for an
// empty folder, which keeps the index the sample had.
std::optional<int> sampleIndexFor(int count, int index);

// The positions of the five sliders for one slot's values. Each value that is not on
// its slider's scale goes to that slider's reset position.
struct SliderPositions
{
    int gakuS = 0;  // frame size
    int stayT = 0;  // stay time
    int slideT = 0; // slide interval
    int moveQ = 0;  // move amount
    int gakuW = 0;  // frame width

    friend bool operator==(const SliderPositions &, const SliderPositions &) = default;
};

SliderPositions sliderPositionsFor(const SlotSettings &slot);
// The positions of a new slot's values, which the reset button sets.
SliderPositions resetSliderPositions();

// The sample frame laid out from the sample window's texts: the frame size (400 when the
// text is no integer) and the frame width (10 when it is no integer), at full scale.
struct SampleGeometry
{
    bool clockVisible = false; // the clock shows on frames wider than 5
    int frameEdge = 0;         // pnlBase, square
    int innerOffset = 0;       // pnlInner's left and top inside pnlBase
    int innerEdge = 0;         // pnlInner, square
    int clockTop = 0;          // lblTime's top inside pnlBase

    // The picture area inside pnlInner: 3 bevel, 1 border line and 8 border each side.
    int pictureEdge() const { return innerEdge - 2 * (3 + 1 + 8); }
};

// `clockPoints`: the clock font's size in points (9 for 12 pixels at 96 dpi).
SampleGeometry sampleGeometry(const QString &frameSizeText, const QString &frameWidthText, int clockPoints);
