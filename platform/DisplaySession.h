#pragma once

class QScreen;
class QWidget;

// The display system the windows go to. X11 and Wayland differ in what a client may do:
// on Wayland a window cannot place itself, has no taskbar states to set, and the
// preview's X window is out of reach; those requests are made only where they mean
// something, chosen here at run time.

// Before the application object exists: picks Qt's platform when the user has not
// chosen one. A preview draws into an X window, so it needs X11 (Xwayland, in a
// Wayland session); everything else runs natively in a Wayland session. False when
// X11 is needed and no X server can be reached.
bool chooseDisplayPlatform(bool needsX11);

// Once the application object exists.
bool runsOnX11();
bool runsOnWayland();

// Shows the saver's top-level `window` full screen over `screen` (null: where it has
// been placed), with no taskbar button and no place in the pager where there are such
// things. Also moves a window already shown to another monitor.
void showFullScreenOn(QWidget *window, QScreen *screen);
