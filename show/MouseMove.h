#pragma once

#include <QPoint>

// A mouse movement asks to close when the pointer is more than 5 pixels away from the
// first position seen, on either axis.
bool mouseMoveCloses(QPoint first, QPoint now);
