#pragma once

#include <QByteArray>

// The item type of a HEIF file's primary picture, as its 'meta' box says ('pitm' names
// the item, its 'infe' entry in 'iinf' gives the type): "hvc1" or "av01" for one coded
// picture, "grid" for tiles composed into one, and so on. Empty when the file does not
// say in a form read here. Reads the top-level box headers and the 'meta' box only
// (at most kMaxMetaBytes), by position, from the descriptor `fd`.
QByteArray heifPrimaryItemType(int fd);

constexpr qint64 kMaxMetaBytes = 4 * 1024 * 1024;
