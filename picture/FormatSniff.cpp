#include "picture/FormatSniff.h"

#include <QtEndian>

#include <array>

namespace {

bool startsWith(QByteArrayView head, QByteArrayView signature, qsizetype at = 0)
{
    return head.size() >= at + signature.size() && head.sliced(at, signature.size()) == signature;
}

// An ISO base media file (HEIF and AVIF are) starts with its "ftyp" box: a 32-bit size,
// "ftyp", the major brand, a minor version and the compatible brands. The file is ours
// when any of these brands is one that libheif decodes as a still picture.
bool isHeif(QByteArrayView head)
{
    if (!startsWith(head, "ftyp", 4) || head.size() < 16)
        return false;
    static constexpr std::array<const char *, 12> brands
        = {"heic", "heix", "heim", "heis", "hevc", "hevx", "hevm", "hevs", "mif1", "msf1", "avif", "avis"};
    const auto known = [](QByteArrayView brand) {
        for (const char *b : brands) {
            if (brand == QByteArrayView(b, 4))
                return true;
        }
        return false;
    };
    if (known(head.sliced(8, 4)))
        return true;
    const qsizetype boxSize = qFromBigEndian<quint32>(head.data());
    const qsizetype end = std::min<qsizetype>(boxSize, head.size());
    for (qsizetype at = 16; at + 4 <= end; at += 4) {
        if (known(head.sliced(at, 4)))
            return true;
    }
    return false;
}

} // namespace

PictureFormat sniffFormat(QByteArrayView head)
{
    if (startsWith(head, "\xff\xd8\xff"))
        return PictureFormat::Jpeg;
    if (startsWith(head, "BM"))
        return PictureFormat::Bmp;
    if (startsWith(head, QByteArrayView("\x89PNG\r\n\x1a\n", 8)))
        return PictureFormat::Png;
    if (startsWith(head, "GIF87a") || startsWith(head, "GIF89a"))
        return PictureFormat::Gif;
    if (startsWith(head, QByteArrayView("II*\0", 4)) || startsWith(head, QByteArrayView("MM\0*", 4)))
        return PictureFormat::Tiff;
    if (startsWith(head, "RIFF") && startsWith(head, "WEBP", 8))
        return PictureFormat::WebP;
    if (isHeif(head))
        return PictureFormat::Heif;
    return PictureFormat::Invalid;
}
