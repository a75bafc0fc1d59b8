#include "show/Timer.h"

Timer::Timer(QObject *parent) : QObject(parent)
{
    connect(&m_period, &PeriodTimer::fired, this, &Timer::timeout);
}

void Timer::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    update();
}

void Timer::setInterval(int interval)
{
    if (interval == m_interval)
        return;
    m_interval = interval;
    update();
}

void Timer::update()
{
    m_period.restart(m_enabled && m_interval > 0, quint32(m_interval));
}
