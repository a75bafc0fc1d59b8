#include "picture/HeifPrimary.h"

#include "picture/CodedSize.h"
#include "picture/TiffReader.h"

#include <QtEndian>

#include <QHash>
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

// One extent of an item's data, as 'iloc' gives it: in the file (construction method 0)
// or in 'idat' (method 1); a length of 0 runs to the end of either.
struct Extent
{
    int method = 0;
    quint64 offset = 0;
    quint64 length = 0;
};

// An item with more extents than this is no picture written by a camera or a phone.
constexpr int kMaxExtents = 64;

// Each item's extents as 'iloc' gives them, read once; empty when 'iloc' does not say in
// a form read here, names an item twice, or splits one into more than kMaxExtents.
std::optional<QHash<quint32, QList<Extent>>> itemExtents(const TiffReader &data, const Box &iloc)
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
    QHash<quint32, QList<Extent>> items;
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
        if (extents > kMaxExtents || !fits(extentSize * extents) || items.contains(item))
            return std::nullopt;
        QList<Extent> &list = items[item];
        for (quint16 e = 0; e < extents; ++e, at += extentSize)
            list.append({method, base + number(data, at + size_t(indexSize), offsetSize),
                         number(data, at + size_t(indexSize) + size_t(offsetSize), lengthSize)});
    }
    return items;
}

// An item's data read through its extents, from the file or from 'idat', as one run of
// bytes.
class ItemData
{
public:
    ItemData(int fd, quint64 fileSize, const TiffReader &meta, std::optional<Box> idat, QList<Extent> extents)
        : m_fd(fd), m_fileSize(fileSize), m_meta(meta), m_idat(idat), m_extents(std::move(extents))
    {
    }

    // Up to `count` bytes from `position`; fewer where the data ends.
    QByteArray read(quint64 position, qsizetype count) const
    {
        QByteArray bytes;
        quint64 start = 0;
        for (const Extent &extent : m_extents) {
            const quint64 length = lengthOf(extent);
            if (position < start + length && bytes.size() < count) {
                const quint64 within = position + quint64(bytes.size()) - start;
                const qsizetype wanted = qsizetype(std::min<quint64>(length - within, quint64(count - bytes.size())));
                const QByteArray piece = readPlace(extent, extent.offset + within, wanted);
                bytes += piece;
                if (piece.size() < wanted)
                    return bytes;
            }
            start += length;
        }
        return bytes;
    }

    quint64 size() const
    {
        quint64 total = 0;
        for (const Extent &extent : m_extents)
            total += lengthOf(extent);
        return total;
    }

private:
    quint64 lengthOf(const Extent &extent) const
    {
        const quint64 end = extent.method == 0 ? m_fileSize : m_idat ? m_idat->end - m_idat->begin : 0;
        if (extent.offset >= end)
            return 0;
        return extent.length == 0 ? end - extent.offset : std::min(extent.length, end - extent.offset);
    }
    QByteArray readPlace(const Extent &extent, quint64 offset, qsizetype count) const
    {
        if (extent.method == 1 && m_idat)
            return QByteArray(reinterpret_cast<const char *>(m_meta.data + m_idat->begin + offset), count);
        if (extent.method != 0 || offset > quint64(std::numeric_limits<off_t>::max()))
            return {};
        QByteArray bytes(count, Qt::Uninitialized);
        const ssize_t got = ::pread(m_fd, bytes.data(), size_t(count), off_t(offset));
        bytes.truncate(got > 0 ? qsizetype(got) : 0);
        return bytes;
    }

    int m_fd;
    quint64 m_fileSize;
    const TiffReader &m_meta;
    std::optional<Box> m_idat;
    QList<Extent> m_extents;
};

// The larger of two sizes by area.
QSize larger(QSize a, QSize b)
{
    return quint64(a.width()) * quint64(a.height()) >= quint64(b.width()) * quint64(b.height()) ? a : b;
}

// A parameter set longer than this is no sequence header a decoder accepts.
constexpr qsizetype kMaxParameterSetBytes = 4096;
// A file whose pictures are split into more units than this, all items together, is not
// one that a camera or a phone wrote (a phone's 48 MP photo has some 200 tiles of one or
// two units each).
constexpr int kMaxUnits = 65536;

// The sizes the parameter sets in an item's own data give: HEVC NAL units, each after its
// 32-bit length (the form libheif hands to libde265), or AV1 OBUs. Empty when one cannot
// be read or the file's units run past `unitsLeft`, which counts down.
std::optional<QSize> inBandSize(const ItemData &item, bool hevc, int &unitsLeft)
{
    QSize largest(0, 0);
    const quint64 size = item.size();
    quint64 at = 0;
    while (at < size) {
        if (--unitsLeft < 0)
            return std::nullopt;
        const QByteArray head = item.read(at, 10);
        quint64 headerLength = 0, length = 0;
        int type = -1;
        if (hevc) {
            if (head.size() < 6)
                break;
            headerLength = 4;
            length = qFromBigEndian<quint32>(head.constData());
            type = hevcNalType(head[4]);
        } else {
            const std::optional<ObuHeader> header = av1ObuHeader(head);
            if (!header)
                return std::nullopt;
            type = header->type;
            headerLength = quint64(header->length);
            length = header->payload.value_or(size - at - std::min(size - at, headerLength));
        }
        if (length > size - at - std::min(size - at, headerLength))
            break;
        if (type == (hevc ? kHevcSpsType : kAv1SequenceHeaderType)) {
            if (length > quint64(kMaxParameterSetBytes))
                return std::nullopt;
            const QByteArray unit = item.read(at + headerLength, qsizetype(length));
            const std::optional<QSize> coded = hevc ? hevcSpsSize(unit) : av1SequenceSize(unit);
            if (!coded)
                return std::nullopt;
            largest = larger(largest, *coded);
        }
        at += headerLength + length;
    }
    return largest;
}

// The sizes the parameter sets of a decoder configuration ('hvcC' or 'av1C') give.
std::optional<QSize> configuredSize(const TiffReader &data, const Box &config)
{
    QSize largest(0, 0);
    const auto bytes = [&](size_t at, size_t length) {
        return QByteArrayView(reinterpret_cast<const char *>(data.data + at), qsizetype(length));
    };
    if (config.type == "av1C") {
        // Four bytes of profile and level, then whole OBUs, each with its size.
        size_t at = config.begin + 4;
        while (at < config.end) {
            const std::optional<ObuHeader> header = av1ObuHeader(bytes(at, config.end - at));
            if (!header || !header->payload || *header->payload > config.end - at - size_t(header->length))
                return std::nullopt;
            const size_t next = at + size_t(header->length);
            const quint64 length = *header->payload;
            if (header->type == kAv1SequenceHeaderType) {
                const std::optional<QSize> coded = av1SequenceSize(bytes(next, size_t(length)));
                if (!coded)
                    return std::nullopt;
                largest = larger(largest, *coded);
            }
            at = next + size_t(length);
        }
        return largest;
    }
    // 'hvcC': 22 bytes of profile and format, then arrays of NAL units of one type.
    if (config.end - config.begin < 23)
        return std::nullopt;
    size_t at = config.begin + 23;
    for (int array = data.data[config.begin + 22]; array > 0; --array) {
        if (config.end - at < 3)
            return std::nullopt;
        int units = data.u16(at + 1);
        at += 3;
        for (; units > 0; --units) {
            if (config.end - at < 2 || config.end - at - 2 < data.u16(at))
                return std::nullopt;
            const size_t length = data.u16(at);
            if (const QByteArrayView nal = bytes(at + 2, length);
                nal.size() >= 2 && hevcNalType(nal[0]) == kHevcSpsType) {
                const std::optional<QSize> coded = hevcSpsSize(nal);
                if (!coded)
                    return std::nullopt;
                largest = larger(largest, *coded);
            }
            at += 2 + length;
        }
    }
    return largest;
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
    QList<Box> entries, properties;
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
        else if (box.type == "iprp")
            for (const Box &inner : boxesIn(data, box.begin, box.end))
                if (inner.type == "ipco")
                    properties += boxesIn(data, inner.begin, inner.end);
    }
    if (!primary)
        return {};
    HeifPrimary result;
    // Every picture a decoder may be given (the primary one, a grid's tiles, thumbnails)
    // is made at the size its stream's parameter sets give, in its configuration or its
    // own data, whatever the item claims.
    QSize largest(0, 0);
    const std::optional<QHash<quint32, QList<Extent>>> extents
        = iloc ? itemExtents(data, *iloc) : std::optional<QHash<quint32, QList<Extent>>>();
    bool sized = extents.has_value();
    struct stat info;
    const quint64 fileSize = ::fstat(fd, &info) == 0 ? quint64(info.st_size) : 0;
    int unitsLeft = kMaxUnits;
    for (const Box &property : properties) {
        if (property.type != "hvcC" && property.type != "av1C")
            continue;
        const std::optional<QSize> coded = configuredSize(data, property);
        sized = sized && coded;
        if (coded)
            largest = larger(largest, *coded);
    }
    for (const Box &entry : entries) {
        // Entries of version 2 and 3 name their type; older ones do not.
        if (entry.type != "infe" || !holds(entry, 4))
            continue;
        const int version = data.data[entry.begin];
        const size_t idSize = version == 2 ? 2 : 4;
        if ((version != 2 && version != 3) || !holds(entry, 4 + idSize + 2 + 4))
            continue;
        const quint32 id = idSize == 2 ? data.u16(entry.begin + 4) : data.u32(entry.begin + 4);
        const QByteArray type(reinterpret_cast<const char *>(data.data + entry.begin + 4 + idSize + 2), 4);
        if (id == *primary)
            result.type = type;
        if (sized && (type == "hvc1" || type == "av01")) {
            const std::optional<QSize> coded
                = inBandSize(ItemData(fd, fileSize, data, idat, extents->value(id)), type == "hvc1", unitsLeft);
            sized = sized && coded;
            if (coded)
                largest = larger(largest, *coded);
        }
    }
    if (sized && !largest.isEmpty())
        result.largestCoded = largest;
    if (result.type != "grid" || !extents)
        return result;
    // The grid's description: version, flags (bit 0: 32-bit sizes), rows - 1, columns - 1,
    // then the picture's width and height.
    const QByteArray grid = ItemData(fd, fileSize, data, idat, extents->value(*primary)).read(0, 12);
    if (grid.size() < 8)
        return result;
    const TiffReader description{reinterpret_cast<const unsigned char *>(grid.constData()), size_t(grid.size()), true};
    if (grid[1] & 1) {
        if (grid.size() < 12)
            return result;
        result.gridSize = QSize(int(std::min<quint32>(description.u32(4), INT_MAX)),
                                int(std::min<quint32>(description.u32(8), INT_MAX)));
    } else {
        result.gridSize = QSize(description.u16(4), description.u16(6));
    }
    return result;
}
