// Listing the pictures of a folder of 20,000 entries (the show window's catalogue: the
// extension test and the locale's case-blind sort), against `ls -1` listing and sorting
// the same folder in the same locale, in the same run. Prints a table row for bench/run:
//   bench:<figure><TAB><value><TAB><goal><TAB><met|not met>

#include "show/PictureCatalogue.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kEntries = 20000;
constexpr int kRuns = 7;
constexpr double kGoal = 3.0;

// Names of the kinds a photo folder holds: camera names, mixed-case extensions, words
// with accents and Japanese, and a fifth of other files that the extension test drops.
QString entryName(int i)
{
    static const char *const extensions[] = {".jpg", ".JPG", ".jpeg", ".bmp", ".BMP", ".txt", ".db", ".jpg.part"};
    static const QString stems[]
        = {QStringLiteral("IMG_%1"), QStringLiteral("DSC%1"), QStringLiteral("Été à la mer %1"),
           QStringLiteral("旅行 %1"), QStringLiteral("scan-%1 copy")};
    const QString stem = stems[i % 5].arg(i * 7919 % 100000, 5, 10, QLatin1Char('0'));
    const int kind = i % 10;
    const char *extension = kind < 8 ? extensions[kind % 5] : extensions[5 + (i / 10) % 3];
    return stem + QLatin1String(extension);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double lsMs(const QString &folder)
{
    QProcess ls;
    ls.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    ls.start(QStringLiteral("ls"), {QStringLiteral("-1"), folder});
    if (!ls.waitForFinished(60000) || ls.exitCode() != 0)
        return -1;
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    if (!folder.isValid())
        return 1;
    for (int i = 0; i < kEntries; ++i) {
        QFile entry(folder.filePath(entryName(i)));
        if (!entry.open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "bench_catalogue: cannot make %s\n", qPrintable(entry.fileName()));
            return 1;
        }
    }

    // Warm the directory cache and both sides once, then alternate the runs. ls inherits
    // this process's environment, so both sort in the same locale.
    int pictures = int(listPictureFiles(folder.path()).size());
    lsMs(folder.path());
    std::vector<double> catalogue;
    std::vector<double> ls;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer timer;
        timer.start();
        pictures = int(listPictureFiles(folder.path()).size());
        catalogue.push_back(double(timer.nsecsElapsed()) / 1e6);
        ls.push_back(lsMs(folder.path()));
    }
    if (*std::min_element(ls.begin(), ls.end()) < 0) {
        std::fprintf(stderr, "bench_catalogue: ls failed\n");
        return 1;
    }
    const double ratio = median(catalogue) / median(ls);
    const QByteArray locale = qgetenv("LC_ALL").isEmpty() ? qgetenv("LANG") : qgetenv("LC_ALL");
    std::printf(
        "bench:catalogue of %d entries (%d pictures) vs ls -1, locale %s\t%.2fx (%.1f ms vs %.1f ms)\t<= %.0fx\t%s\n",
        kEntries, pictures, locale.isEmpty() ? "C" : locale.constData(), ratio, median(catalogue), median(ls), kGoal,
        ratio <= kGoal ? "met" : "not met");
    return 0;
}
