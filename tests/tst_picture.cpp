#include "picture/Decode.h"
#include "picture/ExifOrientation.h"
#include "picture/FormatSniff.h"
#include "picture/HeifPrimary.h"
#include "picture/PictureRequest.h"
#include "picture/Reduce.h"
#include "tests/DatedJpeg.h"

#include <QColorSpace>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <atomic>
#include <bit>
#include <cmath>

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

// Peak signal-to-noise ratio of `a` against `b` in dB, over every channel.
double psnr(const QImage &a, const QImage &b)
{
    const double mean = meanDifference(a, b); // checks the sizes
    if (mean < 0)
        return 0;
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    double squares = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int c = 0; c < x.width(); ++c) {
            const QRgb p = x.pixel(c, row);
            const QRgb q = y.pixel(c, row);
            for (const int d : {qRed(p) - qRed(q), qGreen(p) - qGreen(q), qBlue(p) - qBlue(q)})
                squares += double(d) * d;
        }
    const double mse = squares / (3.0 * x.width() * x.height());
    return mse == 0 ? 100 : 10 * std::log10(255.0 * 255.0 / mse);
}

// An HEVC sequence parameter set coding `size`: Main profile, 4:2:0, nothing after the
// size but the stop bit; with the emulation prevention bytes an encoder puts in.
QByteArray hevcSps(QSize size)
{
    QList<bool> bits;
    const auto put = [&](quint64 value, int count) {
        for (int i = count - 1; i >= 0; --i)
            bits << bool((value >> i) & 1);
    };
    const auto golomb = [&](quint32 value) {
        const int length = int(std::bit_width(quint64(value) + 1));
        put(0, length - 1), put(quint64(value) + 1, length);
    };
    put(0x01, 8), put(0x60, 8), put(0, 32), put(0x90, 8), put(0, 40), put(0x5d, 8); // vps, layers, profile
    golomb(0), golomb(1), golomb(quint32(size.width())), golomb(quint32(size.height()));
    put(1, 1);
    QByteArray nal("\x42\x01", 2);
    int zeros = 0;
    for (qsizetype at = 0; at < bits.size(); at += 8) {
        quint8 byte = 0;
        for (qsizetype i = at; i < at + 8; ++i)
            byte = quint8(byte << 1 | (i < bits.size() && bits[i]));
        if (zeros >= 2 && byte <= 3)
            nal.append('\x03'), zeros = 0;
        zeros = byte == 0 ? zeros + 1 : 0;
        nal.append(char(byte));
    }
    return nal;
}

// A single-picture HEIC whose coded data starts with a parameter set of its own coding
// `size`: the first NAL unit is split in two, so that no offset in the file moves.
QByteArray withInBandSps(QByteArray heic, QSize size)
{
    const QByteArray sps = hevcSps(size);
    const qsizetype at = heic.indexOf("mdat") + 4;
    const quint32 length = qFromBigEndian<quint32>(heic.constData() + at);
    qToBigEndian<quint32>(quint32(sps.size()), heic.data() + at);
    heic.replace(at + 4, sps.size(), sps);
    qToBigEndian<quint32>(length - quint32(sps.size()) - 4, heic.data() + at + 4 + sps.size());
    return heic;
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
    void frameOnCanvas_data();
    void frameOnCanvas();
    void refused_data();
    void refused();
    void codedSize_data();
    void codedSize();
    void cancelled_data();
    void cancelled();
    void requestDefaultsAsLoader_data();
    void requestDefaultsAsLoader();
    void fittedJpegFromScaledDecode_data();
    void fittedJpegFromScaledDecode();
    void fittedRequest_data();
    void fittedRequest();
    void ownSizeOtherFormatClipped();
    void stripesThroughJpeg();
    void orientationFitted_data();
    void orientationFitted();
    void fittedPhotoNearLanczos();
    void takenDate_data();
    void takenDate();
    void fittedCancelled_data();
    void fittedCancelled();
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
    // A grid of 512 x 512 tiles, as phones write their photos.
    QVERIFY(run(QStringLiteral("python3"),
                {QStringLiteral(PANTEL_SOURCE_DIR "/bench/make_grid_heic.py"), landscape,
                 file(QStringLiteral("grid.heic"))}));
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
    // The loader's own formats, a natural photo made large, a PNG under a JPEG's name, a
    // JPEG carrying the day it was taken and each EXIF orientation in a TIFF.
    QVERIFY(run(QStringLiteral("convert"),
                {landscape, QStringLiteral("-quality"), QStringLiteral("92"), file(QStringLiteral("landscape.jpg"))}));
    QVERIFY(
        run(QStringLiteral("convert"), {landscape, QStringLiteral("BMP3:") + file(QStringLiteral("landscape.bmp"))}));
    QVERIFY(run(QStringLiteral("convert"),
                {samples + QLatin1String("/aurora.jpg"), QStringLiteral("-resize"), QStringLiteral("3000x2250!"),
                 QStringLiteral("-quality"), QStringLiteral("92"), file(QStringLiteral("big.jpg"))}));
    QVERIFY(QFile::copy(landscape, file(QStringLiteral("png-named.jpg"))));
    QVERIFY(writeAll(file(QStringLiteral("dated.jpg")),
                     withTakenDate(readAll(file(QStringLiteral("landscape.jpg"))), "2019:08:14 10:20:30")));
    // The same EXIF block in the other formats that carry one.
    QVERIFY(run(QStringLiteral("cwebp"),
                {QStringLiteral("-quiet"), QStringLiteral("-metadata"), QStringLiteral("exif"),
                 file(QStringLiteral("dated.jpg")), QStringLiteral("-o"), file(QStringLiteral("dated.webp"))}));
    QVERIFY(run(QStringLiteral("heif-enc"),
                {file(QStringLiteral("dated.jpg")), QStringLiteral("-o"), file(QStringLiteral("dated.heic"))}));
    QVERIFY(run(QStringLiteral("convert"), {file(QStringLiteral("dated.jpg")), file(QStringLiteral("dated.png"))}));
    const char *orientations[]
        = {"TopLeft", "TopRight", "BottomRight", "BottomLeft", "LeftTop", "RightTop", "RightBottom", "LeftBottom"};
    for (int i = 0; i < 8; ++i)
        QVERIFY(run(QStringLiteral("convert"),
                    {landscape, QStringLiteral("-orient"), QString::fromLatin1(orientations[i]),
                     file(QStringLiteral("orient%1.tiff").arg(i + 1))}));
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
        {"grid.heic", "heif-convert", own, {800, 600}, 0.25},
        {"grid.heic", "heif-convert", area, {400, 300}, 1.0},
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

// An animated WebP of one frame: `still`'s picture (a still WebP file) at `offset` on a
// canvas of `canvas`.
static QByteArray animatedOnCanvas(const QByteArray &still, QSize canvas, QPoint offset, QSize frame)
{
    const auto le = [](quint32 value, int bytes) {
        QByteArray out;
        for (int i = 0; i < bytes; ++i)
            out += char((value >> (8 * i)) & 0xff);
        return out;
    };
    const auto chunk = [&](const char *tag, const QByteArray &data) {
        return QByteArray(tag) + le(quint32(data.size()), 4) + data + QByteArray(data.size() % 2, '\0');
    };
    const QByteArray vp8x = le(0x02, 4) + le(quint32(canvas.width() - 1), 3) + le(quint32(canvas.height() - 1), 3);
    const QByteArray anmf = le(quint32(offset.x() / 2), 3) + le(quint32(offset.y() / 2), 3)
        + le(quint32(frame.width() - 1), 3) + le(quint32(frame.height() - 1), 3) + le(100, 3) + le(0, 1)
        + still.mid(12);
    const QByteArray body = "WEBP" + chunk("VP8X", vp8x) + chunk("ANIM", le(0, 4) + le(0, 2)) + chunk("ANMF", anmf);
    return "RIFF" + le(quint32(body.size()), 4) + body;
}

// The first frame lies at its offset on a black canvas, decoded alone: a vast canvas
// around a small frame costs no time.
void TestPicture::frameOnCanvas_data()
{
    QTest::addColumn<QSize>("canvas");
    QTest::addColumn<QPoint>("offset");
    QTest::addColumn<QSize>("area");
    QTest::addColumn<QPoint>("red");
    QTest::addColumn<QPoint>("black");
    QTest::newRow("own size") << QSize(1000, 500) << QPoint(500, 100) << QSize() << QPoint(510, 110)
                              << QPoint(490, 110);
    QTest::newRow("fitted") << QSize(4000, 3000) << QPoint(2000, 1500) << QSize(400, 300) << QPoint(210, 160)
                            << QPoint(190, 160);
    QTest::newRow("100 MP canvas, 0.1 pixel frame")
        << QSize(250000, 400) << QPoint(0, 0) << QSize(64, 48) << QPoint(-1, -1) << QPoint(0, 0);
}

void TestPicture::frameOnCanvas()
{
    QFETCH(QSize, canvas);
    QFETCH(QPoint, offset);
    QFETCH(QSize, area);
    QFETCH(QPoint, red);
    QFETCH(QPoint, black);
    const QString frame = file(QStringLiteral("frame.png"));
    QImage redFrame(400, 300, QImage::Format_RGB32);
    redFrame.fill(Qt::red);
    QVERIFY(redFrame.save(frame));
    const QString still = file(QStringLiteral("frame.webp"));
    QVERIFY(run(QStringLiteral("cwebp"),
                {QStringLiteral("-quiet"), QStringLiteral("-lossless"), frame, QStringLiteral("-o"), still}));
    const QString path = file(QStringLiteral("on-canvas.webp"));
    QVERIFY(writeAll(path, animatedOnCanvas(readAll(still), canvas, offset, redFrame.size())));
    QElapsedTimer clock;
    clock.start();
    const auto picture = decodeFile(path, DecodeRequest{area, {}});
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(picture);
    QCOMPARE(picture->size(), area.isEmpty() ? canvas : ::fittedSize(canvas, area));
    if (red.x() >= 0)
        QCOMPARE(picture->pixel(red), qRgb(255, 0, 0));
    QCOMPARE(picture->pixel(black), qRgb(0, 0, 0));
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
    // A text chunk claiming 2 GB in a small file: libpng would allocate what it claims.
    QTest::newRow("png chunk past the file's end") << QStringLiteral("landscape.png") << QStringLiteral("chunk");
    QTest::newRow("gif claims 4 GP") << QStringLiteral("portrait.gif") << QStringLiteral("claim");
    QTest::newRow("webp claims 268 MP") << QStringLiteral("portrait.webp") << QStringLiteral("claim");
    QTest::newRow("heic claims 400 MP") << QStringLiteral("landscape.heic") << QStringLiteral("claim");
    // A grid is made at the size its own description gives, whatever the header says.
    QTest::newRow("heic grid describes 135 MP") << QStringLiteral("grid.heic") << QStringLiteral("claim grid");
    // One coded picture (no grid of tiles) costs its decoder some 16 bytes a pixel.
    QTest::newRow("heic, one coded picture, claims 30 MP")
        << QStringLiteral("landscape.heic") << QStringLiteral("claim 30 MP");
    QTest::newRow("avif, one coded picture, claims 30 MP")
        << QStringLiteral("portrait.avif") << QStringLiteral("claim 30 MP");
    // The stream inside codes far more than the file claims, and its decoder goes by that.
    QTest::newRow("heic codes 8000 x 6000 inside a 800 x 600 claim")
        << QStringLiteral("landscape.heic") << QStringLiteral("coded");
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
    } else if (damage == QLatin1String("coded")) {
        data = withInBandSps(data, QSize(8000, 6000));
    } else if (damage == QLatin1String("chunk")) {
        data.insert(33, QByteArray("\x7f\xff\xff\xf0tEXtComment\0x", 16));
    } else if (damage.startsWith(QLatin1String("claim"))) {
        if (name.endsWith(QLatin1String(".png")))
            qToBigEndian<quint32>(40000, data.data() + 16), qToBigEndian<quint32>(40000, data.data() + 20);
        else if (name.endsWith(QLatin1String(".gif")))
            qToLittleEndian<quint16>(65535, data.data() + 6), qToLittleEndian<quint16>(65535, data.data() + 8);
        else if (name.endsWith(QLatin1String(".webp")))
            // The lossless header after "VP8L" and the signature byte: 14 bits of width - 1,
            // 14 of height - 1, then the alpha flag and the version, which stay.
            qToLittleEndian<quint32>((qFromLittleEndian<quint32>(data.constData() + 21) & 0xf0000000u) | 0x0fffffffu,
                                     data.data() + 21);
        else if (damage.endsWith(QLatin1String("grid")))
            // The grid's description in 'idat': version, flags, rows - 1, columns - 1, then
            // the 16-bit width and height.
            data.replace(data.indexOf("idat") + 8, 4, QByteArray("\x2e\x0d\x2c\xee", 4)); // 11789 x 11502
        else if (damage.endsWith(QLatin1String("30 MP")))
            data.replace(data.indexOf("ispe") + 8, 8, QByteArray("\0\0\x17\x70\0\0\x13\x88", 8)); // 6000 x 5000
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

void TestPicture::codedSize_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("inBand");
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QSize>("coded"); // invalid: not read
    // The coded size is the stream's own, rounded up to whole coding blocks.
    QTest::newRow("heic") << "landscape.heic" << QSize() << QByteArray("hvc1") << QSize(800, 600);
    QTest::newRow("heic with a thumbnail") << "thumbnail.heic" << QSize() << QByteArray("hvc1") << QSize(360, 544);
    QTest::newRow("grid: its tiles") << "grid.heic" << QSize() << QByteArray("grid") << QSize(512, 512);
    QTest::newRow("avif") << "portrait.avif" << QSize() << QByteArray("av01") << QSize(360, 540);
    QTest::newRow("heic, larger in its data")
        << "landscape.heic" << QSize(8000, 6000) << QByteArray("hvc1") << QSize(8000, 6000);
    QTest::newRow("heic, smaller in its data")
        << "landscape.heic" << QSize(64, 64) << QByteArray("hvc1") << QSize(800, 600);
    QTest::newRow("heic, 0 x 0 in its data") << "landscape.heic" << QSize(0, 0) << QByteArray("hvc1") << QSize();
}

void TestPicture::codedSize()
{
    QFETCH(QString, name);
    QFETCH(QSize, inBand);
    QFETCH(QByteArray, type);
    QFETCH(QSize, coded);
    QString path = file(name);
    if (inBand.isValid()) {
        path = file(QStringLiteral("in-band-") + name);
        QVERIFY(writeAll(path, withInBandSps(readAll(file(name)), inBand)));
    }
    QFile picture(path);
    QVERIFY(picture.open(QIODevice::ReadOnly));
    const HeifPrimary primary = readHeifPrimary(picture.handle());
    QCOMPARE(primary.type, type);
    QCOMPARE(primary.largestCoded.value_or(QSize()), coded);
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
    // libheif reads a grid's tiles while it decodes; a read refused then must not end
    // the process. -1: cancelled as the last tiles are read (after them come a dozen
    // questions while the 600 rows are reduced).
    QTest::newRow("grid.heic between its tiles") << QStringLiteral("grid.heic") << -1;
}

void TestPicture::cancelled()
{
    QFETCH(QString, name);
    QFETCH(int, answersBeforeCancel);
    std::atomic<int> asked = 0;
    if (answersBeforeCancel < 0) {
        QVERIFY(decodeFile(file(name), DecodeRequest{QSize(100, 100), [&] { return ++asked < 0; }}));
        answersBeforeCancel = asked - 14;
        asked = 0;
    }
    const auto picture
        = decodeFile(file(name), DecodeRequest{QSize(100, 100), [&] { return asked++ >= answersBeforeCancel; }});
    QVERIFY(!picture);
    QVERIFY(asked > answersBeforeCancel);
}

void TestPicture::requestDefaultsAsLoader_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("scale");
    QTest::addColumn<QSize>("area");
    QTest::newRow("jpeg, cropped") << "landscape.jpg" << 1.0 << QSize(400, 300);
    QTest::newRow("jpeg, preview") << "landscape.jpg" << 0.37 << QSize(200, 100);
    QTest::newRow("large jpeg") << "big.jpg" << 1.0 << QSize(640, 480);
    QTest::newRow("bmp, whole") << "landscape.bmp" << 1.0 << QSize(1000, 1000);
    QTest::newRow("bmp, preview") << "landscape.bmp" << 0.5 << QSize(300, 300);
    QTest::newRow("png under a jpeg's name") << "png-named.jpg" << 1.0 << QSize(400, 300);
}

void TestPicture::requestDefaultsAsLoader()
{
    QFETCH(QString, name);
    QFETCH(double, scale);
    QFETCH(QSize, area);
    const auto expected = loadPicture(file(name), scale, area);
    const auto decoded = decodePicture({file(name), area, scale});
    QCOMPARE(bool(decoded), bool(expected));
    if (!expected)
        return;
    QCOMPARE(decoded->picture.pixels, expected->pixels);
    QCOMPARE(decoded->picture.size, expected->size);
    QCOMPARE(decoded->picture.origin, expected->origin);
}

void TestPicture::fittedJpegFromScaledDecode_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("area");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("djpegScale");
    QTest::newRow("photo, 3/8 then averaged") << "big.jpg" << QSize(1000, 700) << QSize(933, 700) << "3/8";
    QTest::newRow("exactly 4/8") << "landscape.jpg" << QSize(400, 300) << QSize(400, 300) << "4/8";
    QTest::newRow("odd area, 1/8") << "landscape.jpg" << QSize(97, 301) << QSize(97, 73) << "1/8";
    QTest::newRow("never enlarged") << "landscape.jpg" << QSize(2000, 2000) << QSize(800, 600) << "8/8";
}

void TestPicture::fittedJpegFromScaledDecode()
{
    QFETCH(QString, name);
    QFETCH(QSize, area);
    QFETCH(QSize, size);
    QFETCH(QString, djpegScale);
    const auto decoded = decodePicture({file(name), area, 1.0, true, false});
    QVERIFY(decoded);
    QCOMPARE(decoded->picture.pixels.size(), size);
    QCOMPARE(decoded->picture.size, size);
    QCOMPARE(decoded->picture.origin, QPoint());
    const QString scaled = file(name + QLatin1String(".scaled.ppm"));
    QVERIFY(run(QStringLiteral("djpeg"),
                {QStringLiteral("-scale"), djpegScale, QStringLiteral("-ppm"), QStringLiteral("-outfile"), scaled,
                 file(name)}));
    const auto expected = reduceImage(QImage(scaled).convertToFormat(QImage::Format_RGB32), size);
    QVERIFY(expected);
    const double difference = meanDifference(decoded->picture.pixels, *expected);
    QVERIFY2(difference >= 0 && difference <= 0.5, qPrintable(QString::number(difference)));
}

void TestPicture::fittedRequest_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("allFormats");
    QTest::addColumn<QSize>("area");
    QTest::addColumn<QSize>("size"); // empty: invalid
    QTest::newRow("bmp") << "landscape.bmp" << false << QSize(300, 300) << QSize(300, 225);
    QTest::newRow("bmp, all formats") << "landscape.bmp" << true << QSize(97, 301) << QSize(97, 73);
    QTest::newRow("png") << "landscape.png" << true << QSize(400, 300) << QSize(400, 300);
    QTest::newRow("png, by name only") << "landscape.png" << false << QSize(400, 300) << QSize();
    QTest::newRow("png under a jpeg's name") << "png-named.jpg" << true << QSize(400, 300) << QSize(400, 300);
    QTest::newRow("png under a jpeg's name, by name") << "png-named.jpg" << false << QSize(400, 300) << QSize();
    QTest::newRow("gif never enlarged") << "portrait.gif" << true << QSize(1000, 1000) << QSize(360, 540);
    QTest::newRow("webp") << "portrait.webp" << true << QSize(300, 300) << QSize(200, 300);
}

void TestPicture::fittedRequest()
{
    QFETCH(QString, name);
    QFETCH(bool, allFormats);
    QFETCH(QSize, area);
    QFETCH(QSize, size);
    const auto decoded = decodePicture({file(name), area, 0.5, true, allFormats});
    QCOMPARE(bool(decoded), !size.isEmpty());
    if (!decoded)
        return;
    QCOMPARE(decoded->picture.pixels.size(), size);
    QCOMPARE(decoded->picture.pixels.format(), QImage::Format_RGB32);
    const QImage expected = reference(name, QStringLiteral("pillow"), size);
    const double difference = meanDifference(decoded->picture.pixels, expected);
    QVERIFY2(difference >= 0 && difference <= 1.0, qPrintable(QString::number(difference)));
}

void TestPicture::ownSizeOtherFormatClipped()
{
    // Centred and clipped like a JPEG: the middle 400 x 300 of 800 x 600.
    const auto whole = decodeFile(file(QStringLiteral("landscape.png")), {});
    QVERIFY(whole);
    const auto decoded = decodePicture({file(QStringLiteral("landscape.png")), QSize(400, 300), 1.0, false, true});
    QVERIFY(decoded);
    QCOMPARE(decoded->picture.size, QSize(800, 600));
    QCOMPARE(decoded->picture.origin, QPoint(200, 150));
    QCOMPARE(decoded->picture.pixels, whole->copy(200, 150, 400, 300));
    // The preview reduces it first: 400 x 300 fits its area whole.
    const auto preview = decodePicture({file(QStringLiteral("landscape.png")), QSize(500, 500), 0.5, false, true});
    QVERIFY(preview);
    QCOMPARE(preview->picture.size, QSize(400, 300));
    QCOMPARE(preview->picture.origin, QPoint());
    QCOMPARE(preview->picture.pixels.size(), QSize(400, 300));
}

void TestPicture::stripesThroughJpeg()
{
    // One-pixel stripes fitted into a tenth of their size turn grey, not into moiré.
    QImage stripes(400, 300, QImage::Format_RGB32);
    for (int y = 0; y < stripes.height(); ++y)
        for (int x = 0; x < stripes.width(); ++x)
            stripes.setPixel(x, y, (x & 1) ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    QVERIFY(stripes.save(file(QStringLiteral("stripes.png"))));
    QVERIFY(run(QStringLiteral("convert"),
                {file(QStringLiteral("stripes.png")), QStringLiteral("-quality"), QStringLiteral("100"),
                 file(QStringLiteral("stripes.jpg"))}));
    const auto decoded = decodePicture({file(QStringLiteral("stripes.jpg")), QSize(40, 30), 1.0, true, false});
    QVERIFY(decoded);
    const QImage &pixels = decoded->picture.pixels;
    QCOMPARE(pixels.size(), QSize(40, 30));
    for (int y = 0; y < pixels.height(); ++y)
        for (int x = 0; x < pixels.width(); ++x)
            QVERIFY2(qAbs(qGray(pixels.pixel(x, y)) - 128) <= 20, qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
}

void TestPicture::orientationFitted_data()
{
    QTest::addColumn<int>("orientation");
    for (int orientation = 1; orientation <= 8; ++orientation)
        QTest::addRow("%d", orientation) << orientation;
}

void TestPicture::orientationFitted()
{
    QFETCH(int, orientation);
    const QImage stored = QImage(file(QStringLiteral("landscape.png"))).convertToFormat(QImage::Format_RGB32);
    const QImage upright = orientedImage(stored, orientation);
    const QSize size = ::fittedSize(upright.size(), QSize(300, 300));
    const auto expected = reduceImage(upright, size);
    QVERIFY(expected);
    const auto decoded
        = decodePicture({file(QStringLiteral("orient%1.tiff").arg(orientation)), QSize(300, 300), 1.0, true, true});
    QVERIFY(decoded);
    QCOMPARE(decoded->picture.pixels.size(), size);
    const double difference = meanDifference(decoded->picture.pixels, *expected);
    QVERIFY2(difference >= 0 && difference <= 1.0, qPrintable(QString::number(difference)));
}

void TestPicture::fittedPhotoNearLanczos()
{
    // The fitted photo against Pillow's Lanczos reduction of the whole decode.
    const auto decoded = decodePicture({file(QStringLiteral("big.jpg")), QSize(1000, 700), 1.0, true, false});
    QVERIFY(decoded);
    const QString target = file(QStringLiteral("big-lanczos.ppm"));
    QVERIFY(run(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral("-c"),
                 QStringLiteral("import sys; from PIL import Image; Image.open(sys.argv[1]).convert('RGB')"
                                ".resize((933, 700), Image.LANCZOS).save(sys.argv[2], 'PPM')"),
                 file(QStringLiteral("big.jpg")), target}));
    const double quality = psnr(decoded->picture.pixels, QImage(target));
    QVERIFY2(quality >= 35, qPrintable(QString::number(quality)));
}

void TestPicture::takenDate_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("fit");
    QTest::addColumn<bool>("allFormats");
    QTest::addColumn<QString>("date");
    QTest::addColumn<bool>("asked");
    const QString day = QStringLiteral("2019年8月14日");
    QTest::newRow("jpeg") << "dated.jpg" << false << false << day << true;
    QTest::newRow("jpeg, fitted") << "dated.jpg" << true << false << day << true;
    QTest::newRow("jpeg, all formats") << "dated.jpg" << true << true << day << true;
    QTest::newRow("webp") << "dated.webp" << true << true << day << true;
    QTest::newRow("heic") << "dated.heic" << false << true << day << true;
    QTest::newRow("png") << "dated.png" << true << true << day << true;
    QTest::newRow("png without EXIF") << "landscape.png" << true << true << QString() << true;
    QTest::newRow("jpeg without EXIF") << "landscape.jpg" << false << false << QString() << true;
    QTest::newRow("bmp") << "landscape.bmp" << true << true << QString() << true;
    // Read only for a frame that shows it.
    QTest::newRow("jpeg, not asked") << "dated.jpg" << false << false << QString() << false;
    QTest::newRow("heic, not asked") << "dated.heic" << false << true << QString() << false;
}

void TestPicture::takenDate()
{
    QFETCH(QString, name);
    QFETCH(bool, fit);
    QFETCH(bool, allFormats);
    QFETCH(QString, date);
    QFETCH(bool, asked);
    const auto decoded = decodePicture({file(name), QSize(400, 300), 1.0, fit, allFormats, asked});
    QVERIFY(decoded);
    QCOMPARE(decoded->takenDate, date);
}

void TestPicture::fittedCancelled_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("answersBeforeCancel");
    for (const char *name : {"big.jpg", "landscape.bmp", "landscape.png"}) {
        QTest::addRow("%s at once", name) << QString::fromLatin1(name) << 0;
        QTest::addRow("%s under way", name) << QString::fromLatin1(name) << 2;
    }
}

void TestPicture::fittedCancelled()
{
    QFETCH(QString, name);
    QFETCH(int, answersBeforeCancel);
    std::atomic<int> asked = 0;
    const auto picture
        = decodePicture({file(name), QSize(100, 100), 1.0, true, true}, [&] { return asked++ >= answersBeforeCancel; });
    QVERIFY(!picture);
    QVERIFY(asked > answersBeforeCancel);
}

QTEST_MAIN(TestPicture)
#include "tst_picture.moc"
