#pragma once

#include <QImage>

// The built-in frame picture: the 128 x 128 golden bar that is stretched over the frame
// when a slot has no frame picture of its own. Used by the show window and the sample.
QImage builtInFramePicture();
