#include "settings/SlotSettings.h"

#include "settings/SettingsText.h"

#include <QStringList>

// clang-format off
const std::array<int, 60> kSliderScale{
    100, 150, 200, 250, 300, 350, 400, 450, 500, 550,
    600, 650, 700, 750, 800, 850, 900, 950, 1000, 1050,
    10, 1000, 2000, 3000, 5000, 7000, 10000, 20000, 30000, 50000,
    1, 2, 5, 10, 20, 50, 100, 200, 500, 1000,
    1, 10, 20, 30, 50, 70, 100, 200, 300, 500,
    3, 5, 10, 15, 20, 25, 30, 35, 40, 45,
};
// clang-format on

QString Split(const QString &packed, int k)
{
    // The appended comma makes the last piece count as a field.
    const QString work = packed + QLatin1Char(',');
    qsizetype start = 0;
    for (int i = 1;; ++i) {
        const qsizetype comma = work.indexOf(QLatin1Char(','), start);
        if (comma < 0)
            return QString();
        if (i == k)
            return work.mid(start, comma - start);
        start = comma + 1;
    }
}

SlotSettings parseSlot(const QString &packed, SlotReader reader)
{
    SlotSettings slot;
    slot.frameSize = parseIntegerOr(Split(packed, 1), 450);
    slot.stayTime = parseIntegerOr(Split(packed, 2), 5000);
    slot.slideInterval = parseIntegerOr(Split(packed, 3), 100);
    slot.moveAmount = parseIntegerOr(Split(packed, 4), 20);
    slot.frameWidth = parseIntegerOr(Split(packed, 5), 10);
    const QString color = Split(packed, 6);
    const bool empty = reader == SlotReader::Dialog ? color.isEmpty() : trimControl(color).isEmpty();
    slot.clockColor = empty ? QStringLiteral("clBlack") : color;
    slot.folderPath = Split(packed, 7);
    slot.framePicture = Split(packed, 8);
    return slot;
}

QString JoinSlot(int frameSize, int stayTime, int slideInterval, int moveAmount, int frameWidth,
                 const QString &clockColor, const QString &folderPath, const QString &framePicture)
{
    const QStringList fields{QString::number(frameSize),
                             QString::number(stayTime),
                             QString::number(slideInterval),
                             QString::number(moveAmount),
                             QString::number(frameWidth),
                             clockColor,
                             folderPath,
                             framePicture};
    return fields.join(QLatin1Char(','));
}

QString JoinSlot(const SlotSettings &slot)
{
    return JoinSlot(slot.frameSize, slot.stayTime, slot.slideInterval, slot.moveAmount, slot.frameWidth,
                    slot.clockColor, slot.folderPath, slot.framePicture);
}

int scaleBlockSize(ScaleBlock block)
{
    return block == ScaleBlock::FrameSize ? 20 : 10;
}

int scaleValue(ScaleBlock block, int position)
{
    const int clamped = qBound(0, position, scaleBlockSize(block) - 1);
    return kSliderScale[size_t(int(block) + clamped)];
}

int resetPosition(ScaleBlock block)
{
    switch (block) {
    case ScaleBlock::FrameSize:
        return 7;
    case ScaleBlock::StayTime:
        return 4;
    case ScaleBlock::SlideInterval:
        return 6;
    case ScaleBlock::MoveAmount:
    case ScaleBlock::FrameWidth:
        return 2;
    }
    return 0;
}

int scalePosition(ScaleBlock block, int value)
{
    for (int p = 0; p < scaleBlockSize(block); ++p) {
        if (kSliderScale[size_t(int(block) + p)] == value)
            return p;
    }
    return resetPosition(block);
}

int RotateStartNo(int startNo, const std::array<QString, kSlotCount> &folderPaths)
{
    int slot = (startNo >= 0 && startNo < kSlotCount) ? startNo : 0;
    for (int n = kSlotCount; n > 0; --n) {
        slot = slot == kSlotCount - 1 ? 0 : slot + 1;
        if (!folderPaths[size_t(slot)].isEmpty())
            break;
    }
    return slot;
}
