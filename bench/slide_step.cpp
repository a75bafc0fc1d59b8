// Cost of one slide step (both picture panels moved and the picture area repainted at
// once) for 400- and 1000-pixel panels, on a real X server. Each step is followed by a
// round trip to the server, so the time includes the server drawing it. Run by
// bench/show.sh under Xvfb; prints bench: rows for bench/run.
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

// The median milliseconds per step over `slides` whole slides with panels of `panel`
// pixels: on a machine shared with other work a mean would also carry the moments when
// the scheduler gave the time to someone else.
double measure(const QString &home, int panel, int slides)
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
    // Fill the waiting panel too, so both moving panels carry a picture.
    form.ImageLoad();
    std::vector<double> steps;
    QElapsedTimer clock;
    for (int slide = 0; slide < slides; ++slide) {
        form.timSlide->setEnabled(true);
        while (form.timSlide->enabled()) {
            clock.start();
            form.timSlideTimer();
            roundTrip();
            steps.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
        form.timStay->setEnabled(false);
    }
    form.closeWithoutPrompt();
    std::sort(steps.begin(), steps.end());
    return steps[steps.size() / 2];
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
    std::vector<double> medians[2];
    for (int run = 0; run < kRuns; ++run)
        for (int i = 0; i < 2; ++i)
            medians[i].push_back(measure(home.path(), panels[i], 4));
    for (int i = 0; i < 2; ++i) {
        std::sort(medians[i].begin(), medians[i].end());
        const double median = medians[i][medians[i].size() / 2];
        std::printf("bench:slide step, %d px panels (ms)\t%.3f\t%.3f-%.3f\t<= 2\t%s\n", panels[i], median,
                    medians[i].front(), medians[i].back(), median <= 2.0 ? "met" : "not met");
    }
    return 0;
}
