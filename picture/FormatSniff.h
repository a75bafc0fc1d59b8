#pragma once

#include <QByteArrayView>

// The decoder a file needs, told by its first bytes, never by its name: a PNG named
// ".jpg" is a PNG. HEIF, HEIC and AVIF share one container and one decoder.
enum class PictureFormat { Invalid, Jpeg, Bmp, Png, Gif, Tiff, WebP, Heif };

// How many bytes of a file's start sniffFormat looks at, at most.
constexpr qsizetype kSniffBytes = 64;

// `head`: the file's first bytes (kSniffBytes or all of a shorter file).
PictureFormat sniffFormat(QByteArrayView head);
