#pragma once

#include <QString>

// The day a JPEG photo was taken, as the frame writes it ("2019年8月14日"), from the EXIF
// block of its APP1 segment; empty for any other file, or one without a valid date.
// Reads only the segments before the picture data, at most 128 KB.
QString jpegTakenDateText(const QString &path);
