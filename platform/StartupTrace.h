#pragma once

// Marks along the saver's start-up, for the start-up benchmark: where the time to the
// first frame goes (loading, Qt's start, the window, the first paint). Silent unless the
// environment names a file in PANTEL_STARTUP_TRACE; then each mark appends one line
// "<step> <CLOCK_MONOTONIC in ns>" to it. The check costs one look at the environment,
// made once.
void startupMark(const char *step);
