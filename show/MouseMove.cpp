#include "show/MouseMove.h"

#include <cstdlib>

bool mouseMoveCloses(QPoint first, QPoint now)
{
    return std::abs(first.x() - now.x()) > 5 || std::abs(first.y() - now.y()) > 5;
}
