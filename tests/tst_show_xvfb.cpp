// The real program under a real X server: the preview drawn inside a window of our own,
// and SIGTERM ending the saver. Needs xvfb-run (a 1024 x 768 screen).
#include "settings/SettingsStore.h"
#include "setup/Sample.h"
#include "tests/DatedJpeg.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QImageWriter>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QSet>
#include <QTemporaryDir>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>
#include <QtTest>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <utility>

namespace {

bool isGold(QRgb c)
{
    return qRed(c) > 200 && qGreen(c) > 165 && qBlue(c) < 40;
}
bool isBlack(QRgb c)
{
    return (c & 0xFFFFFF) == 0;
}
bool isCyan(QRgb c)
{
    return qRed(c) < 100 && qGreen(c) > 150 && qBlue(c) > 150;
}
bool isWhite(QRgb c)
{
    return (c & 0xFFFFFF) == 0xFFFFFF;
}

// A host window painted grey, so the preview's black shows where it covers it.
class Host : public QWidget
{
public:
    Host() { setAttribute(Qt::WA_OpaquePaintEvent); }

protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(rect(), QColor(90, 90, 200)); }
};

QImage screenArea(const QRect &area)
{
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage().copy(area);
}

int count(const QImage &image, bool (*test)(QRgb))
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += test(image.pixel(x, y)) ? 1 : 0;
    return n;
}

// Where the pixels that pass `test` lie.
QRect bounds(const QImage &image, bool (*test)(QRgb))
{
    QRect found;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (test(image.pixel(x, y)))
                found |= QRect(x, y, 1, 1);
    return found;
}

QRect nonBlackBounds(const QImage &image)
{
    return bounds(image, [](QRgb c) { return !isBlack(c); });
}

xcb_connection_t *connection()
{
    return qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}

xcb_window_t rootWindow()
{
    return xcb_setup_roots_iterator(xcb_get_setup(connection())).data->root;
}

// A top-level window on screen (a child of the root) titled `title` (UTF-8, as in
// _NET_WM_NAME): the saver's own is "Pantel"; its message boxes carry the program's name.
xcb_window_t shownWindow(const QByteArray &title = "Pantel")
{
    xcb_connection_t *c = connection();
    static const xcb_atom_t netWmName = [c] {
        xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, 12, "_NET_WM_NAME"), nullptr);
        const xcb_atom_t value = atom ? atom->atom : xcb_atom_t(XCB_ATOM_WM_NAME);
        std::free(atom);
        return value;
    }();
    xcb_query_tree_reply_t *tree = xcb_query_tree_reply(c, xcb_query_tree(c, rootWindow()), nullptr);
    if (!tree)
        return 0;
    xcb_window_t found = 0;
    const xcb_window_t *children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
        xcb_get_property_reply_t *name
            = xcb_get_property_reply(c,
                                     xcb_get_property(c, 0, children[i], netWmName, XCB_GET_PROPERTY_TYPE_ANY, 0, 64),
                                     nullptr);
        xcb_get_window_attributes_reply_t *attributes
            = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, children[i]), nullptr);
        if (name && attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE
            && QByteArray(static_cast<const char *>(xcb_get_property_value(name)), xcb_get_property_value_length(name))
                == title)
            found = children[i];
        std::free(attributes);
        std::free(name);
    }
    std::free(tree);
    return found;
}

void sendKey(xcb_window_t window)
{
    xcb_key_press_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_KEY_PRESS;
    event.detail = 38; // "a" on the usual keymap
    event.root = rootWindow();
    event.event = window;
    event.same_screen = 1;
    event.event_x = event.root_x = 50;
    event.event_y = event.root_y = 50;
    xcb_send_event(connection(), 0, window, XCB_EVENT_MASK_KEY_PRESS, reinterpret_cast<const char *>(&event));
    xcb_flush(connection());
}

// Moves the real pointer, which the server reports as motion to the window under it.
void warpPointer(int x, int y)
{
    xcb_warp_pointer(connection(), XCB_NONE, rootWindow(), 0, 0, 0, 0, qint16(x), qint16(y));
    xcb_flush(connection());
}

// Whether the pointer shows nothing where it stands: every pixel of the server's cursor
// image is fully transparent.
bool pointerHidden()
{
    std::free(xcb_xfixes_query_version_reply(connection(), xcb_xfixes_query_version(connection(), 4, 0), nullptr));
    xcb_xfixes_get_cursor_image_reply_t *reply
        = xcb_xfixes_get_cursor_image_reply(connection(), xcb_xfixes_get_cursor_image(connection()), nullptr);
    if (!reply)
        return false;
    const uint32_t *pixels = xcb_xfixes_get_cursor_image_cursor_image(reply);
    const bool hidden = std::all_of(pixels, pixels + xcb_xfixes_get_cursor_image_cursor_image_length(reply),
                                    [](uint32_t pixel) { return qAlpha(pixel) == 0; });
    std::free(reply);
    return hidden;
}

// Part of the root window as the server has it, across every monitor (a screen's grab
// covers only its own monitor).
QImage rootArea(const QRect &area)
{
    xcb_get_image_reply_t *reply
        = xcb_get_image_reply(connection(),
                              xcb_get_image(connection(), XCB_IMAGE_FORMAT_Z_PIXMAP, rootWindow(), qint16(area.x()),
                                            qint16(area.y()), quint16(area.width()), quint16(area.height()), ~0u),
                              nullptr);
    if (!reply)
        return {};
    const QImage image = QImage(xcb_get_image_data(reply), area.width(), area.height(), QImage::Format_RGB32).copy();
    std::free(reply);
    return image;
}

// What xprop says about the window's state and name.
QString xprop(xcb_window_t window)
{
    QProcess process;
    process.start(QStringLiteral("xprop"),
                  {QStringLiteral("-id"), QString::number(window), QStringLiteral("_NET_WM_STATE"),
                   QStringLiteral("WM_NAME")});
    process.waitForFinished(5000);
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

// A phone's photo, 4032 x 3024 as stored: red, green, blue and magenta quadrants,
// clockwise from the top left, around a cyan square of 1200 pixels at its centre, which
// is all that a picture area shows of it at its own size. `orientation` goes in its EXIF
// block: 6 turns it upright as 3024 x 4032, each quadrant one place on clockwise.
QByteArray phonePhoto(int orientation)
{
    QImage photo(4032, 3024, QImage::Format_RGB32);
    QPainter painter(&photo);
    painter.fillRect(0, 0, 2016, 1512, Qt::red);
    painter.fillRect(2016, 0, 2016, 1512, Qt::green);
    painter.fillRect(2016, 1512, 2016, 1512, Qt::blue);
    painter.fillRect(0, 1512, 2016, 1512, Qt::magenta);
    painter.fillRect(1416, 912, 1200, 1200, Qt::cyan);
    painter.end();
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    if (!buffer.open(QIODevice::WriteOnly) || !photo.save(&buffer, "JPEG", 90))
        return {};
    // An image directory of one entry, the orientation (a SHORT), and no next directory.
    QByteArray tiff("II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0", 18);
    tiff.append(char(orientation)).append(7, '\0');
    return withExif(jpeg, tiff);
}

// Where each of the phone photo's colours shows (the quadrants 0 to 3, the centre 4),
// how many pixels of each, and the bounds of them all.
struct PhotoSeen
{
    std::array<QRect, 5> bounds;
    std::array<int, 5> pixels{};
    QRect photo;
};

PhotoSeen photoSeen(const QImage &shot)
{
    const auto colour = [](QRgb c) {
        const auto high = [](int v) { return v > 180; };
        const auto low = [](int v) { return v < 70; };
        const int r = qRed(c), g = qGreen(c), b = qBlue(c);
        if (low(r) && high(g))
            return high(b) ? 4 : low(b) ? 1 : -1;
        if (high(r) && low(g))
            return high(b) ? 3 : low(b) ? 0 : -1;
        return low(r) && low(g) && high(b) ? 2 : -1;
    };
    PhotoSeen seen;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            if (const int i = colour(shot.pixel(x, y)); i >= 0) {
                seen.bounds[size_t(i)] |= QRect(x, y, 1, 1);
                ++seen.pixels[size_t(i)];
            }
    for (const QRect &part : seen.bounds)
        seen.photo |= part;
    return seen;
}

} // namespace

class TestShowXvfb : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;
    QString m_binary;
    QByteArray m_scaleFactor;

    void startSaver(QProcess &process, const QStringList &arguments, const QString &daemonWindow = QString(),
                    const QString &home = QString())
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (!daemonWindow.isEmpty())
            environment.insert(QStringLiteral("XSCREENSAVER_WINDOW"), daemonWindow);
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.isEmpty() ? m_home.path() : home);
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(m_binary, arguments);
        QVERIFY(process.waitForStarted());
    }

    // Starts the saver on a settings file it may read but not write. Root writes any
    // file, so under root the saver runs as the unprivileged user nobody.
    void startSaverOnReadOnlySettings(QProcess &process, const QTemporaryDir &home, const QByteArray &settings)
    {
        const QString folder = home.path() + QStringLiteral("/Brightwel");
        QVERIFY(QDir().mkpath(folder));
        QFile file(folder + QStringLiteral("/Pantel.conf"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(settings) == settings.size());
        file.close();
        const auto readable = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
        const auto enterable = QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
        QVERIFY(file.setPermissions(readable));
        QVERIFY(QFile::setPermissions(folder, readable | enterable));
        QVERIFY(QFile::setPermissions(home.path(), readable | enterable));
        if (::geteuid() == 0) {
            process.setProgram(QStringLiteral("setpriv"));
            process.setArguments({QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                  QStringLiteral("--clear-groups"), m_binary, QStringLiteral("/s")});
        } else {
            process.setProgram(m_binary);
            process.setArguments({QStringLiteral("/s")});
        }
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start();
        QVERIFY(process.waitForStarted());
    }

    // A folder with one progressive JPEG that has gigabytes (a hole of a sparse file) to
    // read through before its end: its decode takes seconds.
    static QString slowPictureFolder(const QTemporaryDir &home)
    {
        QImage image(64, 64, QImage::Format_RGB32);
        image.fill(Qt::blue);
        QByteArray data;
        QBuffer buffer(&data);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "jpeg");
        writer.setProgressiveScanWrite(true);
        if (!writer.write(image) || !data.endsWith("\xFF\xD9"))
            return QString();
        QFile out(home.path() + QStringLiteral("/slow.jpg"));
        if (!out.open(QIODevice::WriteOnly) || out.write(data.chopped(2)) != data.size() - 2
            || !out.seek(out.pos() + (qint64(4) << 30)) || out.write("\xFF\xD9", 2) != 2)
            return QString();
        return home.path();
    }

    static void useSlot(const QString &slot)
    {
        SettingsStore store;
        store.WriteString(SettingNames::Section, SettingNames::folder(0), slot);
    }

private slots:
    void initTestCase()
    {
        m_binary = qEnvironmentVariable("PANTEL_BINARY");
        m_scaleFactor = qgetenv("QT_SCALE_FACTOR");
        QVERIFY2(QFileInfo(m_binary).isExecutable(), "PANTEL_BINARY must name build/pantel");
        QVERIFY(m_home.isValid());
        qputenv("XDG_CONFIG_HOME", m_home.path().toLocal8Bit());
        QDir().mkpath(m_home.path() + QStringLiteral("/pictures"));
        QImage picture(400, 400, QImage::Format_RGB32);
        picture.fill(Qt::red);
        QVERIFY(picture.save(m_home.path() + QStringLiteral("/pictures/red.bmp"), "BMP"));
        cleanup();
    }

    // Every test starts from the red picture's slot, and with the saver scaled as the
    // test run says.
    void cleanup()
    {
        useSlot(QStringLiteral("450,60000,1,20,10,clWhite,%1/pictures,").arg(m_home.path()));
        SettingsStore().WriteString(SettingNames::Section, SettingNames::FitPicture, QStringLiteral("0"));
        if (m_scaleFactor.isNull())
            qunsetenv("QT_SCALE_FACTOR");
        else
            qputenv("QT_SCALE_FACTOR", m_scaleFactor);
    }

    void previewInsideAWindow_data()
    {
        QTest::addColumn<bool>("daemon");
        QTest::newRow("/p <window id>") << false;
        // Screen-saver daemons pass "-root" and the window in XSCREENSAVER_WINDOW, in hex.
        QTest::newRow("XSCREENSAVER_WINDOW") << true;
    }

    void previewInsideAWindow()
    {
        QFETCH(bool, daemon);
        auto owned = std::make_unique<Host>();
        Host &host = *owned;
        host.setGeometry(100, 100, 200, 150);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        QProcess saver;
        if (daemon)
            startSaver(saver, {QStringLiteral("-root")}, QStringLiteral("0x%1").arg(host.winId(), 0, 16));
        else
            startSaver(saver, {QStringLiteral("/p"), QString::number(host.winId())});
        // Scale 200 / 1024: a 87-pixel frame, golden, with a white bevel, and the black
        // ground covering the whole host. On a 200 % desktop (the test run "xftdpi") the
        // host and the screen both double, and so does the whole miniature.
        const qreal ratio = host.devicePixelRatio();
        const QRect area(host.mapToGlobal(QPoint(0, 0)) * ratio, host.size() * ratio);
        QTRY_VERIFY_WITH_TIMEOUT(count(rootArea(area), isGold) > 50, 10000);
        const QImage shot = rootArea(area);
        QVERIFY(count(shot, isWhite) >= 2 * 85 * ratio);
        QCOMPARE(shot.pixel(0, 0) & 0xFFFFFF, 0u);
        QCOMPARE(shot.pixel(area.width() - 1, area.height() - 1) & 0xFFFFFF, 0u);
        QCOMPARE(nonBlackBounds(shot).size(), QSize(87, 87) * ratio);
        shot.save(QDir::tempPath() + QStringLiteral("/pantel-preview.png"));
        QCOMPARE(saver.state(), QProcess::Running);

        // The pointer crossing the miniature again and again, far from where it first
        // came in, leaves it running: a preview takes no input.
        const QList<QPoint> path{{50, 50}, {150, 150}, {50, 50}, {280, 230}, {20, 300}, {120, 110}, {290, 240}};
        for (const QPoint &point : path) {
            warpPointer(point.x(), point.y());
            QTest::qWait(100);
        }
        QVERIFY(!saver.waitForFinished(500));

        // When the system discards the preview, the miniature ends with its window.
        owned.reset();
        QVERIFY(saver.waitForFinished(5000));
        QCOMPARE(saver.exitStatus(), QProcess::NormalExit);
        QCOMPARE(saver.exitCode(), 0);
    }

    void inputEndsTheSaver_data()
    {
        QTest::addColumn<QString>("input");
        QTest::newRow("key") << "key";
        QTest::newRow("6-pixel mouse movement") << "move";
    }

    void inputEndsTheSaver()
    {
        QFETCH(QString, input);
        // The saver's window appears under the pointer, which gives it the first position.
        warpPointer(300, 300);
        QVERIFY(!pointerHidden());
        QProcess saver;
        startSaver(saver, {QStringLiteral("/s")});
        QTRY_VERIFY_WITH_TIMEOUT(shownWindow() != 0, 10000);
        const xcb_window_t window = shownWindow();
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QTRY_VERIFY_WITH_TIMEOUT(count(screenArea(screen).scaled(256, 192), isGold) > 20, 10000);
        QVERIFY(pointerHidden());
        if (input == QLatin1String("key")) {
            sendKey(window);
        } else {
            warpPointer(305, 305);
            // Five pixels are not enough: the saver is still there.
            QVERIFY(!saver.waitForFinished(300));
            warpPointer(306, 300);
        }
        QVERIFY(saver.waitForFinished(5000));
        QCOMPARE(saver.exitStatus(), QProcess::NormalExit);
        QCOMPARE(saver.exitCode(), 0);
    }

    void noTaskbarEntry_data()
    {
        QTest::addColumn<bool>("sample");
        QTest::newRow("run mode") << false;
        QTest::newRow("settings mode's sample") << true;
    }

    void noTaskbarEntry()
    {
        QFETCH(bool, sample);
        QProcess saver;
        std::unique_ptr<TSampleForm> form;
        xcb_window_t window = 0;
        if (sample) {
            form = std::make_unique<TSampleForm>();
            form->show();
            QVERIFY(QTest::qWaitForWindowExposed(form.get()));
            window = xcb_window_t(form->winId());
        } else {
            startSaver(saver, {QStringLiteral("/s")});
            QTRY_VERIFY_WITH_TIMEOUT(shownWindow() != 0, 10000);
            window = shownWindow();
        }
        QTRY_VERIFY_WITH_TIMEOUT(xprop(window).contains(QLatin1String("_NET_WM_STATE_SKIP_TASKBAR")), 5000);
        const QString said = xprop(window);
        QVERIFY2(said.contains(QLatin1String("_NET_WM_STATE_SKIP_PAGER")), qPrintable(said));
        // The program's name, never a form's.
        QVERIFY2(said.contains(QLatin1String("WM_NAME(STRING) = \"Pantel\"")), qPrintable(said));
        if (!sample) {
            saver.terminate();
            QVERIFY(saver.waitForFinished(5000));
        }
    }

    // Two monitors on one 2048 x 768 screen (the test run "monitors"): the saver blacks
    // out both and keeps the frame on the primary one. A monitor going away while it
    // runs does not end it; when the primary one goes or another becomes the primary,
    // the frame moves there and every other monitor stays black.
    void severalMonitors_data()
    {
        QTest::addColumn<QList<QStringList>>("change");
        // The monitor that holds the whole frame afterwards.
        QTest::addColumn<QRect>("frameOn");
        const QStringList dropRight{"--delmonitor", "right"};
        const QRect left(0, 0, 1024, 768);
        const QRect right(1024, 0, 1024, 768);
        QTest::newRow("other monitor goes away") << QList<QStringList>{dropRight} << left;
        QTest::newRow("primary goes away") << QList<QStringList>{{"--delmonitor", "left"}} << right;
        QTest::newRow("primary changes")
            << QList<QStringList>{dropRight, {"--setmonitor", "*right", "1024/270x768/203+1024+0", "none"}} << right;
        QTest::newRow("primary changes to a smaller monitor")
            << QList<QStringList>{dropRight, {"--setmonitor", "*right", "640/169x480/127+1024+0", "none"}}
            << QRect(1024, 0, 640, 480);
    }

    void severalMonitors()
    {
        QFETCH(QList<QStringList>, change);
        QFETCH(QRect, frameOn);
        const QRect root = QGuiApplication::primaryScreen()->virtualGeometry();
        if (root.size() != QSize(2048, 768))
            QSKIP("needs a 2048 x 768 screen");
        const auto xrandr
            = [](const QStringList &arguments) { return QProcess::execute(QStringLiteral("xrandr"), arguments) == 0; };
        // Each row starts from the same two monitors, whatever the last one left.
        xrandr({"--delmonitor", "left"});
        xrandr({"--delmonitor", "right"});
        QVERIFY(xrandr({"--setmonitor", "*left", "1024/270x768/203+0+0", "none"}));
        QVERIFY(xrandr({"--setmonitor", "right", "1024/270x768/203+1024+0", "none"}));
        const QRect left(0, 0, 1024, 768);
        const QRect right(1024, 0, 1024, 768);
        // The other monitor shows a window of ours until the saver blacks it out.
        Host desktop;
        desktop.setGeometry(right);
        desktop.show();
        QVERIFY(QTest::qWaitForWindowExposed(&desktop));
        QTRY_VERIFY_WITH_TIMEOUT(count(rootArea(right), isBlack) == 0, 5000);
        warpPointer(500, 300);
        QProcess saver;
        startSaver(saver, {QStringLiteral("/s")});
        QTRY_VERIFY_WITH_TIMEOUT(count(rootArea(left).scaled(256, 192), isGold) > 20, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(count(rootArea(right), isBlack) == 1024 * 768, 10000);

        // The frame moves to the monitor whole, and the one left over stays black.
        for (const QStringList &step : change)
            QVERIFY(xrandr(step));
        QTRY_VERIFY_WITH_TIMEOUT(count(rootArea(frameOn).scaled(frameOn.size() / 4), isGold) > 20, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(nonBlackBounds(rootArea(frameOn)).size(), QSize(450, 450), 5000);
        if (change.size() > 1)
            QTRY_VERIFY_WITH_TIMEOUT(count(rootArea(left), isBlack) == 1024 * 768, 10000);
        // The pointer did not move: the saver goes on.
        QVERIFY(!saver.waitForFinished(1500));
        saver.terminate();
        QVERIFY(saver.waitForFinished(5000));
        QCOMPARE(saver.exitStatus(), QProcess::NormalExit);
        QCOMPARE(saver.exitCode(), 0);
    }

    // A 200 % desktop (the test runs "ratio2", QT_SCALE_FACTOR=2, and "xftdpi", Xft.dpi 192,
    // on a 2048 x 1536 screen). The frame keeps its logical size, 900 device pixels for
    // 450; the photo shows 1:1 in device pixels: the 400 x 400 area shows the 800 x 800
    // pixels at its centre.
    void scaledDesktop_data()
    {
        QTest::addColumn<bool>("sample");
        QTest::newRow("run mode") << false;
        QTest::newRow("settings mode's sample") << true;
    }

    void scaledDesktop()
    {
        QFETCH(bool, sample);
        if (QGuiApplication::primaryScreen()->devicePixelRatio() != 2.0)
            QSKIP("needs a 200 % desktop");
        QTemporaryDir folder;
        QImage photo(1000, 1000, QImage::Format_RGB32);
        for (int y = 0; y < 1000; ++y)
            for (int x = 0; x < 1000; ++x)
                photo.setPixel(x, y, qRgb(x % 256, y % 256, 7));
        const QString photoPath = folder.path() + QStringLiteral("/photo.bmp");
        QVERIFY(photo.save(photoPath, "BMP"));
        useSlot(QStringLiteral("450,60000,1,20,10,clWhite,%1,").arg(folder.path()));
        // The run mode's frame shows somewhere on the screen, the sample's at its top-left
        // corner in a window of its own size.
        QProcess saver;
        std::unique_ptr<TSampleForm> form;
        QRect shown(0, 0, 2048, 1536);
        if (sample) {
            form = std::make_unique<TSampleForm>();
            form->SetDisp({450, 10, QString(), QStringLiteral("clWhite"), photoPath, {}});
            form->show();
            QVERIFY(QTest::qWaitForWindowExposed(form.get()));
            shown = QRect(QPoint(0, 0), form->size() * 2);
        } else {
            startSaver(saver, {QStringLiteral("/s")});
        }
        const auto photoAt = [](int x, int y) { return qRgb(x % 256, y % 256, 7); };
        // The area's top-left device pixel is the photo's (100, 100), at the left edge of
        // what shows; the other corners and their neighbours follow 1:1.
        const auto shownUpright = [&] {
            const QImage shot = rootArea(shown);
            for (int y = 1; y < shot.height() - 800; ++y)
                for (int x = 1; x < shot.width() - 800; ++x) {
                    if ((shot.pixel(x, y) & 0xFFFFFF) != (photoAt(100, 100) & 0xFFFFFF)
                        || (shot.pixel(x - 1, y) & 0xFFFFFF) == (photoAt(99, 100) & 0xFFFFFF))
                        continue;
                    for (const QPoint d : {QPoint(0, 0), QPoint(1, 0), QPoint(0, 1), QPoint(799, 0), QPoint(0, 799),
                                           QPoint(799, 799), QPoint(798, 799)}) {
                        if ((shot.pixel(x + d.x(), y + d.y()) & 0xFFFFFF)
                            != (photoAt(100 + d.x(), 100 + d.y()) & 0xFFFFFF))
                            return false;
                    }
                    return (shot.pixel(x + 800, y) & 0xFFFFFF) != (photoAt(900, 100) & 0xFFFFFF);
                }
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(shownUpright(), 15000);
        // The frame: 450 logical pixels, 900 device ones, its raised bevel from corner to
        // corner.
        if (sample) {
            QCOMPARE(shown.size(), QSize(900, 900));
            const QImage shot = rootArea(shown);
            QCOMPARE(shot.pixel(0, 0), 0xFFFFFFFFu);
            QCOMPARE(shot.pixel(899, 899), 0xFF808080u);
        } else {
            QCOMPARE(nonBlackBounds(rootArea(shown)).size(), QSize(900, 900));
            saver.terminate();
            QVERIFY(saver.waitForFinished(5000));
        }
    }

    // Fractional ratios: the saver alone runs scaled (QT_SCALE_FACTOR) while its frame
    // moves, and its frame, mat and picture meet without a seam.
    void fractionalRatios_data()
    {
        QTest::addColumn<double>("ratio");
        QTest::newRow("125 %") << 1.25;
        QTest::newRow("150 %") << 1.5;
    }

    void fractionalRatios()
    {
        QFETCH(double, ratio);
        QTemporaryDir folder;
        QImage photo(1000, 1000, QImage::Format_RGB32);
        photo.fill(QColor(40, 90, 160));
        QVERIFY(photo.save(folder.path() + QStringLiteral("/photo.bmp"), "BMP"));
        // A frame picture of one colour, so that any black on the frame is a seam.
        QImage gold(64, 16, QImage::Format_RGB32);
        gold.fill(QColor(200, 160, 40));
        const QString goldPath = folder.path() + QStringLiteral("/gold.bmp");
        QVERIFY(gold.save(goldPath, "BMP"));
        // The shortest rest: the frame moves all the time.
        useSlot(QStringLiteral("450,10,1,20,10,clWhite,%1,%2").arg(folder.path(), goldPath));
        qputenv("QT_SCALE_FACTOR", QByteArray::number(ratio));
        QProcess saver;
        startSaver(saver, {QStringLiteral("/s")});
        const QRect screen(QPoint(0, 0), QGuiApplication::primaryScreen()->size());
        const auto isPhoto = [](QRgb c) { return (c & 0xFFFFFF) == 0x285AA0u; };
        // The 400-pixel picture area, whole, in device pixels rounded either way.
        const int area = qRound(400 * ratio);
        const auto wholePhoto = [&](const QImage &shot) { return count(shot, isPhoto) >= (area - 1) * (area - 1); };
        QTRY_VERIFY_WITH_TIMEOUT(wholePhoto(rootArea(screen)), 15000);
        // Black shows only in the picture area's border line and border (9 pixels, one
        // more for the rounding) around the photo: nowhere else on the frame, never on
        // the photo.
        const int ring = int(std::ceil(9 * ratio)) + 1;
        QSet<QPoint> places;
        for (int shots = 0; shots < 40 && places.size() < 4; ++shots) {
            QTest::qWait(150);
            const QImage shot = rootArea(screen);
            if (!wholePhoto(shot))
                continue;
            const QRect photoArea = bounds(shot, isPhoto);
            places.insert(photoArea.topLeft());
            QVERIFY(qAbs(photoArea.width() - area) <= 1 && qAbs(photoArea.height() - area) <= 1);
            const QRect border = photoArea.adjusted(-ring, -ring, ring, ring);
            const QRect frame = nonBlackBounds(shot);
            for (int y = frame.top(); y <= frame.bottom(); ++y)
                for (int x = frame.left(); x <= frame.right(); ++x)
                    if (isBlack(shot.pixel(x, y)) && (photoArea.contains(x, y) || !border.contains(x, y)))
                        QFAIL(qPrintable(
                            QStringLiteral("black at (%1, %2) of the frame").arg(x - frame.x()).arg(y - frame.y())));
        }
        QVERIFY(places.size() >= 2);
        saver.terminate();
        QVERIFY(saver.waitForFinished(5000));
    }

    // The date of a photo stands on the frame's upper border in the clock's colour: with
    // ShowDate on, that border holds text that it does not hold with the option off.
    void takenDateOnTheFrame()
    {
        QTemporaryDir pictures;
        QVERIFY(writeDatedJpeg(pictures.filePath(QStringLiteral("dated.jpg")), "2019:08:14 10:00:00"));
        useSlot(QStringLiteral("450,60000,1,20,10,clAqua,%1,").arg(pictures.path()));
        QList<int> upperText;
        for (const bool showDate : {false, true}) {
            SettingsStore().WriteString(SettingNames::Section, SettingNames::ShowDate,
                                        showDate ? QStringLiteral("1") : QStringLiteral("0"));
            QProcess saver;
            startSaver(saver, {QStringLiteral("/s")});
            const QRect screen = QGuiApplication::primaryScreen()->geometry();
            // The frame's rows: the bounds of its gold, once the picture has slid in.
            QRect frame;
            QTRY_VERIFY_WITH_TIMEOUT(
                [&] {
                    const QImage shot = screenArea(screen);
                    QRect gold;
                    for (int y = 0; y < shot.height(); y += 2)
                        for (int x = 0; x < shot.width(); x += 2)
                            if (isGold(shot.pixel(x, y)))
                                gold |= QRect(x, y, 1, 1);
                    frame = gold;
                    return gold.height() > 400
                        && count(shot.copy(QRect(0, gold.top(), shot.width(), gold.height())),
                                 [](QRgb c) { return qRed(c) > 200 && qGreen(c) < 60; })
                        > 500;
                }(),
                10000);
            // The upper quarter of the frame's rows, the clock on the lower border left out.
            upperText << count(screenArea(screen).copy(QRect(0, frame.top(), screen.width(), frame.height() / 4)),
                               isCyan);
            saver.terminate();
            QVERIFY(saver.waitForFinished(2000));
        }
        SettingsStore().WriteString(SettingNames::Section, SettingNames::ShowDate, QStringLiteral("0"));
        QVERIFY2(upperText.at(0) < 5 && upperText.at(1) > 40,
                 qPrintable(QString::number(upperText.at(0)) + QLatin1Char(' ') + QString::number(upperText.at(1))));
    }

    // A phone's photo with FitPicture on shows whole: its four quadrants, upright, in a
    // picture of its aspect as wide or as tall as the picture area, centred in the frame.
    // Off, the area (whose size that run gives) shows the photo's centre alone.
    void wholePhoneSizedPhoto_data()
    {
        QTest::addColumn<bool>("preview");
        QTest::addColumn<int>("orientation");
        QTest::newRow("show window") << false << 1;
        QTest::newRow("show window, upright by EXIF") << false << 6;
        QTest::newRow("preview") << true << 1;
        QTest::newRow("preview, upright by EXIF") << true << 6;
    }

    void wholePhoneSizedPhoto()
    {
        QFETCH(bool, preview);
        QFETCH(int, orientation);
        QTemporaryDir folder;
        QFile file(folder.filePath(QStringLiteral("phone.jpg")));
        const QByteArray photo = phonePhoto(orientation);
        QVERIFY(!photo.isEmpty() && file.open(QIODevice::WriteOnly) && file.write(photo) == photo.size());
        file.close();
        useSlot(QStringLiteral("450,60000,1,20,10,clWhite,%1,").arg(folder.path()));
        Host host;
        host.setGeometry(100, 100, 400, 300);
        const QScreen *screen = QGuiApplication::primaryScreen();
        QRect shown(QPoint(0, 0), screen->virtualSize() * screen->devicePixelRatio());
        if (preview) {
            host.show();
            QVERIFY(QTest::qWaitForWindowExposed(&host));
            shown = QRect(host.mapToGlobal(QPoint(0, 0)) * host.devicePixelRatio(),
                          host.size() * host.devicePixelRatio());
        }
        int area = 0;
        for (const bool fit : {false, true}) {
            SettingsStore().WriteString(SettingNames::Section, SettingNames::FitPicture,
                                        fit ? QStringLiteral("1") : QStringLiteral("0"));
            QProcess saver;
            startSaver(saver,
                       preview ? QStringList{QStringLiteral("/p"), QString::number(host.winId())}
                               : QStringList{QStringLiteral("/s")});
            // The picture rests: two grabs in a row find it in the same place.
            QRect last;
            QString said;
            const auto rests = [&] {
                const QImage shot = rootArea(shown);
                const PhotoSeen seen = photoSeen(shot);
                const QRect p = seen.photo;
                const QPoint off = p.center() - nonBlackBounds(shot).center();
                said.clear();
                QDebug(&said) << "photo" << p << "off the frame's centre by" << off << "area" << area;
                const bool still = std::exchange(last, p) == p && !p.isEmpty();
                if (!fit) {
                    area = p.width();
                    return still && p == seen.bounds[4] && p.width() == p.height()
                        && seen.pixels[4] == p.width() * p.height();
                }
                const QSize fitted = orientation == 6 ? QSize(area * 3 / 4, area) : QSize(area, area * 3 / 4);
                for (int i = 0; i < 4; ++i) {
                    // Clockwise from the top left; the EXIF turn moves each quadrant on one.
                    const int quadrant = (i + (orientation == 6 ? 1 : 0)) % 4;
                    const QPoint c = seen.bounds[size_t(i)].center();
                    if (seen.pixels[size_t(i)] < p.width() * p.height() / 20
                        || (c.x() < p.center().x()) != (quadrant == 0 || quadrant == 3)
                        || (c.y() < p.center().y()) != (quadrant < 2))
                        return false;
                }
                return still && qAbs(p.width() - fitted.width()) <= 2 && qAbs(p.height() - fitted.height()) <= 2
                    && qAbs(off.x()) <= 2 && qAbs(off.y()) <= 2;
            };
            QTRY_VERIFY2_WITH_TIMEOUT(rests(), qPrintable(said), 15000);
            saver.terminate();
            QVERIFY(saver.waitForFinished(5000));
        }
    }

    void terminationEndsTheSaver_data()
    {
        QTest::addColumn<QString>("when");
        QTest::newRow("showing pictures") << "pictures";
        // The picture's decode runs on its worker for seconds; the window answers at once.
        QTest::newRow("during a slow decode") << "slow decode";
        // Folder rotation saves the next slot at every start; a file that may not be
        // written gives an error box before the window is up.
        QTest::newRow("during the start-up error box") << "error box";
        QTest::newRow("settings mode, the dialog open") << "settings";
    }

    void terminationEndsTheSaver()
    {
        QFETCH(QString, when);
        QProcess saver;
        QTemporaryDir home;
        if (when == QLatin1String("error box")) {
            startSaverOnReadOnlySettings(saver, home, "[Config]\nOrderF=1\n");
            QTRY_VERIFY_WITH_TIMEOUT(shownWindow(QFileInfo(m_binary).completeBaseName().toUtf8()) != 0, 10000);
        } else if (when == QLatin1String("settings")) {
            startSaver(saver, {QStringLiteral("/c")});
            QTRY_VERIFY_WITH_TIMEOUT(shownWindow(QStringLiteral("Pantelo設定").toUtf8()) != 0, 10000);
        } else {
            if (when == QLatin1String("slow decode")) {
                const QString folder = slowPictureFolder(home);
                QVERIFY(!folder.isEmpty());
                useSlot(QStringLiteral("450,60000,1,20,10,clWhite,%1,").arg(folder));
            }
            startSaver(saver, {QStringLiteral("/s")});
            const QRect screen = QGuiApplication::primaryScreen()->geometry();
            QTRY_VERIFY_WITH_TIMEOUT(count(screenArea(screen).scaled(256, 192), isGold) > 20, 10000);
        }
        QElapsedTimer clock;
        clock.start();
        saver.terminate();
        QVERIFY(saver.waitForFinished(1000));
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(saver.exitStatus(), QProcess::NormalExit);
        QCOMPARE(saver.exitCode(), 0);
    }
};

QTEST_MAIN(TestShowXvfb)
#include "tst_show_xvfb.moc"
