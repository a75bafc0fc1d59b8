// The picture loader on arbitrary file contents. The loader takes paths and decides the
// format by the extension, so each input is written to a file named *.jpg or *.bmp (the
// extension this target is built with) and loaded at full size, reduced, and into a
// small area.
#include "picture/PictureLoader.h"

#include "fuzz/FuzzFile.h"

namespace {

QString inputPath()
{
    return fuzzInputPath(QStringLiteral("picture") + QLatin1String(PANTEL_FUZZ_EXTENSION));
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
    touchEveryPixel(picture->pixels);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString path = inputPath();
    if (!writeFuzzInput(path, data, size))
        return 0;
    check(loadPicture(path));
    check(loadPicture(path, 0.3, QSize(64, 48)));
    check(loadPicture(path, 1.0, QSize(7, 300)));
    return 0;
}
