// Loading a 24-megapixel JPEG into a 400 x 400 picture area, against djpeg decoding the
// same file in the same run, and the memory the loading process takes above its idle
// self. Prints table rows for bench/run:
//   bench:<figure><TAB><median><TAB><spread><TAB><goal><TAB><met|not met>
//
// bench_loader            makes the picture, measures, prints the rows
// bench_loader --load F   (internal) loads F once in a fresh process and prints the
//                         peak resident memory before and after, in KiB

#include "bench/Median.h"
#include "bench/PeakMemory.h"
#include "picture/PictureLoader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;
constexpr int kRuns = 5;
constexpr double kTimeGoal = 1.15;
constexpr double kMemoryGoalMB = 60.0;
const QSize kArea(400, 400);

// A photograph-like picture: smooth light with fine texture, so that the file has the
// size and entropy of a camera picture (a flat picture would decode unrealistically fast).
bool makePicture(const QString &path)
{
    const QString source = path + QLatin1String(".ppm");
    {
        QImage image(kWidth, kHeight, QImage::Format_RGB888);
        quint32 noise = 12345;
        for (int y = 0; y < kHeight; ++y) {
            uchar *line = image.scanLine(y);
            for (int x = 0; x < kWidth; ++x) {
                noise = noise * 1664525u + 1013904223u;
                const int grain = int(noise >> 28) - 8;
                const int sky = 90 + (y * 120) / kHeight;
                const int wave = ((x / 7 + y / 11) % 64) - 32;
                line[3 * x] = uchar(qBound(0, sky + wave / 2 + grain, 255));
                line[3 * x + 1] = uchar(qBound(0, 60 + (x * 150) / kWidth + grain, 255));
                line[3 * x + 2] = uchar(qBound(0, 200 - sky / 2 + wave + grain, 255));
            }
        }
        if (!image.save(source, "PPM"))
            return false;
    }
    QProcess cjpeg;
    cjpeg.start(QStringLiteral("cjpeg"),
                {QStringLiteral("-quality"), QStringLiteral("90"), QStringLiteral("-outfile"), path, source});
    const bool made = cjpeg.waitForFinished(300000) && cjpeg.exitCode() == 0;
    QFile::remove(source);
    return made;
}

// djpeg's whole run, decoding to nowhere.
double djpegMs(const QString &path)
{
    QElapsedTimer timer;
    QProcess djpeg;
    djpeg.setStandardOutputFile(QProcess::nullDevice());
    timer.start();
    djpeg.start(QStringLiteral("djpeg"), {path});
    if (!djpeg.waitForFinished(300000) || djpeg.exitCode() != 0)
        return -1;
    return double(timer.nsecsElapsed()) / 1e6;
}

double loaderMs(const QString &path)
{
    QElapsedTimer timer;
    timer.start();
    const auto picture = loadPicture(path, 1.0, kArea);
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    return picture && picture->pixels.size() == kArea ? ms : -1;
}

void printRow(const QString &figure, const QString &value, const QString &spread, const QString &goal, bool met)
{
    QTextStream(stdout) << "bench:" << figure << '\t' << value << '\t' << spread << '\t' << goal << '\t'
                        << (met ? "met" : "not met") << Qt::endl;
}

int loadOnce(const QString &path)
{
    const qint64 idle = peakMemoryKiB();
    const auto picture = loadPicture(path, 1.0, kArea);
    const qint64 loaded = peakMemoryKiB();
    std::printf("%lld %lld %d\n", static_cast<long long>(idle), static_cast<long long>(loaded), picture ? 1 : 0);
    return picture ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() == 3 && arguments[1] == QLatin1String("--load"))
        return loadOnce(arguments[2]);

    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("24mp.jpg"));
    if (!folder.isValid() || !makePicture(path)) {
        std::fprintf(stderr, "bench_loader: could not make the test picture (is cjpeg installed?)\n");
        return 1;
    }

    // Warm the file cache and both decoders once, then alternate the runs.
    djpegMs(path);
    loaderMs(path);
    std::vector<double> djpeg;
    std::vector<double> loader;
    std::vector<double> ratios; // each load against the djpeg run just before it
    for (int run = 0; run < kRuns; ++run) {
        djpeg.push_back(djpegMs(path));
        loader.push_back(loaderMs(path));
        if (djpeg.back() < 0 || loader.back() < 0) {
            std::fprintf(stderr, "bench_loader: a decode failed\n");
            return 1;
        }
        ratios.push_back(loader.back() / djpeg.back());
    }
    const double ratio = median(ratios);
    std::sort(ratios.begin(), ratios.end());
    printRow(QStringLiteral("JPEG 24 MP into 400x400 vs djpeg"),
             QStringLiteral("%1x (%2 ms vs %3 ms, %4 MB file)")
                 .arg(ratio, 0, 'f', 2)
                 .arg(median(loader), 0, 'f', 1)
                 .arg(median(djpeg), 0, 'f', 1)
                 .arg(double(QFile(path).size()) / 1e6, 0, 'f', 1),
             QStringLiteral("%1x-%2x").arg(ratios.front(), 0, 'f', 2).arg(ratios.back(), 0, 'f', 2),
             QStringLiteral("<= %1x").arg(kTimeGoal, 0, 'f', 2), ratio <= kTimeGoal);

    // Memory in a fresh process each time, so that making the picture does not count.
    std::vector<double> aboveIdle;
    for (int run = 0; run < kRuns; ++run) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--load"), path});
        if (!child.waitForFinished(300000) || child.exitCode() != 0) {
            std::fprintf(stderr, "bench_loader: the loading process failed\n");
            return 1;
        }
        const QList<QByteArray> figures = child.readAllStandardOutput().trimmed().split(' ');
        aboveIdle.push_back(double(figures.value(1).toLongLong() - figures.value(0).toLongLong()) / 1024.0);
    }
    const double aboveIdleMB = median(aboveIdle);
    std::sort(aboveIdle.begin(), aboveIdle.end());
    printRow(QStringLiteral("JPEG 24 MP load, peak memory above idle"),
             QStringLiteral("%1 MB").arg(aboveIdleMB, 0, 'f', 1),
             QStringLiteral("%1-%2 MB").arg(aboveIdle.front(), 0, 'f', 1).arg(aboveIdle.back(), 0, 'f', 1),
             QStringLiteral("<= %1 MB").arg(kMemoryGoalMB, 0, 'f', 0), aboveIdleMB <= kMemoryGoalMB);
    return 0;
}
