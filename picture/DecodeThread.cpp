// The signal class needs a translation unit of its own for moc; the thread is a template.
#include "picture/DecodeThread.h"

#include <cstdio>
#include <cstdlib>

namespace {
std::atomic<int> abandoned{0};
}

void decodethread_detail::noteAbandoned()
{
    ++abandoned;
}

int abandonedDecodeWorkers()
{
    return abandoned.load();
}

int endProcessAfterDecodes(int code)
{
    if (abandoned.load() == 0)
        return code;
    // The worker is inside a decoder whose libraries the exit handlers would tear down.
    std::fflush(nullptr);
    std::_Exit(code);
}
