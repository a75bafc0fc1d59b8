#include "settings/SlotSettings.h"

#include "settings/SettingsText.h"

#include <QStringList>
#include <optional>

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

namespace {

template <typename Slot> auto &numberOf(Slot &slot, ScaleBlock block)
{
    switch (block) {
    case ScaleBlock::FrameSize:
        return slot.frameSize;
    case ScaleBlock::StayTime:
        return slot.stayTime;
    case ScaleBlock::SlideInterval:
        return slot.slideInterval;
    case ScaleBlock::MoveAmount:
        return slot.moveAmount;
    case ScaleBlock::FrameWidth:
        break;
    }
    return slot.frameWidth;
}

} // namespace

int &SlotSettings::number(ScaleBlock block)
{
    return numberOf(*this, block);
}

int SlotSettings::number(ScaleBlock block) const
{
    return numberOf(*this, block);
}

SlotSettings parseSlot(const QString &packed, SlotReader reader)
{
    SlotSettings slot;
    int field = 1;
    for (const SlotNumber &n : kSlotNumbers)
        slot.number(n.block) = parseIntegerOr(Split(packed, field++), n.defaultValue);
    const QString color = Split(packed, field++);
    const bool empty = reader == SlotReader::Dialog ? color.isEmpty() : trimControl(color).isEmpty();
    if (!empty)
        slot.clockColor = color;
    slot.folderPath = Split(packed, field++);
    slot.framePicture = Split(packed, field);
    return slot;
}

QString JoinSlot(int frameSize, int stayTime, int slideInterval, int moveAmount, int frameWidth,
                 const QString &clockColor, const QString &folderPath, const QString &framePicture)
{
    return JoinSlot(
        SlotSettings{frameSize, stayTime, slideInterval, moveAmount, frameWidth, clockColor, folderPath, framePicture});
}

QString JoinSlot(const SlotSettings &slot)
{
    QStringList fields;
    for (const SlotNumber &n : kSlotNumbers)
        fields << QString::number(slot.number(n.block));
    fields << slot.clockColor << slot.folderPath << slot.framePicture;
    return fields.join(QLatin1Char(','));
}

QString defaultSlotText()
{
    SlotSettings slot;
    slot.clockColor.clear();
    return JoinSlot(slot);
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

namespace {

std::optional<int> positionOnScale(ScaleBlock block, int value)
{
    for (int p = 0; p < scaleBlockSize(block); ++p) {
        if (kSliderScale[size_t(int(block) + p)] == value)
            return p;
    }
    return std::nullopt;
}

} // namespace

int resetPosition(ScaleBlock block)
{
    return positionOnScale(block, slotDefault(block)).value_or(0);
}

int scalePosition(ScaleBlock block, int value)
{
    return positionOnScale(block, value).value_or(resetPosition(block));
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
