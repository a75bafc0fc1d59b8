#include "mail/NotifyWindow.h"

#include <QCoreApplication>

QEvent::Type SocketMessage::eventType()
{
    static const QEvent::Type type = QEvent::Type(QEvent::registerEventType());
    return type;
}

TSocketNotifyWindow::TSocketNotifyWindow(SocketMessageHandler handler) : m_handler(std::move(handler))
{
}

void TSocketNotifyWindow::post(quint32 message, quint64 wParam, quint32 lParam)
{
    QCoreApplication::postEvent(this, new SocketMessage(message, wParam, lParam));
}

bool TSocketNotifyWindow::event(QEvent *event)
{
    if (event->type() == SocketMessage::eventType()) {
        const auto *message = static_cast<SocketMessage *>(event);
        if (m_handler && message->message >= kSocketMessageBase)
            m_handler(message->message, message->wParam, message->lParam);
        return true;
    }
    return QObject::event(event);
}
