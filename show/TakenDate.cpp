#include "show/TakenDate.h"

#include "library/ExifDate.h"

#include <QByteArray>
#include <QFile>

namespace {

// The segments before the picture data hold the EXIF block; an APP1 segment is at most
// 64 KB, and a camera writes it first or right after a short JFIF segment.
constexpr qint64 kHeadBytes = 128 * 1024;

} // namespace

QString jpegTakenDateText(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray head = file.read(kHeadBytes);
    const auto byte = [&head](qsizetype at) { return uchar(head.at(at)); };
    if (head.size() < 4 || byte(0) != 0xFF || byte(1) != 0xD8)
        return {};
    qsizetype at = 2;
    while (at + 4 <= head.size() && byte(at) == 0xFF) {
        const uchar marker = byte(at + 1);
        if (marker == 0xFF) { // a fill byte
            ++at;
            continue;
        }
        // Start of scan or end of image: no EXIF block before the picture data.
        if (marker == 0xDA || marker == 0xD9)
            break;
        const qsizetype length = (qsizetype(byte(at + 2)) << 8) | byte(at + 3);
        if (length < 2)
            break;
        const qsizetype data = at + 4;
        const qsizetype size = std::min(length - 2, head.size() - data);
        if (marker == 0xE1 && size >= 6 && head.mid(data, 6) == QByteArray("Exif\0\0", 6))
            return takenDateText(exifTakenDate(reinterpret_cast<const uchar *>(head.constData()) + data, size_t(size)));
        at += 2 + length;
    }
    return {};
}
