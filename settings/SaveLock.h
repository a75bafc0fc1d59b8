#pragma once

#include <functional>

class QLockFile;

// How a save waits while another process's save holds the settings file's lock. A save
// takes milliseconds, so a lock held for longer was left by something that has gone
// wrong, and the wait is short: by default one second, in slices of kSliceMs, given up
// at once when SIGTERM has come.
struct SaveLockWait
{
    static constexpr int kSliceMs = 20;
    int patienceMs = 1000;
    // Passes one slice while the lock is held elsewhere, `waitedMs` into the wait; empty:
    // sleeps. A window serves its events here.
    std::function<void(int waitedMs)> passSlice;
};

// Takes `lock` (the lock file beside the settings) as `wait` says. A lock whose process
// is gone is removed and taken, as QLockFile does. Returns false when no lock file can be
// made there at all (a folder without write access): then the settings cannot be saved
// either, and the store reports that as its own failure. Raises Exception with a text
// naming the lock file when the lock is in the way: a folder in its place (at once, it
// will not go away by itself), a file that a live process holds, one that cannot be
// removed; and when SIGTERM comes during the wait.
bool takeSaveLock(QLockFile &lock, const SaveLockWait &wait);
