#pragma once

#include <QByteArray>
#include <QSize>

#include <optional>

// What a HEIF file's 'meta' box says of its primary picture: its item type ('pitm' names
// the item, its 'infe' entry in 'iinf' gives the type): "hvc1" or "av01" for one coded
// picture, "grid" for tiles composed into one, and so on; empty when the file does not
// say in a form read here. For a grid, the size its own description gives (its data,
// found through 'iloc'), which libheif makes the picture at, whatever else the file
// claims; empty when it cannot be read. The largest picture any coded item of the file
// (the primary picture, a grid's tiles, thumbnails) is made at by its decoder, as the
// stream's own parameter sets give it (in the item's configuration or in its data);
// empty when one of them cannot be read.
struct HeifPrimary
{
    QByteArray type;
    std::optional<QSize> gridSize;
    std::optional<QSize> largestCoded;
};

// Reads the top-level box headers, the 'meta' box (at most kMaxMetaBytes), a grid's
// description and the coded items' parameter sets, by position, from the descriptor `fd`.
HeifPrimary readHeifPrimary(int fd);

constexpr qint64 kMaxMetaBytes = 4 * 1024 * 1024;
