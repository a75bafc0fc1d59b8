// Cost of one slide step (both picture panels moved and the picture area repainted at
// once) for 400- and 1000-pixel panels, on a real X server. Each step is followed by a
// round trip to the server, so the time includes the server drawing it; beside it, as a
// reference from the same server and run, the server's own part of such a step. Run by
// bench/show.sh under Xvfb; prints bench: rows for bench/run.
#include "bench/Median.h"
#include "platform/JapaneseFonts.h"
#include "settings/SettingsStore.h"
#include "show/ImageView.h"
#include "show/Main.h"
#include "show/Panel.h"
#include "show/Timer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

void roundTrip()
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11)
        return;
    xcb_connection_t *c = x11->connection();
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

// The reference: the X server's own part of a step in Qt's drawing, measured in the same
// server and run. The window's content lives in a server pixmap; a step scrolls the area
// inside that pixmap by the step's distance (an overlapping copy, made from right to left,
// the slow direction) and then copies the area into the window. Here the same two copies
// of a panel-sized area, a typical step of `distance` pixels, and the round trip after
// them (the median of `times`): what is left of a step above it is the saver's.
double serverPart(const QWidget &window, int panel, int distance, int times)
{
    xcb_connection_t *c = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    const auto target = xcb_window_t(window.winId());
    xcb_get_geometry_reply_t *geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, target), nullptr);
    if (!geometry)
        return 0;
    const uint8_t depth = geometry->depth;
    std::free(geometry);
    const xcb_pixmap_t pixmap = xcb_generate_id(c);
    xcb_create_pixmap(c, depth, pixmap, target, uint16_t(panel), uint16_t(panel));
    const xcb_gcontext_t gc = xcb_generate_id(c);
    const uint32_t noExposures = 0;
    xcb_create_gc(c, gc, pixmap, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
    roundTrip();
    std::vector<double> measured;
    QElapsedTimer clock;
    for (int i = 0; i < times; ++i) {
        clock.start();
        xcb_copy_area(c, pixmap, pixmap, gc, 0, 0, int16_t(distance), 0, uint16_t(panel - distance), uint16_t(panel));
        xcb_copy_area(c, pixmap, target, gc, 0, 0, 0, 0, uint16_t(panel), uint16_t(panel));
        roundTrip();
        measured.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    xcb_free_gc(c, gc);
    xcb_free_pixmap(c, pixmap);
    return median(measured);
}

struct Figures
{
    double step = 0;
    double server = 0;
};

// The median milliseconds per step over `slides` whole slides with panels of `panel`
// pixels: on a machine shared with other work a mean would also carry the moments when
// the scheduler gave the time to someone else.
Figures measure(const QString &home, int panel, int slides)
{
    const QString folder = home + QStringLiteral("/pictures-%1").arg(panel);
    QDir().mkpath(folder);
    for (int i = 0; i < 2; ++i) {
        QImage picture(panel, panel, QImage::Format_RGB32);
        for (int y = 0; y < panel; ++y)
            for (int x = 0; x < panel; ++x)
                picture.setPixel(x, y, qRgb((x * 7 + i * 90) & 255, (y * 3) & 255, (x ^ y) & 255));
        picture.save(folder + QStringLiteral("/%1.bmp").arg(i), "BMP");
    }
    // Panel edge = frame - 2 x (frame width + 3) - 6 - 18 with a frame width of 10.
    const int frame = panel + 50;
    SettingsStore store;
    store.WriteString(SettingNames::Section, SettingNames::folder(0),
                      QStringLiteral("%1,60000,1,20,10,clWhite,%2,").arg(frame).arg(folder));
    TPantelForm form;
    QCoreApplication::processEvents();
    form.timSlide->setEnabled(false);
    std::vector<double> steps;
    QElapsedTimer clock;
    for (int slide = 0; slide < slides; ++slide) {
        // As in the show, the incoming panel takes the next picture before its slide; from
        // the second slide on, the outgoing panel carries the last one.
        if (slide > 0)
            form.ImageLoad();
        form.timSlide->setEnabled(true);
        while (form.timSlide->enabled()) {
            clock.start();
            form.timSlideTimer();
            roundTrip();
            steps.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
        form.timStay->setEnabled(false);
    }
    // A slide of the whole width takes about 25 steps.
    const double server = serverPart(form, panel, panel / 25, 20);
    form.closeWithoutPrompt();
    return {median(steps), server};
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    installJapaneseFontSubstitutions();
    if (!qGuiApp->nativeInterface<QNativeInterface::QX11Application>()) {
        std::fprintf(stderr, "slide_step needs an X server (run it through bench/show.sh)\n");
        return 1;
    }
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    // Five runs of four slides for each size, the sizes alternating.
    constexpr int kRuns = 5;
    const int panels[] = {400, 1000};
    std::vector<double> steps[2];
    std::vector<double> servers[2];
    for (int run = 0; run < kRuns; ++run) {
        for (int i = 0; i < 2; ++i) {
            const Figures figures = measure(home.path(), panels[i], 4);
            steps[i].push_back(figures.step);
            servers[i].push_back(figures.server);
        }
    }
    // Judged by its ratio to the server's own part in the same run: on a quiet machine the
    // server's copy is most of a 1000-pixel step, and it moves with the machine's load.
    constexpr double kGoal = 1.8;
    for (int i = 0; i < 2; ++i) {
        std::vector<double> ratios;
        for (int run = 0; run < kRuns; ++run)
            ratios.push_back(servers[i][run] > 0 ? steps[i][run] / servers[i][run] : 0.0);
        const double ratio = median(ratios);
        std::printf("bench:slide step, %d px panels, vs the server's own part\t%.2fx (%.3f ms, the server's %.3f ms)"
                    "\t%.2fx-%.2fx\t<= %.1fx\t%s\n",
                    panels[i], ratio, median(steps[i]), median(servers[i]),
                    *std::min_element(ratios.begin(), ratios.end()), *std::max_element(ratios.begin(), ratios.end()),
                    kGoal, ratio > 0 && ratio <= kGoal ? "met" : "not met");
    }
    return 0;
}
