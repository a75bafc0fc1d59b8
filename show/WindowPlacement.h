#pragma once

#include <QRect>
#include <QSize>

#include <optional>

// Where the show window goes and at what scale it draws.
struct WindowPlacement
{
    bool preview = false;
    QRect geometry;     // in the window system's logical pixels
    double scale = 1.0; // of the full screen's sizes: 1 full screen, less in a preview
};

// The window on `screen` (the primary monitor's geometry, logical pixels), or in a preview
// parent of `parentSize` (device pixels, as the X server gives it) on a screen of device
// pixel ratio `ratio`. No parent size: there is no preview parent, or it does not exist.
WindowPlacement placeWindow(QRect screen, std::optional<QSize> parentSize, double ratio);
