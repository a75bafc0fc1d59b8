#pragma once

// JPEGs with an EXIF block: the day a photo was taken, for the tests of the date on the
// frame, or another TIFF structure. Header only.
#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QString>

// `jpeg` with an EXIF block (APP1 right after SOI) holding the TIFF structure `tiff`.
inline QByteArray withExif(const QByteArray &jpeg, const QByteArray &tiff)
{
    const QByteArray block = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray app1("\xFF\xE1", 2);
    app1.append(char((block.size() + 2) >> 8)).append(char((block.size() + 2) & 0xFF)).append(block);
    return jpeg.left(2) + app1 + jpeg.mid(2);
}

// `jpeg` with an EXIF block whose DateTimeOriginal is `when` ("YYYY:MM:DD HH:MM:SS").
inline QByteArray withTakenDate(const QByteArray &jpeg, const QByteArray &when)
{
    QByteArray tiff("II*\0\x08\0\0\0", 8);
    const auto u16 = [&tiff](quint16 v) { tiff.append(char(v & 0xFF)).append(char(v >> 8)); };
    const auto u32 = [&](quint32 v) {
        u16(quint16(v & 0xFFFF));
        u16(quint16(v >> 16));
    };
    // The image directory points to the Exif directory at 26, whose date text is at 44.
    u16(1), u16(0x8769), u16(4), u32(1), u32(26), u32(0);
    u16(1), u16(0x9003), u16(2), u32(quint32(when.size() + 1)), u32(44), u32(0);
    tiff += when + QByteArray(1, '\0');
    return withExif(jpeg, tiff);
}

// Writes a 32 x 32 JPEG of `colour` whose DateTimeOriginal is `when`.
inline bool writeDatedJpeg(const QString &path, const QByteArray &when, QColor colour = Qt::red)
{
    QImage image(32, 32, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "JPEG"))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(withTakenDate(jpeg, when)) > 0;
}
