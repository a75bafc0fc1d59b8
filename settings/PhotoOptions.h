#pragma once

// How the saver treats today's photo libraries. Every option is off unless the settings
// file turns it on, so a file that never mentions them shows what it always showed. The
// same five settings hold for every folder slot.
struct PhotoOptions
{
    // The whole picture, shrunk with its aspect ratio kept to fit the picture area, never
    // enlarged; off: the picture at its own pixel size, centred and clipped.
    bool fitPicture = false;
    // PNG, GIF, WebP, TIFF, HEIC, HEIF and AVIF count as pictures besides BMP and JPEG.
    bool allFormats = false;
    // The folders below the slot's folder are walked too, depth-first.
    bool subFolders = false;
    // Each pass through the pictures is a fresh random order.
    bool shuffle = false;
    // The date the photo was taken stands on the frame's top border.
    bool showDate = false;

    friend bool operator==(const PhotoOptions &, const PhotoOptions &) = default;
};
