// The settings texts: the integer parse, field splitting, both slot readers, the colour
// texts, and the round trips that must hold (a colour value through its text; a slot
// through JoinSlot and back when its texts hold no comma).
#include "settings/ColorText.h"
#include "settings/SettingsText.h"
#include "settings/SlotSettings.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

void require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

qint32 takeInt(const uint8_t *&data, size_t &size)
{
    quint32 value = 0;
    const size_t n = size < 4 ? size : 4;
    std::memcpy(&value, data, n);
    data += n;
    size -= n;
    return qint32(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));

    // The integer parse agrees with itself through its decimal text.
    if (const auto value = parseInteger(text))
        require(parseInteger(QString::number(*value)) == value);
    parseIntegerOr(text, 7);
    trimControl(text);
    upperAscii(text);

    for (int k = -1; k <= 10; ++k)
        Split(text, k);
    // Splitting never loses text: the fields joined again give the text back.
    {
        QStringList fields;
        const int count = int(text.count(QLatin1Char(','))) + 1;
        if (count <= 64) {
            for (int k = 1; k <= count; ++k)
                fields << Split(text, k);
            require(fields.join(QLatin1Char(',')) == text);
        }
    }
    const SlotSettings dialog = parseSlot(text, SlotReader::Dialog);
    const SlotSettings show = parseSlot(text, SlotReader::ShowWindow);
    require(!dialog.clockColor.isEmpty() && !show.clockColor.isEmpty());

    // A colour that parses comes back from its own text.
    if (const auto color = stringToColor(text)) {
        const QString name = colorToString(*color);
        require(stringToColor(name) == color);
        require(colorToString(*stringToColor(name)) == name);
    }
    clockColorOf(text);
    toQColor(ColorValue(takeInt(data, size)));

    // JoinSlot and parseSlot: five numbers and three texts without commas come back as
    // written, by both readers, when the colour text is more than blanks.
    if (size >= 20) {
        SlotSettings slot;
        slot.frameSize = takeInt(data, size);
        slot.stayTime = takeInt(data, size);
        slot.slideInterval = takeInt(data, size);
        slot.moveAmount = takeInt(data, size);
        slot.frameWidth = takeInt(data, size);
        const QString rest = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
        const QStringList parts = rest.split(QChar(0));
        slot.clockColor = parts.value(0);
        slot.folderPath = parts.value(1);
        slot.framePicture = parts.value(2);
        const QString joined = JoinSlot(slot);
        if (!slot.clockColor.contains(QLatin1Char(',')) && !slot.folderPath.contains(QLatin1Char(','))
            && !slot.framePicture.contains(QLatin1Char(',')) && !trimControl(slot.clockColor).isEmpty()) {
            for (SlotReader reader : {SlotReader::Dialog, SlotReader::ShowWindow}) {
                const SlotSettings back = parseSlot(joined, reader);
                require(back.frameSize == slot.frameSize && back.stayTime == slot.stayTime
                        && back.slideInterval == slot.slideInterval && back.moveAmount == slot.moveAmount
                        && back.frameWidth == slot.frameWidth);
                require(back.clockColor == slot.clockColor && back.folderPath == slot.folderPath
                        && back.framePicture == slot.framePicture);
                require(JoinSlot(back) == joined);
            }
        }
    }
    return 0;
}
