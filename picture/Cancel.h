#pragma once

#include <functional>

// Asked between rows and strips of a decode: true gives the picture up (the decode then
// returns "invalid"). An empty check never cancels.
using CancelCheck = std::function<bool()>;

inline bool isCancelled(const CancelCheck &cancelled)
{
    return cancelled && cancelled();
}
