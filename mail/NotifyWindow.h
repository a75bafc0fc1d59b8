#pragma once

#include <QEvent>
#include <QObject>
#include <QtGlobal>
#include <functional>

// The first message number that the notification object hands to its socket component;
// 1125 carries socket events, 1126 the reply of a host lookup.
constexpr quint32 kSocketMessageBase = 1125;
constexpr quint32 kSocketEventMessage = 1125;
constexpr quint32 kHostLookupMessage = 1126;

// A message for the notification object: its number and its two parameters. The first
// parameter names the socket (or lookup) it belongs to, the second carries the event code
// in its low 16 bits and the error number in its high 16 bits.
class SocketMessage : public QEvent
{
public:
    static QEvent::Type eventType();

    SocketMessage(quint32 message, quint64 wParam, quint32 lParam)
        : QEvent(eventType()), message(message), wParam(wParam), lParam(lParam)
    {
    }

    const quint32 message;
    const quint64 wParam;
    const quint32 lParam;
};

// What the notification object hands a message to: its number and its two parameters.
using SocketMessageHandler = std::function<void(quint32 message, quint64 wParam, quint32 lParam)>;

// The hidden notification object of one socket component. It hands every message
// numbered 1125 or above to its handler, the component's HandleSocketMessage; anything
// else takes the default path. Knowing only the handler, it needs nothing of the socket.
class TSocketNotifyWindow : public QObject
{
    Q_OBJECT

public:
    explicit TSocketNotifyWindow(SocketMessageHandler handler);

    // Posts a message to this object; it is handled when the event queue is served.
    void post(quint32 message, quint64 wParam, quint32 lParam);

    bool event(QEvent *event) override;

private:
    SocketMessageHandler m_handler;
};
