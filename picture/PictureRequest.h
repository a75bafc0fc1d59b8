#pragma once

#include "picture/Cancel.h"
#include "picture/PictureLoader.h"

#include <QSize>
#include <QString>

#include <optional>

// What a window asks of a picture file.
struct PictureRequest
{
    QString path;
    QSize area;              // device pixels of the picture area
    double scale = 1.0;      // the preview's scale; a fitted picture ignores it (its area is scaled already)
    bool fit = false;        // the whole picture fitted into `area`; off: its own size, centred and clipped
    bool allFormats = false; // the content picks the decoder; off: only ".bmp", ".jpg", ".jpeg" by name
    bool takenDate = false;  // the day the photo was taken read as well; off: left empty
};

struct DecodedPicture
{
    Picture picture;
    QString takenDate; // the day the photo was taken as the frame writes it, or empty
};

// One picture for a picture area. Off, `fit` and `allFormats` give exactly loadPicture's
// picture. `fit`: the whole picture, upright, shrunk to fit `area` with its aspect kept,
// never enlarged, by an area average; the picture's `size` is its pixels' and it is
// centred by the area like any other. `allFormats`: JPEG and BMP go through the loader
// above, PNG, GIF, TIFF, WebP and HEIF through decodeFile, whatever the names; at their
// own size the others are centred and clipped like a JPEG (and reduced by an area
// average when `scale` is not 1). The date, when asked for, comes from the file's EXIF
// (takenDateOf; a HEIF's from its decode). Invalid as the decoders say, or once `cancelled` says so.
std::optional<DecodedPicture> decodePicture(const PictureRequest &request, const CancelCheck &cancelled = {});
