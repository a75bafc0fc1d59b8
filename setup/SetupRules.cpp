#include "setup/SetupRules.h"

#include "settings/SettingsText.h"
#include "settings/SlotSettings.h"

bool folderTextAcceptable(const QString &folderText)
{
    if (trimControl(folderText).isEmpty())
        return true;
    return !folderText.endsWith(QLatin1Char('/'));
}

QString folderCheckMessage(const QString &folderText)
{
    return QStringLiteral("「") + folderText + QStringLiteral("」 Panteloの画像はフォルダーに入れてください。");
}

std::optional<int> sampleIndexFor(int count, int index)
{
    if (count <= 0)
        return std::nullopt;
    int i = index;
    if (count < i + 1)
        i = 0;
    if (i < 0)
        i = count - 1;
    return i;
}

SliderPositions sliderPositionsFor(const SlotSettings &slot)
{
    return {scalePosition(ScaleBlock::FrameSize, slot.frameSize), scalePosition(ScaleBlock::StayTime, slot.stayTime),
            scalePosition(ScaleBlock::SlideInterval, slot.slideInterval),
            scalePosition(ScaleBlock::MoveAmount, slot.moveAmount),
            scalePosition(ScaleBlock::FrameWidth, slot.frameWidth)};
}

SliderPositions resetSliderPositions()
{
    // A new slot's values all lie on their scales.
    return sliderPositionsFor(SlotSettings());
}
