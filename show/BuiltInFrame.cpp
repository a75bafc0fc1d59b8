#include "show/BuiltInFrame.h"

#include <QImageReader>
#include <QList>
#include <QResource>

#include <cstring>

// The picture is compiled into this static library; its resources are registered before
// the first use. (Outside the namespace: the macro declares a function of the library.)
static void initShowResources()
{
    Q_INIT_RESOURCE(show);
}

namespace {

constexpr auto kPath = ":/pantel/GoldBar.bmp";

// The golden bar is an uncompressed bottom-up BMP with a colour table of at most 256
// colours, one byte a pixel. Read here directly, it costs a few microseconds; Qt's image
// reader would first look through the image-format plugins, most of a millisecond on the
// way to the first frame. Anything else gives a null image.
QImage readPlainIndexedBmp(const QByteArray &bmp)
{
    const auto byte = [&bmp](qsizetype at) { return quint32(uchar(bmp.at(at))); };
    const auto u16 = [&byte](qsizetype at) { return byte(at) | byte(at + 1) << 8; };
    const auto u32 = [&u16](qsizetype at) { return u16(at) | u16(at + 2) << 16; };
    constexpr quint32 kHeaders = 14 + 40;
    if (bmp.size() < qsizetype(kHeaders) || !bmp.startsWith("BM") || u32(14) != 40 || u16(26) != 1 || u16(28) != 8
        || u32(30) != 0)
        return {};
    const quint32 width = u32(18);
    const quint32 height = u32(22); // a top-down picture's height is negative: far above 4096
    const quint32 colours = u32(46) == 0 ? 256 : u32(46);
    const quint32 pixels = u32(10);
    const quint32 stride = (width + 3) & ~3u;
    if (width == 0 || width > 4096 || height == 0 || height > 4096 || colours > 256 || pixels < kHeaders + 4 * colours
        || quint64(pixels) + quint64(stride) * height > quint64(bmp.size()))
        return {};
    QList<QRgb> table;
    table.reserve(colours);
    for (quint32 i = 0; i < colours; ++i) {
        const quint32 at = kHeaders + 4 * i;
        table.append(qRgb(int(byte(at + 2)), int(byte(at + 1)), int(byte(at))));
    }
    QImage image(int(width), int(height), QImage::Format_Indexed8);
    image.setColorTable(table);
    image.setDotsPerMeterX(int(u32(38)));
    image.setDotsPerMeterY(int(u32(42)));
    for (quint32 row = 0; row < height; ++row)
        std::memcpy(image.scanLine(int(height - 1 - row)), bmp.constData() + pixels + row * stride, width);
    return image;
}

} // namespace

QImage builtInFramePicture()
{
    initShowResources();
    QImage picture = readPlainIndexedBmp(QResource(QString::fromLatin1(kPath)).uncompressedData());
    if (!picture.isNull())
        return picture;
    // Read as BMP and nothing else: asked to guess, the reader would first load every
    // image-format plugin to ask whether it reads BMP (none does).
    QImageReader reader(QString::fromLatin1(kPath), QByteArrayLiteral("bmp"));
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}
