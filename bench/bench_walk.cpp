// Walking a photo library of 100,000 pictures in 5,000 folders (50 years of 99 events, 20
// pictures in each folder) into one catalogue, with the show's rule in every folder,
// against `find DIR -type f` on the same tree in the same run, warm cache; the heap the
// catalogue holds; and how long a walk takes to end after SIGTERM arrives. Prints table
// rows for bench/run:
//   bench:<figure><TAB><median><TAB><spread><TAB><goal><TAB><met|not met>

#include "bench/Median.h"
#include "library/FolderWalk.h"
#include "platform/TerminationSignal.h"
#include "show/PictureCatalogue.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kYears = 50;
constexpr int kEvents = 99;
constexpr int kPicturesPerFolder = 20;
constexpr int kRuns = 7;

constexpr double kTimeGoal = 1.5;    // at most this many times find's time
constexpr double kMemoryGoalMb = 30; // the catalogue's heap
constexpr double kTerminationGoalMs = 200;

// The show's own rule, as a slot with the picture options off walks with it.
const FolderRule kRule = pictureFolderRule();

bool makeFolder(const QString &folder)
{
    if (!QDir().mkpath(folder))
        return false;
    const QByteArray prefix = QFile::encodeName(folder) + "/IMG_";
    for (int i = 0; i < kPicturesPerFolder; ++i) {
        const int file = ::open(prefix + QByteArray::number(1000 + i) + ".JPG", O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        if (file < 0)
            return false;
        ::close(file);
    }
    return true;
}

bool makeLibrary(const QString &root)
{
    for (int year = 0; year < kYears; ++year) {
        const QString yearFolder = root + QStringLiteral("/%1").arg(1975 + year);
        if (!makeFolder(yearFolder))
            return false;
        for (int event = 0; event < kEvents; ++event) {
            if (!makeFolder(yearFolder + QStringLiteral("/%1 Trip to place %2").arg(event % 12 + 1).arg(event)))
                return false;
        }
    }
    return true;
}

// The processor time this process and its finished children have used.
double processorMs(int who)
{
    rusage usage;
    ::getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

double findMs(const QString &root)
{
    QProcess find;
    find.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    find.start(QStringLiteral("find"), {root, QStringLiteral("-type"), QStringLiteral("f")});
    if (!find.waitForFinished(60000) || find.exitCode() != 0)
        return -1;
    return double(timer.nsecsElapsed()) / 1e6;
}

void printRow(const QString &figure, const QString &value, const std::vector<double> &values, const QString &goal,
              bool met)
{
    QTextStream(stdout) << "bench:" << figure << '\t' << value << '\t'
                        << QStringLiteral("%1-%2")
                               .arg(*std::min_element(values.begin(), values.end()), 0, 'f', 2)
                               .arg(*std::max_element(values.begin(), values.end()), 0, 'f', 2)
                        << '\t' << goal << '\t' << (met ? "met" : "not met") << Qt::endl;
}

// How long the walk goes on after SIGTERM arrives, SIGTERM sent `afterMs` into it.
double terminationMs(const QString &root, double afterMs)
{
    TerminationSignal termination;
    std::atomic<qint64> sentAt{0};
    QElapsedTimer clock;
    clock.start();
    std::thread sender([&] {
        std::this_thread::sleep_for(std::chrono::microseconds(qint64(afterMs * 1000)));
        sentAt = clock.nsecsElapsed();
        ::kill(::getpid(), SIGTERM);
    });
    const WalkResult result = walkPictureFolders(root, true, kRule);
    const qint64 endedAt = clock.nsecsElapsed();
    sender.join();
    // A walk that ended before the signal came says nothing about the answer.
    return result.cancelled ? double(endedAt - sentAt) / 1e6 : -1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir root;
    if (!root.isValid() || !makeLibrary(root.path())) {
        std::fprintf(stderr, "bench_walk: cannot make the library\n");
        return 1;
    }

    // Warm the directory cache and both sides once, then alternate the runs; each ratio
    // is taken against the find run right after it, so that a moment of load elsewhere
    // falls on both sides of one pair.
    qsizetype pictures = walkPictureFolders(root.path(), true, kRule).pictures.size();
    findMs(root.path());
    // The processor times go beside the row: on a busy machine they show what the wall
    // clock's ratio would be on a quiet one.
    std::vector<double> walk, find, ratios, processorRatios, memory;
    for (int run = 0; run < kRuns; ++run) {
        const size_t heapBefore = mallinfo2().uordblks;
        const double processorBefore = processorMs(RUSAGE_SELF);
        QElapsedTimer timer;
        timer.start();
        WalkResult result = walkPictureFolders(root.path(), true, kRule);
        walk.push_back(double(timer.nsecsElapsed()) / 1e6);
        const double walkProcessor = processorMs(RUSAGE_SELF) - processorBefore;
        memory.push_back(double(mallinfo2().uordblks - heapBefore) / (1024.0 * 1024.0));
        pictures = result.pictures.size();
        result = {};
        const double childrenBefore = processorMs(RUSAGE_CHILDREN);
        find.push_back(findMs(root.path()));
        if (find.back() < 0) {
            std::fprintf(stderr, "bench_walk: find failed\n");
            return 1;
        }
        ratios.push_back(walk.back() / find.back());
        processorRatios.push_back(walkProcessor / (processorMs(RUSAGE_CHILDREN) - childrenBefore));
    }
    const QString library = QStringLiteral("%1 pictures in %2 folders").arg(pictures).arg(kYears * (kEvents + 1));
    const double ratio = median(ratios);
    printRow(QStringLiteral("walk of %1 vs find -type f").arg(library),
             QStringLiteral("%1x (%2 ms vs %3 ms; processor time %4x)")
                 .arg(ratio, 0, 'f', 2)
                 .arg(median(walk), 0, 'f', 1)
                 .arg(median(find), 0, 'f', 1)
                 .arg(median(processorRatios), 0, 'f', 2),
             ratios, QStringLiteral("<= %1x").arg(kTimeGoal, 0, 'f', 1), ratio <= kTimeGoal);
    const double heap = median(memory);
    printRow(QStringLiteral("heap held by the catalogue of %1").arg(library),
             QStringLiteral("%1 MB").arg(heap, 0, 'f', 1), memory,
             QStringLiteral("<= %1 MB").arg(kMemoryGoalMb, 0, 'f', 0), heap <= kMemoryGoalMb);

    // SIGTERM at a different moment of each walk, from a tenth to nine tenths of it.
    std::vector<double> answers;
    for (int run = 0; run < kRuns; ++run) {
        const double answer = terminationMs(root.path(), median(walk) * (0.1 + 0.8 * run / (kRuns - 1)));
        if (answer >= 0)
            answers.push_back(answer);
    }
    if (answers.empty()) {
        std::fprintf(stderr, "bench_walk: every walk ended before SIGTERM came\n");
        return 1;
    }
    const double slowest = *std::max_element(answers.begin(), answers.end());
    printRow(QStringLiteral("walk's end after SIGTERM, slowest of %1").arg(answers.size()),
             QStringLiteral("%1 ms").arg(slowest, 0, 'f', 2), answers,
             QStringLiteral("<= %1 ms").arg(kTerminationGoalMs, 0, 'f', 0), slowest <= kTerminationGoalMs);
    return 0;
}
