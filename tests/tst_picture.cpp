#include "picture/Decode.h"
#include "picture/FormatSniff.h"
#include "picture/Reduce.h"

#include <QColorSpace>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <atomic>

namespace {

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

// The reference decodes: a tool made for the format decodes the whole file to PNG (or
// Pillow reads it; its TIFF reader turns the picture upright by the orientation tag while
// it loads), Pillow converts an embedded profile to sRGB and reduces to the asked size
// with its area average (BOX), and writes a PPM.
constexpr char kReferenceScript[] = R"(
import io, sys
from PIL import Image, ImageCms
source, target, width, height = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
image = Image.open(source)
image.seek(0)
image.load()
profile = image.info.get('icc_profile')
image = image.convert('RGB')
if profile:
    image = ImageCms.profileToProfile(image, ImageCms.ImageCmsProfile(io.BytesIO(profile)),
                                      ImageCms.createProfile('sRGB'), outputMode='RGB')
if image.size != (width, height):
    image = image.resize((width, height), Image.BOX)
image.save(target, 'PPM')
)";

// Mean absolute difference over every channel of two pictures of one size; -1 otherwise.
double meanDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull())
        return -1;
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    qint64 sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto *p = reinterpret_cast<const QRgb *>(x.constScanLine(row));
        const auto *q = reinterpret_cast<const QRgb *>(y.constScanLine(row));
        for (int c = 0; c < x.width(); ++c)
            sum += qAbs(qRed(p[c]) - qRed(q[c])) + qAbs(qGreen(p[c]) - qGreen(q[c])) + qAbs(qBlue(p[c]) - qBlue(q[c]));
    }
    return double(sum) / (3.0 * x.width() * x.height());
}

} // namespace

class TestPicture : public QObject
{
    Q_OBJECT

private:
    QString file(const QString &name) const { return m_dir.filePath(name); }
    QImage reference(const QString &name, const QString &tool, QSize size);

    QTemporaryDir m_dir;

private slots:
    void initTestCase();
    void fittedSize_data();
    void fittedSize();
    void stripesTurnGrey_data();
    void stripesTurnGrey();
    void sniff_data();
    void sniff();
    void decode_data();
    void decode();
    void firstFrame_data();
    void firstFrame();
    void refused_data();
    void refused();
    void cancelled_data();
    void cancelled();
};

void TestPicture::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QString samples = QStringLiteral(PANTEL_SAMPLES_DIR);
    // Photographs of both orientations, made into every format from the bundled samples.
    const QString landscape = file(QStringLiteral("landscape.png"));
    const QString portrait = file(QStringLiteral("portrait.png"));
    QVERIFY(run(QStringLiteral("convert"), {samples + QLatin1String("/aurora.jpg"), landscape}));
    QVERIFY(run(QStringLiteral("convert"), {samples + QLatin1String("/dusk-portrait.jpg"), portrait}));
    QVERIFY(
        run(QStringLiteral("convert"),
            {landscape, QStringLiteral("-interlace"), QStringLiteral("PNG"), file(QStringLiteral("interlaced.png"))}));
    QVERIFY(run(QStringLiteral("convert"), {portrait, file(QStringLiteral("portrait.gif"))}));
    QVERIFY(
        run(QStringLiteral("convert"),
            {landscape, QStringLiteral("-compress"), QStringLiteral("lzw"), file(QStringLiteral("landscape.tiff"))}));
    // Stored sideways, with the orientation tag that turns it upright.
    QVERIFY(
        run(QStringLiteral("convert"),
            {portrait, QStringLiteral("-orient"), QStringLiteral("RightTop"), file(QStringLiteral("turned.tiff"))}));
    QVERIFY(run(QStringLiteral("cwebp"),
                {QStringLiteral("-quiet"), landscape, QStringLiteral("-o"), file(QStringLiteral("landscape.webp"))}));
    QVERIFY(run(QStringLiteral("cwebp"),
                {QStringLiteral("-quiet"), QStringLiteral("-lossless"), portrait, QStringLiteral("-o"),
                 file(QStringLiteral("portrait.webp"))}));
    QVERIFY(run(QStringLiteral("heif-enc"),
                {QStringLiteral("-q"), QStringLiteral("80"), landscape, QStringLiteral("-o"),
                 file(QStringLiteral("landscape.heic"))}));
    QVERIFY(run(QStringLiteral("heif-enc"),
                {QStringLiteral("-q"), QStringLiteral("80"), QStringLiteral("-t"), QStringLiteral("320"), portrait,
                 QStringLiteral("-o"), file(QStringLiteral("thumbnail.heic"))}));
    QVERIFY(run(QStringLiteral("heif-enc"),
                {QStringLiteral("-A"), portrait, QStringLiteral("-o"), file(QStringLiteral("portrait.avif"))}));
    QVERIFY(run(QStringLiteral("convert"),
                {landscape, QStringLiteral("-colorspace"), QStringLiteral("Gray"), file(QStringLiteral("grey.png"))}));
    QVERIFY(run(QStringLiteral("heif-enc"),
                {file(QStringLiteral("grey.png")), QStringLiteral("-o"), file(QStringLiteral("grey.heic"))}));
    // A picture in Display P3, its profile embedded, as a PNG and as a WebP.
    QImage wide(QImage(portrait).convertToFormat(QImage::Format_RGB32));
    wide.setColorSpace(QColorSpace(QColorSpace::DisplayP3));
    QVERIFY(wide.save(file(QStringLiteral("p3.png"))));
    QVERIFY(run(QStringLiteral("cwebp"),
                {QStringLiteral("-quiet"), QStringLiteral("-metadata"), QStringLiteral("icc"),
                 file(QStringLiteral("p3.png")), QStringLiteral("-o"), file(QStringLiteral("p3.webp"))}));
    // Animations whose first frame is red and second blue.
    QVERIFY(run(QStringLiteral("convert"),
                {QStringLiteral("-delay"), QStringLiteral("10"), QStringLiteral("-size"), QStringLiteral("64x48"),
                 QStringLiteral("xc:red"), QStringLiteral("xc:blue"), file(QStringLiteral("animation.gif"))}));
    QVERIFY(run(QStringLiteral("gif2webp"),
                {QStringLiteral("-quiet"), file(QStringLiteral("animation.gif")), QStringLiteral("-o"),
                 file(QStringLiteral("animation.webp"))}));
    QVERIFY(writeAll(file(QStringLiteral("reference.py")), kReferenceScript));
}

QImage TestPicture::reference(const QString &name, const QString &tool, QSize size)
{
    QString decoded = file(name);
    const QString target = file(name + QStringLiteral("-%1x%2.ppm").arg(size.width()).arg(size.height()));
    if (tool == QLatin1String("dwebp")) {
        if (!run(QStringLiteral("dwebp"),
                 {QStringLiteral("-quiet"), QStringLiteral("-ppm"), QStringLiteral("-scale"),
                  QString::number(size.width()), QString::number(size.height()), decoded, QStringLiteral("-o"),
                  target}))
            return {};
        return QImage(target);
    }
    if (tool == QLatin1String("heif-convert")) {
        decoded = file(name + QLatin1String(".png"));
        if (!QFile::exists(decoded) && !run(QStringLiteral("heif-convert"), {file(name), decoded}))
            return {};
    }
    if (!run(QStringLiteral("/usr/bin/python3"),
             {file(QStringLiteral("reference.py")), decoded, target, QString::number(size.width()),
              QString::number(size.height())}))
        return {};
    return QImage(target);
}

void TestPicture::fittedSize_data()
{
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QSize>("area");
    QTest::addColumn<QSize>("fitted");
    QTest::newRow("phone photo, landscape") << QSize(4032, 3024) << QSize(400, 300) << QSize(400, 300);
    QTest::newRow("phone photo in a square") << QSize(4032, 3024) << QSize(400, 400) << QSize(400, 300);
    QTest::newRow("portrait in a landscape area") << QSize(3024, 4032) << QSize(400, 300) << QSize(225, 300);
    QTest::newRow("never enlarged") << QSize(320, 200) << QSize(400, 300) << QSize(320, 200);
    QTest::newRow("only one side too large") << QSize(500, 100) << QSize(400, 300) << QSize(400, 80);
    QTest::newRow("rounded to nearest") << QSize(1000, 333) << QSize(400, 400) << QSize(400, 133);
    QTest::newRow("half rounded up") << QSize(800, 3) << QSize(100, 100) << QSize(100, 1);
    QTest::newRow("thin line keeps a pixel") << QSize(100000, 1) << QSize(400, 300) << QSize(400, 1);
    QTest::newRow("empty area") << QSize(100, 100) << QSize(0, 300) << QSize();
}

void TestPicture::fittedSize()
{
    QFETCH(QSize, picture);
    QFETCH(QSize, area);
    QFETCH(QSize, fitted);
    QCOMPARE(::fittedSize(picture, area), fitted);
}

void TestPicture::stripesTurnGrey_data()
{
    QTest::addColumn<bool>("vertical");
    QTest::addColumn<QSize>("target");
    QTest::newRow("columns, 10x") << true << QSize(40, 30);
    QTest::newRow("rows, 10x") << false << QSize(40, 30);
    QTest::newRow("columns, 7.3x") << true << QSize(55, 41);
}

void TestPicture::stripesTurnGrey()
{
    QFETCH(bool, vertical);
    QFETCH(QSize, target);
    QImage stripes(400, 300, QImage::Format_RGB32);
    for (int y = 0; y < stripes.height(); ++y)
        for (int x = 0; x < stripes.width(); ++x)
            stripes.setPixel(x, y, ((vertical ? x : y) & 1) ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    const auto reduced = reduceImage(stripes, target);
    QVERIFY(reduced);
    QCOMPARE(reduced->size(), target);
    for (int y = 0; y < target.height(); ++y)
        for (int x = 0; x < target.width(); ++x)
            QVERIFY2(qAbs(qGray(reduced->pixel(x, y)) - 128) <= 20, qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
}

void TestPicture::sniff_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<int>("format");
    QTest::newRow("jpeg") << QByteArray("\xff\xd8\xff\xe0") << int(PictureFormat::Jpeg);
    QTest::newRow("bmp") << QByteArray("BM\x36\x00") << int(PictureFormat::Bmp);
    QTest::newRow("png") << QByteArray("\x89PNG\r\n\x1a\n") << int(PictureFormat::Png);
    QTest::newRow("gif") << QByteArray("GIF89a") << int(PictureFormat::Gif);
    QTest::newRow("tiff, Motorola") << QByteArray("MM\0*", 4) << int(PictureFormat::Tiff);
    QTest::newRow("webp") << QByteArray("RIFF\x10\0\0\0WEBPVP8 ", 16) << int(PictureFormat::WebP);
    QTest::newRow("riff, not webp") << QByteArray("RIFF\x10\0\0\0WAVEfmt ", 16) << int(PictureFormat::Invalid);
    QTest::newRow("heic") << QByteArray("\0\0\0\x18"
                                        "ftypheic\0\0\0\0mif1heic",
                                        24)
                          << int(PictureFormat::Heif);
    QTest::newRow("avif, compatible brand") << QByteArray("\0\0\0\x1c"
                                                          "ftypxxxx\0\0\0\0mif1avifmiaf",
                                                          28)
                                            << int(PictureFormat::Heif);
    QTest::newRow("mp4") << QByteArray("\0\0\0\x18"
                                       "ftypisom\0\0\0\0isomavc1",
                                       24)
                         << int(PictureFormat::Invalid);
    QTest::newRow("brand beyond the box") << QByteArray("\0\0\0\x10"
                                                        "ftypisom\0\0\0\0heic",
                                                        20)
                                          << int(PictureFormat::Invalid);
    QTest::newRow("empty") << QByteArray() << int(PictureFormat::Invalid);
}

void TestPicture::sniff()
{
    QFETCH(QByteArray, head);
    QFETCH(int, format);
    QCOMPARE(int(sniffFormat(head)), format);
}

void TestPicture::decode_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QSize>("area");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<double>("tolerance");
    const QSize own;
    const QSize area(400, 300);
    const QSize odd(97, 301);
    // name, reference tool, area, the result's size, mean difference allowed.
    const struct
    {
        const char *name;
        const char *tool;
        QSize area;
        QSize size;
        double tolerance;
    } rows[] = {
        {"landscape.png", "pillow", own, {800, 600}, 0.0},
        {"landscape.png", "pillow", area, {400, 300}, 1.0},
        {"interlaced.png", "pillow", odd, {97, 73}, 1.0},
        {"portrait.gif", "pillow", own, {360, 540}, 0.0},
        {"portrait.gif", "pillow", area, {200, 300}, 1.0},
        {"landscape.tiff", "pillow", own, {800, 600}, 0.0},
        {"landscape.tiff", "pillow", odd, {97, 73}, 1.0},
        {"turned.tiff", "pillow", own, {540, 360}, 0.0},
        {"turned.tiff", "pillow", area, {400, 267}, 1.0},
        {"landscape.webp", "dwebp", own, {800, 600}, 0.5},
        {"landscape.webp", "dwebp", area, {400, 300}, 1.0},
        {"portrait.webp", "dwebp", odd, {97, 146}, 1.0},
        {"landscape.heic", "heif-convert", own, {800, 600}, 0.25},
        {"landscape.heic", "heif-convert", area, {400, 300}, 1.0},
        {"thumbnail.heic", "heif-convert", QSize(100, 100), {67, 100}, 2.0},
        {"portrait.avif", "heif-convert", area, {200, 300}, 1.0},
        {"grey.heic", "heif-convert", area, {400, 300}, 1.0},
        {"p3.png", "pillow", own, {360, 540}, 0.5},
        {"p3.webp", "pillow", area, {200, 300}, 1.5},
    };
    for (const auto &row : rows)
        QTest::addRow("%s %dx%d", row.name, row.area.width(), row.area.height())
            << QString::fromLatin1(row.name) << QString::fromLatin1(row.tool) << row.area << row.size << row.tolerance;
}

void TestPicture::decode()
{
    QFETCH(QString, name);
    QFETCH(QString, tool);
    QFETCH(QSize, area);
    QFETCH(QSize, size);
    QFETCH(double, tolerance);
    const auto picture = decodeFile(file(name), DecodeRequest{area, {}});
    QVERIFY(picture);
    QCOMPARE(picture->size(), size);
    QCOMPARE(picture->format(), QImage::Format_RGB32);
    const QImage expected = reference(name, tool, size);
    QVERIFY(!expected.isNull());
    const double difference = meanDifference(*picture, expected);
    QVERIFY2(difference >= 0 && difference <= tolerance, qPrintable(QString::number(difference)));
}

void TestPicture::firstFrame_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("area");
    QTest::newRow("gif") << QStringLiteral("animation.gif") << QSize();
    QTest::newRow("webp") << QStringLiteral("animation.webp") << QSize();
    QTest::newRow("webp, fitted") << QStringLiteral("animation.webp") << QSize(32, 32);
}

void TestPicture::firstFrame()
{
    QFETCH(QString, name);
    QFETCH(QSize, area);
    const auto picture = decodeFile(file(name), DecodeRequest{area, {}});
    QVERIFY(picture);
    QCOMPARE(picture->size(), area.isEmpty() ? QSize(64, 48) : QSize(32, 24));
    QCOMPARE(picture->pixel(5, 5), qRgb(255, 0, 0));
}

void TestPicture::refused_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("damage");
    for (const char *name : {"landscape.png", "interlaced.png", "portrait.gif", "landscape.tiff", "landscape.webp",
                             "portrait.webp", "animation.webp", "landscape.heic", "portrait.avif"}) {
        QTest::addRow("%s truncated", name) << QString::fromLatin1(name) << QStringLiteral("truncated");
        QTest::addRow("%s corrupt", name) << QString::fromLatin1(name) << QStringLiteral("corrupt");
    }
    // Headers claiming more than a decode may take: 40000 x 40000 (1.6 gigapixels) in a
    // format that streams, 16383 x 16383 (268 megapixels: beyond a streamed decode) in
    // WebP, 20000 x 20000 in formats made whole.
    QTest::newRow("png claims 1.6 GP") << QStringLiteral("landscape.png") << QStringLiteral("claim");
    QTest::newRow("gif claims 4 GP") << QStringLiteral("portrait.gif") << QStringLiteral("claim");
    QTest::newRow("webp claims 268 MP") << QStringLiteral("portrait.webp") << QStringLiteral("claim");
    QTest::newRow("heic claims 400 MP") << QStringLiteral("landscape.heic") << QStringLiteral("claim");
    QTest::newRow("jpeg is not decoded here") << QStringLiteral("jpeg") << QStringLiteral("none");
    QTest::newRow("missing") << QStringLiteral("missing.png") << QStringLiteral("none");
    QTest::newRow("a folder") << QStringLiteral(".") << QStringLiteral("none");
}

void TestPicture::refused()
{
    QFETCH(QString, name);
    QFETCH(QString, damage);
    QByteArray data = readAll(file(name));
    const QString path = file(QStringLiteral("damaged-") + name);
    if (damage == QLatin1String("truncated")) {
        data.truncate(data.size() / 2);
    } else if (damage == QLatin1String("corrupt")) {
        // The signature stays, so the format's own decoder meets the damage.
        for (qsizetype i = 16; i < data.size(); ++i)
            data[i] = char((i * 7919) >> 3);
    } else if (damage == QLatin1String("claim")) {
        if (name.endsWith(QLatin1String(".png")))
            qToBigEndian<quint32>(40000, data.data() + 16), qToBigEndian<quint32>(40000, data.data() + 20);
        else if (name.endsWith(QLatin1String(".gif")))
            qToLittleEndian<quint16>(65535, data.data() + 6), qToLittleEndian<quint16>(65535, data.data() + 8);
        else if (name.endsWith(QLatin1String(".webp")))
            // The lossless header after "VP8L" and the signature byte: 14 bits of width - 1,
            // 14 of height - 1, then the alpha flag and the version, which stay.
            qToLittleEndian<quint32>((qFromLittleEndian<quint32>(data.constData() + 21) & 0xf0000000u) | 0x0fffffffu,
                                     data.data() + 21);
        else
            data.replace(data.indexOf("ispe") + 8, 8, QByteArray("\0\0\x4e\x20\0\0\x4e\x20", 8));
    } else if (name == QLatin1String("jpeg")) {
        QVERIFY(run(QStringLiteral("convert"), {file(QStringLiteral("landscape.png")), QLatin1String("JPEG:") + path}));
    }
    if (damage != QLatin1String("none"))
        QVERIFY(writeAll(path, data));
    QElapsedTimer timer;
    timer.start();
    const QString target = damage == QLatin1String("none") && name != QLatin1String("jpeg") ? file(name) : path;
    // A GIF that ends early shows the rows it holds, as Qt's reader gives them.
    if (name.endsWith(QLatin1String(".gif")) && damage == QLatin1String("truncated")) {
        const auto picture = decodeFile(target, DecodeRequest{QSize(), {}});
        QVERIFY(picture);
        QCOMPARE(picture->size(), QSize(360, 540));
        return;
    }
    QVERIFY(!decodeFile(target, DecodeRequest{QSize(400, 300), {}}));
    QVERIFY(!decodeFile(target, DecodeRequest{QSize(), {}}));
    QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
}

void TestPicture::cancelled_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("answersBeforeCancel");
    for (const char *name :
         {"landscape.png", "portrait.gif", "landscape.tiff", "portrait.webp", "animation.webp", "landscape.heic"}) {
        QTest::addRow("%s at once", name) << QString::fromLatin1(name) << 0;
        QTest::addRow("%s under way", name) << QString::fromLatin1(name) << 2;
    }
}

void TestPicture::cancelled()
{
    QFETCH(QString, name);
    QFETCH(int, answersBeforeCancel);
    std::atomic<int> asked = 0;
    const auto picture
        = decodeFile(file(name), DecodeRequest{QSize(100, 100), [&] { return asked++ >= answersBeforeCancel; }});
    QVERIFY(!picture);
    QVERIFY(asked > answersBeforeCancel);
}

QTEST_MAIN(TestPicture)
#include "tst_picture.moc"
