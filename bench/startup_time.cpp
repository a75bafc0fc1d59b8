// Start-up to the first frame on screen: the time from starting `pantel /s` until the
// X server's screen shows the picture frame, read back from the server itself (the
// root window's image, which holds whatever the server has drawn). The reference, in the
// same run, is the same measurement of a bare Qt program that shows one full-screen
// window with a square in it: the part of the time that any Qt program pays. The two
// runs alternate, and each of Pantel's runs is compared with the bare run just before it.
// Run by bench/show.sh under Xvfb; prints bench: rows for bench/run.
//
// startup_time PANTEL      measures both and prints the rows
// startup_time --bare      (internal) the reference program

#include "bench/Median.h"

#include <QApplication>
#include <QPainter>
#include <QScreen>
#include <QWidget>

#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

constexpr int kRuns = 31;     // a single start-up varies by a fifth either way on a busy machine
constexpr double kGoal = 1.1; // at most this many times the bare window's time
using Clock = std::chrono::steady_clock;

class BareWindow : public QWidget
{
protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        painter.fillRect(QRect(0, 0, 450, 450).translated(rect().center() - QPoint(225, 225)), QColor(200, 160, 40));
    }
};

int runBare(int argc, char **argv)
{
    QApplication app(argc, argv);
    BareWindow window;
    // Made at the screen's size before it shows, as the saver's window is: left at a new
    // widget's default size (640 x 480), the first frame would be that small one, drawn
    // before the window manager's or the server's resize to full screen.
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        window.setGeometry(screen->geometry());
    window.showFullScreen();
    return app.exec();
}

struct Screen
{
    xcb_connection_t *connection = nullptr;
    xcb_window_t root = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    xcb_damage_damage_t damage = 0; // the drawing on the whole screen since the last look
    uint8_t damageNotify = 0;       // the event code that reports it
};

// Whether anything but black is on the screen, looking at every fourth pixel of every
// fourth row (the frame and its mat are far wider than that).
bool screenShowsSomething(const Screen &screen)
{
    xcb_get_image_cookie_t cookie = xcb_get_image(screen.connection, XCB_IMAGE_FORMAT_Z_PIXMAP, screen.root, 0, 0,
                                                  screen.width, screen.height, ~0u);
    xcb_get_image_reply_t *reply = xcb_get_image_reply(screen.connection, cookie, nullptr);
    if (!reply)
        return false;
    const auto *data = reinterpret_cast<const uint32_t *>(xcb_get_image_data(reply));
    const int pixels = xcb_get_image_data_length(reply) / 4;
    bool something = false;
    for (int y = 0; y < screen.height && !something; y += 4) {
        for (int x = 0; x < screen.width; x += 4) {
            const int i = y * screen.width + x;
            if (i < pixels && (data[i] & 0xFFFFFF) != 0) {
                something = true;
                break;
            }
        }
    }
    std::free(reply);
    return something;
}

// Waits until the screen shows something (or nothing), looking at it each time the
// server reports drawing on it. A look costs the server about as much as drawing a
// frame, so looking without cause would take the processor from the program measured.
bool waitFor(const Screen &screen, bool something, Clock::time_point deadline)
{
    for (;;) {
        // Cleared before the look: drawing after it is reported again.
        xcb_damage_subtract(screen.connection, screen.damage, XCB_NONE, XCB_NONE);
        xcb_flush(screen.connection);
        if (screenShowsSomething(screen) == something)
            return true;
        bool drawn = false;
        while (!drawn) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return false;
            pollfd descriptor{xcb_get_file_descriptor(screen.connection), POLLIN, 0};
            // A look now and then all the same, in case a report went astray.
            poll(&descriptor, 1, int(std::min<long long>(left.count(), 50)));
            if (!(descriptor.revents & POLLIN))
                break;
            while (xcb_generic_event_t *event = xcb_poll_for_event(screen.connection)) {
                drawn = drawn || (event->response_type & 0x7F) == screen.damageNotify;
                std::free(event);
            }
            if (xcb_connection_has_error(screen.connection))
                return false;
        }
    }
}

// Milliseconds from spawning `arguments` until something shows on the black screen, or
// a negative number when nothing shows within ten seconds.
double timeToFirstFrame(const Screen &screen, const std::vector<std::string> &arguments)
{
    std::vector<char *> argv;
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    const Clock::time_point start = Clock::now();
    pid_t child = 0;
    if (posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    const bool shown = waitFor(screen, true, start + std::chrono::seconds(10));
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    // The next run starts on a black screen again.
    waitFor(screen, false, Clock::now() + std::chrono::seconds(5));
    return shown ? ms : -1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--bare") == 0)
        return runBare(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: startup_time PANTEL\n");
        return 2;
    }

    Screen screen;
    screen.connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(screen.connection)) {
        std::fprintf(stderr, "startup_time needs an X server (run it through bench/show.sh)\n");
        return 1;
    }
    const xcb_screen_t *first = xcb_setup_roots_iterator(xcb_get_setup(screen.connection)).data;
    screen.root = first->root;
    screen.width = first->width_in_pixels;
    screen.height = first->height_in_pixels;
    if (first->root_depth != 24) {
        std::fprintf(stderr, "startup_time needs a 24-bit screen\n");
        return 1;
    }
    const xcb_query_extension_reply_t *damage = xcb_get_extension_data(screen.connection, &xcb_damage_id);
    if (!damage || !damage->present) {
        std::fprintf(stderr, "startup_time needs the X server's DAMAGE extension\n");
        return 1;
    }
    std::free(
        xcb_damage_query_version_reply(screen.connection, xcb_damage_query_version(screen.connection, 1, 1), nullptr));
    screen.damageNotify = uint8_t(damage->first_event + XCB_DAMAGE_NOTIFY);
    screen.damage = xcb_generate_id(screen.connection);
    xcb_damage_create(screen.connection, screen.damage, screen.root, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
    // A black root, so that anything else on the screen is a program's window.
    const uint32_t black = first->black_pixel;
    xcb_change_window_attributes(screen.connection, screen.root, XCB_CW_BACK_PIXEL, &black);
    xcb_clear_area(screen.connection, 0, screen.root, 0, 0, 0, 0);
    xcb_flush(screen.connection);

    char self[4096] = {};
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return 1;
    const std::vector<std::string> bareProgram{std::string(self, size_t(length)), "--bare"};
    const std::vector<std::string> pantelProgram{argv[1], "/s"};
    // Warms the file cache and the font cache.
    timeToFirstFrame(screen, bareProgram);
    timeToFirstFrame(screen, pantelProgram);
    std::vector<double> bare;
    std::vector<double> pantel;
    std::vector<double> ratios;
    for (int run = 0; run < kRuns; ++run) {
        bare.push_back(timeToFirstFrame(screen, bareProgram));
        pantel.push_back(timeToFirstFrame(screen, pantelProgram));
        if (bare.back() < 0 || pantel.back() < 0) {
            std::fprintf(stderr, "startup_time: nothing showed on the screen (bare %.0f, pantel %.0f)\n", bare.back(),
                         pantel.back());
            return 1;
        }
        ratios.push_back(pantel.back() / bare.back());
    }
    xcb_disconnect(screen.connection);
    const double ratio = median(ratios);
    std::printf(
        "bench:start-up to the first frame on screen vs a bare Qt window\t%.2fx (%.0f ms vs %.0f ms)\t%.2fx-%.2fx "
        "(%.0f-%.0f ms)\t<= %.1fx\t%s\n",
        ratio, median(pantel), median(bare), *std::min_element(ratios.begin(), ratios.end()),
        *std::max_element(ratios.begin(), ratios.end()), *std::min_element(pantel.begin(), pantel.end()),
        *std::max_element(pantel.begin(), pantel.end()), kGoal, ratio <= kGoal ? "met" : "not met");
    return 0;
}
