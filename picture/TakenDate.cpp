#include "picture/TakenDate.h"

#include "picture/ExifDate.h"
#include "picture/PictureLoader.h"
#include "picture/RegularFile.h"

#include <QFile>
#include <QtEndian>

#include <unistd.h>

namespace {

// No EXIF block of a real photo comes near this; a larger claim is not read.
constexpr quint32 kMaxExifBytes = 1024 * 1024;
// A file with more chunks than this before its EXIF is not searched further. A PNG's
// pixels come in chunks of a few kilobytes each, which are skipped, not read.
constexpr int kMaxChunks = 65536;

// The file opened for reading if it is a regular file (openRegularFile).
bool openRegular(QFile &file, const QString &path)
{
    const int fd = openRegularFile(path);
    if (fd >= 0 && !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        ::close(fd);
    return file.isOpen();
}

QDate dateOfBlock(const QByteArray &block)
{
    return exifTakenDate(reinterpret_cast<const unsigned char *>(block.constData()), size_t(block.size()));
}

// PNG: length (big-endian), type, data, CRC; the eXIf chunk may stand before or after
// the pixels.
QDate pngTakenDate(QFile &file)
{
    qint64 at = 8;
    for (int i = 0; i < kMaxChunks && file.seek(at); ++i) {
        const QByteArray head = file.read(8);
        if (head.size() != 8)
            break;
        const quint32 length = qFromBigEndian<quint32>(head.constData());
        const QByteArray type = head.mid(4);
        if (type == "IEND")
            break;
        if (type == "eXIf")
            return length <= kMaxExifBytes ? dateOfBlock(file.read(length)) : QDate();
        at += 12 + qint64(length);
    }
    return QDate();
}

// WebP: "RIFF", size, "WEBP", then chunks of type, size (little-endian) and data padded
// to an even length; the EXIF chunk usually follows the pixels, which are skipped.
QDate webpTakenDate(QFile &file)
{
    qint64 at = 12;
    for (int i = 0; i < kMaxChunks && file.seek(at); ++i) {
        const QByteArray head = file.read(8);
        if (head.size() != 8)
            break;
        const quint32 length = qFromLittleEndian<quint32>(head.constData() + 4);
        if (head.startsWith("EXIF"))
            return length <= kMaxExifBytes ? dateOfBlock(file.read(length)) : QDate();
        at += 8 + qint64(length) + (length & 1);
    }
    return QDate();
}

} // namespace

QDate takenDateOf(const QString &path, PictureFormat format)
{
    if (format == PictureFormat::Jpeg)
        return jpegTakenDate(path);
    if (format != PictureFormat::Png && format != PictureFormat::WebP)
        return QDate();
    QFile file;
    if (!openRegular(file, path))
        return QDate();
    if (format == PictureFormat::Png)
        return pngTakenDate(file);
    return webpTakenDate(file);
}
