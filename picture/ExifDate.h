#pragma once

#include <QDate>
#include <QString>
#include <cstddef>

// The day a photo was taken, from its EXIF block: DateTimeOriginal (tag 0x9003 of the
// Exif directory that the first image directory's tag 0x8769 points to), else
// DateTimeDigitized (0x9004). `data` is either a JPEG APP1 block's data ("Exif\0\0" and
// the TIFF structure) or the TIFF structure alone, as PNG's, WebP's and HEIF's EXIF
// carry it. Invalid when there is no such date or it is malformed: a truncated or
// malformed block, offsets out of range, another type, a text that is not
// "YYYY:MM:DD HH:MM:SS" or has a field out of range ("0000:00:00 00:00:00"). A
// malformed DateTimeOriginal counts as none, so DateTimeDigitized may still give the day.
// Follows one offset only (to the Exif directory), so no block can make it loop.
QDate exifTakenDate(const unsigned char *data, std::size_t length);

// A day as the frame writes it, "2019年8月14日"; empty for an invalid date.
QString takenDateText(QDate date);
