// The library of a folder slot: the walk through a folder tree, the order of each pass
// (name order and shuffled, with the catalogue built again between passes) and the day
// a photo was taken, read from its EXIF block.
#include "library/FolderWalk.h"
#include "library/PassOrder.h"
#include "picture/ExifDate.h"
#include "platform/TerminationSignal.h"
#include "show/PictureCatalogue.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The show's rule in every folder; sub-folders in a case-blind order, which agrees with
// the locale's for the plain names used here.
const FolderRule kRule{[](const QString &folder) { return listPictureFiles(folder); },
                       [](QStringView name) { return isPictureFileName(name); },
                       [](QStringList paths) {
                           std::sort(paths.begin(), paths.end(), [](const QString &a, const QString &b) {
                               return QString::compare(a, b, Qt::CaseInsensitive) < 0;
                           });
                           return paths;
                       }};

// A tree from lines of raw bytes: "a/b/" a folder, "a/b.jpg" an empty file, "a/l->t" a
// link to t, "a/-" after a's entries: a may be read by no one.
bool makeTree(const QByteArray &root, const QList<QByteArray> &lines)
{
    for (const QByteArray &line : lines) {
        const qsizetype arrow = line.indexOf("->");
        const QByteArray path = root + '/' + (arrow >= 0 ? line.left(arrow) : line);
        for (qsizetype slash = path.indexOf('/', root.size() + 1); slash >= 0; slash = path.indexOf('/', slash + 1))
            ::mkdir(path.left(slash).constData(), 0755);
        if (arrow >= 0) {
            if (::symlink(line.mid(arrow + 2).constData(), path.constData()) != 0)
                return false;
        } else if (line.endsWith("/-")) {
            if (::chmod(path.chopped(2).constData(), 0) != 0)
                return false;
        } else if (!line.endsWith('/')) {
            const int file = ::open(path.constData(), O_CREAT | O_WRONLY, 0644);
            if (file < 0)
                return false;
            ::close(file);
        }
    }
    return true;
}

QStringList relative(const QStringList &paths, const QString &root)
{
    QStringList names;
    for (const QString &path : paths)
        names << path.mid(root.size() + 1);
    return names;
}

QByteArray chain(int levels)
{
    QByteArray path;
    for (int level = 1; level < levels; ++level)
        path += "d/";
    return path + "p.jpg";
}

// A draw from a seeded generator, as the show's random source draws.
PassOrder::Draw seeded(quint32 seed)
{
    auto generator = std::make_shared<std::mt19937>(seed);
    return [generator](int n) { return n <= 0 ? 0 : std::uniform_int_distribution<int>(0, n - 1)(*generator); };
}

// One EXIF block: an image directory pointing to an Exif directory with the two dates.
QByteArray exifBlock(bool bigEndian, bool jpegPrefix, const QByteArray &original, const QByteArray &digitized,
                     const QString &damage)
{
    QByteArray tiff;
    const auto u16 = [&](quint32 v) {
        tiff.append(char(bigEndian ? v >> 8 : v));
        tiff.append(char(bigEndian ? v : v >> 8));
    };
    const auto u32 = [&](quint32 v) {
        u16(bigEndian ? v >> 16 : v & 0xFFFF);
        u16(bigEndian ? v & 0xFFFF : v >> 16);
    };
    tiff += bigEndian ? "MM" : "II";
    u16(42);
    u32(damage == "image directory out of range" ? 0xFFFFFFF0 : 8);
    u16(1); // at 8: the image directory
    u16(0x8769);
    u16(damage == "pointer of another type" ? 3 : 4);
    u32(1);
    u32(damage == "Exif directory out of range" ? 1000 : 26);
    u32(0);
    QList<std::pair<quint16, QByteArray>> dates; // at 26: the Exif directory
    if (!original.isNull())
        dates.append({0x9003, original});
    if (!digitized.isNull())
        dates.append({0x9004, digitized});
    u16(quint32(dates.size()));
    quint32 text = 26 + 2 + 12 * quint32(dates.size()) + 4;
    for (const auto &[tag, value] : dates) {
        u16(tag);
        u16(damage == "text of another type" ? 7 : 2);
        u32(damage == "short count" ? 10 : quint32(value.size() + 1));
        u32(damage == "text out of range" ? 0xFFFFFF00 : text);
        text += quint32(value.size() + 1);
    }
    u32(0);
    for (const auto &date : dates)
        tiff += date.second + '\0';
    if (damage == "truncated")
        tiff.chop(8);
    return (jpegPrefix ? QByteArray("Exif\0\0", 6) : QByteArray()) + tiff;
}

} // namespace

class TestLibrary : public QObject
{
    Q_OBJECT

private slots:
    void walk_data()
    {
        QTest::addColumn<QList<QByteArray>>("tree");
        QTest::addColumn<bool>("subFolders");
        QTest::addColumn<QStringList>("expected");
        const QList<QByteArray> nested{"b.jpg", "A.JPG", "x/2.jpg", "x/1.bmp", "x/y/3.jpg", "w/4.jpg", "x/n.txt"};
        QTest::newRow("flat: the folder's own pictures") << nested << false << QStringList{"A.JPG", "b.jpg"};
        QTest::newRow("nested, depth first")
            << nested << true << QStringList{"A.JPG", "b.jpg", "w/4.jpg", "x/1.bmp", "x/2.jpg", "x/y/3.jpg"};
        QTest::newRow("hidden folders skipped, hidden pictures kept")
            << QList<QByteArray>{".cache/a.jpg", ".b.jpg", "c/.d.jpg", "c/.e/f.jpg"} << true
            << QStringList{".b.jpg", "c/.d.jpg"};
        QTest::newRow("link loop") << QList<QByteArray>{"a/1.jpg", "a/up->..", "a/self->."} << true
                                   << QStringList{"a/1.jpg"};
        QTest::newRow("second path to a folder already walked")
            << QList<QByteArray>{"a/1.jpg", "b->a", "c/2.jpg"} << true << QStringList{"a/1.jpg", "c/2.jpg"};
        QTest::newRow("folder reached first through a link")
            << QList<QByteArray>{"a->z", "z/1.jpg"} << true << QStringList{"a/1.jpg"};
        QTest::newRow("link to nowhere") << QList<QByteArray>{"a->missing", "b/1.jpg"} << true
                                         << QStringList{"b/1.jpg"};
        QTest::newRow("unreadable folder") << QList<QByteArray>{"a/2.jpg", "a/c/3.jpg", "a/-", "b/1.jpg", "1.jpg"}
                                           << true << QStringList{"1.jpg", "b/1.jpg"};
        QTest::newRow("names that are not UTF-8")
            << QList<QByteArray>{"\xe9t\xe9/1.jpg", "ok/\xff.jpg", "ok/2.jpg", "\xc3\xa9t\xc3\xa9/3.jpg"} << true
            << QStringList{"ok/2.jpg", QStringLiteral("été/3.jpg")};
        QTest::newRow("32 levels entered")
            << QList<QByteArray>{chain(32)} << true << QStringList{QString::fromLatin1(chain(32))};
        QTest::newRow("the 33rd level is not")
            << QList<QByteArray>{chain(33), chain(32).replace("p.jpg", "q.jpg")} << true
            << QStringList{QString::fromLatin1(chain(32)).replace("p.jpg", "q.jpg")};
        QTest::newRow("no pictures anywhere") << QList<QByteArray>{"a/b/c/", "a/n.txt"} << true << QStringList{};
    }

    void walk()
    {
        QFETCH(QList<QByteArray>, tree);
        QFETCH(bool, subFolders);
        QFETCH(QStringList, expected);
        QTemporaryDir root;
        QVERIFY(root.isValid());
        // Qt cannot name what is not UTF-8, so the tree goes by its bytes.
        root.setAutoRemove(false);
        const auto removeTree = qScopeGuard([&root] {
            ::chmod(QFile::encodeName(root.filePath(QStringLiteral("a"))).constData(), 0755);
            std::filesystem::remove_all(QFile::encodeName(root.path()).toStdString());
        });
        QVERIFY(QFile::setPermissions(root.path(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                          | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
        QVERIFY(makeTree(QFile::encodeName(root.path()), tree));
        QStringList first;
        const WalkHooks hooks{[] { return false; }, [&first](const QStringList &pictures) { first = pictures; }};
        // Walked with an ordinary user's rights: root reads any folder. The file-system user
        // id is this thread's alone and goes back to what it was after the walk.
        const uid_t before = uid_t(setfsuid(geteuid() == 0 ? 65534 : geteuid()));
        const WalkResult result = walkPictureFolders(root.path(), subFolders, kRule, hooks);
        setfsuid(before);
        QVERIFY(!result.cancelled);
        QCOMPARE(relative(result.pictures, root.path()), expected);
        QCOMPARE(first, result.pictures.mid(0, first.size()));
        QCOMPARE(first.isEmpty(), expected.isEmpty());
        if (!subFolders)
            QCOMPARE(result.pictures, listPictureFiles(root.path()));
    }

    void walkEndsEarly_data()
    {
        QTest::addColumn<int>("checksAllowed");
        QTest::addColumn<bool>("bySignal");
        QTest::newRow("at once") << 0 << false;
        QTest::newRow("within the first folder's entries") << 3 << false;
        QTest::newRow("in a deeper folder") << 40 << false;
        QTest::newRow("SIGTERM pending") << 0 << true;
    }

    void walkEndsEarly()
    {
        QFETCH(int, checksAllowed);
        QFETCH(bool, bySignal);
        QTemporaryDir root;
        QList<QByteArray> tree;
        for (int i = 0; i < 20; ++i)
            tree << QByteArray("f%1/p.jpg").replace("%1", QByteArray::number(i + 10));
        QVERIFY(makeTree(QFile::encodeName(root.path()), tree));
        const WalkResult whole = walkPictureFolders(root.path(), true, kRule, {[] { return false; }, {}});
        QCOMPARE(whole.pictures.size(), 20);
        TerminationSignal termination;
        int checks = 0;
        WalkHooks hooks{[&checks, checksAllowed] { return ++checks > checksAllowed; }, {}};
        if (bySignal) {
            hooks.cancelled = nullptr;
            QCOMPARE(::raise(SIGTERM), 0);
        }
        const WalkResult result = walkPictureFolders(root.path(), true, kRule, hooks);
        QVERIFY(result.cancelled);
        QVERIFY(result.pictures.size() < whole.pictures.size());
        QCOMPARE(result.pictures, whole.pictures.mid(0, result.pictures.size()));
    }

    // In name order the run starts where the show's random source says, as it always
    // has; after each pass the catalogue built again takes over after the last picture.
    void nameOrder_data()
    {
        QTest::addColumn<QStringList>("catalogue");
        QTest::addColumn<int>("start");
        QTest::addColumn<QStringList>("rebuilt");
        QTest::addColumn<QStringList>("expected"); // two passes
        const QStringList abcd{"a", "b", "c", "d"};
        QTest::newRow("unchanged: as before")
            << abcd << 2 << abcd << QStringList{"c", "d", "a", "b", "c", "d", "a", "b"};
        QTest::newRow("added after the last shown") << abcd << 0 << QStringList{"a", "b", "c", "d", "e"}
                                                    << QStringList{"a", "b", "c", "d", "e", "a", "b", "c", "d"};
        QTest::newRow("added before the first")
            << QStringList{"b", "c"} << 0 << QStringList{"a", "b", "c"} << QStringList{"b", "c", "a", "b", "c"};
        QTest::newRow("others removed") << abcd << 1 << QStringList{"a", "c"}
                                        << QStringList{"b", "c", "d", "a", "c", "a"};
        QTest::newRow("the last shown removed")
            << abcd << 2 << QStringList{"a", "c", "d"} << QStringList{"c", "d", "a", "b", "c", "d", "a"};
        QTest::newRow("the last shown replaced") << QStringList{"a", "b", "d"} << 2 << QStringList{"a", "c", "d"}
                                                 << QStringList{"d", "a", "b", "d", "a", "c"};
        QTest::newRow("everything replaced")
            << abcd << 0 << QStringList{"x", "y"} << QStringList{"a", "b", "c", "d", "x", "y"};
        QTest::newRow("pictures appear") << QStringList{} << 0 << QStringList{"a", "b"} << QStringList{"a", "b"};
        QTest::newRow("one picture") << QStringList{"a"} << 0 << QStringList{"a"} << QStringList{"a", "a"};
    }

    void nameOrder()
    {
        QFETCH(QStringList, catalogue);
        QFETCH(int, start);
        QFETCH(QStringList, rebuilt);
        QFETCH(QStringList, expected);
        QList<int> draws;
        PassOrder order(false, [&draws, start](int n) {
            draws << n;
            return start;
        });
        order.start(catalogue);
        QCOMPARE(draws, QList<int>{int(catalogue.size())});
        QStringList shown;
        while (shown.size() < expected.size()) {
            if (order.passEnded())
                order.rebuilt(rebuilt);
            const QString picture = order.next();
            if (!picture.isEmpty())
                shown << picture;
        }
        QCOMPARE(shown, expected);
    }

    // Every pass shows each picture of its catalogue once, and the seam never repeats.
    void shuffledPasses_data()
    {
        QTest::addColumn<int>("pictures");
        QTest::addColumn<int>("changeEachPass"); // pictures added and removed between passes
        QTest::addColumn<quint32>("seed");
        for (const int pictures : {1, 2, 3, 10, 200})
            QTest::addRow("%d pictures", pictures) << pictures << 0 << quint32(pictures);
        QTest::newRow("rebuilt with changes") << 30 << 5 << quint32(7);
        QTest::newRow("two pictures, another seed") << 2 << 0 << quint32(12345);
    }

    void shuffledPasses()
    {
        QFETCH(int, pictures);
        QFETCH(int, changeEachPass);
        QFETCH(quint32, seed);
        QStringList catalogue;
        for (int i = 0; i < pictures; ++i)
            catalogue << QString::number(i);
        PassOrder order(true, seeded(seed));
        order.start(catalogue);
        QString last;
        QSet<QStringList> orders;
        int next = pictures;
        for (int pass = 0; pass < 40; ++pass) {
            QStringList shown;
            do
                shown << order.next();
            while (!order.passEnded());
            QVERIFY2(pictures == 1 || shown.front() != last, qPrintable(QStringLiteral("pass %1").arg(pass)));
            QStringList sorted = shown;
            sorted.sort();
            QStringList expected = catalogue;
            expected.sort();
            QCOMPARE(sorted, expected);
            orders.insert(shown);
            last = shown.back();
            for (int change = 0; change < changeEachPass; ++change) {
                catalogue.removeAt(change * 3 % catalogue.size());
                catalogue << QString::number(next++);
            }
            order.rebuilt(catalogue);
        }
        QVERIFY(orders.size() >= qMin(pictures, 3) - 1);
    }

    void takenDate_data()
    {
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<QString>("text");
        const QByteArray day("2019:08:14 10:20:30");
        const QByteArray none;
        QTest::newRow("little endian") << exifBlock(false, true, day, none, {}) << QStringLiteral("2019年8月14日");
        QTest::newRow("big endian") << exifBlock(true, true, day, none, {}) << QStringLiteral("2019年8月14日");
        QTest::newRow("TIFF alone") << exifBlock(true, false, day, none, {}) << QStringLiteral("2019年8月14日");
        QTest::newRow("no padding") << exifBlock(false, true, "1999:12:01 00:00:00", none, {})
                                    << QStringLiteral("1999年12月1日");
        QTest::newRow("leap day") << exifBlock(false, true, "2020:02:29 23:59:59", none, {})
                                  << QStringLiteral("2020年2月29日");
        QTest::newRow("time unknown") << exifBlock(false, true, "2019:08:14   :  :  ", none, {})
                                      << QStringLiteral("2019年8月14日");
        QTest::newRow("original before digitized")
            << exifBlock(false, true, day, "2020:01:02 03:04:05", {}) << QStringLiteral("2019年8月14日");
        QTest::newRow("digitized alone") << exifBlock(true, true, none, "2020:01:02 03:04:05", {})
                                         << QStringLiteral("2020年1月2日");
        QTest::newRow("zero original, digitized")
            << exifBlock(false, true, "0000:00:00 00:00:00", "2020:01:02 03:04:05", {})
            << QStringLiteral("2020年1月2日");
        for (const char *bad : {"0000:00:00 00:00:00", "2019:13:14 10:20:30", "2019:02:30 10:20:30",
                                "2019:08:14 24:00:00", "2019:08:14 10:60:00", "2019/08/14 10:20:30", "2019:08:14",
                                "20190814 10:20:30x", "2019:0a:14 10:20:30", "    :  :     :  :  "})
            QTest::addRow("malformed %s", bad) << exifBlock(false, true, bad, none, {}) << QString();
        for (const char *damage :
             {"image directory out of range", "pointer of another type", "Exif directory out of range",
              "text of another type", "short count", "text out of range", "truncated"})
            QTest::addRow("%s", damage) << exifBlock(false, true, day, none, QString::fromLatin1(damage)) << QString();
        QTest::newRow("no dates") << exifBlock(false, true, none, none, {}) << QString();
        QTest::newRow("no TIFF header") << QByteArray("Exif\0\0XX*\0\0\0\0\x08", 14) << QString();
        QTest::newRow("empty") << QByteArray() << QString();
    }

    void takenDate()
    {
        QFETCH(QByteArray, block);
        QFETCH(QString, text);
        const auto *data = reinterpret_cast<const unsigned char *>(block.constData());
        QCOMPARE(takenDateText(exifTakenDate(data, size_t(block.size()))), text);
        // Any cut of the block reads safely, and gives the day or nothing.
        for (qsizetype length = 0; length < block.size(); ++length) {
            const QString cut = takenDateText(exifTakenDate(data, size_t(length)));
            QVERIFY2(cut.isEmpty() || cut == text, qPrintable(cut));
        }
    }
};

QTEST_GUILESS_MAIN(TestLibrary)
#include "tst_library.moc"
