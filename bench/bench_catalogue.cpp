// Listing the pictures of a folder of 20,000 entries (the show window's catalogue: the
// extension test and the locale's case-blind sort), against `ls -1` listing and sorting
// the same folder in the same locale, in the same run, once in C.UTF-8 and once in
// ja_JP.UTF-8, where both sides sort by the locale's collation. Prints one table row a
// locale for bench/run:
//   bench:<figure><TAB><median><TAB><spread><TAB><goal><TAB><met|not met>
//
// bench_catalogue                  makes the folder and measures it in each locale
// bench_catalogue --folder F       (internal) measures F in this process's locale

#include "bench/Median.h"
#include "show/PictureCatalogue.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <vector>

namespace {

constexpr int kEntries = 20000;
constexpr int kRuns = 7;

struct Locale
{
    const char *name;
    double goal; // at most this many times ls's time
};
// glibc's collation of a Japanese locale costs ls more than ICU's costs the catalogue
// in the C locale, so the goals differ.
constexpr Locale kLocales[] = {{"C.UTF-8", 1.5}, {"ja_JP.UTF-8", 2.0}};

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

// Measures the folder in this process's locale and prints the row.
int measure(const QString &folder, double goal)
{
    // Warm the directory cache and both sides once, then alternate the runs. ls inherits
    // this process's environment, so both sort in the same locale. Each run's ratio is
    // taken against the ls run right after it, so a moment of load elsewhere on the
    // machine falls on both sides of one pair.
    int pictures = int(listPictureFiles(folder).size());
    lsMs(folder);
    std::vector<double> catalogue;
    std::vector<double> ls;
    std::vector<double> ratios;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer timer;
        timer.start();
        pictures = int(listPictureFiles(folder).size());
        catalogue.push_back(double(timer.nsecsElapsed()) / 1e6);
        ls.push_back(lsMs(folder));
        if (ls.back() < 0) {
            std::fprintf(stderr, "bench_catalogue: ls failed\n");
            return 1;
        }
        ratios.push_back(catalogue.back() / ls.back());
    }
    const double ratio = median(ratios);
    const QByteArray locale = qgetenv("LC_ALL");
    QTextStream(stdout) << "bench:catalogue of " << kEntries << " entries (" << pictures
                        << " pictures) vs ls -1, locale " << (locale.isEmpty() ? QByteArray("C") : locale) << '\t'
                        << QStringLiteral("%1x (%2 ms vs %3 ms)")
                               .arg(ratio, 0, 'f', 2)
                               .arg(median(catalogue), 0, 'f', 1)
                               .arg(median(ls), 0, 'f', 1)
                        << '\t'
                        << QStringLiteral("%1x-%2x")
                               .arg(*std::min_element(ratios.begin(), ratios.end()), 0, 'f', 2)
                               .arg(*std::max_element(ratios.begin(), ratios.end()), 0, 'f', 2)
                        << '\t' << QStringLiteral("<= %1x").arg(goal, 0, 'f', 1) << '\t'
                        << (ratio <= goal ? "met" : "not met") << Qt::endl;
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    // A locale that is not installed would leave ls in the C locale while Qt took the
    // name from the environment: the two would no longer sort alike.
    if (!std::setlocale(LC_ALL, "")) {
        std::fprintf(stderr, "bench_catalogue: the locale %s is not installed (bench/run makes it)\n",
                     qgetenv("LC_ALL").constData());
        return 1;
    }
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() == 4 && arguments[1] == QLatin1String("--folder"))
        return measure(arguments[2], arguments[3].toDouble());

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
    // Each locale in a process of its own: the C library and Qt read it at start.
    int failed = 0;
    for (const Locale &locale : kLocales) {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LC_ALL"), QString::fromLatin1(locale.name));
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--folder"), folder.path(), QString::number(locale.goal)});
        if (!child.waitForFinished(300000) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0) {
            std::fprintf(stderr, "bench_catalogue: the run in %s failed\n", locale.name);
            failed = 1;
        }
    }
    return failed;
}
