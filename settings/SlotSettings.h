#pragma once

#include <QString>
#include <array>

// One folder slot's settings, packed into one text of eight comma-separated fields:
// FrameSize, StayTime, SlideInterval, MoveAmount, FrameWidth, ClockColor, FolderPath,
// FramePicture. No quoting: a comma inside a path ends that field on reading.

constexpr int kSlotCount = 6;

// The slider scale table: 60 entries turning slider positions into slot values.
// Blocks: 0 FrameSize (20 positions), 20 StayTime, 30 SlideInterval, 40 MoveAmount,
// 50 FrameWidth (10 positions each).
enum class ScaleBlock { FrameSize = 0, StayTime = 20, SlideInterval = 30, MoveAmount = 40, FrameWidth = 50 };

// The five numbers of a slot in their packed order, each with its slider's block and its
// default. A default is what a missing or non-numeric field reads as, what a slot that
// was never written holds, and, as it lies on its scale, where the reset button and an
// off-scale value put the slider.
struct SlotNumber
{
    ScaleBlock block;
    int defaultValue;
};
// clang-format off
inline constexpr std::array<SlotNumber, 5> kSlotNumbers{{
    {ScaleBlock::FrameSize,     450},
    {ScaleBlock::StayTime,      5000},
    {ScaleBlock::SlideInterval, 100},
    {ScaleBlock::MoveAmount,    20},
    {ScaleBlock::FrameWidth,    10},
}};
// clang-format on

constexpr int slotDefault(ScaleBlock block)
{
    for (const SlotNumber &n : kSlotNumbers) {
        if (n.block == block)
            return n.defaultValue;
    }
    return 0;
}

struct SlotSettings
{
    int frameSize = slotDefault(ScaleBlock::FrameSize);
    int stayTime = slotDefault(ScaleBlock::StayTime);
    int slideInterval = slotDefault(ScaleBlock::SlideInterval);
    int moveAmount = slotDefault(ScaleBlock::MoveAmount);
    int frameWidth = slotDefault(ScaleBlock::FrameWidth);
    QString clockColor = QStringLiteral("clBlack");
    QString folderPath;
    QString framePicture;

    // The number that the slider of `block` sets.
    int &number(ScaleBlock block);
    int number(ScaleBlock block) const;
};

// The two readers differ for ClockColor: the dialog puts "clBlack" in only for an empty
// field, the show window also for a field of blanks (and keeps other texts untrimmed).
enum class SlotReader { Dialog, ShowWindow };

// Field k (counted from 1) of a packed text; empty when the text has fewer fields.
QString Split(const QString &packed, int k);

SlotSettings parseSlot(const QString &packed, SlotReader reader);

// Fields 1 to 5 in decimal, then the colour, folder and frame-picture texts, as given.
QString JoinSlot(int frameSize, int stayTime, int slideInterval, int moveAmount, int frameWidth,
                 const QString &clockColor, const QString &folderPath, const QString &framePicture);
QString JoinSlot(const SlotSettings &slot);

// The packed text of a slot that was never written: the default numbers, and no clock
// colour, folder or frame picture.
QString defaultSlotText();

extern const std::array<int, 60> kSliderScale;
int scaleBlockSize(ScaleBlock block);
int scaleValue(ScaleBlock block, int position);
// The position of `value` in the block, or the block's reset position when it is not on
// the scale.
int scalePosition(ScaleBlock block, int value);
// The position of the block's default: FrameSize 7, StayTime 4, SlideInterval 6,
// MoveAmount 2, FrameWidth 2.
int resetPosition(ScaleBlock block);

// The folder rotation of the show window: the first used slot after `startNo`, wrapping
// from 5 to 0; a slot is used when its folder text (not trimmed) is not empty. With no
// used slot the full circle returns to `startNo`.
int RotateStartNo(int startNo, const std::array<QString, kSlotCount> &folderPaths);
