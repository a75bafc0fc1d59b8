// The format paths beyond BMP and JPEG (PNG, GIF and TIFF through Qt's readers, WebP
// through libwebp, HEIF and AVIF through libheif) on arbitrary file contents. The
// content picks the decoder, so one program serves every format; each target is started
// with its own format's seeds. Each input is decoded fitted into two areas and at its
// own size.
#include "picture/Decode.h"

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
    return QStringLiteral("%1/pantel-fuzz-formats-%2").arg(dir).arg(::getpid());
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
    // Touch every pixel so that a short buffer shows.
    quint32 sum = 0;
    for (int y = 0; y < picture->height(); ++y) {
        const auto *line = reinterpret_cast<const quint32 *>(picture->constScanLine(y));
        for (int x = 0; x < picture->width(); ++x)
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
    for (const QSize area : {QSize(64, 48), QSize(7, 300), QSize()})
        check(decodeFile(path, DecodeRequest{area, {}}), area);
    return 0;
}
