#include "platform/X11Window.h"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>

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
