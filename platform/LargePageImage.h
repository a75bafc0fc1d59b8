#pragma once

#include <QImage>
#include <QSize>

// A 32-bit image (Format_RGB32, uninitialised) for pixels that are written whole at once
// and kept for the run, such as the frame picture stretched over the frame. Its memory
// is asked of the system in 2 MB pages where the system gives them (transparent huge
// pages on request): the first writes then fault once per 2 MB instead of once per 4 KB,
// and on a virtual machine each of those faults costs 10 to 20 microseconds, some 3 ms
// for a 450-pixel frame on the way to the first frame. A small image, or a system that
// gives no such memory, gets an ordinary one. Null when there is no memory at all.
QImage largePageImage(QSize size);
