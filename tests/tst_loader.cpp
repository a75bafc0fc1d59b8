#include "bench/PeakMemory.h"
#include "picture/PictureLoader.h"
#include "platform/TerminationSignal.h"

#include "picture/ExifOrientation.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <climits>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A picture whose every pixel tells its position (exact in a lossless BMP).
QImage codedPicture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = qRgb(x & 255, y & 255, ((x >> 8) & 15) | (((y >> 8) & 15) << 4));
    }
    return image;
}

// Smooth shapes with some texture, compressing like an ordinary photograph.
QImage smoothPicture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int ring = ((x - width / 3) * (x - width / 3) + (y - height / 2) * (y - height / 2)) / 97;
            line[x]
                = qRgb((x * 255) / qMax(1, width - 1), (ring * 7) & 255, ((x ^ y) & 63) + (y * 190) / qMax(1, height));
        }
    }
    return image;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool writeAll(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// A JPEG of `image` made by cjpeg with `options`.
QString makeJpeg(const QString &folder, const QString &name, const QImage &image, const QStringList &options = {})
{
    const QString source = folder + QLatin1String("/source-") + name + QLatin1String(".ppm");
    const QString path = folder + QLatin1Char('/') + name;
    if (!image.save(source, "PPM"))
        return {};
    if (!run(QStringLiteral("cjpeg"), options + QStringList{QStringLiteral("-outfile"), path, source}))
        return {};
    QFile::remove(source);
    return path;
}

// The reference: the whole file decoded by djpeg.
QImage fullDecode(const QString &path)
{
    const QString target = path + QLatin1String(".full.ppm");
    if (!run(QStringLiteral("djpeg"), {QStringLiteral("-ppm"), QStringLiteral("-outfile"), target, path}))
        return {};
    QImage image(target, "PPM");
    QFile::remove(target);
    return image.convertToFormat(QImage::Format_RGB32);
}

// The source pixel that reduced position `d` of an axis reduced from `length` to `size`
// takes: floor(d x length / size).
int sourceOf(int d, int length, int size)
{
    return int(qint64(d) * length / size);
}

// Whether `picture` is exactly the visible part of `source` reduced to its size.
QString comparePicks(const Picture &picture, const QImage &source)
{
    for (int r = 0; r < picture.pixels.height(); ++r) {
        const int sy = sourceOf(picture.origin.y() + r, source.height(), picture.size.height());
        for (int c = 0; c < picture.pixels.width(); ++c) {
            const int sx = sourceOf(picture.origin.x() + c, source.width(), picture.size.width());
            const QRgb got = picture.pixels.pixel(c, r);
            const QRgb want = source.pixel(sx, sy);
            if (got != want)
                return QStringLiteral("pixel %1,%2 (source %3,%4): %5 instead of %6")
                    .arg(c)
                    .arg(r)
                    .arg(sx)
                    .arg(sy)
                    .arg(got, 8, 16)
                    .arg(want, 8, 16);
        }
    }
    return {};
}

// For a JPEG that ended early: `picture`'s rows are those of `reference` (the whole
// file decoded) down to some row and black after it. The last decoded row may take its
// colour from the unfinished block row below it. `shownRows` gets the rows shown.
QString compareDecodedTop(const Picture &picture, const QImage &reference, int *shownRows)
{
    const QImage &pixels = picture.pixels;
    const QRgb black = qRgb(0, 0, 0);
    const auto blackRow = [&pixels, black](int y) {
        for (int x = 0; x < pixels.width(); ++x)
            if (pixels.pixel(x, y) != black)
                return false;
        return true;
    };
    int shown = 0;
    while (shown < pixels.height() && !blackRow(shown))
        ++shown;
    *shownRows = shown;
    for (int y = 0; y + 1 < shown; ++y)
        for (int x = 0; x < pixels.width(); ++x)
            if (pixels.pixel(x, y) != reference.pixel(picture.origin.x() + x, picture.origin.y() + y))
                return QStringLiteral("row %1 differs from the whole file's at column %2").arg(y).arg(x);
    for (int y = shown; y < pixels.height(); ++y)
        if (!blackRow(y))
            return QStringLiteral("row %1 is shown after the black row %2").arg(y).arg(shown);
    return {};
}

int findMarker(const QByteArray &data, uchar first, uchar last, int from = 2)
{
    for (int i = from; i + 1 < data.size(); ++i) {
        const auto marker = uchar(data[i + 1]);
        if (uchar(data[i]) == 0xFF && marker >= first && marker <= last)
            return i;
    }
    return -1;
}

// The JPEG with its last scan repeated until it has `scans` scans, and `padding` zero
// bytes (extra data the decoder reads through) before its end marker.
QByteArray withScans(const QByteArray &data, int scans, qsizetype padding = 0)
{
    int count = 0;
    int lastScan = -1;
    for (int at = findMarker(data, 0xDA, 0xDA); at >= 0; at = findMarker(data, 0xDA, 0xDA, at + 2)) {
        lastScan = at;
        ++count;
    }
    const int end = findMarker(data, 0xD9, 0xD9, lastScan);
    if (lastScan < 0 || end < 0)
        return {};
    const QByteArray scan = data.mid(lastScan, end - lastScan);
    return data.left(end) + scan.repeated(qMax(0, scans - count)) + QByteArray(padding, '\0') + "\xFF\xD9";
}

// The JPEG with its frame header claiming `width` x `height`.
QByteArray withClaimedSize(QByteArray jpeg, int width, int height)
{
    // A frame header: 0xC0 to 0xCF but for the Huffman and arithmetic tables (C4, CC)
    // and the reserved C8.
    int frame = findMarker(jpeg, 0xC0, 0xCF);
    while (frame >= 0 && (uchar(jpeg[frame + 1]) & 3) == 0 && uchar(jpeg[frame + 1]) != 0xC0)
        frame = findMarker(jpeg, 0xC0, 0xCF, frame + 2);
    if (frame < 0)
        return {};
    qToBigEndian<quint16>(quint16(height), jpeg.data() + frame + 5);
    qToBigEndian<quint16>(quint16(width), jpeg.data() + frame + 7);
    return jpeg;
}

// A BMP file put together by hand, for the malformed ones.
struct BmpParts
{
    qint32 width = 4;
    qint32 height = 1;
    quint16 bitCount = 24;
    quint32 compression = 0;
    quint32 colorsUsed = 0;
    QByteArray palette;      // colour table entries, 4 bytes each
    QByteArray pixels;       // the pixel data as stored
    qint64 pixelOffset = -1; // -1: right after the headers and table
};

QByteArray bmpFile(const BmpParts &parts)
{
    const quint32 offset
        = parts.pixelOffset >= 0 ? quint32(parts.pixelOffset) : quint32(14 + 40 + parts.palette.size());
    QByteArray data(14 + 40, '\0');
    char *p = data.data();
    p[0] = 'B';
    p[1] = 'M';
    qToLittleEndian<quint32>(quint32(14 + 40 + parts.palette.size() + parts.pixels.size()), p + 2);
    qToLittleEndian<quint32>(offset, p + 10);
    qToLittleEndian<quint32>(40, p + 14);
    qToLittleEndian<qint32>(parts.width, p + 18);
    qToLittleEndian<qint32>(parts.height, p + 22);
    qToLittleEndian<quint16>(1, p + 26);
    qToLittleEndian<quint16>(parts.bitCount, p + 28);
    qToLittleEndian<quint32>(parts.compression, p + 30);
    qToLittleEndian<quint32>(quint32(parts.pixels.size()), p + 34);
    qToLittleEndian<quint32>(parts.colorsUsed, p + 46);
    return data + parts.palette + parts.pixels;
}

// 24-bit rows, bottom-up (or top-down), padded to four bytes, of `image`.
QByteArray bmpRows(const QImage &image, bool topDown = false)
{
    QByteArray rows;
    for (int i = 0; i < image.height(); ++i) {
        const int y = topDown ? i : image.height() - 1 - i;
        QByteArray row;
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            row += char(qBlue(pixel));
            row += char(qGreen(pixel));
            row += char(qRed(pixel));
        }
        while (row.size() % 4)
            row += '\0';
        rows += row;
    }
    return rows;
}

// Starts the peak resident size afresh, so that the next peakMemoryKiB() tells what
// came after, not what an earlier test took.
void resetPeakMemory()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

} // namespace

class TestLoader : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_folder;

    QString path(const QString &name) const { return m_folder.filePath(name); }

private slots:
    void initTestCase();

    void placement_data();
    void placement();
    void reductionToNothing();

    void jpegMatchesFullDecode_data();
    void jpegMatchesFullDecode();
    void jpegLayouts_data();
    void jpegLayouts();

    void invalidFiles_data();
    void invalidFiles();
    void fifoNeverBlocks();
    void folderNamedLikePicture();
    void symlinkLoop();
    void fileNamedOnlyByExtension();

    void truncatedJpegShowsDecodedTop_data();
    void truncatedJpegShowsDecodedTop();
    void missingEndMarker_data();
    void missingEndMarker();
    void truncatedProgressive_data();
    void truncatedProgressive();
    void jpegCutEvery64KiB();
    void headerBombsRefusedQuickly_data();
    void headerBombsRefusedQuickly();
    void pixelLimit_data();
    void pixelLimit();
    void progressiveBombRefusedWithinMemory();
    void tooManyScans();
    void twelveBitJpegInvalid();
    void slowDecodeAbandoned_data();
    void slowDecodeAbandoned();

    void bundledSamples();

    void smallBmps_data();
    void smallBmps();
    void malformedBmps_data();
    void malformedBmps();
    void bmpWithinBudget_data();
    void bmpWithinBudget();
    void bmpAbandonedOnTermination();
    void framePictureJpegReduced_data();
    void framePictureJpegReduced();
    void frameProgressiveBombRefused();

    void exifOrientationRead_data();
    void exifOrientationRead();
    void orientationTurnsUpright_data();
    void orientationTurnsUpright();
    void jpegShowsUpright_data();
    void jpegShowsUpright();
};

void TestLoader::initTestCase()
{
    QVERIFY(m_folder.isValid());
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("cjpeg")).isEmpty(),
             "cjpeg (libjpeg-turbo-progs) is needed");
}

// Geometry on a lossless BMP whose every pixel tells its position.
void TestLoader::placement_data()
{
    QTest::addColumn<QSize>("source");
    QTest::addColumn<double>("scale");
    QTest::addColumn<QSize>("area");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QRect>("shown"); // in the reduced picture's coordinates

    QTest::newRow("1600x1200 in 400x400 shows columns 600-999, rows 400-799")
        << QSize(1600, 1200) << 1.0 << QSize(400, 400) << QSize(1600, 1200) << QRect(600, 400, 400, 400);
    QTest::newRow("scale 0.3 on 1024x768 gives 307x230")
        << QSize(1024, 768) << 0.3 << QSize(400, 400) << QSize(307, 230) << QRect(0, 0, 307, 230);
    QTest::newRow("scale 0.25 on 1600x1200 gives 400x300")
        << QSize(1600, 1200) << 0.25 << QSize(400, 400) << QSize(400, 300) << QRect(0, 0, 400, 300);
    QTest::newRow("reduced and still larger than the area")
        << QSize(1600, 1200) << 0.5 << QSize(61, 60) << QSize(800, 600) << QRect(369, 270, 61, 60);
    QTest::newRow("one wider: the extra column is lost at the right")
        << QSize(401, 403) << 1.0 << QSize(400, 400) << QSize(401, 403) << QRect(0, 1, 400, 400);
    QTest::newRow("smaller than the area: whole")
        << QSize(123, 45) << 1.0 << QSize(400, 400) << QSize(123, 45) << QRect(0, 0, 123, 45);
    QTest::newRow("no area: whole") << QSize(700, 20) << 1.0 << QSize() << QSize(700, 20) << QRect(0, 0, 700, 20);
    QTest::newRow("preview scale, odd sizes")
        << QSize(1001, 777) << 0.1484375 << QSize(59, 59) << QSize(148, 115) << QRect(44, 28, 59, 59);
}

void TestLoader::placement()
{
    QFETCH(QSize, source);
    QFETCH(double, scale);
    QFETCH(QSize, area);
    QFETCH(QSize, size);
    QFETCH(QRect, shown);

    const QImage image = codedPicture(source.width(), source.height());
    const QString file = path(QStringLiteral("coded.bmp"));
    QVERIFY(image.save(file, "BMP"));

    const auto picture = loadPicture(file, scale, area);
    QVERIFY(picture.has_value());
    QCOMPARE(picture->size, size);
    QCOMPARE(picture->origin, shown.topLeft());
    QCOMPARE(picture->pixels.size(), shown.size());
    const QString mismatch = comparePicks(*picture, image);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));

    // Drawn at its origin in a picture of `size` centred in the area, the visible part
    // gives exactly what drawing the whole reduced picture would.
    if (!area.isEmpty()) {
        QImage whole(size, QImage::Format_RGB32);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                whole.setPixel(x, y,
                               image.pixel(sourceOf(x, source.width(), size.width()),
                                           sourceOf(y, source.height(), size.height())));
        QImage expected(area, QImage::Format_RGB32);
        QImage got(area, QImage::Format_RGB32);
        expected.fill(Qt::black);
        got.fill(Qt::black);
        const QPoint offset((area.width() - size.width()) / 2, (area.height() - size.height()) / 2);
        QPainter(&expected).drawImage(offset, whole);
        QPainter(&got).drawImage(offset + picture->origin, picture->pixels);
        QVERIFY2(got == expected, "the visible part differs from the whole picture drawn centred");
    }
}

void TestLoader::reductionToNothing()
{
    const QString file = path(QStringLiteral("tiny.bmp"));
    QVERIFY(codedPicture(3, 40).save(file, "BMP"));
    const auto picture = loadPicture(file, 0.25, QSize(60, 60));
    QVERIFY2(picture.has_value(), "a picture reducing to nothing is not invalid");
    QVERIFY(picture->pixels.isNull());
    QCOMPARE(picture->size, QSize(0, 10));
}

// The visible part of a JPEG equals the same part of djpeg's decode of the whole file,
// whichever sampling and coding the file uses.
void TestLoader::jpegMatchesFullDecode_data()
{
    QTest::addColumn<QSize>("source");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<double>("scale");
    QTest::addColumn<QSize>("area");

    const QSize area(400, 400);
    const struct
    {
        const char *name;
        QStringList options;
    } codings[] = {
        {"4:2:0", {"-sample", "2x2"}},   {"4:2:2", {"-sample", "2x1"}},   {"4:4:4", {"-sample", "1x1"}},
        {"4:4:0", {"-sample", "1x2"}},   {"gray", {"-grayscale"}},        {"progressive", {"-progressive"}},
        {"restarts", {"-restart", "1"}}, {"arithmetic", {"-arithmetic"}},
    };
    for (const auto &coding : codings) {
        QTest::addRow("%s 1600x1200 in 400x400", coding.name) << QSize(1600, 1200) << coding.options << 1.0 << area;
        QTest::addRow("%s 1601x1203 in 400x400", coding.name) << QSize(1601, 1203) << coding.options << 1.0 << area;
        QTest::addRow("%s 1603x997 at 0.1484375 in 59x59", coding.name)
            << QSize(1603, 997) << coding.options << 0.1484375 << QSize(59, 59);
    }
    QTest::newRow("4:2:0 1024x768 at 0.3") << QSize(1024, 768) << QStringList{"-sample", "2x2"} << 0.3 << area;
    QTest::newRow("4:2:0 whole") << QSize(333, 217) << QStringList{"-sample", "2x2"} << 1.0 << QSize();
    QTest::newRow("4:2:0 narrow band at the right")
        << QSize(2000, 300) << QStringList{"-sample", "2x2"} << 1.0 << QSize(17, 400);
    QTest::newRow("4:2:2 one row, one column")
        << QSize(501, 303) << QStringList{"-sample", "2x1"} << 1.0 << QSize(1, 1);
}

void TestLoader::jpegMatchesFullDecode()
{
    QFETCH(QSize, source);
    QFETCH(QStringList, options);
    QFETCH(double, scale);
    QFETCH(QSize, area);

    const QString file = makeJpeg(m_folder.path(), QStringLiteral("match.jpg"),
                                  smoothPicture(source.width(), source.height()), options);
    QVERIFY(!file.isEmpty());
    const QImage reference = fullDecode(file);
    QCOMPARE(reference.size(), source);

    const auto picture = loadPicture(file, scale, area);
    QVERIFY(picture.has_value());
    const QSize reduced = scale == 1.0 ? source : QSize(int(source.width() * scale), int(source.height() * scale));
    QCOMPARE(picture->size, reduced);
    const QString mismatch = comparePicks(*picture, reference);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
}

// Colour layouts that are either shown or refused, never a crash.
void TestLoader::jpegLayouts_data()
{
    QTest::addColumn<QString>("convertColorspace");
    QTest::newRow("CMYK") << QStringLiteral("CMYK");
    QTest::newRow("gray") << QStringLiteral("Gray");
}

void TestLoader::jpegLayouts()
{
    QFETCH(QString, convertColorspace);
    const QString source = path(QStringLiteral("layout.png"));
    const QString file = path(QStringLiteral("layout.jpg"));
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(QColor(200, 40, 40));
    QVERIFY(image.save(source, "PNG"));
    QVERIFY(run(QStringLiteral("convert"),
                {source, QStringLiteral("-colorspace"), convertColorspace, QStringLiteral("-quality"),
                 QStringLiteral("95"), file}));
    const auto picture = loadPicture(file, 1.0, QSize(400, 400));
    QVERIFY(picture.has_value());
    QCOMPARE(picture->pixels.size(), QSize(64, 48));
    const QColor middle = picture->pixels.pixelColor(32, 24);
    if (convertColorspace == QLatin1String("Gray")) {
        QCOMPARE(middle.red(), middle.green());
        QCOMPARE(middle.green(), middle.blue());
    } else {
        QVERIFY2(qAbs(middle.red() - 200) < 12 && qAbs(middle.green() - 40) < 12 && qAbs(middle.blue() - 40) < 12,
                 qPrintable(middle.name()));
    }
}

void TestLoader::invalidFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");

    const QImage image = smoothPicture(64, 64);
    const QString jpeg = makeJpeg(m_folder.path(), QStringLiteral("valid.jpg"), image);
    const QByteArray jpegData = readAll(jpeg);
    QByteArray bmpData;
    {
        QBuffer buffer(&bmpData);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "BMP");
    }
    QVERIFY(!jpegData.isEmpty() && !bmpData.isEmpty());

    QTest::newRow("JPEG data in a .bmp") << "jpeg.bmp" << jpegData;
    QTest::newRow("BMP data in a .jpg") << "bmp.jpg" << bmpData;
    QTest::newRow("PNG data in a .jpeg") << "png.jpeg" << QByteArray("\x89PNG\r\n\x1a\n", 8) + jpegData;
    QTest::newRow("JPEG of 0 bytes") << "empty.jpg" << QByteArray();
    QTest::newRow("JPEG of 2 bytes") << "two.jpg" << jpegData.left(2);
    QTest::newRow("JPEG cut inside its header") << "header.jpg" << jpegData.left(60);
    QTest::newRow("BMP of 0 bytes") << "empty.bmp" << QByteArray();
    QTest::newRow("BMP of 2 bytes") << "two.bmp" << bmpData.left(2);
    QTest::newRow("valid JPEG named .png") << "valid.png" << jpegData;
    QTest::newRow("valid JPEG named .jpe") << "valid.jpe" << jpegData;
    QTest::newRow("valid JPEG without extension") << "valid" << jpegData;
    QTest::newRow("garbage") << "garbage.jpg" << QByteArray(5000, '\x55');
}

void TestLoader::invalidFiles()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    const QString file = path(QStringLiteral("invalid/") + name);
    QVERIFY(QDir().mkpath(path(QStringLiteral("invalid"))));
    QVERIFY(writeAll(file, content));
    QVERIFY(!loadPicture(file, 1.0, QSize(400, 400)).has_value());
    QVERIFY(!loadPicture(file, 0.3, QSize(60, 60)).has_value());
}

void TestLoader::fifoNeverBlocks()
{
    const QString file = path(QStringLiteral("x.jpg"));
    QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!loadPicture(file, 1.0, QSize(400, 400)).has_value());
    QVERIFY(timer.elapsed() < 5000);
    QFile::remove(file);
}

void TestLoader::folderNamedLikePicture()
{
    QVERIFY(QDir().mkpath(path(QStringLiteral("y.jpg"))));
    QVERIFY(QDir().mkpath(path(QStringLiteral("z.BMP"))));
    QVERIFY(!loadPicture(path(QStringLiteral("y.jpg"))).has_value());
    QVERIFY(!loadPicture(path(QStringLiteral("z.BMP"))).has_value());
    QVERIFY(!loadPicture(path(QStringLiteral("vanished.jpg"))).has_value());
}

void TestLoader::symlinkLoop()
{
    const QByteArray first = QFile::encodeName(path(QStringLiteral("loop1.jpg")));
    const QByteArray second = QFile::encodeName(path(QStringLiteral("loop2.jpg")));
    QCOMPARE(::symlink(second.constData(), first.constData()), 0);
    QCOMPARE(::symlink(first.constData(), second.constData()), 0);
    QVERIFY(!loadPicture(path(QStringLiteral("loop1.jpg"))).has_value());
}

void TestLoader::fileNamedOnlyByExtension()
{
    const QString file = path(QStringLiteral("only/.JPG"));
    QVERIFY(QDir().mkpath(path(QStringLiteral("only"))));
    QVERIFY(QFile::copy(makeJpeg(m_folder.path(), QStringLiteral("plain.jpg"), smoothPicture(30, 20)), file));
    const auto picture = loadPicture(file);
    QVERIFY(picture.has_value());
    QCOMPARE(picture->size, QSize(30, 20));
}

void TestLoader::truncatedJpegShowsDecodedTop_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QSize>("area");
    QTest::addColumn<bool>("endMarker");
    QTest::newRow("4:2:0 whole") << QStringList{"-sample", "2x2"} << QSize(600, 600) << false;
    QTest::newRow("4:2:0 middle") << QStringList{"-sample", "2x2"} << QSize(300, 500) << false;
    QTest::newRow("4:4:4 whole") << QStringList{"-sample", "1x1"} << QSize(600, 600) << false;
    QTest::newRow("4:2:2 middle") << QStringList{"-sample", "2x1"} << QSize(301, 450) << false;
    QTest::newRow("gray") << QStringList{"-grayscale"} << QSize(600, 600) << false;
    QTest::newRow("restarts") << QStringList{"-restart", "2"} << QSize(600, 600) << false;
    QTest::newRow("arithmetic") << QStringList{"-arithmetic"} << QSize(600, 600) << false;
    QTest::newRow("4:2:0 cut with an end marker") << QStringList{"-sample", "2x2"} << QSize(600, 600) << true;
    QTest::newRow("4:4:4 middle cut with an end marker") << QStringList{"-sample", "1x1"} << QSize(200, 300) << true;
}

// A file that ends early shows the rows decoded before its end, exactly as the whole
// file would, and black after them, never the grey of blocks without data.
void TestLoader::truncatedJpegShowsDecodedTop()
{
    QFETCH(QStringList, options);
    QFETCH(QSize, area);
    const QString whole = makeJpeg(m_folder.path(), QStringLiteral("whole.jpg"), smoothPicture(600, 600), options);
    QVERIFY(!whole.isEmpty());
    const QImage reference = fullDecode(whole);
    const QByteArray data = readAll(whole);
    const QString file = path(QStringLiteral("cut.jpg"));
    QFETCH(bool, endMarker);
    QVERIFY(writeAll(file, data.left(data.size() / 2) + (endMarker ? QByteArray("\xFF\xD9") : QByteArray())));

    const auto picture = loadPicture(file, 1.0, area);
    QVERIFY2(picture.has_value(), "a JPEG that ends early shows what was decoded");
    QCOMPARE(picture->pixels.size(), area);
    int shown = 0;
    const QString mismatch = compareDecodedTop(*picture, reference, &shown);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    const int lastRow = picture->origin.y() + shown;
    QVERIFY2(lastRow > 200 && lastRow < 450, qPrintable(QString::number(lastRow)));
}

void TestLoader::missingEndMarker_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::newRow("4:2:0") << QStringList{"-sample", "2x2"};
    QTest::newRow("4:4:4") << QStringList{"-sample", "1x1"};
    QTest::newRow("gray") << QStringList{"-grayscale"};
    QTest::newRow("progressive") << QStringList{"-progressive"};
}

// A file that lacks only its end marker has all its data: the whole picture is shown.
void TestLoader::missingEndMarker()
{
    QFETCH(QStringList, options);
    const QString whole = makeJpeg(m_folder.path(), QStringLiteral("ended.jpg"), smoothPicture(203, 101), options);
    const QImage reference = fullDecode(whole);
    const QByteArray data = readAll(whole);
    QVERIFY(data.endsWith("\xFF\xD9"));
    const QString file = path(QStringLiteral("unended.jpg"));
    QVERIFY(writeAll(file, data.chopped(2)));
    const auto picture = loadPicture(file, 1.0, QSize(400, 400));
    QVERIFY(picture.has_value());
    QCOMPARE(picture->pixels, reference);
}

void TestLoader::truncatedProgressive_data()
{
    QTest::addColumn<bool>("inFirstScan");
    QTest::newRow("cut in the first scan") << true;
    QTest::newRow("cut in a later scan") << false;
}

// Cut in its first scan, a progressive file shows the rows that scan reached and black
// below; cut later, every row has at least its coarse picture.
void TestLoader::truncatedProgressive()
{
    QFETCH(bool, inFirstScan);
    const QString whole
        = makeJpeg(m_folder.path(), QStringLiteral("progressive.jpg"), smoothPicture(600, 600), {"-progressive"});
    const QByteArray data = readAll(whole);
    const int firstScan = findMarker(data, 0xDA, 0xDA);
    const int secondScan = findMarker(data, 0xDA, 0xDA, firstScan + 2);
    QVERIFY(firstScan > 0 && secondScan > firstScan);
    const int cut
        = inFirstScan ? firstScan + (secondScan - firstScan) / 2 : secondScan + (int(data.size()) - secondScan) / 2;
    const QString file = path(QStringLiteral("progressive-cut.jpg"));
    QVERIFY(writeAll(file, data.left(cut)));

    const auto picture = loadPicture(file, 1.0, QSize(600, 600));
    QVERIFY(picture.has_value());
    const QImage &pixels = picture->pixels;
    const auto rowColours = [&pixels](int y) {
        QSet<QRgb> colours;
        for (int x = 0; x < pixels.width(); ++x)
            colours.insert(pixels.pixel(x, y));
        return colours;
    };
    QVERIFY(rowColours(0) != QSet<QRgb>{qRgb(0, 0, 0)});
    if (inFirstScan) {
        QCOMPARE(rowColours(599), QSet<QRgb>{qRgb(0, 0, 0)});
        QVERIFY2(!rowColours(599).contains(qRgb(128, 128, 128)), "no grey blocks");
    } else {
        QVERIFY(rowColours(599) != QSet<QRgb>{qRgb(0, 0, 0)});
    }
}

// A large JPEG cut at every 64 KiB: each piece is shown (the rows it holds) or refused.
void TestLoader::jpegCutEvery64KiB()
{
    const QString whole
        = makeJpeg(m_folder.path(), QStringLiteral("large.jpg"), smoothPicture(3000, 2000), {"-quality", "95"});
    QVERIFY(!whole.isEmpty());
    const QByteArray data = readAll(whole);
    QVERIFY(data.size() > 4 * 65536);
    const QImage reference = fullDecode(whole);
    const QString file = path(QStringLiteral("large-cut.jpg"));
    int cuts = 0;
    int lastShown = 0;
    for (qsizetype length = 65536; length < data.size(); length += 65536) {
        QVERIFY(writeAll(file, data.left(length)));
        const auto picture = loadPicture(file, 1.0, QSize(3000, 2000));
        const auto band = loadPicture(file, 1.0, QSize(400, 400));
        const auto preview = loadPicture(file, 0.1484375, QSize(59, 59));
        QVERIFY(picture.has_value() && band.has_value() && preview.has_value());
        int shown = 0;
        const QString mismatch = compareDecodedTop(*picture, reference, &shown);
        QVERIFY2(mismatch.isEmpty(), qPrintable(QStringLiteral("cut at %1: %2").arg(length).arg(mismatch)));
        QVERIFY2(shown >= lastShown, "more data shows no fewer rows");
        lastShown = shown;
        QCOMPARE(band->pixels.size(), QSize(400, 400));
        ++cuts;
    }
    QVERIFY(cuts >= 4);
    QVERIFY(lastShown > 1000);
}

// Small files claiming large pictures: refused at once, before their memory is taken.
void TestLoader::headerBombsRefusedQuickly_data()
{
    QTest::addColumn<QSize>("claimed");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("scans"); // 0: as cjpeg made them
    QTest::addColumn<qsizetype>("padding");
    QTest::newRow("60000x60000") << QSize(60000, 60000) << QStringList() << 0 << qsizetype(0);
    QTest::newRow("65500x65500") << QSize(65500, 65500) << QStringList() << 0 << qsizetype(0);
    QTest::newRow("48010x16173") << QSize(48010, 16173) << QStringList() << 0 << qsizetype(0);
    QTest::newRow("65500x65500 progressive") << QSize(65500, 65500) << QStringList{"-progressive"} << 0 << qsizetype(0);
    QTest::newRow("16000x16000 progressive in a few hundred bytes")
        << QSize(16000, 16000) << QStringList{"-progressive"} << 0 << qsizetype(0);
    QTest::newRow("4000x4000 progressive with 99 scans")
        << QSize(4000, 4000) << QStringList{"-progressive"} << 99 << qsizetype(0);
    QTest::newRow("16000x16000 arithmetic progressive")
        << QSize(16000, 16000) << QStringList{"-progressive", "-arithmetic"} << 0 << qsizetype(0);
    // A bit for every block, and 277 MB of coefficients.
    QTest::newRow("6800x6800 progressive 4:4:4 with 300 KB of data")
        << QSize(6800, 6800) << QStringList{"-progressive", "-sample", "1x1"} << 0 << qsizetype(300000);
}

void TestLoader::headerBombsRefusedQuickly()
{
    QFETCH(QSize, claimed);
    QFETCH(QStringList, options);
    QFETCH(int, scans);
    QFETCH(qsizetype, padding);
    const QString small = makeJpeg(m_folder.path(), QStringLiteral("small.jpg"), smoothPicture(16, 16), options);
    const QByteArray bomb
        = withScans(withClaimedSize(readAll(small), claimed.width(), claimed.height()), scans, padding);
    QVERIFY(!bomb.isEmpty());
    QVERIFY(bomb.size() < 4096 + padding);
    const QString file = path(QStringLiteral("bomb.jpg"));
    QVERIFY(writeAll(file, bomb));
    resetPeakMemory();
    const qint64 before = peakMemoryKiB();
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!loadPicture(file, 1.0, QSize(400, 400)).has_value());
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    const qint64 grown = peakMemoryKiB() - before;
    QVERIFY2(grown < 30 * 1024, qPrintable(QStringLiteral("peak grew by %1 KiB").arg(grown)));
}

// An arithmetic-coded file may spend less than a bit on a block, so only the pixel limit
// bounds it: 256,000,000 pixels are allowed, one row more is not. The files end after
// their header, so the allowed one is a picture with nothing decoded: black, and quickly
// so. A Huffman-coded file as short is refused whatever its size.
void TestLoader::pixelLimit_data()
{
    QTest::addColumn<QSize>("claimed");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("allowed");
    const QStringList arithmetic{"-arithmetic"};
    QTest::newRow("16000x16000") << QSize(16000, 16000) << arithmetic << true;
    QTest::newRow("16000x16001") << QSize(16000, 16001) << arithmetic << false;
    QTest::newRow("64000x4000") << QSize(64000, 4000) << arithmetic << true;
    QTest::newRow("64000x4001") << QSize(64000, 4001) << arithmetic << false;
    QTest::newRow("16000x16000 Huffman-coded") << QSize(16000, 16000) << QStringList() << false;
    QTest::newRow("400x300 Huffman-coded") << QSize(400, 300) << QStringList() << false;
}

void TestLoader::pixelLimit()
{
    QFETCH(QSize, claimed);
    QFETCH(QStringList, options);
    QFETCH(bool, allowed);
    const QString small = makeJpeg(m_folder.path(), QStringLiteral("limit.jpg"), smoothPicture(16, 16), options);
    const QString file = path(QStringLiteral("limit-claim.jpg"));
    const QByteArray data = withClaimedSize(readAll(small), claimed.width(), claimed.height());
    const int scan = findMarker(data, 0xDA, 0xDA);
    QVERIFY(scan > 0);
    QVERIFY(writeAll(file, data.left(scan + 2 + qFromBigEndian<quint16>(data.constData() + scan + 2))));
    resetPeakMemory();
    const qint64 before = peakMemoryKiB();
    QElapsedTimer timer;
    timer.start();
    const auto picture = loadPicture(file, 1.0, QSize(400, 400));
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(picture.has_value(), allowed);
    if (allowed) {
        QCOMPARE(picture->size, claimed);
        QCOMPARE(picture->pixels.size(), QSize(400, 400));
        QCOMPARE(picture->pixels.pixel(200, 200), qRgb(0, 0, 0));
    }
    const qint64 grown = peakMemoryKiB() - before;
    QVERIFY2(grown < 32 * 1024, qPrintable(QStringLiteral("peak grew by %1 KiB").arg(grown)));
}

// A progressive file holds all its coefficients while it decodes; a header within the
// pixel limit but needing more than the decoder's memory allowance is refused before
// that memory is taken.
void TestLoader::progressiveBombRefusedWithinMemory()
{
    const QString small = makeJpeg(m_folder.path(), QStringLiteral("small-progressive.jpg"), smoothPicture(16, 16),
                                   {"-progressive", "-sample", "1x1"});
    const QString file = path(QStringLiteral("progressive-bomb.jpg"));
    QVERIFY(writeAll(file, withClaimedSize(readAll(small), 15000, 15000)));
    resetPeakMemory();
    const qint64 before = peakMemoryKiB();
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!loadPicture(file, 1.0, QSize(400, 400)).has_value());
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    const qint64 grown = peakMemoryKiB() - before;
    QVERIFY2(grown < 64 * 1024, qPrintable(QStringLiteral("peak grew by %1 KiB").arg(grown)));
}

// One scan repeated: 100 scans are decoded, 10,000 are refused after the 100th.
void TestLoader::tooManyScans()
{
    const QString small
        = makeJpeg(m_folder.path(), QStringLiteral("scans.jpg"), smoothPicture(16, 16), {"-progressive"});
    const QByteArray data = readAll(small);
    int lastScan = -1;
    for (int at = findMarker(data, 0xDA, 0xDA); at >= 0; at = findMarker(data, 0xDA, 0xDA, at + 2))
        lastScan = at;
    const int end = findMarker(data, 0xD9, 0xD9, lastScan);
    QVERIFY(lastScan > 0 && end > lastScan);
    const QByteArray scan = data.mid(lastScan, end - lastScan);
    const QByteArray head = data.left(end);
    int scansInFile = 0;
    for (int at = findMarker(data, 0xDA, 0xDA); at >= 0; at = findMarker(data, 0xDA, 0xDA, at + 2))
        ++scansInFile;

    const QString file = path(QStringLiteral("many-scans.jpg"));
    QVERIFY(writeAll(file, head + scan.repeated(100 - scansInFile) + "\xFF\xD9"));
    QVERIFY2(loadPicture(file).has_value(), "100 scans are allowed");

    QVERIFY(writeAll(file, head + scan.repeated(10000) + "\xFF\xD9"));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!loadPicture(file).has_value());
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));

    QVERIFY(writeAll(file, head + scan.repeated(101 - scansInFile) + "\xFF\xD9"));
    QVERIFY2(!loadPicture(file).has_value(), "101 scans are too many");
}

void TestLoader::twelveBitJpegInvalid()
{
    QByteArray data = readAll(makeJpeg(m_folder.path(), QStringLiteral("eight.jpg"), smoothPicture(16, 16)));
    const int frame = findMarker(data, 0xC0, 0xC2);
    QVERIFY(frame > 0);
    data[frame + 4] = 12;
    const QString file = path(QStringLiteral("twelve.jpg"));
    QVERIFY(writeAll(file, data));
    QVERIFY(!loadPicture(file).has_value());
}

void TestLoader::slowDecodeAbandoned_data()
{
    QTest::addColumn<bool>("terminating");
    QTest::addColumn<bool>("cancelled");
    QTest::newRow("given up after 3 s") << false << false;
    QTest::newRow("given up at once when SIGTERM has come") << true << false;
    QTest::newRow("given up at once when the caller cancels") << false << true;
}

// A progressive file with 4 GB to read through before its end marker (a hole in a
// sparse file): reading it takes tens of seconds, which no picture may take.
void TestLoader::slowDecodeAbandoned()
{
    QFETCH(bool, terminating);
    QFETCH(bool, cancelled);
    const QByteArray data
        = readAll(makeJpeg(m_folder.path(), QStringLiteral("slow.jpg"), smoothPicture(64, 64), {"-progressive"}));
    QVERIFY(data.endsWith("\xFF\xD9"));
    const QString file = path(QStringLiteral("slow.jpg"));
    {
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(out.write(data.chopped(2)), data.size() - 2);
        QVERIFY(out.seek(out.pos() + (qint64(4) << 30)));
        QCOMPARE(out.write("\xFF\xD9", 2), qint64(2));
    }
    TerminationSignal termination;
    if (terminating)
        ::raise(SIGTERM);
    QCOMPARE(terminationPending(), terminating);
    QElapsedTimer timer;
    timer.start();
    const bool shown = loadPicture(file, 1.0, QSize(400, 400), [cancelled] { return cancelled; }).has_value();
    const qint64 elapsed = timer.elapsed();
    QFile::remove(file);
    QVERIFY2(!shown, "an abandoned picture is invalid");
    if (terminating || cancelled)
        QVERIFY2(elapsed < 500, qPrintable(QString::number(elapsed)));
    else
        QVERIFY2(elapsed >= 2900 && elapsed < 6000, qPrintable(QString::number(elapsed)));
}

// The sample pictures that come with the program all load, in sizes that show both a
// clipped and a framed picture, and one portrait.
void TestLoader::bundledSamples()
{
    const QDir samples(QStringLiteral(PANTEL_SAMPLES_DIR));
    const QStringList names = samples.entryList({QStringLiteral("*.jpg"), QStringLiteral("*.bmp")}, QDir::Files);
    QVERIFY(names.size() >= 5);
    bool larger = false;
    bool smaller = false;
    bool portrait = false;
    bool bmp = false;
    for (const QString &name : names) {
        const auto picture = loadPicture(samples.filePath(name), 1.0, QSize(400, 400));
        QVERIFY2(picture.has_value() && !picture->pixels.isNull(), qPrintable(name));
        larger = larger || picture->size.width() > 400;
        smaller = smaller || (picture->size.width() < 400 && picture->size.height() < 400);
        portrait = portrait || picture->size.height() > picture->size.width();
        bmp = bmp || name.endsWith(QLatin1String(".bmp"));
    }
    QVERIFY(larger && smaller && portrait && bmp);
}

// Bottom-up BMPs and top-down ones (negative height, the top row stored first) alike.
void TestLoader::smallBmps_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("topDown");
    QTest::addColumn<QSize>("area");
    QTest::addColumn<QPoint>("origin"); // of the part shown
    for (const bool topDown : {false, true}) {
        const char *order = topDown ? "top-down" : "bottom-up";
        const QSize area(400, 400);
        QTest::addRow("4x1 %s", order) << QSize(4, 1) << topDown << area << QPoint(0, 0);
        QTest::addRow("3x3 %s", order) << QSize(3, 3) << topDown << area << QPoint(0, 0);
        QTest::addRow("10x1 %s", order) << QSize(10, 1) << topDown << area << QPoint(0, 0);
        QTest::addRow("1x7 %s", order) << QSize(1, 7) << topDown << area << QPoint(0, 0);
        QTest::addRow("61x43 %s in 20x9", order) << QSize(61, 43) << topDown << QSize(20, 9) << QPoint(20, 17);
    }
}

void TestLoader::smallBmps()
{
    QFETCH(QSize, size);
    QFETCH(bool, topDown);
    QFETCH(QSize, area);
    QFETCH(QPoint, origin);
    const QImage image = codedPicture(size.width(), size.height());
    BmpParts parts;
    parts.width = size.width();
    parts.height = topDown ? -size.height() : size.height();
    parts.pixels = bmpRows(image, topDown);
    const QString file = path(QStringLiteral("small.bmp"));
    QVERIFY(writeAll(file, bmpFile(parts)));
    const auto picture = loadPicture(file, 1.0, area);
    QVERIFY(picture.has_value());
    QCOMPARE(picture->size, size);
    QCOMPARE(picture->origin, origin);
    QCOMPARE(picture->pixels, image.copy(QRect(origin, size.boundedTo(area))));
}

// Broken BMPs: shown or refused, never a crash or a hang.
// A progressive file keeps all its coefficients however much it is reduced; as a frame
// picture one needing 150 MB of them (within a photo's 256 MB) is refused after its header.
void TestLoader::frameProgressiveBombRefused()
{
    const QString small = makeJpeg(m_folder.path(), QStringLiteral("frame-bomb.jpg"), smoothPicture(16, 16),
                                   {"-progressive", "-sample", "1x1"});
    const QString file = path(QStringLiteral("frame-bomb-claim.jpg"));
    QVERIFY(writeAll(file, withScans(withClaimedSize(readAll(small), 5000, 5000), 0, 160000)));
    resetPeakMemory();
    const qint64 before = peakMemoryKiB();
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!loadFramePicture(file, QSize(444, 444)).has_value());
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    const qint64 grown = peakMemoryKiB() - before;
    QVERIFY2(grown < 30 * 1024, qPrintable(QStringLiteral("peak grew by %1 KiB").arg(grown)));
}

void TestLoader::malformedBmps_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("mayShow");

    const QImage image = codedPicture(4, 2);
    BmpParts plain;
    plain.width = 4;
    plain.height = 2;
    plain.pixels = bmpRows(image);

    BmpParts headerOnly = plain;
    headerOnly.width = 100;
    headerOnly.height = 100;
    headerOnly.pixels.clear();
    QTest::newRow("54-byte file") << bmpFile(headerOnly) << true;

    BmpParts topDown = plain;
    topDown.height = -1;
    topDown.pixels = bmpRows(codedPicture(4, 1));
    QTest::newRow("height -1") << bmpFile(topDown) << true;

    BmpParts minHeight = plain;
    minHeight.height = INT_MIN;
    QTest::newRow("height INT_MIN") << bmpFile(minHeight) << false;

    BmpParts noWidth = plain;
    noWidth.width = 0;
    QTest::newRow("width 0") << bmpFile(noWidth) << false;

    BmpParts hugeClaim = plain;
    hugeClaim.width = 30000;
    hugeClaim.height = 30000;
    QTest::newRow("claims 900 megapixels") << bmpFile(hugeClaim) << false;

    // 49 x 2,424,841 (119 megapixels, within the pixel limit) in a file of under 100
    // bytes: refused before Qt makes the whole picture.
    BmpParts tallClaim = plain;
    tallClaim.width = 49;
    tallClaim.height = 2424841;
    QTest::newRow("claims 119 megapixels in under 100 bytes") << bmpFile(tallClaim) << false;

    BmpParts paletted;
    paletted.width = 4;
    paletted.height = 2;
    paletted.bitCount = 8;
    paletted.colorsUsed = 2;
    paletted.palette = QByteArray("\x00\x00\xff\x00\x00\xff\x00\x00", 8);
    paletted.pixels = QByteArray("\x00\x01\xc8\xff\x01\x00\xfe\x02", 8);
    QTest::newRow("palette index past the table") << bmpFile(paletted) << true;

    BmpParts allColours = paletted;
    allColours.colorsUsed = 0xFFFFFFFFu;
    QTest::newRow("colour count 0xFFFFFFFF") << bmpFile(allColours) << true;

    BmpParts noMasks = plain;
    noMasks.bitCount = 32;
    noMasks.compression = 3; // bit fields
    noMasks.palette = QByteArray(12, '\0');
    noMasks.pixels = QByteArray(4 * 4 * 2, '\x7f');
    QTest::newRow("bit-field masks of 0") << bmpFile(noMasks) << true;

    BmpParts longRun = paletted;
    longRun.compression = 1; // RLE8: a run of 255 on a line of 4, then a delta past the last row
    longRun.pixels = QByteArray("\xff\x01\x00\x00\x00\x02\x05\x09\xff\x01\x00\x01", 12);
    QTest::newRow("RLE runs past the line and the last row") << bmpFile(longRun) << true;

    BmpParts literalRun = paletted;
    literalRun.compression = 1; // RLE8 literal run of 200 bytes with 3 present
    literalRun.pixels = QByteArray("\x00\xc8\x01\x00\x01", 5);
    QTest::newRow("RLE literal past the end of the file") << bmpFile(literalRun) << true;

    BmpParts rle4 = paletted;
    rle4.bitCount = 4;
    rle4.compression = 2;
    rle4.pixels = QByteArray("\xff\x12\x00\x02\xff\xff\x00\xfe", 8);
    QTest::newRow("RLE4 runs past the line") << bmpFile(rle4) << true;

    BmpParts farOffset = plain;
    farOffset.pixelOffset = 100000;
    QTest::newRow("pixel data offset past the end") << bmpFile(farOffset) << true;

    BmpParts oddDepth = plain;
    oddDepth.bitCount = 7;
    QTest::newRow("7 bits a pixel") << bmpFile(oddDepth) << false;
}

void TestLoader::malformedBmps()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, mayShow);
    const QString file = path(QStringLiteral("malformed.bmp"));
    QVERIFY(writeAll(file, content));
    for (const double scale : {1.0, 0.3}) {
        const auto picture = loadPicture(file, scale, QSize(400, 400));
        if (!mayShow)
            QVERIFY(!picture.has_value());
        else if (picture.has_value())
            QVERIFY(picture->pixels.isNull() || picture->pixels.format() == QImage::Format_RGB32);
    }
}

namespace {

// A grey JPEG of `size` (a gradient with grain), made without holding the picture: its
// rows go one by one into the file that cjpeg reads.
QString greyJpeg(const QString &folder, const QString &name, QSize size)
{
    const QString source = folder + QLatin1String("/source-") + name + QLatin1String(".pgm");
    const QString path = folder + QLatin1Char('/') + name;
    {
        QFile pgm(source);
        if (!pgm.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return {};
        pgm.write(QStringLiteral("P5\n%1 %2\n255\n").arg(size.width()).arg(size.height()).toLatin1());
        QByteArray row(size.width(), '\0');
        for (int y = 0; y < size.height(); ++y) {
            for (int x = 0; x < size.width(); ++x)
                row[x] = char(((x + y) * 255 / (size.width() + size.height())) ^ ((x * y) & 7));
            if (pgm.write(row) != row.size())
                return {};
        }
    }
    const bool made = run(QStringLiteral("cjpeg"), {QStringLiteral("-outfile"), path, source});
    QFile::remove(source);
    return made ? path : QString();
}

// An RLE8 BMP of `size` whose rows are coded in full (runs of up to 255 pixels) or, with
// `fullyCoded` false, only end-of-line codes padded to `bytes` bytes.
QByteArray rle8Bmp(QSize size, bool fullyCoded, qsizetype bytes = 0)
{
    BmpParts parts;
    parts.width = size.width();
    parts.height = size.height();
    parts.bitCount = 8;
    parts.compression = 1;
    for (int i = 0; i < 256; ++i) {
        const char entry[4] = {char(i), char(255 - i), char(i * 7), '\0'};
        parts.palette += QByteArray(entry, 4);
    }
    QByteArray row;
    for (int left = size.width(), colour = 0; left > 0 && fullyCoded; left -= 255, ++colour)
        row += QByteArray(1, char(qMin(left, 255))) + QByteArray(1, char(colour));
    row += QByteArray(2, '\0');
    parts.pixels = fullyCoded ? row.repeated(size.height()) : row.repeated(qMax<qsizetype>(1, bytes / 2));
    parts.pixels += QByteArray("\x00\x01", 2);
    return bmpFile(parts);
}

} // namespace

// A BMP is decoded whole, so it must fit the 48 MB decode budget at Qt's four bytes a
// pixel (12,582,912 pixels), however well its data is coded; as a photo and as a frame
// picture alike, refused or shown quickly and within some 60 MB.
void TestLoader::bmpWithinBudget_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("shown");
    QTest::newRow("RLE8 claiming 16000x16000 in 252 KB") << rle8Bmp(QSize(16000, 16000), false, 252000) << false;
    QTest::newRow("RLE8 claiming 8000x8000 in 63 KB") << rle8Bmp(QSize(8000, 8000), false, 63000) << false;
    QTest::newRow("RLE8 of 16000x16000 fully coded") << rle8Bmp(QSize(16000, 16000), true) << false;
    QTest::newRow("RLE8 of 4096x3072 fully coded") << rle8Bmp(QSize(4096, 3072), true) << true;
    QTest::newRow("RLE8 of 4096x3073 fully coded") << rle8Bmp(QSize(4096, 3073), true) << false;
}

void TestLoader::bmpWithinBudget()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, shown);
    const QString file = path(QStringLiteral("budget.bmp"));
    QVERIFY(writeAll(file, content));
    content = QByteArray();
    for (const bool frame : {false, true}) {
        resetPeakMemory();
        const qint64 before = peakMemoryKiB();
        QElapsedTimer timer;
        timer.start();
        const auto picture = frame ? loadFramePicture(file, QSize(444, 444)) : loadPicture(file, 1.0, QSize(400, 400));
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
        const qint64 grown = peakMemoryKiB() - before;
        QVERIFY2(grown < 60 * 1024, qPrintable(QStringLiteral("peak grew by %1 KiB").arg(grown)));
        QCOMPARE(picture.has_value(), shown);
        if (shown)
            QCOMPARE(picture->pixels.size(), frame ? QSize(4096, 3072) : QSize(400, 400));
    }
}

// Qt's BMP reader cannot be stopped, but it is starved: once SIGTERM has come no data
// reaches it, and the picture is given up at once.
void TestLoader::bmpAbandonedOnTermination()
{
    const QString file = path(QStringLiteral("abandoned.bmp"));
    QVERIFY(writeAll(file, rle8Bmp(QSize(4096, 3072), true)));
    TerminationSignal termination;
    ::raise(SIGTERM);
    QVERIFY(terminationPending());
    for (const bool frame : {false, true}) {
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!(frame ? loadFramePicture(file, QSize(444, 444)) : loadPicture(file, 1.0, QSize(400, 400))));
        QVERIFY2(timer.elapsed() < 300, qPrintable(QString::number(timer.elapsed())));
    }
}

// A JPEG frame picture is decoded by libjpeg's reduction to the least size that covers
// the frame (exactly djpeg's -scale of the same eighths), never larger than its own.
void TestLoader::framePictureJpegReduced_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("grey");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QSize>("frame");
    QTest::addColumn<int>("eighths");
    QTest::addColumn<int>("peakMB");
    const QSize frame(444, 444);
    QTest::newRow("12000x12000 grey") << QSize(12000, 12000) << true << QStringList() << frame << 1 << 60;
    QTest::newRow("6000x4000") << QSize(6000, 4000) << false << QStringList() << frame << 1 << 30;
    QTest::newRow("6000x4000 in a 1044 frame")
        << QSize(6000, 4000) << false << QStringList() << QSize(1044, 1044) << 3 << 60;
    QTest::newRow("3000x2000 progressive")
        << QSize(3000, 2000) << false << QStringList{"-progressive"} << frame << 2 << 60;
    QTest::newRow("1000x600: 5/8 covers 600 x 350")
        << QSize(1000, 600) << false << QStringList() << QSize(600, 350) << 5 << 30;
    QTest::newRow("300x200, smaller than the frame") << QSize(300, 200) << false << QStringList() << frame << 8 << 30;
    QTest::newRow("no frame size: the whole picture")
        << QSize(300, 200) << false << QStringList() << QSize() << 8 << 30;
}

void TestLoader::framePictureJpegReduced()
{
    QFETCH(QSize, size);
    QFETCH(bool, grey);
    QFETCH(QStringList, options);
    QFETCH(QSize, frame);
    QFETCH(int, eighths);
    QFETCH(int, peakMB);
    const QString file = grey
        ? greyJpeg(m_folder.path(), QStringLiteral("frame.jpg"), size)
        : makeJpeg(m_folder.path(), QStringLiteral("frame.jpg"), smoothPicture(size.width(), size.height()), options);
    QVERIFY(!file.isEmpty());
    resetPeakMemory();
    const qint64 before = peakMemoryKiB();
    QElapsedTimer timer;
    timer.start();
    const auto picture = loadFramePicture(file, frame);
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    const qint64 grown = peakMemoryKiB() - before;
    QVERIFY2(grown < peakMB * 1024, qPrintable(QStringLiteral("peak grew by %1 KiB").arg(grown)));
    QVERIFY(picture.has_value());
    const QString reference = file + QLatin1String(".scaled.ppm");
    QVERIFY(run(QStringLiteral("djpeg"),
                {QStringLiteral("-scale"), QStringLiteral("%1/8").arg(eighths), QStringLiteral("-ppm"),
                 QStringLiteral("-outfile"), reference, file}));
    const QImage expected = QImage(reference).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(picture->size, expected.size());
    QCOMPARE(picture->origin, QPoint());
    QCOMPARE(picture->pixels, expected);
    QFile::remove(reference);
    QFile::remove(file);
}

namespace {

// An APP1 "Exif" block's data holding one image directory whose first entry is `entry`
// (tag, type, count, value), in the byte order `order` ("II" or "MM").
QByteArray exifBlock(const char *order, quint16 tag, quint16 type, quint32 count, quint16 value)
{
    const bool big = order[0] == 'M';
    QByteArray tiff(order, 2);
    const auto put16 = [&](quint16 v) {
        char b[2];
        big ? qToBigEndian(v, b) : qToLittleEndian(v, b);
        tiff.append(b, 2);
    };
    const auto put32 = [&](quint32 v) {
        char b[4];
        big ? qToBigEndian(v, b) : qToLittleEndian(v, b);
        tiff.append(b, 4);
    };
    put16(42);
    put32(8);
    put16(2); // two entries: another tag first, then the one asked for
    put16(0x010F), put16(2), put32(4), put32(0);
    put16(tag), put16(type), put32(count), put16(value), put16(0);
    put32(0);
    return QByteArray("Exif\0\0", 6) + tiff;
}

} // namespace

void TestLoader::exifOrientationRead_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<int>("orientation");
    for (int value = 1; value <= 8; ++value) {
        QTest::addRow("little-endian %d", value) << exifBlock("II", 0x0112, 3, 1, quint16(value)) << value;
        QTest::addRow("big-endian %d", value) << exifBlock("MM", 0x0112, 3, 1, quint16(value)) << value;
    }
    const QByteArray good = exifBlock("MM", 0x0112, 3, 1, 6);
    QTest::newRow("value 0") << exifBlock("II", 0x0112, 3, 1, 0) << 1;
    QTest::newRow("value 9") << exifBlock("II", 0x0112, 3, 1, 9) << 1;
    QTest::newRow("no orientation tag") << exifBlock("II", 0x0110, 3, 1, 6) << 1;
    QTest::newRow("type LONG") << exifBlock("II", 0x0112, 4, 1, 6) << 1;
    QTest::newRow("huge count") << exifBlock("II", 0x0112, 3, 0xFFFFFFFF, 6) << 1;
    QTest::newRow("wrong byte-order mark") << QByteArray(good).replace(6, 2, "MI") << 1;
    QTest::newRow("not 42") << QByteArray(good).replace(9, 1, "\x2B") << 1;
    QTest::newRow("not Exif") << QByteArray(good).replace(0, 4, "Exix") << 1;
    QTest::newRow("empty") << QByteArray() << 1;
    QTest::newRow("directory beyond the end") << QByteArray(good).replace(10, 4, "\x7F\xFF\xFF\xFF") << 1;
    QTest::newRow("directory at the very end") << QByteArray(good).replace(10, 4, QByteArray("\0\0\0\x2A", 4)) << 1;
    QTest::newRow("entry count beyond the end, tag inside") << QByteArray(good).replace(14, 2, "\xFF\xFF") << 6;
    QTest::newRow("entry count beyond the end, no tag")
        << exifBlock("MM", 0x0110, 3, 1, 6).replace(14, 2, "\xFF\xFF") << 1;
    for (int cut : {7, 12, 16, 28, 35, 37})
        QTest::addRow("cut to %d bytes", cut) << good.left(cut) << 1;
}

void TestLoader::exifOrientationRead()
{
    QFETCH(QByteArray, block);
    QFETCH(int, orientation);
    // A copy of exactly the block's size, so that a read past its end is the sanitizer's.
    std::vector<unsigned char> bytes(block.begin(), block.end());
    QCOMPARE(exifOrientation(bytes.data(), bytes.size()), orientation);
}

// A stored 3 x 2 picture "abc/def" and how each orientation shows it upright.
void TestLoader::orientationTurnsUpright_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QString>("upright");
    QTest::newRow("1 upright") << 1 << "abc/def";
    QTest::newRow("2 mirrored") << 2 << "cba/fed";
    QTest::newRow("3 half turn") << 3 << "fed/cba";
    QTest::newRow("4 mirrored upside down") << 4 << "def/abc";
    QTest::newRow("5 main diagonal") << 5 << "ad/be/cf";
    QTest::newRow("6 quarter clockwise") << 6 << "da/eb/fc";
    QTest::newRow("7 other diagonal") << 7 << "fc/eb/da";
    QTest::newRow("8 quarter anticlockwise") << 8 << "cf/be/ad";
}

void TestLoader::orientationTurnsUpright()
{
    QFETCH(int, orientation);
    QFETCH(QString, upright);
    const QString letters = QStringLiteral("abcdef");
    QImage stored(3, 2, QImage::Format_RGB32);
    for (int i = 0; i < 6; ++i)
        stored.setPixel(i % 3, i / 3, qRgb(i * 40, 0, 0));
    const auto read = [&](const QImage &image) {
        QStringList rows;
        for (int y = 0; y < image.height(); ++y) {
            QString row;
            for (int x = 0; x < image.width(); ++x)
                row += letters.at(qRed(image.pixel(x, y)) / 40);
            rows << row;
        }
        return rows.join('/');
    };
    const QImage whole = orientedImage(stored, orientation);
    QCOMPARE(read(whole), upright);
    QCOMPARE(orientedSize(stored.size(), orientation), whole.size());
    // Every part of the upright picture comes from the part of the stored one that
    // storedRect names.
    for (int top = 0; top < whole.height(); ++top)
        for (int left = 0; left < whole.width(); ++left)
            for (int bottom = top; bottom < whole.height(); ++bottom)
                for (int right = left; right < whole.width(); ++right) {
                    const QRect part(QPoint(left, top), QPoint(right, bottom));
                    const QImage turned
                        = orientedImage(stored.copy(storedRect(part, stored.size(), orientation)), orientation);
                    QCOMPARE(read(turned), read(whole.copy(part)));
                }
}

// A JPEG stored turned or mirrored, with the APP1 block that says so, shows upright,
// centred and cropped in the upright picture: exactly djpeg's whole decode turned
// upright, for the part the area shows.
void TestLoader::jpegShowsUpright_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<double>("scale");
    QTest::addColumn<QSize>("visible");
    // APP1 blocks of other kinds before the EXIF block, and more EXIF blocks after it that
    // say otherwise.
    QTest::addColumn<int>("otherBlocks");
    for (int orientation = 1; orientation <= 8; ++orientation) {
        QTest::addRow("%d whole", orientation) << orientation << 1.0 << QSize() << 0;
        QTest::addRow("%d middle 24 x 16", orientation) << orientation << 1.0 << QSize(24, 16) << 0;
        QTest::addRow("%d reduced, 10 x 30", orientation) << orientation << 0.5 << QSize(10, 30) << 0;
    }
    QTest::newRow("6 among 4000 other APP1 blocks") << 6 << 1.0 << QSize(24, 16) << 2000;
}

void TestLoader::jpegShowsUpright()
{
    QFETCH(int, orientation);
    QFETCH(double, scale);
    QFETCH(QSize, visible);
    QFETCH(int, otherBlocks);
    // Upright: four coloured quarters, 48 x 32.
    const QRgb quarters[4] = {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255), qRgb(255, 255, 255)};
    QImage upright(48, 32, QImage::Format_RGB32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 48; ++x)
            upright.setPixel(x, y, quarters[(x >= 24 ? 1 : 0) + (y >= 16 ? 2 : 0)]);
    // Stored as a camera does: turned the other way.
    const int inverse = orientation == 6 ? 8 : orientation == 8 ? 6 : orientation;
    const QString file = makeJpeg(m_folder.path(), QStringLiteral("turned%1.jpg").arg(orientation),
                                  orientedImage(upright, inverse), {QStringLiteral("-quality"), QStringLiteral("95")});
    QVERIFY(!file.isEmpty());
    QByteArray bytes = readAll(file);
    const auto app1 = [](const QByteArray &data) {
        char length[2];
        qToBigEndian(quint16(data.size() + 2), length);
        return QByteArray("\xFF\xE1", 2) + QByteArray(length, 2) + data;
    };
    const QByteArray xmp = app1(QByteArray("http://ns.adobe.com/xap/1.0/\0", 29) + QByteArray(1000, 'x'));
    const QByteArray otherExif = app1(exifBlock("II", 0x0112, 3, 1, 3));
    bytes.insert(2,
                 xmp.repeated(otherBlocks)
                     + app1(exifBlock(orientation % 2 ? "II" : "MM", 0x0112, 3, 1, quint16(orientation)))
                     + otherExif.repeated(otherBlocks));
    QVERIFY(writeAll(file, bytes));

    const auto picture = loadPicture(file, scale, visible);
    QVERIFY(picture.has_value());
    const QSize size(int(48 * scale), int(32 * scale));
    QCOMPARE(picture->size, size);
    const QRect shown = visible.isEmpty()
        ? QRect(QPoint(), size)
        : QRect(QPoint((size.width() - visible.width()) / 2, (size.height() - visible.height()) / 2), visible)
              .intersected(QRect(QPoint(), size));
    QCOMPARE(picture->origin, shown.topLeft());
    QCOMPARE(picture->pixels.format(), QImage::Format_RGB32);
    QCOMPARE(picture->pixels.size(), shown.size());
    QCOMPARE(comparePicks(*picture, orientedImage(fullDecode(file), orientation)), QString());
    if (visible.isEmpty()) {
        for (int i = 0; i < 4; ++i) {
            const QRgb c = picture->pixels.pixel(12 + 24 * (i % 2), 8 + 16 * (i / 2));
            QVERIFY2(qAbs(qRed(c) - qRed(quarters[i])) < 40 && qAbs(qGreen(c) - qGreen(quarters[i])) < 40
                         && qAbs(qBlue(c) - qBlue(quarters[i])) < 40,
                     qPrintable(QString::number(i)));
        }
    }
}

QTEST_MAIN(TestLoader)
#include "tst_loader.moc"
