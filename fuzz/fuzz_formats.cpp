// The format paths beyond BMP and JPEG (PNG, GIF and TIFF through Qt's readers, WebP
// through libwebp, HEIF and AVIF through libheif) on arbitrary file contents. The
// content picks the decoder, so one program serves every format; each target is started
// with its own format's seeds. Each input is decoded fitted into two areas and at its
// own size.
#include "picture/Decode.h"

#include "fuzz/FuzzFile.h"

namespace {

QString inputPath()
{
    return fuzzInputPath(QStringLiteral("formats"));
}

void check(const std::optional<QImage> &picture, QSize area)
{
    if (!picture)
        return;
    // What decodeFile promises of a result.
    if (picture->format() != QImage::Format_RGB32 || picture->isNull())
        __builtin_trap();
    if (!area.isEmpty() && (picture->width() > area.width() || picture->height() > area.height()))
        __builtin_trap();
    touchEveryPixel(*picture);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString path = inputPath();
    if (!writeFuzzInput(path, data, size))
        return 0;
    for (const QSize area : {QSize(64, 48), QSize(7, 300), QSize()})
        check(decodeFile(path, DecodeRequest{area, {}}), area);
    return 0;
}
