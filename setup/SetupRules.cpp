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

SliderPositions sliderPositionsFor(int frameSize, int stayTime, int slideInterval, int moveAmount, int frameWidth)
{
    return {scalePosition(ScaleBlock::FrameSize, frameSize), scalePosition(ScaleBlock::StayTime, stayTime),
            scalePosition(ScaleBlock::SlideInterval, slideInterval), scalePosition(ScaleBlock::MoveAmount, moveAmount),
            scalePosition(ScaleBlock::FrameWidth, frameWidth)};
}

SliderPositions resetSliderPositions()
{
    return {resetPosition(ScaleBlock::FrameSize), resetPosition(ScaleBlock::StayTime),
            resetPosition(ScaleBlock::SlideInterval), resetPosition(ScaleBlock::MoveAmount),
            resetPosition(ScaleBlock::FrameWidth)};
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
