#include "platform/X11Window.h"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

namespace {

xcb_connection_t *x11Connection()
{
    auto *app = qGuiApp;
    if (!app)
        return nullptr;
    auto *x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

} // namespace

void waitForX11Server()
{
    if (xcb_connection_t *connection = x11Connection())
        std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

std::optional<QSize> x11WindowSize(quint32 window)
{
    xcb_connection_t *connection = x11Connection();
    if (!connection || window == 0)
        return std::nullopt;
    xcb_generic_error_t *error = nullptr;
    xcb_get_geometry_reply_t *reply = xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), &error);
    std::free(error);
    if (!reply)
        return std::nullopt;
    const QSize size(reply->width, reply->height);
    std::free(reply);
    return size;
}

bool embedIntoX11Window(QWidget *widget, quint32 parent)
{
    if (!x11Connection())
        return false;
    QWindow *foreign = QWindow::fromWinId(WId(parent));
    if (!foreign)
        return false;
    widget->winId(); // the native window must exist before it can be re-parented
    QWindow *own = widget->windowHandle();
    if (!own)
        return false;
    own->setParent(foreign);
    return true;
}

bool skipTaskbarAndPager(QWidget *widget)
{
    xcb_connection_t *connection = x11Connection();
    if (!connection)
        return false;
    // On the way to the first frame: the names are asked for at once, and the server
    // answers while the native window is made; the states are added to those already
    // there without reading them first. One wait for the server instead of three.
    static constexpr const char *kNames[] = {"_NET_WM_STATE", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"};
    std::array<xcb_intern_atom_cookie_t, 3> cookies;
    for (size_t i = 0; i < cookies.size(); ++i)
        cookies[i] = xcb_intern_atom(connection, 0, uint16_t(std::strlen(kNames[i])), kNames[i]);
    xcb_flush(connection);
    const xcb_window_t window = xcb_window_t(widget->winId());
    std::array<xcb_atom_t, 3> atoms;
    for (size_t i = 0; i < cookies.size(); ++i) {
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(connection, cookies[i], nullptr);
        atoms[i] = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
    }
    if (std::find(atoms.begin(), atoms.end(), xcb_atom_t(XCB_ATOM_NONE)) != atoms.end())
        return false;
    xcb_change_property(connection, XCB_PROP_MODE_APPEND, window, atoms[0], XCB_ATOM_ATOM, 32, 2, &atoms[1]);
    xcb_flush(connection);
    return true;
}
