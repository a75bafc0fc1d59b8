#include "show/ShowConfig.h"

#include "show/SlideMove.h"

ShowConfig showConfig(const StoredSettings &settings, double scale)
{
    ShowConfig config;
    config.FolderRotation = settings.orderF;
    config.FolderIndex = settings.slotIndex();
    config.FolderPaths = settings.folderPaths();
    if (config.FolderRotation)
        config.FolderIndex = RotateStartNo(config.FolderIndex, config.FolderPaths);

    // Intervals that would never fire run as the shortest.
    const SlotSettings slot = parseSlot(settings.folders[size_t(config.FolderIndex)], SlotReader::ShowWindow);
    config.FrameSize = slot.frameSize;
    config.StayTime = usableStayTime(slot.stayTime);
    config.SlideInterval = usableSlideInterval(slot.slideInterval);
    config.ClockColor = slot.clockColor;
    config.FramePicture = slot.framePicture;

    // The preview draws the frame scaled down, with a border and a move that never
    // vanish.
    config.layout = frameLayout(slot.frameSize, slot.frameWidth, slot.moveAmount, scale);
    config.FrameWidth = config.layout.frameWidth;
    config.MoveAmount = config.layout.moveAmount;
    return config;
}

ShowSettings readShowSettings(double scale)
{
    ShowSettings read;
    {
        const SettingsStore store;
        read.stored = readSettings(store);
    }
    read.config = showConfig(read.stored, scale);
    return read;
}

void writeBackRotation(const ShowConfig &config)
{
    if (!config.FolderRotation)
        return;
    SettingsStore store;
    store.WriteInteger(SettingNames::Section, SettingNames::StartNo, config.FolderIndex);
}
