#pragma once

#include "settings/SettingsStore.h"
#include "settings/SlotSettings.h"
#include "show/FrameLayout.h"

#include <QString>
#include <array>

// The values the show window runs on, taken from the stored settings once at start: the
// slot it shows (after the folder rotation) and that slot's fields, made usable.
struct ShowConfig
{
    bool FolderRotation = false;
    int FolderIndex = 0;
    // Every slot's folder, for the rotation to skip the unused ones.
    std::array<QString, kSlotCount> FolderPaths;
    int FrameSize = 0;
    int StayTime = 0;
    int SlideInterval = 0;
    int MoveAmount = 0;
    int FrameWidth = 0;
    QString ClockColor;
    QString FramePicture;
    // The frame drawn at the window's scale; FrameWidth and MoveAmount above are its own.
    FrameLayout layout;
};

// What the settings mean to a window drawn at `scale` (exactly 1.0 full screen). With
// folder rotation the slot is the next used one after the stored StartNo.
ShowConfig showConfig(const StoredSettings &settings, double scale);

// The settings as the show window reads them: once, through a store that is closed right
// after.
struct ShowSettings
{
    StoredSettings stored;
    ShowConfig config;
};
ShowSettings readShowSettings(double scale);

// With folder rotation the slot this run shows is written back, so that the next run goes
// on from it. A failing write raises; the window has taken its values by then.
void writeBackRotation(const ShowConfig &config);
