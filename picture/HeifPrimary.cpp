#include "picture/HeifPrimary.h"

#include "picture/TiffReader.h"

#include <QList>

#include <algorithm>
#include <climits>
#include <limits>
#include <optional>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// One ISO base media box within a buffer: its type and its contents.
struct Box
{
    QByteArray type;
    size_t begin = 0; // the contents' offset in the buffer
    size_t end = 0;
};

// The boxes that follow one another in [begin, end) of `data`; stops at the first that
// does not fit.
QList<Box> boxesIn(const TiffReader &data, size_t begin, size_t end)
{
    QList<Box> boxes;
    size_t at = begin;
    while (at < end && end - at >= 8 && boxes.size() < 4096) {
        quint64 size = data.u32(at);
        size_t header = 8;
        if (size == 1) {
            if (end - at < 16)
                break;
            size = quint64(data.u32(at + 8)) << 32 | data.u32(at + 12);
            header = 16;
        } else if (size == 0) {
            size = end - at;
        }
        if (size < header || size > end - at)
            break;
        boxes.append(
            {QByteArray(reinterpret_cast<const char *>(data.data + at + 4), 4), at + header, at + size_t(size)});
        at += size_t(size);
    }
    return boxes;
}

// The 'meta' box's contents, read from the file; empty when there is none in the first
// boxes of the file or it is larger than kMaxMetaBytes.
QByteArray readMeta(int fd)
{
    struct stat info;
    if (::fstat(fd, &info) != 0)
        return {};
    const qint64 fileSize = info.st_size;
    qint64 at = 0;
    for (int count = 0; count < 64 && fileSize - at >= 8; ++count) {
        unsigned char head[16];
        const ssize_t got = ::pread(fd, head, sizeof head, off_t(at));
        if (got < 8)
            return {};
        const TiffReader reader{head, size_t(got), true};
        quint64 size = reader.u32(0);
        qint64 header = 8;
        if (size == 1) {
            if (got < 16)
                return {};
            size = quint64(reader.u32(8)) << 32 | reader.u32(12);
            header = 16;
        } else if (size == 0) {
            size = quint64(fileSize - at);
        }
        if (size < quint64(header) || size > quint64(fileSize - at))
            return {};
        if (QByteArray::fromRawData(reinterpret_cast<const char *>(head + 4), 4) == "meta") {
            const qint64 length = qint64(size) - header;
            if (length > kMaxMetaBytes)
                return {};
            QByteArray meta(length, Qt::Uninitialized);
            if (::pread(fd, meta.data(), size_t(length), off_t(at + header)) != ssize_t(length))
                return {};
            return meta;
        }
        at += qint64(size);
    }
    return {};
}

// An unsigned number of `bytes` (0, 4 or 8) at `at`, big-endian.
quint64 number(const TiffReader &data, size_t at, int bytes)
{
    return bytes == 4 ? data.u32(at) : bytes == 8 ? quint64(data.u32(at)) << 32 | data.u32(at + 4) : 0;
}

// Where the data of item `id` starts, as 'iloc' gives its first extent: the position in
// the file (construction method 0) or in 'idat' (method 1).
struct ItemPlace
{
    int method = 0;
    quint64 offset = 0;
};

std::optional<ItemPlace> placeOf(const TiffReader &data, const Box &iloc, quint32 id)
{
    size_t at = iloc.begin;
    const auto fits = [&](size_t bytes) { return at <= iloc.end && iloc.end - at >= bytes; };
    if (!fits(8))
        return std::nullopt;
    const int version = data.data[at];
    const int offsetSize = data.data[at + 4] >> 4, lengthSize = data.data[at + 4] & 15;
    const int baseSize = data.data[at + 5] >> 4, indexSize = version >= 1 ? data.data[at + 5] & 15 : 0;
    const bool wide = version >= 2;
    at += 6;
    const quint32 count = wide ? (fits(4) ? data.u32(at) : 0) : data.u16(at);
    at += wide ? 4 : 2;
    for (quint32 i = 0; i < count; ++i) {
        const size_t fixed = (wide ? 4 : 2) + (version >= 1 ? 2 : 0) + 2 + size_t(baseSize) + 2;
        if (!fits(fixed))
            return std::nullopt;
        const quint32 item = wide ? data.u32(at) : data.u16(at);
        at += wide ? 4 : 2;
        const int method = version >= 1 ? data.u16(at) & 15 : 0;
        at += (version >= 1 ? 2 : 0) + 2;
        const quint64 base = number(data, at, baseSize);
        at += size_t(baseSize);
        const quint16 extents = data.u16(at);
        at += 2;
        const size_t extentSize = size_t(indexSize) + size_t(offsetSize) + size_t(lengthSize);
        if (!fits(extentSize * extents))
            return std::nullopt;
        if (item == id) {
            if (extents == 0)
                return std::nullopt;
            return ItemPlace{method, base + number(data, at + size_t(indexSize), offsetSize)};
        }
        at += extentSize * extents;
    }
    return std::nullopt;
}

} // namespace

HeifPrimary readHeifPrimary(int fd)
{
    const QByteArray meta = readMeta(fd);
    // 'meta' is a full box: a version and flags come before its boxes.
    if (meta.size() < 4)
        return {};
    const TiffReader data{reinterpret_cast<const unsigned char *>(meta.constData()), size_t(meta.size()), true};
    std::optional<quint32> primary;
    QList<Box> entries;
    std::optional<Box> iloc, idat;
    const auto holds = [](const Box &box, size_t bytes) { return box.end - box.begin >= bytes; };
    for (const Box &box : boxesIn(data, 4, data.length)) {
        // Both are full boxes too; version 0 gives 16-bit numbers, later ones 32-bit.
        const bool wide = holds(box, 1) && data.data[box.begin] != 0;
        if (box.type == "pitm" && holds(box, wide ? 8 : 6))
            primary = wide ? data.u32(box.begin + 4) : data.u16(box.begin + 4);
        else if (box.type == "iinf" && holds(box, wide ? 8 : 6))
            entries = boxesIn(data, box.begin + (wide ? 8 : 6), box.end);
        else if (box.type == "iloc")
            iloc = box;
        else if (box.type == "idat")
            idat = box;
    }
    if (!primary)
        return {};
    HeifPrimary result;
    for (const Box &entry : entries) {
        // Entries of version 2 and 3 name their type; older ones do not.
        if (entry.type != "infe" || !holds(entry, 4))
            continue;
        const int version = data.data[entry.begin];
        const size_t idSize = version == 2 ? 2 : 4;
        if ((version != 2 && version != 3) || !holds(entry, 4 + idSize + 2 + 4))
            continue;
        const quint32 id = idSize == 2 ? data.u16(entry.begin + 4) : data.u32(entry.begin + 4);
        if (id == *primary) {
            result.type = QByteArray(reinterpret_cast<const char *>(data.data + entry.begin + 4 + idSize + 2), 4);
            break;
        }
    }
    if (result.type != "grid" || !iloc)
        return result;
    // The grid's description: version, flags (bit 0: 32-bit sizes), rows - 1, columns - 1,
    // then the picture's width and height.
    const std::optional<ItemPlace> place = placeOf(data, *iloc, *primary);
    unsigned char grid[12] = {};
    if (!place)
        return result;
    if (place->method == 0) {
        if (place->offset > quint64(std::numeric_limits<off_t>::max())
            || ::pread(fd, grid, sizeof grid, off_t(place->offset)) < 8)
            return result;
    } else if (place->method == 1 && idat && place->offset <= idat->end - idat->begin) {
        const size_t available = std::min<size_t>(sizeof grid, idat->end - idat->begin - size_t(place->offset));
        std::copy_n(data.data + idat->begin + place->offset, available, grid);
        if (available < 8)
            return result;
    } else {
        return result;
    }
    const TiffReader description{grid, sizeof grid, true};
    if (grid[1] & 1)
        result.gridSize = QSize(int(std::min<quint32>(description.u32(4), INT_MAX)),
                                int(std::min<quint32>(description.u32(8), INT_MAX)));
    else
        result.gridSize = QSize(description.u16(4), description.u16(6));
    return result;
}
