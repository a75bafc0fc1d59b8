// The picture loader on arbitrary file contents. The loader takes paths and decides the
// format by the extension, so each input is written to a file named *.jpg or *.bmp (the
// extension this target is built with) and loaded at full size, reduced, and into a
// small area.
#include "picture/PictureLoader.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <unistd.h>

namespace {

QString inputPath()
{
    // tmpfs when there is one: the file is rewritten for every input.
    const QString dir = QFile::exists(QStringLiteral("/dev/shm")) ? QStringLiteral("/dev/shm") : QStringLiteral("/tmp");
    return QStringLiteral("%1/pantel-fuzz-%2%3").arg(dir).arg(::getpid()).arg(QLatin1String(PANTEL_FUZZ_EXTENSION));
}

void check(const std::optional<Picture> &picture)
{
    if (!picture || picture->pixels.isNull())
        return;
    // What the loader promises of a result.
    if (picture->pixels.format() != QImage::Format_RGB32)
        __builtin_trap();
    const QRect whole(QPoint(0, 0), picture->size);
    if (!whole.contains(QRect(picture->origin, picture->pixels.size())))
        __builtin_trap();
    // Touch every pixel so that a short buffer shows.
    quint32 sum = 0;
    for (int y = 0; y < picture->pixels.height(); ++y) {
        const auto *line = reinterpret_cast<const quint32 *>(picture->pixels.constScanLine(y));
        for (int x = 0; x < picture->pixels.width(); ++x)
            sum += line[x];
    }
    // Keeps the loop from being optimised away.
    asm volatile("" : : "r"(sum));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString path = inputPath();
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    check(loadPicture(path));
    check(loadPicture(path, 0.3, QSize(64, 48)));
    check(loadPicture(path, 1.0, QSize(7, 300)));
    return 0;
}
