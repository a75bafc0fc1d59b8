#include "picture/ExifDate.h"
#include "picture/TiffReader.h"

#include <cstdint>
#include <cstring>
#include <optional>

namespace {

constexpr std::uint16_t kExifDirectoryTag = 0x8769;
constexpr std::uint16_t kDateTimeOriginalTag = 0x9003;
constexpr std::uint16_t kDateTimeDigitizedTag = 0x9004;
constexpr std::uint16_t kAsciiType = 2;
constexpr std::uint16_t kLongType = 4;
constexpr std::uint16_t kDirectoryType = 13;
constexpr std::size_t kEntrySize = 12;
// "YYYY:MM:DD HH:MM:SS"
constexpr std::size_t kDateTimeLength = 19;

// The offset of the entry with `tag` in the directory at `directory`; none when the
// directory or the entries before it run out of the block.
std::optional<std::size_t> findEntry(const TiffReader &tiff, std::size_t directory, std::uint16_t tag)
{
    if (!tiff.has(directory, 2))
        return {};
    const std::size_t entries = tiff.u16(directory);
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t entry = directory + 2 + i * kEntrySize;
        if (!tiff.has(entry, kEntrySize))
            return {};
        if (tiff.u16(entry) == tag)
            return entry;
    }
    return {};
}

// Two digits as a number, or -1; a field of two blanks (EXIF's "unknown") gives 0.
int twoDigits(const unsigned char *text, bool blanksAllowed)
{
    if (blanksAllowed && text[0] == ' ' && text[1] == ' ')
        return 0;
    if (text[0] < '0' || text[0] > '9' || text[1] < '0' || text[1] > '9')
        return -1;
    return (text[0] - '0') * 10 + (text[1] - '0');
}

QDate dateOfEntry(const TiffReader &tiff, std::size_t directory, std::uint16_t tag)
{
    const std::optional<std::size_t> entry = findEntry(tiff, directory, tag);
    if (!entry || tiff.u16(*entry + 2) != kAsciiType)
        return {};
    const std::size_t count = tiff.u32(*entry + 4);
    if (count < kDateTimeLength)
        return {};
    // A text of more than four bytes lies where the entry's value field points.
    const std::size_t offset = tiff.u32(*entry + 8);
    if (!tiff.has(offset, count))
        return {};
    const unsigned char *text = tiff.data + offset;
    if (text[4] != ':' || text[7] != ':' || text[10] != ' ' || text[13] != ':' || text[16] != ':')
        return {};
    const int century = twoDigits(text, false);
    const int year = twoDigits(text + 2, false);
    const int month = twoDigits(text + 5, false);
    const int day = twoDigits(text + 8, false);
    if (century < 0 || year < 0 || month < 0 || day < 0)
        return {};
    const QDate date(century * 100 + year, month, day);
    // The time is not shown, but a time out of range says the whole text is not a date.
    const int hour = twoDigits(text + 11, true);
    const int minute = twoDigits(text + 14, true);
    const int second = twoDigits(text + 17, true);
    if (century * 100 + year < 1 || !date.isValid() || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0
        || second > 60)
        return {};
    return date;
}

} // namespace

QDate exifTakenDate(const unsigned char *data, std::size_t length)
{
    static const unsigned char kExif[6] = {'E', 'x', 'i', 'f', 0, 0};
    if (!data)
        return {};
    // Offsets inside the block count from the TIFF header, after "Exif\0\0" where a JPEG
    // has it.
    if (length >= sizeof kExif && std::memcmp(data, kExif, sizeof kExif) == 0) {
        data += sizeof kExif;
        length -= sizeof kExif;
    }
    if (length < 8)
        return {};
    TiffReader tiff{data, length, false};
    if (data[0] == 'M' && data[1] == 'M')
        tiff.bigEndian = true;
    else if (!(data[0] == 'I' && data[1] == 'I'))
        return {};
    if (tiff.u16(2) != 42)
        return {};
    const std::optional<std::size_t> pointer = findEntry(tiff, tiff.u32(4), kExifDirectoryTag);
    if (!pointer)
        return {};
    const std::uint16_t type = tiff.u16(*pointer + 2);
    if ((type != kLongType && type != kDirectoryType) || tiff.u32(*pointer + 4) != 1)
        return {};
    const std::size_t exifDirectory = tiff.u32(*pointer + 8);
    const QDate original = dateOfEntry(tiff, exifDirectory, kDateTimeOriginalTag);
    return original.isValid() ? original : dateOfEntry(tiff, exifDirectory, kDateTimeDigitizedTag);
}

QString takenDateText(QDate date)
{
    if (!date.isValid())
        return {};
    return QStringLiteral("%1年%2月%3日").arg(date.year()).arg(date.month()).arg(date.day());
}
