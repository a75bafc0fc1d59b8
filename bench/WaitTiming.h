#pragma once

// What the two mail-wait benchmarks share: the processor time of a check that waits on a
// silent server, measured in a process of its own, and the gathering of several such
// processes into their shares of one core. Header only.
#include <QElapsedTimer>
#include <QProcess>
#include <QString>

#include <algorithm>

#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>

inline double processSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Runs `check` (its failure's text, empty when it logged in) and prints "percent seconds"
// on stdout. The check must end in its time-out: `waited` tells from the failure whether
// it did. Non-zero, with the reason on stderr, when it did not.
inline int reportWait(const char *program, int timeOut, const std::function<QString()> &check,
                      const std::function<bool(const QString &)> &waited)
{
    QElapsedTimer wall;
    const double start = processSeconds();
    wall.start();
    const QString failure = check();
    const double cpu = processSeconds() - start;
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    std::fprintf(stderr, "check ended with: \"%s\" after %.1f s (time-out %d ms)\n", qPrintable(failure), seconds,
                 timeOut);
    if (!waited(failure)) {
        std::fprintf(stderr, "%s: the check did not wait for its time-out\n", program);
        return 1;
    }
    std::printf("%f %f\n", 100.0 * cpu / seconds, seconds);
    return 0;
}

// Waits for the processes that reportWait runs in and gathers their shares of one core,
// sorted, and the seconds they waited; false when one of them failed.
inline bool gatherWaits(const std::vector<std::unique_ptr<QProcess>> &checks, int timeOut,
                        std::vector<double> &percents, double &seconds)
{
    bool ok = true;
    for (const auto &check : checks) {
        if (!check->waitForFinished(timeOut + 60000) || check->exitStatus() != QProcess::NormalExit
            || check->exitCode() != 0) {
            ok = false;
            continue;
        }
        const QList<QByteArray> figures = check->readAllStandardOutput().trimmed().split(' ');
        percents.push_back(figures.value(0).toDouble());
        seconds = figures.value(1).toDouble();
    }
    std::sort(percents.begin(), percents.end());
    return ok;
}
