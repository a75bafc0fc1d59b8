#include "show/ScreenCovers.h"

#include "platform/DisplaySession.h"
#include "platform/ErrorReport.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSinglePointEvent>
#include <QWidget>
#include <QWindow>
#include <utility>

ScreenCovers::ScreenCovers(QWidget *window, QWidget *frame, Hooks hooks)
    : QObject(window), m_window(window), m_frame(frame), m_hooks(std::move(hooks))
{
}

void ScreenCovers::watchAll()
{
    for (QScreen *other : QGuiApplication::screens())
        watchScreen(other);
    connect(qGuiApp, &QGuiApplication::screenAdded, this, &ScreenCovers::watchScreen);
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, &ScreenCovers::uncoverScreen);
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, &ScreenCovers::screensChanged);
    connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, &ScreenCovers::screensChanged);
}

void ScreenCovers::hide()
{
    for (const QPointer<QWidget> &cover : std::as_const(m_covers)) {
        if (cover)
            cover->hide();
    }
}

void ScreenCovers::coverScreen(QScreen *screen)
{
    // A monitor that shows part of the primary one (a mirrored one, or the whole screen
    // as a monitor of its own) is no other monitor: a cover there would hide the frame.
    const QScreen *primary = QGuiApplication::primaryScreen();
    if (!screen || !primary || screen == primary || screen->geometry().intersects(primary->geometry())
        || m_covers.contains(screen) || m_hooks.stopped())
        return;
    auto *cover = new QWidget(m_window, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    cover->setWindowTitle(m_window->windowTitle());
    QPalette black = cover->palette();
    black.setColor(QPalette::Window, Qt::black);
    cover->setPalette(black);
    cover->setAutoFillBackground(true);
    cover->setMouseTracking(true);
    cover->setFocusPolicy(Qt::StrongFocus);
    cover->setAttribute(Qt::WA_InputMethodEnabled, false);
    cover->installEventFilter(this);
    cover->setGeometry(screen->geometry());
    showFullScreenOn(cover, screen);
    m_covers.insert(screen, cover);
}

void ScreenCovers::uncoverScreen(QScreen *screen)
{
    if (QWidget *cover = m_covers.take(screen))
        cover->deleteLater();
}

void ScreenCovers::watchScreen(QScreen *screen)
{
    coverScreen(screen);
    connect(screen, &QScreen::geometryChanged, this, &ScreenCovers::screensChanged);
}

void ScreenCovers::screensChanged()
{
    // Qt tells of a change in several signals, while its screen list may still be
    // changing; the window follows once they are all out.
    if (!m_followPending) {
        m_followPending = true;
        QMetaObject::invokeMethod(
            this, [this] { runGuarded([this] { followScreens(); }); }, Qt::QueuedConnection);
    }
}

void ScreenCovers::followScreens()
{
    m_followPending = false;
    QScreen *primary = QGuiApplication::primaryScreen();
    if (m_hooks.stopped() || !primary)
        return;
    // A cover stays only over a monitor that is still there and apart from the primary
    // one, and keeps to that monitor's place; every other monitor gets one.
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (auto it = m_covers.begin(); it != m_covers.end();) {
        QScreen *screen = it.key();
        if (!screens.contains(screen) || screen == primary || screen->geometry().intersects(primary->geometry())) {
            if (it.value())
                it.value()->deleteLater();
            it = m_covers.erase(it);
            continue;
        }
        if (it.value())
            it.value()->setGeometry(screen->geometry());
        ++it;
    }
    for (QScreen *screen : screens)
        coverScreen(screen);

    // The window covers the primary monitor, and the frame stays inside it: its moves
    // and bounces go on from the nearest place that fits. A frame larger than the
    // monitor stands where a new one would.
    const QRect area = primary->geometry();
    if (m_window->geometry() == area)
        return;
    showFullScreenOn(m_window, primary);
    m_hooks.moved();
    const auto inside
        = [](int at, int frame, int room) { return room >= frame ? qBound(0, at, room - frame) : qMin(at, 10); };
    m_frame->move(inside(m_frame->x(), m_frame->width(), area.width()),
                  inside(m_frame->y(), m_frame->height(), area.height()));
}

bool ScreenCovers::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
        m_hooks.input(event->type(), QPoint());
        return true;
    case QEvent::Enter:
    case QEvent::MouseMove:
        // Positions count in the window's coordinates, wherever the pointer is.
        m_hooks.input(event->type(),
                      m_window->mapFromGlobal(static_cast<QSinglePointEvent *>(event)->globalPosition().toPoint()));
        return event->type() == QEvent::MouseMove;
    default:
        return QObject::eventFilter(watched, event);
    }
}
