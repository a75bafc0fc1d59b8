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

SampleGeometry sampleGeometry(const QString &frameSizeText, const QString &frameWidthText, int clockPoints)
{
    SampleGeometry g;
    const int width = parseIntegerOr(frameWidthText, 10);
    g.clockVisible = width > 5;
    g.frameEdge = parseIntegerOr(frameSizeText, 400);
    g.innerOffset = width + 3;
    g.innerEdge = g.frameEdge - 2 * g.innerOffset;
    // Midway between the mat's lower edge and the frame's, raised by half the font size
    // and 2; both halvings truncate toward zero.
    g.clockTop = (g.frameEdge + g.innerOffset + g.innerEdge) / 2 - clockPoints / 2 - 2;
    return g;
}
