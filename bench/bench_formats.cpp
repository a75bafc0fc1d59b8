// Fitting large JPEG, WebP and HEIC pictures into a 400 x 300 picture area, as a window
// asks for them with both picture options on, each against other tools reducing the same
// file in the same run, and the memory the fitting takes. Prints table rows for bench/run:
//   bench:<figure><TAB><median><TAB><spread><TAB><goal><TAB><met|not met>
// The slowest of the benchmarks (several minutes, more on a busy machine): x265 makes
// the HEICs, and each fitting runs six times beside its reference and five more in a
// fresh process for its memory. The 48 MP HEIC is a grid of tiles, as phones write their
// large photos; bench/run makes it once for every benchmark that needs it and names it in
// PANTEL_BENCH_GRID_HEIC, else this program makes its own with bench/make_grid_heic.py.
//
// bench_formats            makes the pictures, measures, prints the rows
// bench_formats --load F   (internal) fits F once in a fresh process and prints the peak
//                          resident memory before and after, in KiB

#include "bench/Median.h"
#include "bench/PeakMemory.h"
#include "picture/PictureRequest.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kRuns = 5;
const QSize kArea(400, 300);

// A photograph-like picture: smooth light with fine texture, so that the file has the
// size and entropy of a camera picture (a flat picture would decode unrealistically fast).
bool makeSource(const QString &path, const char *format, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB888);
    quint32 noise = 12345;
    for (int y = 0; y < height; ++y) {
        uchar *line = image.scanLine(y);
        for (int x = 0; x < width; ++x) {
            noise = noise * 1664525u + 1013904223u;
            const int grain = int(noise >> 28) - 8;
            const int sky = 90 + (y * 120) / height;
            const int wave = ((x / 7 + y / 11) % 64) - 32;
            line[3 * x] = uchar(qBound(0, sky + wave / 2 + grain, 255));
            line[3 * x + 1] = uchar(qBound(0, 60 + (x * 150) / width + grain, 255));
            line[3 * x + 2] = uchar(qBound(0, 200 - sky / 2 + wave + grain, 255));
        }
    }
    return image.save(path, format, 90);
}

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    return process.waitForFinished(600000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// A whole run of a program: its time in milliseconds and its peak resident memory in
// KiB (from wait4, which QProcess does not give). Time -1 when it fails.
struct ToolRun
{
    double ms = -1;
    long peakKiB = 0;
};

ToolRun runTool(const QStringList &command)
{
    std::vector<QByteArray> bytes;
    for (const QString &part : command)
        bytes.push_back(part.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &part : bytes)
        argv.push_back(part.data());
    argv.push_back(nullptr);
    QElapsedTimer timer;
    timer.start();
    const pid_t child = ::fork();
    if (child == 0) {
        // The tools' chatter would mix with the rows.
        const int quiet = ::open("/dev/null", O_WRONLY);
        if (quiet >= 0)
            ::dup2(quiet, STDOUT_FILENO);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {};
    return ToolRun{double(timer.nsecsElapsed()) / 1e6, usage.ru_maxrss};
}

// The whole request, the taken date's reading included, as a window makes it.
bool fit(const QString &path)
{
    return decodePicture(PictureRequest{path, kArea, 1.0, true, true}).has_value();
}

double fitMs(const QString &path)
{
    QElapsedTimer timer;
    timer.start();
    const bool fitted = fit(path);
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    return fitted ? ms : -1;
}

// Our peak above the idle process, in MB, as a fresh process measures it.
double fitPeakMB(const QString &path)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--load"), path});
    if (!child.waitForFinished(300000) || child.exitCode() != 0)
        return -1;
    const QList<QByteArray> figures = child.readAllStandardOutput().trimmed().split(' ');
    return double(figures.value(1).toLongLong() - figures.value(0).toLongLong()) / 1024.0;
}

void printRow(const QString &figure, const QString &value, const QString &spread, const QString &goal, bool met)
{
    QTextStream(stdout) << "bench:" << figure << '\t' << value << '\t' << spread << '\t' << goal << '\t'
                        << (met ? "met" : "not met") << Qt::endl;
}

QString spreadOf(std::vector<double> values, const char *unit)
{
    std::sort(values.begin(), values.end());
    return QStringLiteral("%1-%2%3").arg(values.front(), 0, 'f', 2).arg(values.back(), 0, 'f', 2).arg(unit);
}

// One row of a ratio to the reference: its median beside the two medians it compares.
void printRatioRow(const QString &figure, const std::vector<double> &ratios, const std::vector<double> &ours,
                   const std::vector<double> &theirs, const char *unit, double goal)
{
    const double ratio = median(ratios);
    printRow(figure,
             QStringLiteral("%1x (%2 %4 vs %3 %4)")
                 .arg(ratio, 0, 'f', 2)
                 .arg(median(ours), 0, 'f', 1)
                 .arg(median(theirs), 0, 'f', 1)
                 .arg(QLatin1String(unit)),
             spreadOf(ratios, "x"), QStringLiteral("<= %1x").arg(goal, 0, 'f', 1), ratio <= goal);
}

// The goal for the fitting's peak above its idle process: a share of the reference's
// whole peak, or a number of MB where the reference's own is no measure (a tool that
// decodes only an eighth of the picture).
struct MemoryGoal
{
    double ratio = 0;
    double mb = 0;
};

// Times the fitting against `reference` (a command line; the rows name it by its first
// `shown` words), alternating, and prints the time row (without a time goal, only the
// figures, on stderr); then the memory row, ours above idle against the goal.
bool measure(const QString &name, const QString &path, const QStringList &reference, int shown, double timeGoal,
             MemoryGoal memoryGoal)
{
    const QString toolName = reference.mid(0, shown).join(QLatin1Char(' '));
    fitMs(path);
    runTool(reference);
    std::vector<double> ours, theirs, ratios, oursMB, theirsMB;
    for (int run = 0; run < kRuns; ++run) {
        const ToolRun tool = runTool(reference);
        const double ms = fitMs(path);
        const double mb = memoryGoal.ratio > 0 || memoryGoal.mb > 0 ? fitPeakMB(path) : 0;
        if (tool.ms < 0 || ms < 0 || mb < 0) {
            std::fprintf(stderr, "bench_formats: %s: a decode failed\n", qPrintable(name));
            return false;
        }
        theirs.push_back(tool.ms);
        ours.push_back(ms);
        ratios.push_back(ms / tool.ms);
        oursMB.push_back(mb);
        theirsMB.push_back(double(tool.peakKiB) / 1024.0);
    }
    if (timeGoal > 0)
        printRatioRow(QStringLiteral("%1 into 400x300 vs %2").arg(name, toolName), ratios, ours, theirs, "ms",
                      timeGoal);
    else
        std::fprintf(stderr, "bench_formats: %s into 400x300: %.0f ms (%.2fx), %s %.0f ms, %.1f MB whole peak\n",
                     qPrintable(name), median(ours), median(ratios), qPrintable(toolName), median(theirs),
                     median(theirsMB));
    if (memoryGoal.mb > 0) {
        const double mb = median(oursMB);
        printRow(QStringLiteral("%1 fitted, peak above idle").arg(name), QStringLiteral("%1 MB").arg(mb, 0, 'f', 1),
                 spreadOf(oursMB, " MB"), QStringLiteral("<= %1 MB").arg(memoryGoal.mb, 0, 'f', 0),
                 mb <= memoryGoal.mb);
    } else if (memoryGoal.ratio > 0) {
        std::vector<double> memoryRatios;
        for (size_t i = 0; i < oursMB.size(); ++i)
            memoryRatios.push_back(oursMB[i] / theirsMB[i]);
        printRatioRow(QStringLiteral("%1 peak above idle vs %2's whole peak").arg(name, toolName), memoryRatios, oursMB,
                      theirsMB, "MB", memoryGoal.ratio);
    }
    return true;
}

int loadOnce(const QString &path)
{
    const qint64 idle = peakMemoryKiB();
    const bool fitted = fit(path);
    const qint64 loaded = peakMemoryKiB();
    std::printf("%lld %lld\n", static_cast<long long>(idle), static_cast<long long>(loaded));
    return fitted ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() == 3 && arguments[1] == QLatin1String("--load"))
        return loadOnce(arguments[2]);

    QTemporaryDir folder;
    const QString jpegSource = folder.filePath(QStringLiteral("24mp.ppm"));
    const QString jpeg = folder.filePath(QStringLiteral("24mp.jpg"));
    const QString webpSource = folder.filePath(QStringLiteral("48mp.png"));
    const QString webp = folder.filePath(QStringLiteral("48mp.webp"));
    const QString heicSource = folder.filePath(QStringLiteral("12mp.png"));
    const QString heic = folder.filePath(QStringLiteral("12mp.heic"));
    QString grid = qEnvironmentVariable("PANTEL_BENCH_GRID_HEIC");
    if (grid.isEmpty()) {
        grid = folder.filePath(QStringLiteral("48mp-grid.heic"));
        if (!run(QStringLiteral("python3"),
                 {QDir(QStringLiteral(PANTEL_SOURCE_DIR)).filePath(QStringLiteral("bench/make_grid_heic.py")),
                  QStringLiteral("--photo"), QStringLiteral("8064x6048"), grid})) {
            std::fprintf(stderr, "bench_formats: could not make the grid HEIC\n");
            return 1;
        }
    }
    // cjpeg writes a baseline (sequential) JPEG unless told otherwise.
    if (!folder.isValid() || !makeSource(jpegSource, "PPM", 6000, 4000)
        || !run(QStringLiteral("cjpeg"),
                {QStringLiteral("-quality"), QStringLiteral("90"), QStringLiteral("-outfile"), jpeg, jpegSource})
        || !makeSource(webpSource, "PNG", 8000, 6000)
        || !run(QStringLiteral("cwebp"), {QStringLiteral("-quiet"), webpSource, QStringLiteral("-o"), webp})
        || !makeSource(heicSource, "PNG", 4000, 3000)
        || !run(QStringLiteral("heif-enc"),
                {QStringLiteral("-q"), QStringLiteral("85"), heicSource, QStringLiteral("-o"), heic})) {
        std::fprintf(stderr, "bench_formats: could not make the pictures (are cjpeg, cwebp and heif-enc installed?)\n");
        return 1;
    }
    QFile::remove(jpegSource);
    QFile::remove(webpSource);
    QFile::remove(heicSource);
    const QString scaled = folder.filePath(QStringLiteral("scaled.ppm"));
    const QString converted = folder.filePath(QStringLiteral("converted.jpg"));
    // djpeg's eighth is libjpeg-turbo's own cheapest decode of a baseline file (every
    // coefficient still entropy-decoded): the floor for a fitted JPEG. vipsthumbnail
    // shrinks on load the same way and then reduces to the size asked for, as the
    // fitting does.
    const bool ran = measure(QStringLiteral("JPEG 24 MP"), jpeg,
                             {QStringLiteral("djpeg"), QStringLiteral("-scale"), QStringLiteral("1/8"), jpeg}, 3, 1.1,
                             MemoryGoal{0, 10})
        && measure(QStringLiteral("JPEG 24 MP"), jpeg,
                   {QStringLiteral("vipsthumbnail"), jpeg, QStringLiteral("-s"), QStringLiteral("400x300"),
                    QStringLiteral("-o"), scaled},
                   1, 0.5, {})
        && measure(QStringLiteral("WebP 48 MP"), webp,
                   {QStringLiteral("dwebp"), QStringLiteral("-quiet"), QStringLiteral("-scale"), QStringLiteral("400"),
                    QStringLiteral("300"), webp, QStringLiteral("-ppm"), QStringLiteral("-o"), scaled},
                   1, 1.2, MemoryGoal{1.0, 0})
        && measure(QStringLiteral("HEIC 12 MP"), heic, {QStringLiteral("heif-convert"), heic, converted}, 1, 1.0,
                   MemoryGoal{1.0, 0})
        && measure(QStringLiteral("HEIC 48 MP grid"), grid, {QStringLiteral("heif-convert"), grid, converted}, 1, 0,
                   MemoryGoal{0, 250});
    return ran ? 0 : 1;
}
