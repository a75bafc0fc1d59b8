#include "setup/Sample.h"
#include "show/FrameLayout.h"
#include "show/ImageView.h"
#include "show/Main.h"
#include "show/Panel.h"
#include "tests/DatedJpeg.h"
#include "tests/SetupFixture.h"

#include <QBuffer>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QImageWriter>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <limits>

namespace {

// A slot's packed text.
QString slotText(int frameSize, int frameWidth, const QString &clockColor, const QString &folder,
                 const QString &framePicture = QString())
{
    return QStringLiteral("%1,5000,100,20,%2,%3,%4,%5")
        .arg(frameSize)
        .arg(frameWidth)
        .arg(clockColor, folder, framePicture);
}

// A plain BMP picture of one colour.
QString writePicture(const QString &path, QSize size, QColor color)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(color);
    if (!image.save(path, "BMP"))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// Waits for the picture the sample last asked for, decoded on its worker.
void waitForPicture(TSampleForm &sample)
{
    if (!QTest::qWaitFor([&] { return !sample.pictureUnderWay(); }))
        qFatal("the sample's picture never came");
}

// The sample as drawn once its picture is in.
QImage drawn(TSampleForm &sample)
{
    waitForPicture(sample);
    return sample.grab().toImage();
}

// The colour at the centre of the sample's picture area, as drawn.
QColor pictureAreaCentre(TSampleForm &sample)
{
    const QImage shot = drawn(sample);
    const QPoint centre = sample.imgA->mapTo(&sample, sample.imgA->rect().center());
    return shot.pixelColor(centre);
}

} // namespace

// The sample window and the dialog's side of it: the picture stepping, the sliders that
// redraw it and the frame it draws.
class TestSample : public SetupFixture
{
    Q_OBJECT

private:
    QPointer<TSampleForm> m_sample;

    std::unique_ptr<TSetupForm> openDialog()
    {
        m_sample = new TSampleForm;
        m_sample->show();
        return showDialog(std::make_unique<NoDialogs>(), m_sample);
    }

    // Three pictures a (red), b (green), c (blue) in a folder of their own.
    static void writeThreePictures(const QTemporaryDir &folder)
    {
        writePicture(folder.filePath("b.bmp"), {20, 20}, Qt::green);
        writePicture(folder.filePath("A.BMP"), {20, 20}, Qt::red);
        writePicture(folder.filePath("c.bmp"), {20, 20}, Qt::blue);
    }

private slots:
    void initTestCase() { setUpProgram(); }

    void init() { QVERIFY2(setUpTest(), "no temporary folder for the settings"); }

    void cleanup()
    {
        delete m_sample.data();
        QCOMPARE(m_errors, QStringList());
    }

    // The sample is the show window's frame at full size.
    void layoutAtFullSize_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("clock");
        QTest::addColumn<int>("picture");
        QTest::addColumn<int>("clockTop");
        QTest::newRow("defaults") << 450 << 10 << true << 400 << 437;
        QTest::newRow("width 5") << 450 << 5 << false << 410 << 440;
        QTest::newRow("width 3, odd halving") << 300 << 3 << false << 264 << 291;
        QTest::newRow("largest") << 1050 << 45 << true << 930 << 1020;
    }

    void layoutAtFullSize()
    {
        QFETCH(int, size);
        QFETCH(int, width);
        QFETCH(bool, clock);
        QFETCH(int, picture);
        QFETCH(int, clockTop);
        const FrameLayout l = frameLayout(size, width, 0, 1.0);
        QCOMPARE(l.clockShown(), clock);
        QCOMPARE(l.frameEdge, size);
        QCOMPARE(l.panelEdge(), picture);
        QCOMPARE(l.clockTop(9), clockTop);
    }

    // Numbers no dialog writes, from a hand-edited file: the frame and the window stay
    // bounded and the layout's arithmetic does not overflow.
    void handEditedNumbersAreBounded_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("edge");
        QTest::addColumn<int>("border");
        QTest::newRow("frame size 100000") << 100000 << 10 << kLargestFrameSize << 10;
        QTest::newRow("largest int width") << 450 << std::numeric_limits<int>::max() << 450 << 450;
        QTest::newRow("smallest int size") << std::numeric_limits<int>::min() << 10 << 0 << 0;
        QTest::newRow("negative width") << 450 << -20 << 450 << 0;
    }

    void handEditedNumbersAreBounded()
    {
        QFETCH(int, size);
        QFETCH(int, width);
        const FrameLayout l = frameLayout(size, width, std::numeric_limits<int>::max(), 0.5);
        QVERIFY(l.frameEdge <= kLargestFrameSize / 2 && l.moveAmount > 0);
        TSampleForm sample;
        sample.SetDisp({size, width, QString(), QStringLiteral("clBlack"), QString(), {}});
        QTEST(sample.pnlBase->width(), "edge");
        QTEST(frameLayout(size, width, 0, 1.0).frameWidth, "border");
        QVERIFY(sample.width() <= 4096 && sample.height() <= 4096);
        QVERIFY(!sample.grab(QRect(0, 0, 64, 64)).isNull());
    }

    void beforeTheFirstRedrawNothingShows()
    {
        TSampleForm sample;
        QCOMPARE(sample.pos(), QPoint(0, 0));
        QVERIFY(sample.pnlBase->isHidden());
        QCOMPARE(sample.lblTime->text(), QStringLiteral("12:00"));
        QVERIFY(sample.imgDummy->isHidden());
        QVERIFY(sample.imgDummy->hasPicture());
        QCOMPARE(sample.imgDummy->picture()->size, QSize(128, 128));
        // The sample's frame has one picture panel and no mail error mark.
        QVERIFY(sample.pnlA && !sample.pnlB && !sample.pnlError);
        QCOMPARE(sample.findChild<QWidget *>(QStringLiteral("imgGaku")), sample.imgGaku);
        QVERIFY(sample.windowFlags() & Qt::FramelessWindowHint);
    }

    void steppingThroughThePictures()
    {
        QTemporaryDir folder;
        writeThreePictures(folder);
        store("Folder0", slotText(450, 10, "clBlack", folder.path()));
        const auto dialog = openDialog();
        QCOMPARE(dialog->sample().picture, folder.filePath("A.BMP"));
        QCOMPARE(pictureAreaCentre(*m_sample), QColor(Qt::red));

        auto *previous = control<QPushButton>(*dialog, "Button1");
        auto *next = control<QPushButton>(*dialog, "Button2");
        QCOMPARE(previous->text(), QStringLiteral("<< 前画像"));
        QCOMPARE(next->text(), QStringLiteral("次画像 >>"));
        previous->click();
        QCOMPARE(dialog->sampleIndex(), 2);
        QCOMPARE(dialog->sample().picture, folder.filePath("c.bmp"));
        QCOMPARE(pictureAreaCentre(*m_sample), QColor(Qt::blue));
        next->click();
        QCOMPARE(dialog->sampleIndex(), 0);
        QCOMPARE(pictureAreaCentre(*m_sample), QColor(Qt::red));
        next->click();
        QCOMPARE(dialog->sampleIndex(), 1);
        QCOMPARE(pictureAreaCentre(*m_sample), QColor(Qt::green));

        // A picture added while the dialog is open appears at the next step.
        writePicture(folder.filePath("d.bmp"), {20, 20}, Qt::yellow);
        next->click();
        next->click();
        QCOMPARE(dialog->sampleIndex(), 3);
        QCOMPARE(pictureAreaCentre(*m_sample), QColor(Qt::yellow));
    }

    // The photo options show in the sample at once: another format joins the pictures,
    // and a fitted picture shows whole within the area.
    void photoOptionsRedrawAtOnce()
    {
        QTemporaryDir folder;
        QImage wide(QSize(1600, 800), QImage::Format_RGB32);
        wide.fill(Qt::green);
        QVERIFY(wide.save(folder.filePath("wide.png"), "PNG"));
        store("Folder0", slotText(450, 10, "clBlack", folder.path()));
        const auto dialog = openDialog();
        QCOMPARE(dialog->sample().picture, QString());
        dialog->photoOptionBox(1)->click(); // every format
        QCOMPARE(dialog->sample().picture, folder.filePath("wide.png"));
        waitForPicture(*m_sample);
        QVERIFY(m_sample->imgA->hasPicture());
        QCOMPARE(m_sample->imgA->picture()->size, QSize(1600, 800));
        dialog->photoOptionBox(0)->click(); // fitted
        waitForPicture(*m_sample);
        const QSize area = m_sample->imgA->deviceSize();
        QCOMPARE(m_sample->imgA->picture()->size, QSize(area.width(), area.width() / 2));
        QCOMPARE(pictureAreaCentre(*m_sample), QColor(Qt::green));
    }

    void emptyFolderKeepsTheIndex()
    {
        QTemporaryDir folder;
        writeThreePictures(folder);
        store("Folder0", slotText(450, 10, "clBlack", folder.path()));
        const auto dialog = openDialog();
        control<QPushButton>(*dialog, "Button2")->click();
        QCOMPARE(dialog->sampleIndex(), 1);

        QTemporaryDir empty;
        writePicture(empty.filePath("not-a-picture.txt"), {20, 20}, Qt::white);
        dialog->folderEdit(0)->setText(empty.path());
        control<QPushButton>(*dialog, "Button2")->click();
        QCOMPARE(dialog->sampleIndex(), 1);
        QCOMPARE(dialog->sample().picture, QString());
        QVERIFY(!m_sample->imgA->hasPicture());
        QCOMPARE(pictureAreaCentre(*m_sample), QColor(Qt::black));
        control<QPushButton>(*dialog, "Button1")->click();
        QCOMPARE(dialog->sampleIndex(), 1);
    }

    void fewerPicturesFallBackToTheFirst()
    {
        QTemporaryDir folder;
        writeThreePictures(folder);
        store("Folder0", slotText(450, 10, "clBlack", folder.path()));
        const auto dialog = openDialog();
        control<QPushButton>(*dialog, "Button1")->click();
        QCOMPARE(dialog->sampleIndex(), 2);

        QTemporaryDir fewer;
        writePicture(fewer.filePath("x.bmp"), {20, 20}, Qt::magenta);
        writePicture(fewer.filePath("y.bmp"), {20, 20}, Qt::cyan);
        dialog->folderEdit(0)->setText(fewer.path());
        // The user's next slider move redraws with the index it had.
        control<QSlider>(*dialog, "trbGakuS")->setValue(8);
        QCOMPARE(dialog->sampleIndex(), 0);
        QCOMPARE(dialog->sample().picture, fewer.filePath("x.bmp"));
        QCOMPARE(pictureAreaCentre(*m_sample), QColor(Qt::magenta));
        QCOMPARE(m_sample->pnlBase->width(), 500);
    }

    // With ShowDate on, the sample writes the day its JPEG was taken on the upper border.
    void takenDateInTheSample_data()
    {
        QTest::addColumn<bool>("showDate");
        QTest::addColumn<QString>("date");
        QTest::newRow("on") << true << QStringLiteral("2019年8月14日");
        QTest::newRow("off") << false << QString();
    }

    void takenDateInTheSample()
    {
        QFETCH(bool, showDate);
        QFETCH(QString, date);
        QTemporaryDir pictures;
        QVERIFY(writeDatedJpeg(pictures.filePath(QStringLiteral("a.jpg")), "2019:08:14 10:00:00"));
        store("Folder0", slotText(450, 20, "clBlack", pictures.path()));
        store("ShowDate", showDate ? "1" : "0");
        const auto dialog = openDialog();
        waitForPicture(*m_sample);
        QCOMPARE(m_sample->lblDate->text(), date);
        QCOMPARE(m_sample->lblDate->font(), m_sample->lblTime->font());
    }

    void frameWidthShowsOrHidesTheClock_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("clock");
        QTest::newRow("position 0: 3") << 0 << 3 << false;
        QTest::newRow("position 1: 5") << 1 << 5 << false;
        QTest::newRow("position 2: 10") << 2 << 10 << true;
        QTest::newRow("position 9: 45") << 9 << 45 << true;
    }

    void frameWidthShowsOrHidesTheClock()
    {
        QFETCH(int, position);
        QFETCH(int, width);
        QFETCH(bool, clock);
        store("Folder0", slotText(450, 20, "clBlack", QString()));
        const auto dialog = openDialog();
        QVERIFY(m_sample->lblTime->isVisibleTo(m_sample));
        QSignalSpy redraws(dialog.get(), &TSetupForm::sampleChanged);
        control<QSlider>(*dialog, "trbGakuW")->setValue(position);
        QCOMPARE(redraws.count(), 1);
        QCOMPARE(dialog->slotValues(0).frameWidth, width);
        QCOMPARE(dialog->sample().frameWidth, width);
        QCOMPARE(m_sample->lblTime->isVisibleTo(m_sample), clock);
        QCOMPARE(m_sample->lblTime->text(), QStringLiteral("12:00"));
        QCOMPARE(m_sample->pnlInner->x(), width + 3);
    }

    void offScaleSizeShowsUntilTheUserMovesTheSlider()
    {
        store("Folder0", slotText(475, 10, "clBlack", QString()));
        const auto dialog = openDialog();
        // 475 is off the scale: the slider stands at 450, the slot and the sample keep 475.
        QCOMPARE(control<QSlider>(*dialog, "trbGakuS")->value(), 7);
        QCOMPARE(m_sample->pnlBase->width(), 475);
        QCOMPARE(m_sample->size(), QSize(475, 475));
        QSignalSpy redraws(dialog.get(), &TSetupForm::sampleChanged);
        control<QSlider>(*dialog, "trbGakuS")->setValue(8);
        control<QSlider>(*dialog, "trbGakuS")->setValue(7);
        QCOMPARE(redraws.count(), 2);
        QCOMPARE(m_sample->pnlBase->width(), 450);
    }

    void programMovesChangeNothing()
    {
        store("Folder0", slotText(475, 12, "clBlack", QString()));
        store("Folder1", slotText(600, 45, "clRed", QString()));
        const auto dialog = openDialog();
        QSignalSpy redraws(dialog.get(), &TSetupForm::sampleChanged);

        // The slot switch moves both sliders; only its own redraw happens.
        dialog->slotButton(1)->click();
        QCOMPARE(redraws.count(), 1);
        QCOMPARE(control<QSlider>(*dialog, "trbGakuS")->value(), 10);
        QCOMPARE(control<QSlider>(*dialog, "trbGakuW")->value(), 9);
        QCOMPARE(dialog->slotValues(1).frameSize, 600);
        QCOMPARE(dialog->slotValues(1).frameWidth, 45);
        QCOMPARE(m_sample->pnlBase->width(), 600);
        QCOMPARE(m_sample->pnlInner->x(), 48);

        // Back to the first slot: its off-scale values reached the slot when it was left.
        dialog->slotButton(0)->click();
        QCOMPARE(redraws.count(), 2);
        QCOMPARE(dialog->slotValues(1).frameSize, 600);
        QCOMPARE(m_sample->pnlBase->width(), 450);

        // The reset moves the sliders with Reacting off and redraws once itself.
        control<QSlider>(*dialog, "trbGakuS")->setValue(12);
        QCOMPARE(redraws.count(), 3);
        QCOMPARE(m_sample->pnlBase->width(), 700);
        control<QPushButton>(*dialog, "btnDefault")->click();
        QCOMPARE(redraws.count(), 4);
        QCOMPARE(m_sample->pnlBase->width(), 450);
    }

    // A frame picture is kept only as stretched over the frame.
    static QImage stretchedOver(const ImageView *source, const ImageView *frame)
    {
        return source->picture()
            ->pixels.scaled(frame->size(), Qt::IgnoreAspectRatio, Qt::FastTransformation)
            .convertToFormat(QImage::Format_RGB32);
    }

    void framePicture_data()
    {
        QTest::addColumn<QString>("framePicture"); // "<file>": an existing picture
        QTest::addColumn<int>("expected");         // 0 none, 1 built-in, 2 the file
        QTest::newRow("empty: built-in") << QString() << 1;
        QTest::newRow("blanks only: a missing file") << QStringLiteral("   ") << 0;
        QTest::newRow("missing file") << QStringLiteral("/no/such/frame.bmp") << 0;
        QTest::newRow("existing picture") << QStringLiteral("<file>") << 2;
        QTest::newRow("existing file that is no picture") << QStringLiteral("<junk>") << 0;
    }

    void framePicture()
    {
        QFETCH(QString, framePicture);
        QFETCH(int, expected);
        QTemporaryDir folder;
        if (framePicture == QLatin1String("<file>"))
            framePicture = writePicture(folder.filePath("frame.bmp"), {30, 30}, Qt::darkGreen);
        if (framePicture == QLatin1String("<junk>")) {
            framePicture = folder.filePath("frame.jpg");
            QFile junk(framePicture);
            QVERIFY(junk.open(QIODevice::WriteOnly));
            junk.write("no picture");
        }
        store("Folder0", slotText(450, 10, "clBlack", QString(), framePicture));
        const auto dialog = openDialog();
        QCOMPARE(dialog->sample().framePicture, framePicture);
        const QImage shot = drawn(*m_sample);
        const QColor corner = shot.pixelColor(5, 5);
        switch (expected) {
        case 0:
            QVERIFY(!m_sample->imgGaku->hasPicture());
            QCOMPARE(corner, QColor::fromRgb(Panel::ButtonFace));
            break;
        case 1:
            QVERIFY(m_sample->imgGaku->hasPicture());
            QCOMPARE(m_sample->imgGaku->picture()->pixels, stretchedOver(m_sample->imgDummy, m_sample->imgGaku));
            break;
        case 2:
            QVERIFY(m_sample->imgGaku->hasPicture());
            QCOMPARE(corner, QColor(Qt::darkGreen));
            break;
        }
    }

    // The show window trims the frame picture text and so shows the built-in picture for
    // blanks only; the sample takes the blanks as a file name and shows none.
    void blanksOnlyFramePictureDiffersFromTheShowWindow()
    {
        QTemporaryDir folder;
        writePicture(folder.filePath("a.bmp"), {20, 20}, Qt::red);
        store("Folder0", slotText(450, 10, "clBlack", folder.path(), QStringLiteral("   ")));
        const auto dialog = openDialog();
        QVERIFY(!m_sample->imgGaku->hasPicture());

        TPantelForm::Environment environment;
        environment.seed = 1;
        TPantelForm show(environment);
        QVERIFY(show.imgGaku->hasPicture());
        QCOMPARE(show.imgGaku->picture()->pixels, stretchedOver(m_sample->imgDummy, show.imgGaku));
    }

    void sameFrameAsTheShowWindow_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("width");
        QTest::newRow("450 x 10") << 450 << 10;
        QTest::newRow("300 x 3") << 300 << 3;
        QTest::newRow("600 x 45") << 600 << 45;
    }

    // Both windows lay out one frame: every part sits where the full-screen show window
    // puts it, the sample's one picture panel where the show window's panel at rest is.
    void sameFrameAsTheShowWindow()
    {
        QFETCH(int, size);
        QFETCH(int, width);
        store("Folder0", slotText(size, width, "clBlack", QString()));
        const auto dialog = openDialog();
        TPantelForm::Environment environment;
        environment.seed = 1;
        TPantelForm show(environment);
        QCOMPARE(m_sample->pnlBase->size(), show.pnlBase->size());
        for (const char *part : {"imgGaku", "lblTime", "pnlInner", "pnlBack"}) {
            const QWidget *inSample = m_sample->findChild<QWidget *>(QLatin1String(part));
            const QWidget *inShow = show.findChild<QWidget *>(QLatin1String(part));
            QVERIFY2(inSample && inShow, part);
            QVERIFY2(inSample->geometry() == inShow->geometry(), part);
        }
        QCOMPARE(m_sample->pnlA->mapTo(m_sample->pnlBase, QPoint(0, 0)), show.pnlB->mapTo(show.pnlBase, QPoint(0, 0)));
        QCOMPARE(m_sample->imgA->size(), show.imgB->size());
    }

    void clockColour_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QColor>("expected");
        QTest::newRow("name") << "clRed" << QColor(Qt::red);
        QTest::newRow("number") << "$0000FF00" << QColor(Qt::green);
        QTest::newRow("no colour: black, as in the show window") << "nonsense" << QColor(Qt::black);
    }

    void clockColour()
    {
        QFETCH(QString, text);
        QFETCH(QColor, expected);
        store("Folder0", slotText(450, 10, text, QString()));
        const auto dialog = openDialog();
        QCOMPARE(dialog->sample().clockColor, text);
        QCOMPARE(m_sample->lblTime->palette().color(QPalette::WindowText), expected);
    }

    void invalidSamplePictureLeavesTheAreaBlack()
    {
        QTemporaryDir folder;
        QFile junk(folder.filePath("broken.jpg"));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("not a JPEG at all");
        junk.close();
        store("Folder0", slotText(450, 10, "clBlack", folder.path()));
        const auto dialog = openDialog();
        QCOMPARE(dialog->sample().picture, folder.filePath("broken.jpg"));
        QVERIFY(!m_sample->imgA->hasPicture());
        QCOMPARE(pictureAreaCentre(*m_sample), QColor(Qt::black));
    }

    void frameGeometryInPixels_data()
    {
        QTest::addColumn<int>("position"); // of trbGakuW
        QTest::addColumn<int>("sizePosition");
        QTest::newRow("450 x 10") << 2 << 7;
        QTest::newRow("300 x 3") << 0 << 4;
        QTest::newRow("600 x 45") << 9 << 10;
        QTest::newRow("250 x 25") << 5 << 3;
    }

    // A white picture larger than any picture area fills it exactly; the clock text is
    // drawn red on the plain frame.
    void frameGeometryInPixels()
    {
        QFETCH(int, position);
        QFETCH(int, sizePosition);
        QTemporaryDir folder;
        writePicture(folder.filePath("white.bmp"), {1200, 1200}, Qt::white);
        store("Folder0", slotText(450, 10, "clRed", folder.path(), QStringLiteral(" ")));
        const auto dialog = openDialog();
        control<QSlider>(*dialog, "trbGakuW")->setValue(position);
        control<QSlider>(*dialog, "trbGakuS")->setValue(sizePosition);
        const int S = dialog->slotValues(0).frameSize;
        const int W = dialog->slotValues(0).frameWidth;
        QCOMPARE(m_sample->size(), QSize(S, S));
        QCOMPARE(m_sample->pos(), QPoint(0, 0));

        const QImage shot = drawn(*m_sample);
        const int first = W + 15; // W + 3, then 3 bevel, 1 line and 8 border
        const int last = S - W - 16;
        QCOMPARE(last - first + 1, S - 2 * W - 30);
        const QColor white(Qt::white);
        const QColor black(Qt::black);
        for (const QPoint p : {QPoint(first, first), QPoint(last, last), QPoint(first, last), QPoint(last, first)})
            QVERIFY2(shot.pixelColor(p) == white, qPrintable(QStringLiteral("(%1, %2)").arg(p.x()).arg(p.y())));
        for (const QPoint p : {QPoint(first - 1, first), QPoint(first, first - 1), QPoint(last + 1, last),
                               QPoint(last, last + 1), QPoint(first - 9, first - 9), QPoint(last + 9, last + 9)})
            QVERIFY2(shot.pixelColor(p) == black, qPrintable(QStringLiteral("(%1, %2)").arg(p.x()).arg(p.y())));
        // The mat's lowered bevel starts W + 3 in: shadow at its top-left.
        QCOMPARE(shot.pixelColor(W + 3, W + 3), QColor::fromRgb(Panel::ButtonShadow));
        QVERIFY(shot.pixelColor(W + 2, W + 2) != QColor::fromRgb(Panel::ButtonShadow));

        const int labelTop = (2 * S - W - 3) / 2 - 6;
        QCOMPARE(m_sample->lblTime->geometry().top(), labelTop);
        int topRed = -1;
        int bottomRed = -1;
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = 0; x < shot.width(); ++x) {
                const QColor c = shot.pixelColor(x, y);
                if (c.red() > 200 && c.green() < 60 && c.blue() < 60) {
                    if (topRed < 0)
                        topRed = y;
                    bottomRed = y;
                    break;
                }
            }
        }
        if (W > 5) {
            QVERIFY2(
                topRed >= labelTop && bottomRed < labelTop + 12,
                qPrintable(
                    QStringLiteral("clock text rows %1 to %2, label top %3").arg(topRed).arg(bottomRed).arg(labelTop)));
        } else {
            QCOMPARE(topRed, -1);
        }
    }

    // A picture whose decode takes seconds (a progressive JPEG with 4 GB to read through
    // before its end) holds neither the dialog's redraw nor the sample's closing.
    void slowPictureHoldsNothing()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("slow.jpg"));
        {
            QImage image(64, 64, QImage::Format_RGB32);
            image.fill(Qt::red);
            QBuffer buffer;
            QImageWriter writer(&buffer, "JPEG");
            writer.setProgressiveScanWrite(true);
            QVERIFY(buffer.open(QIODevice::WriteOnly) && writer.write(image));
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly));
            QVERIFY(out.write(buffer.data().chopped(2)) > 0 && out.seek(out.pos() + (qint64(4) << 30)));
            QCOMPARE(out.write("\xFF\xD9", 2), qint64(2));
        }
        QElapsedTimer clock;
        clock.start();
        auto *sample = new TSampleForm;
        sample->SetDisp({450, 10, QString(), QStringLiteral("clBlack"), path, {}});
        QVERIFY(sample->pictureUnderWay());
        delete sample;
        QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
    }

    void largePictureSitsCentred()
    {
        QTemporaryDir folder;
        QImage image(1000, 1000, QImage::Format_RGB32);
        image.fill(Qt::blue);
        for (int y = 0; y < 500; ++y)
            for (int x = 0; x < 500; ++x)
                image.setPixelColor(x, y, Qt::red);
        QVERIFY(image.save(folder.filePath("quarters.bmp"), "BMP"));
        store("Folder0", slotText(450, 10, "clBlack", folder.path()));
        const auto dialog = openDialog();
        const QImage shot = drawn(*m_sample);
        // The 400-pixel area shows the picture's middle: (1000 - 400) / 2 = 300 cut off.
        const int first = 25;
        QCOMPARE(shot.pixelColor(first + 199, first + 199), QColor(Qt::red));
        QCOMPARE(shot.pixelColor(first + 200, first + 199), QColor(Qt::blue));
        QCOMPARE(shot.pixelColor(first + 199, first + 200), QColor(Qt::blue));
    }

    void closedSampleLeavesTheDialogWorking()
    {
        QTemporaryDir folder;
        writeThreePictures(folder);
        store("Folder0", slotText(450, 10, "clBlack", folder.path()));
        const auto dialog = openDialog();
        m_sample->close();
        QTRY_VERIFY(m_sample.isNull());
        control<QPushButton>(*dialog, "Button2")->click();
        QCOMPARE(dialog->sampleIndex(), 1);
        QCOMPARE(dialog->sample().picture, folder.filePath("b.bmp"));
    }
};

QTEST_MAIN(TestSample)
#include "tst_sample.moc"
