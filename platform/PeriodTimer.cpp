#include "platform/PeriodTimer.h"

#include <QTimerEvent>
#include <algorithm>
#include <limits>

PeriodTimer::PeriodTimer(QObject *parent) : QObject(parent)
{
}

bool PeriodTimer::restart(bool run, quint32 interval)
{
    if (m_timerId != 0) {
        killTimer(m_timerId);
        m_timerId = 0;
    }
    if (!run || interval == 0)
        return true;
    // Precise: slide steps can be 1 ms apart, and a coarse timer may end a time-out 5%
    // early.
    const quint32 limit = quint32(std::numeric_limits<int>::max());
    m_timerId = startTimer(int(std::min(interval, limit)), Qt::PreciseTimer);
    return m_timerId != 0;
}

void PeriodTimer::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_timerId) {
        QObject::timerEvent(event);
        return;
    }
    emit fired();
}
