#include "platform/StartupTrace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

void startupMark(const char *step)
{
    // Opened at the first mark and kept: the marks are few and the program ends soon
    // after the last one. -1 when no trace is wanted or the file cannot be opened.
    static const int fd = [] {
        const char *path = std::getenv("PANTEL_STARTUP_TRACE");
        return path && *path ? ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600) : -1;
    }();
    if (fd < 0)
        return;
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    char line[128];
    const int length = std::snprintf(line, sizeof line, "%s %lld\n", step,
                                     static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
    if (length > 0 && size_t(length) < sizeof line)
        (void)!::write(fd, line, size_t(length));
}
