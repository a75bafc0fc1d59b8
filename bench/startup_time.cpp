// Start-up to the first frame on screen: the time from starting `pantel /s` until the
// X server's screen shows the picture frame, read back from the server itself (the
// root window's image, which holds whatever the server has drawn). The reference, in the
// same run, is the same measurement of a bare Qt program that shows one full-screen
// window with a square in it: the part of the time that any Qt program pays. The two
// runs alternate, and each of Pantel's runs is compared with the bare run just before it.
// The row is the median of the paired differences in milliseconds (the saver's own
// work, which a ratio would hide in the bare window's noise), with the ratio beside it.
// Both programs mark their steps (platform/StartupTrace.h), so a second row tells where
// the difference lies: loading the program, Qt's start, making the window, the first
// paint, and from there to the server's screen.
// Run by bench/show.sh under Xvfb; prints bench: rows for bench/run.
//
// startup_time PANTEL      measures both and prints the rows
// startup_time --bare      (internal) the reference program

#include "bench/Median.h"
#include "platform/StartupTrace.h"

#include <QApplication>
#include <QPainter>
#include <QScreen>
#include <QWidget>

#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

constexpr int kRuns = 31;                // a single start-up varies by a fifth either way on a busy machine
constexpr double kGoal = 8.0;            // at most this many milliseconds above the bare window
using Clock = std::chrono::steady_clock; // CLOCK_MONOTONIC, the clock of the marks

// The steps that both programs mark, in order; each part of the start-up runs from the
// mark before (the spawn, for the first) to its own mark, the last to the screen.
constexpr std::array<const char *, 4> kSteps{"main", "application", "window", "paint"};
constexpr std::array<const char *, 5> kParts{"load", "Qt", "window", "first paint", "to screen"};
using Parts = std::array<double, kParts.size()>;

class BareWindow : public QWidget
{
protected:
    void paintEvent(QPaintEvent *) override
    {
        startupMark("paint");
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        painter.fillRect(QRect(0, 0, 450, 450).translated(rect().center() - QPoint(225, 225)), QColor(200, 160, 40));
    }
};

int runBare(int argc, char **argv)
{
    startupMark("main");
    QApplication app(argc, argv);
    startupMark("application");
    BareWindow window;
    // Made at the screen's size before it shows, as the saver's window is: left at a new
    // widget's default size (640 x 480), the first frame would be that small one, drawn
    // before the window manager's or the server's resize to full screen.
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        window.setGeometry(screen->geometry());
    window.showFullScreen();
    startupMark("window");
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
// Gives the moment the server reported the drawing that the look then found (the look's
// own few milliseconds, a copy of the whole screen, are not the program's), or the look's
// when no report came before it; none at the deadline.
std::optional<Clock::time_point> waitFor(const Screen &screen, bool something, Clock::time_point deadline)
{
    Clock::time_point reported{};
    for (;;) {
        // Cleared before the look: drawing after it is reported again.
        xcb_damage_subtract(screen.connection, screen.damage, XCB_NONE, XCB_NONE);
        xcb_flush(screen.connection);
        if (screenShowsSomething(screen) == something)
            return reported == Clock::time_point{} ? Clock::now() : reported;
        bool drawn = false;
        reported = {};
        while (!drawn) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return std::nullopt;
            pollfd descriptor{xcb_get_file_descriptor(screen.connection), POLLIN, 0};
            // A look now and then all the same, in case a report went astray.
            poll(&descriptor, 1, int(std::min<long long>(left.count(), 50)));
            if (!(descriptor.revents & POLLIN))
                break;
            const Clock::time_point arrived = Clock::now();
            while (xcb_generic_event_t *event = xcb_poll_for_event(screen.connection)) {
                drawn = drawn || (event->response_type & 0x7F) == screen.damageNotify;
                std::free(event);
            }
            if (drawn)
                reported = arrived;
            if (xcb_connection_has_error(screen.connection))
                return std::nullopt;
        }
    }
}

struct Run
{
    double ms = -1; // from the spawn to the first frame on screen; negative when none showed
    Parts parts{};
};

// The marks of one run, in milliseconds after `start`, as parts; a step that was not
// marked gives its time to the part after it.
Parts partsFrom(const std::string &trace, Clock::time_point start, double total)
{
    std::map<std::string, double> marks;
    std::ifstream file(trace);
    std::string step;
    long long ns = 0;
    const long long origin = std::chrono::duration_cast<std::chrono::nanoseconds>(start.time_since_epoch()).count();
    while (file >> step >> ns)
        marks.emplace(step, double(ns - origin) / 1e6);
    Parts parts{};
    double before = 0;
    for (size_t i = 0; i < kSteps.size(); ++i) {
        const auto mark = marks.find(kSteps[i]);
        if (mark == marks.end())
            continue;
        parts[i] = mark->second - before;
        before = mark->second;
    }
    parts.back() = total - before;
    return parts;
}

// From spawning `arguments` until something shows on the black screen, with the parts
// that the program's marks in `trace` tell; nothing shows within ten seconds: ms < 0.
Run timeToFirstFrame(const Screen &screen, const std::vector<std::string> &arguments, const std::string &trace)
{
    std::remove(trace.c_str());
    std::vector<char *> argv;
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    const Clock::time_point start = Clock::now();
    pid_t child = 0;
    if (posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return {};
    const std::optional<Clock::time_point> shownAt = waitFor(screen, true, start + std::chrono::seconds(10));
    const bool shown = shownAt.has_value();
    const double ms = std::chrono::duration<double, std::milli>(shownAt.value_or(Clock::now()) - start).count();
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    // The next run starts on a black screen again.
    waitFor(screen, false, Clock::now() + std::chrono::seconds(5));
    if (!shown)
        return {};
    return {ms, partsFrom(trace, start, ms)};
}

std::string partsText(const std::vector<Parts> &pantel, const std::vector<Parts> &bare)
{
    std::string text;
    for (size_t i = 0; i < kParts.size(); ++i) {
        std::vector<double> ours;
        std::vector<double> theirs;
        for (size_t run = 0; run < pantel.size(); ++run) {
            ours.push_back(pantel[run][i]);
            theirs.push_back(bare[run][i]);
        }
        char part[96];
        std::snprintf(part, sizeof part, "%s%s %.1f/%.1f", text.empty() ? "" : ", ", kParts[i], median(ours),
                      median(theirs));
        text += part;
    }
    return text;
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
    char traceName[] = "/tmp/pantel-startup-XXXXXX";
    const int traceFile = mkstemp(traceName);
    if (traceFile < 0)
        return 1;
    close(traceFile);
    const std::string trace = traceName;
    setenv("PANTEL_STARTUP_TRACE", traceName, 1);
    // Warms the file cache and the font cache.
    timeToFirstFrame(screen, bareProgram, trace);
    timeToFirstFrame(screen, pantelProgram, trace);
    std::vector<double> bare;
    std::vector<double> pantel;
    std::vector<double> ratios;
    std::vector<double> differences;
    std::vector<Parts> bareParts;
    std::vector<Parts> pantelParts;
    for (int run = 0; run < kRuns; ++run) {
        const Run bareRun = timeToFirstFrame(screen, bareProgram, trace);
        const Run pantelRun = timeToFirstFrame(screen, pantelProgram, trace);
        if (bareRun.ms < 0 || pantelRun.ms < 0) {
            std::fprintf(stderr, "startup_time: nothing showed on the screen (bare %.0f, pantel %.0f)\n", bareRun.ms,
                         pantelRun.ms);
            std::remove(traceName);
            return 1;
        }
        bare.push_back(bareRun.ms);
        pantel.push_back(pantelRun.ms);
        ratios.push_back(pantelRun.ms / bareRun.ms);
        differences.push_back(pantelRun.ms - bareRun.ms);
        bareParts.push_back(bareRun.parts);
        pantelParts.push_back(pantelRun.parts);
    }
    std::remove(traceName);
    xcb_disconnect(screen.connection);
    const double difference = median(differences);
    std::printf("bench:start-up to the first frame on screen, above a bare Qt window (ms)\t%+.1f (%.2fx: %.0f ms vs "
                "%.0f ms)\t%+.1f-%+.1f\t<= %+.0f\t%s\n",
                difference, median(ratios), median(pantel), median(bare),
                *std::min_element(differences.begin(), differences.end()),
                *std::max_element(differences.begin(), differences.end()), kGoal,
                difference <= kGoal ? "met" : "not met");
    std::printf("bench:start-up parts, saver/bare (ms)\t%s\t\t\tinformation\n",
                partsText(pantelParts, bareParts).c_str());
    return 0;
}
