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
