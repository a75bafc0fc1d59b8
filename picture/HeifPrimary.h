#pragma once

#include <QByteArray>
#include <QSize>

#include <optional>

// What a HEIF file's 'meta' box says of its primary picture: its item type ('pitm' names
// the item, its 'infe' entry in 'iinf' gives the type): "hvc1" or "av01" for one coded
// picture, "grid" for tiles composed into one, and so on; empty when the file does not
// say in a form read here. For a grid, the size its own description gives (its data,
// found through 'iloc'), which libheif makes the picture at, whatever else the file
// claims; empty when it cannot be read.
struct HeifPrimary
{
    QByteArray type;
    std::optional<QSize> gridSize;
};

// Reads the top-level box headers, the 'meta' box (at most kMaxMetaBytes) and a grid's
// description, by position, from the descriptor `fd`.
HeifPrimary readHeifPrimary(int fd);

constexpr qint64 kMaxMetaBytes = 4 * 1024 * 1024;
