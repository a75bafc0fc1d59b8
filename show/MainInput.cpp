// The show window's input and its end: a key, a button or the pointer moved beyond a few
// pixels asks to close; the close query asks for the password where the system wants
// one; closing stops the timers, the mail check and the picture cycle.
#include "show/Main.h"

#include "platform/ErrorReport.h"
#include "platform/Platform.h"
#include "settings/SettingsText.h"
#include "show/MailIndicator.h"
#include "show/MouseMove.h"
#include "show/ScreenCovers.h"
#include "show/Slideshow.h"
#include "show/SystemCommand.h"
#include "show/Timer.h"

#include <QCloseEvent>
#include <QMouseEvent>
#include <QThread>

void TPantelForm::askToClose()
{
    if (!Closing)
        close();
}

void TPantelForm::closeWithoutPrompt()
{
    if (Closing)
        return;
    m_skipPrompt = true;
    close();
}

void TPantelForm::FormKeyDown()
{
    askToClose();
}

void TPantelForm::FormMouseDown()
{
    askToClose();
}

void TPantelForm::FormMouseMove(int x, int y)
{
    if (LastMouseX == -1 && LastMouseY == -1) {
        // The first event only records where the pointer is.
        LastMouseX = x;
        LastMouseY = y;
        return;
    }
    if (mouseMoveCloses(QPoint(LastMouseX, LastMouseY), QPoint(x, y)))
        askToClose();
}

bool TPantelForm::FormSystemCommand(quint32 command)
{
    // No second screen saver starts while this one runs.
    return handlesSystemCommand(command);
}

bool TPantelForm::FormCloseQuery()
{
    // The preview takes no input, and on the NT family the system asks for the password.
    if (m_preview || PlatformId == 2)
        return true;
    const Platform::DesktopValue desktop = platform().screenSaveUsePassword();
    if (!desktop.keyOpened)
        return true;
    // An absent value or one that is not a number counts as 0: no password.
    if (parseIntegerOr(desktop.text.value_or(QString()), 0) == 0)
        return true;
    platform().showCursor(true);
    std::unique_ptr<Platform::PasswordVerifier> verifier = platform().loadPasswordVerifier();
    if (!verifier)
        return true;
    const bool right = verifier->verify(quint64(winId()));
    verifier.reset();
    if (!right) {
        // The show goes on; the next movement is measured from where it is seen next.
        LastMouseX = -1;
        LastMouseY = -1;
        platform().showCursor(false);
    }
    return right;
}

void TPantelForm::FormClose()
{
    Closing = true;
    timStay->setEnabled(false);
    timMove->setEnabled(false);
    timSlide->setEnabled(false);
    timCheck->setEnabled(false);
    m_covers->hide();
    m_mail->stop();
    // A load waiting for its picture gives it up at once.
    m_show->abandon();
    // A load or slide step in progress may finish first; events are not served here.
    for (int i = 0; i < 5 && m_show->busy(); ++i)
        QThread::msleep(100);
    if (PlatformId == 1)
        platform().setScreenSaverRunning(false);
    platform().showCursor(true);
}

void TPantelForm::takeInput(QEvent::Type type, QPoint at)
{
    // A preview, and equally a saver in a daemon's window, take no input at all: only
    // the run mode's own window reads keys, buttons and movement. Qt hands Enter events
    // to disabled widgets too, so a preview ignores them here.
    if (m_preview)
        return;
    switch (type) {
    case QEvent::KeyPress:
        runGuarded([this] { FormKeyDown(); });
        break;
    case QEvent::MouseButtonPress:
        runGuarded([this] { FormMouseDown(); });
        break;
    case QEvent::Enter:
    case QEvent::MouseMove:
        runGuarded([this, at] { FormMouseMove(at.x(), at.y()); });
        break;
    default:
        break;
    }
}

void TPantelForm::keyPressEvent(QKeyEvent *)
{
    takeInput(QEvent::KeyPress, QPoint());
}

void TPantelForm::enterEvent(QEnterEvent *event)
{
    // A window that appears under the pointer, or the pointer coming in, counts as a
    // movement to where the pointer is, so the first position is known before the user
    // moves the mouse.
    takeInput(QEvent::Enter, event->position().toPoint());
}

void TPantelForm::mousePressEvent(QMouseEvent *)
{
    // A double click comes here too, as a press.
    takeInput(QEvent::MouseButtonPress, QPoint());
}

void TPantelForm::mouseMoveEvent(QMouseEvent *event)
{
    takeInput(QEvent::MouseMove, event->position().toPoint());
}

void TPantelForm::closeEvent(QCloseEvent *event)
{
    if (Closing) {
        event->accept();
        return;
    }
    bool allowed = true;
    const bool ok = runGuarded([this, &allowed] {
        allowed = m_skipPrompt || FormCloseQuery();
        if (allowed)
            FormClose();
    });
    m_skipPrompt = false;
    if (!ok || !allowed) {
        event->ignore();
        return;
    }
    event->accept();
    emit closed();
}
