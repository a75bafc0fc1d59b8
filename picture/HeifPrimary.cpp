#include "picture/HeifPrimary.h"

#include "picture/TiffReader.h"

#include <QList>

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
        boxes.append({QByteArray(reinterpret_cast<const char *>(data.data + at + 4), 4), at + header,
                      at + size_t(size)});
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

} // namespace

QByteArray heifPrimaryItemType(int fd)
{
    const QByteArray meta = readMeta(fd);
    // 'meta' is a full box: a version and flags come before its boxes.
    if (meta.size() < 4)
        return {};
    const TiffReader data{reinterpret_cast<const unsigned char *>(meta.constData()), size_t(meta.size()), true};
    std::optional<quint32> primary;
    QList<Box> entries;
    const auto holds = [](const Box &box, size_t bytes) { return box.end - box.begin >= bytes; };
    for (const Box &box : boxesIn(data, 4, data.length)) {
        // Both are full boxes too; version 0 gives 16-bit numbers, later ones 32-bit.
        const bool wide = holds(box, 1) && data.data[box.begin] != 0;
        if (box.type == "pitm" && holds(box, wide ? 8 : 6)) {
            primary = wide ? data.u32(box.begin + 4) : data.u16(box.begin + 4);
        } else if (box.type == "iinf" && holds(box, wide ? 8 : 6)) {
            entries = boxesIn(data, box.begin + (wide ? 8 : 6), box.end);
        }
    }
    if (!primary)
        return {};
    for (const Box &entry : entries) {
        // Entries of version 2 and 3 name their type; older ones do not.
        if (entry.type != "infe" || !holds(entry, 4))
            continue;
        const int version = data.data[entry.begin];
        const size_t idSize = version == 2 ? 2 : 4;
        if ((version != 2 && version != 3) || !holds(entry, 4 + idSize + 2 + 4))
            continue;
        const quint32 id = idSize == 2 ? data.u16(entry.begin + 4) : data.u32(entry.begin + 4);
        if (id == *primary)
            return QByteArray(reinterpret_cast<const char *>(data.data + entry.begin + 4 + idSize + 2), 4);
    }
    return {};
}
