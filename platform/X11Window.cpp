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
#include <vector>

namespace {

xcb_connection_t *x11Connection()
{
    auto *app = qGuiApp;
    if (!app)
        return nullptr;
    auto *x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

// Several names at once: every request goes out before the first reply is read.
template <size_t N> std::array<xcb_atom_t, N> internAtoms(xcb_connection_t *connection, const char *const (&names)[N])
{
    std::array<xcb_intern_atom_cookie_t, N> cookies;
    for (size_t i = 0; i < N; ++i)
        cookies[i] = xcb_intern_atom(connection, 0, uint16_t(std::strlen(names[i])), names[i]);
    std::array<xcb_atom_t, N> atoms;
    for (size_t i = 0; i < N; ++i) {
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(connection, cookies[i], nullptr);
        atoms[i] = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
    }
    return atoms;
}

} // namespace

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
    const xcb_window_t window = xcb_window_t(widget->winId());
    // The three names are asked for at once: one wait for the server instead of three, on
    // the way to the first frame.
    const auto names
        = internAtoms(connection, {"_NET_WM_STATE", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"});
    const xcb_atom_t state = names[0];
    const xcb_atom_t wanted[] = {names[1], names[2]};
    if (state == XCB_ATOM_NONE || wanted[0] == XCB_ATOM_NONE || wanted[1] == XCB_ATOM_NONE)
        return false;
    // The states already there stay.
    std::vector<xcb_atom_t> atoms;
    xcb_get_property_reply_t *reply
        = xcb_get_property_reply(connection, xcb_get_property(connection, 0, window, state, XCB_ATOM_ATOM, 0, 1024),
                                 nullptr);
    if (reply && reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
        const auto *data = static_cast<const xcb_atom_t *>(xcb_get_property_value(reply));
        atoms.assign(data, data + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    for (const xcb_atom_t atom : wanted) {
        if (std::find(atoms.begin(), atoms.end(), atom) == atoms.end())
            atoms.push_back(atom);
    }
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, state, XCB_ATOM_ATOM, 32, uint32_t(atoms.size()),
                        atoms.data());
    xcb_flush(connection);
    return true;
}
