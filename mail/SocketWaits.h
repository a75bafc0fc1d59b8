#pragma once

// What the files of the socket share inside the socket layer: the codes of its fake
// notification messages and the guards of its waiting steps.
#include "mail/BlockingSocket.h"

#include <QSocketNotifier>
#include <QTimer>

// Socket event codes of the notification message (low 16 bits).
constexpr quint32 kEventRead = 1;
constexpr quint32 kEventAccept = 8;
constexpr quint32 kEventConnect = 16;
constexpr quint32 kEventClose = 32;

constexpr int kWouldBlock = 10035;
constexpr int kNotConnected = 10057;

inline quint32 withError(quint32 event, int error)
{
    return event | (quint32(quint16(error)) << 16);
}

// Keeps the wait tick running while at least one wait serves the queue.
class TBlockingSocket::WaitTick
{
public:
    explicit WaitTick(TBlockingSocket *socket) : m_socket(socket)
    {
        if (m_socket->m_waits++ == 0)
            m_socket->m_waitTick->start();
    }
    ~WaitTick()
    {
        if (--m_socket->m_waits == 0)
            m_socket->m_waitTick->stop();
    }
    WaitTick(const WaitTick &) = delete;
    WaitTick &operator=(const WaitTick &) = delete;

private:
    TBlockingSocket *m_socket;
};

// Disarms the time-out timer when a step ends, also when it raises.
class TimerStep
{
public:
    explicit TimerStep(TBlockingSocket *socket) : m_socket(socket) { m_socket->TimerOn(); }
    ~TimerStep() { m_socket->TimerOff(); }
    TimerStep(const TimerStep &) = delete;
    TimerStep &operator=(const TimerStep &) = delete;

private:
    TBlockingSocket *m_socket;
};
