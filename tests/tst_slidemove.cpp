#include "show/ClockText.h"
#include "show/FrameLayout.h"
#include "show/MouseMove.h"
#include "show/ShowConfig.h"
#include "show/SlideMove.h"
#include "show/SystemCommand.h"
#include "show/Timer.h"

#include <QtTest>

Q_DECLARE_METATYPE(MoveState)

class TestSlideMove : public QObject
{
    Q_OBJECT

private slots:
    void slideSequence_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("border");
        QTest::addColumn<QList<int>>("lefts");
        QTest::newRow("full screen, W 400, b 8")
            << 400 << 8
            << QList<int>{-400, -399, -398, -396, -393, -389, -383, -374, -360, -339, -308, -261, -191, -151, -119, -93,
                          -72,  -55,  -42,  -31,  -23,  -16,  -11,  -7,   -3,   0,    2,    4,    5,    6,    7,    8};
        QTest::newRow("preview, W 54, b 1")
            << 54 << 1 << QList<int>{-54, -53, -52, -50, -47, -43, -37, -28, -14, -10, -7, -5, -3, -2, -1, 0, 1};
    }

    void slideSequence()
    {
        QFETCH(int, width);
        QFETCH(int, border);
        QFETCH(QList<int>, lefts);
        QList<int> seen{-width};
        int left = -width;
        int ticks = 0;
        for (int step; (step = slideStep(left, width, border)) > 0;) {
            left += step;
            seen << left;
            ++ticks;
            QVERIFY2(ticks < 1000, "the slide never ends");
        }
        QCOMPARE(seen, lefts);
        // One more tick (the one that found the panel at rest) ends the slide.
        QCOMPARE(ticks + 1, int(lefts.size()));
    }

    void slideNeverOvershoots()
    {
        for (int width : {1, 2, 7, 54, 400, 1000, 1919}) {
            for (int border : {0, 1, 8}) {
                int left = -width;
                while (const int step = slideStep(left, width, border)) {
                    QVERIFY(step > 0);
                    left += step;
                    QVERIFY2(left <= border,
                             qPrintable(QStringLiteral("W %1 b %2 passed to %3").arg(width).arg(border).arg(left)));
                }
                QCOMPARE(left, border);
            }
        }
    }

    void move_data()
    {
        QTest::addColumn<MoveState>("before");
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<QSize>("window");
        QTest::addColumn<MoveState>("after");
        const QSize window(1024, 768);
        const QSize frame(450, 450);
        QTest::newRow("free, right and down")
            << MoveState{100, 100, true, true} << frame << window << MoveState{101, 101, true, true};
        QTest::newRow("free, left and up")
            << MoveState{100, 100, false, false} << frame << window << MoveState{99, 99, false, false};
        QTest::newRow("reaches the left edge")
            << MoveState{1, 100, false, true} << frame << window << MoveState{0, 101, true, true};
        QTest::newRow("reaches the top edge")
            << MoveState{100, 1, true, false} << frame << window << MoveState{101, 0, true, true};
        QTest::newRow("reaches the right edge")
            << MoveState{573, 100, true, true} << frame << window << MoveState{574, 101, false, true};
        QTest::newRow("one short of the right edge")
            << MoveState{572, 100, true, true} << frame << window << MoveState{573, 101, true, true};
        QTest::newRow("reaches the bottom edge")
            << MoveState{100, 317, true, true} << frame << window << MoveState{101, 318, true, false};
        QTest::newRow("corner") << MoveState{573, 317, true, true} << frame << window
                                << MoveState{574, 318, false, false};
        // Both tests of an axis hold at once: the flag toggles twice and the frame
        // keeps drifting out of the window on that axis.
        QTest::newRow("frame taller, moving down")
            << MoveState{10, 10, true, true} << QSize(450, 800) << window << MoveState{11, 11, true, false};
        QTest::newRow("frame taller, reaching the top")
            << MoveState{10, 1, true, false} << QSize(450, 800) << window << MoveState{11, 0, true, false};
        QTest::newRow("frame taller, moving up past 0")
            << MoveState{10, 0, true, false} << QSize(450, 800) << window << MoveState{11, -1, true, false};
        QTest::newRow("frame wider than the window")
            << MoveState{1, 10, false, true} << QSize(1100, 450) << window << MoveState{0, 11, false, true};
    }

    void move()
    {
        QFETCH(MoveState, before);
        QFETCH(QSize, frame);
        QFETCH(QSize, window);
        QFETCH(MoveState, after);
        const MoveState moved = moveStep(before, frame, window);
        QCOMPARE(moved.left, after.left);
        QCOMPARE(moved.top, after.top);
        QCOMPARE(moved.right, after.right);
        QCOMPARE(moved.down, after.down);
    }

    void bounceStaysInside()
    {
        // A frame that fits wanders between the edges for ever.
        MoveState state{10, 10, true, true};
        for (int i = 0; i < 5000; ++i) {
            state = moveStep(state, QSize(450, 450), QSize(1024, 768));
            QVERIFY(state.left >= 0 && state.left + 450 <= 1024);
            QVERIFY(state.top >= 0 && state.top + 450 <= 768);
        }
    }

    void framePosition_data()
    {
        QTest::addColumn<int>("window");
        QTest::addColumn<int>("frame");
        QTest::addColumn<int>("lowest");
        QTest::addColumn<int>("highest");
        QTest::newRow("room") << 1024 << 450 << 10 << 10 + 1024 - 450 - 20 - 1;
        QTest::newRow("less than frame + 20") << 460 << 450 << 10 << 10;
        QTest::newRow("smaller than the frame") << 300 << 450 << 10 << 10;
    }

    void framePosition()
    {
        QFETCH(int, window);
        QFETCH(int, frame);
        QFETCH(int, lowest);
        QFETCH(int, highest);
        QCOMPARE(randomFramePosition(window, frame, [](int) { return 0; }), lowest);
        QCOMPARE(randomFramePosition(window, frame, [](int n) { return n - 1; }), highest);
    }

    void clock_data()
    {
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QString>("separator");
        QTest::addColumn<QString>("text");
        QTest::newRow("morning") << QTime(9, 5) << ":"
                                 << "9:05";
        QTest::newRow("midnight") << QTime(0, 0) << ":"
                                  << "0:00";
        QTest::newRow("evening") << QTime(23, 59, 59) << ":"
                                 << "23:59";
        QTest::newRow("dot separator") << QTime(14, 7) << "."
                                       << "14.07";
    }

    void clock()
    {
        QFETCH(QTime, time);
        QFETCH(QString, separator);
        QFETCH(QString, text);
        QCOMPARE(clockText(time, separator), text);
    }

    void localeSeparator_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("separator");
        QTest::newRow("C") << "C"
                           << ":";
        QTest::newRow("Japanese") << "ja_JP"
                                  << ":";
        QTest::newRow("Finnish") << "fi_FI"
                                 << ".";
    }

    void localeSeparator()
    {
        QFETCH(QString, locale);
        QFETCH(QString, separator);
        QCOMPARE(timeSeparator(QLocale(locale)), separator);
    }

    void mouseRule_data()
    {
        QTest::addColumn<QPoint>("now");
        QTest::addColumn<bool>("closes");
        QTest::newRow("same place") << QPoint(100, 100) << false;
        QTest::newRow("5 right 5 down") << QPoint(105, 105) << false;
        QTest::newRow("5 left 5 up") << QPoint(95, 95) << false;
        QTest::newRow("6 right") << QPoint(106, 100) << true;
        QTest::newRow("6 up") << QPoint(100, 94) << true;
    }

    void mouseRule()
    {
        QFETCH(QPoint, now);
        QFETCH(bool, closes);
        QCOMPARE(mouseMoveCloses(QPoint(100, 100), now), closes);
    }

    void systemCommand_data()
    {
        QTest::addColumn<quint32>("command");
        QTest::addColumn<bool>("handled");
        QTest::newRow("SC_SCREENSAVE") << quint32(0xF140) << true;
        QTest::newRow("with flag bits") << quint32(0xF141) << false;
        QTest::newRow("SC_CLOSE") << quint32(0xF060) << false;
        QTest::newRow("SC_MONITORPOWER") << quint32(0xF170) << false;
    }

    void systemCommand()
    {
        QFETCH(quint32, command);
        QFETCH(bool, handled);
        QCOMPARE(handlesSystemCommand(command), handled);
    }

    void usableIntervals()
    {
        QCOMPARE(usableStayTime(0), 10);
        QCOMPARE(usableStayTime(-5), 10);
        QCOMPARE(usableStayTime(5000), 5000);
        QCOMPARE(usableSlideInterval(0), 1);
        QCOMPARE(usableSlideInterval(-1), 1);
        QCOMPARE(usableSlideInterval(100), 100);
    }

    void timerSemantics()
    {
        Timer timer;
        QSignalSpy fired(&timer, &Timer::timeout);
        QVERIFY(!timer.enabled());
        timer.setInterval(0);
        timer.setEnabled(true);
        // Interval 0 never fires (a bare QTimer would fire continuously).
        QVERIFY(!timer.isRunning());
        timer.setInterval(5);
        QVERIFY(timer.isRunning());
        QVERIFY(fired.wait(1000));
        timer.setEnabled(false);
        QVERIFY(!timer.isRunning());
        timer.setInterval(7);
        QVERIFY(!timer.isRunning());
        QCOMPARE(timer.interval(), 7);
    }

    void layout_data()
    {
        QTest::addColumn<double>("scale");
        QTest::addColumn<int>("frameWidth");
        QTest::addColumn<int>("frameEdge");
        QTest::addColumn<int>("bevel");
        QTest::addColumn<int>("matOffset");
        QTest::addColumn<int>("matEdge");
        QTest::addColumn<int>("areaEdge");
        QTest::addColumn<int>("border");
        QTest::addColumn<int>("panelEdge");
        QTest::addColumn<int>("moveAmount");
        QTest::addColumn<QSize>("errorSize");
        QTest::addColumn<int>("clockTop");
        QTest::newRow("full screen defaults")
            << 1.0 << 10 << 450 << 3 << 13 << 424 << 418 << 8 << 400 << 20 << QSize(153, 17) << 437;
        QTest::newRow("preview 152 of 1024") << 152.0 / 1024.0 << 2 << 66 << 1 << 3 << 60 << 58 << 1 << 54 << 3
                                             << QSize(22, 2) << (66 + 3 + 60) / 2 - 4 - 3 + 1;
    }

    void layout()
    {
        QFETCH(double, scale);
        const FrameLayout l = frameLayout(450, 10, 20, scale);
        QTEST(l.frameWidth, "frameWidth");
        QTEST(l.frameEdge, "frameEdge");
        QTEST(l.frameBevel, "bevel");
        QTEST(l.matOffset, "matOffset");
        QTEST(l.matEdge, "matEdge");
        QTEST(l.pictureAreaEdge(), "areaEdge");
        QTEST(l.pictureBorder, "border");
        QTEST(l.panelEdge(), "panelEdge");
        QTEST(l.moveAmount, "moveAmount");
        QTEST(l.errorSize, "errorSize");
        QTEST(l.clockTop(9), "clockTop");
    }
    void showConfig_data()
    {
        QTest::addColumn<bool>("orderF");
        QTest::addColumn<int>("startNo");
        QTest::addColumn<QString>("slot2"); // the other slots keep their defaults
        QTest::addColumn<double>("scale");
        QTest::addColumn<int>("folderIndex");
        QTest::addColumn<QList<int>>("numbers"); // frame size, stay, slide, move, width
        QTest::addColumn<QString>("clockColor");
        QTest::newRow("stored slot") << false << 2 << "600,0,-1,7,20,  ,/p, " << 1.0 << 2
                                     << QList<int>{600, 10, 1, 7, 20} << "clBlack";
        QTest::newRow("start number out of range")
            << false << 9 << "600" << 1.0 << 0 << QList<int>{450, 5000, 100, 20, 10} << "clBlack";
        QTest::newRow("rotation to the next used slot")
            << true << 0 << "300,1,2,3,4, clRed,/p," << 1.0 << 2 << QList<int>{300, 1, 2, 3, 4} << " clRed";
        QTest::newRow("rotation without a used slot")
            << true << 4 << "300" << 1.0 << 4 << QList<int>{450, 5000, 100, 20, 10} << "clBlack";
        QTest::newRow("preview keeps a border and a move")
            << false << 2 << "450,5000,100,1,1,,/p," << 0.1 << 2 << QList<int>{450, 5000, 100, 1, 1} << "clBlack";
    }

    void showConfig()
    {
        QFETCH(bool, orderF);
        QFETCH(int, startNo);
        QFETCH(QString, slot2);
        QFETCH(double, scale);
        QFETCH(QList<int>, numbers);
        StoredSettings settings;
        settings.orderF = orderF;
        settings.startNo = startNo;
        settings.folders[2] = slot2;
        const ShowConfig c = ::showConfig(settings, scale);
        const FrameLayout layout = frameLayout(numbers[0], numbers[4], numbers[3], scale);
        QTEST(c.FolderIndex, "folderIndex");
        QCOMPARE(QList<int>({c.FrameSize, c.StayTime, c.SlideInterval, c.MoveAmount, c.FrameWidth}),
                 QList<int>({numbers[0], numbers[1], numbers[2], layout.moveAmount, layout.frameWidth}));
        QCOMPARE(c.layout.frameEdge, layout.frameEdge);
        QTEST(c.ClockColor, "clockColor");
        QCOMPARE(c.FolderPaths[2], Split(slot2, 7));
    }
};

QTEST_GUILESS_MAIN(TestSlideMove)
#include "tst_slidemove.moc"
