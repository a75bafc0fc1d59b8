#include "platform/DisplaySession.h"

#include "platform/X11Window.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <xcb/xcb.h>

#include <algorithm>

namespace {

bool platformIs(const char *name)
{
    return qGuiApp && QGuiApplication::platformName().startsWith(QLatin1String(name));
}

bool x11ServerReachable()
{
    const QByteArray display = qgetenv("DISPLAY");
    if (display.isEmpty())
        return false;
    xcb_connection_t *connection = xcb_connect(display.constData(), nullptr);
    const bool reached = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return reached;
}

// Xwayland names its monitors after itself.
bool x11ServedByWayland()
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    return std::any_of(screens.begin(), screens.end(),
                       [](const QScreen *screen) { return screen->name().startsWith(QLatin1String("XWAYLAND")); });
}

} // namespace

bool chooseDisplayPlatform(bool needsX11)
{
    const QByteArray chosen = qgetenv("QT_QPA_PLATFORM");
    if (needsX11) {
        // Another platform chosen on purpose (a test's offscreen one) has no X window to
        // reach either way: the window then runs as if it had no parent.
        if (!chosen.isEmpty() && !chosen.startsWith("xcb"))
            return true;
        qputenv("QT_QPA_PLATFORM", "xcb");
        return x11ServerReachable();
    }
    // Qt goes by the session type, which a compositor started from a console leaves at
    // "tty": a Wayland display is the surer sign. X11 stays the fallback, through
    // Xwayland.
    if (chosen.isEmpty() && !qgetenv("WAYLAND_DISPLAY").isEmpty())
        qputenv("QT_QPA_PLATFORM", "wayland;xcb");
    return true;
}

bool runsOnX11()
{
    return platformIs("xcb");
}

bool runsOnWayland()
{
    return platformIs("wayland");
}

void showFullScreenOn(QWidget *window, QScreen *screen)
{
    // Qt has already moved a window off a monitor that went to the primary one: a shown
    // window that is given a monitor is moving there, whatever Qt says.
    const bool moving = screen && window->isVisible();
    if (screen) {
        window->setScreen(screen);
        window->setGeometry(screen->geometry());
    }
    if (runsOnX11() && x11ServedByWayland()) {
        // A compositor's manager of X11 windows puts every new window on the output that
        // has the focus, tiled or full screen there, wherever it asked to be: bypassed, a
        // window stands where it is placed, as X11 savers' windows do, above the others.
        if (!window->windowFlags().testFlag(Qt::X11BypassWindowManagerHint))
            window->setWindowFlag(Qt::X11BypassWindowManagerHint);
        window->show();
        // No window manager gives such a window the X input focus: the keys are taken
        // by a grab, which the last window shown holds.
        window->activateWindow();
        window->grabKeyboard();
        return;
    }
    if (!window->isVisible() && runsOnX11())
        skipTaskbarAndPager(window);
    // A Wayland compositor picks the output of a full-screen surface when it is asked
    // for full screen, not when the surface moves: the request is made again.
    if (moving && runsOnWayland())
        window->showNormal();
    window->showFullScreen();
}
