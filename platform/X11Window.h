#pragma once

#include <QSize>
#include <QtGlobal>
#include <optional>

class QWidget;

// The size of an X11 window as the X server reports it; empty when the window does not
// exist or the program does not run on X11. (Qt reports 0 x 0 for foreign windows, so
// the server is asked directly.)
std::optional<QSize> x11WindowSize(quint32 window);

// Returns once the X server has handled every request sent so far (a round trip), so
// that what was drawn is on its screen; at once when the program does not run on X11.
void waitForX11Server();

// Makes `widget`'s native window a child of the X11 window `parent`. False when the
// program does not run on X11 or the parent cannot be wrapped.
bool embedIntoX11Window(QWidget *widget, quint32 parent);

// Asks the window manager to leave `widget`'s window out of the taskbar and the pager
// (_NET_WM_STATE_SKIP_TASKBAR and _NET_WM_STATE_SKIP_PAGER; Qt has no flag for both on
// X11). Call it once, before the window is first shown: Qt adds its own states to these
// when it maps the window. False when the program does not run on X11.
bool skipTaskbarAndPager(QWidget *widget);
