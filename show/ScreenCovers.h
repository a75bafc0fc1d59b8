#pragma once

#include <QEvent>
#include <QHash>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <functional>

class QScreen;
class QWidget;

// The run mode blacks out every monitor: the show window covers the primary one, which
// plays the role of the screen, and the others get a plain black window each. Monitors
// that come or go while the saver runs are covered or let go; when the primary one
// changes, goes away or changes its size, the window follows it with its frame inside.
class ScreenCovers : public QObject
{
    Q_OBJECT

public:
    struct Hooks
    {
        // The window is closing (or previews): no cover comes and nothing follows.
        std::function<bool()> stopped;
        // The window has moved under a pointer that did not.
        std::function<void()> moved;
        // Input on a cover, the position in the window's coordinates; it counts as input
        // on the window.
        std::function<void(QEvent::Type, QPoint)> input;
    };

    // The covers are windows of their own, owned by `window`; `frame` is the window's
    // frame, kept inside the primary monitor.
    ScreenCovers(QWidget *window, QWidget *frame, Hooks hooks);

    // Covers every monitor but the primary one and starts following the monitors.
    void watchAll();
    void hide();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void coverScreen(QScreen *screen);
    void uncoverScreen(QScreen *screen);
    // Covers a monitor and follows its changes of place and size.
    void watchScreen(QScreen *screen);
    // A monitor came, went or changed, or another one became the primary: the window
    // follows the primary monitor and the covers the others, once the change is over.
    void screensChanged();
    void followScreens();

    QWidget *m_window;
    QWidget *m_frame;
    Hooks m_hooks;
    QHash<QScreen *, QPointer<QWidget>> m_covers;
    bool m_followPending = false;
};
