#pragma once

// What the picture fuzz targets share: the file each input is written to (the decoders
// take paths), and a touch of every pixel of a result so that a short buffer shows.
#include <QFile>
#include <QImage>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <unistd.h>

// A file of this process's own, on tmpfs when there is one: it is rewritten for every input.
inline QString fuzzInputPath(const QString &name)
{
    const QString dir = QFile::exists(QStringLiteral("/dev/shm")) ? QStringLiteral("/dev/shm") : QStringLiteral("/tmp");
    return QStringLiteral("%1/pantel-fuzz-%2-%3").arg(dir, name).arg(::getpid());
}

inline bool writeFuzzInput(const QString &path, const uint8_t *data, size_t size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(reinterpret_cast<const char *>(data), qint64(size)) == qint64(size);
}

inline void touchEveryPixel(const QImage &pixels)
{
    quint32 sum = 0;
    for (int y = 0; y < pixels.height(); ++y) {
        const auto *line = reinterpret_cast<const quint32 *>(pixels.constScanLine(y));
        for (int x = 0; x < pixels.width(); ++x)
            sum += line[x];
    }
    // Keeps the loop from being optimised away.
    asm volatile("" : : "r"(sum));
}
