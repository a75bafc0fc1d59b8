#include "mail/ThreadTimer.h"

#include "platform/ErrorReport.h"
#include "platform/Exception.h"

#include <QTimerEvent>
#include <limits>

TThreadTimer::TThreadTimer(QObject *owner) : QObject(owner)
{
    // No system timer yet: the first setter call arms it.
}

TThreadTimer::~TThreadTimer()
{
    m_enabled = false;
    UpdateTimer();
}

void TThreadTimer::setEnabled(bool value)
{
    if (value == m_enabled)
        return;
    m_enabled = value;
    UpdateTimer();
}

void TThreadTimer::setInterval(quint32 value)
{
    if (value == m_interval)
        return;
    m_interval = value;
    UpdateTimer();
}

void TThreadTimer::setOnTimer(TNotifyEvent handler)
{
    m_onTimer = std::move(handler);
    UpdateTimer();
}

void TThreadTimer::UpdateTimer()
{
    if (m_timerId != 0) {
        killTimer(m_timerId);
        m_timerId = 0;
    }
    if (m_interval != 0 && m_enabled && m_onTimer) {
        // Qt takes the period as a signed int; longer periods are cut to the longest it
        // takes. A precise timer, since a coarse one may end a time-out 5% early.
        const quint32 limit = quint32(std::numeric_limits<int>::max());
        m_timerId = startTimer(int(std::min(m_interval, limit)), Qt::PreciseTimer);
        if (m_timerId == 0)
            throw Exception(QStringLiteral("No Timer"));
    }
}

void TThreadTimer::FireTimer()
{
    if (m_onTimer)
        m_onTimer(this);
}

void TThreadTimer::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_timerId) {
        QObject::timerEvent(event);
        return;
    }
    // A failing handler is shown to the user; the timer goes on running.
    runGuarded([this] { FireTimer(); });
}
