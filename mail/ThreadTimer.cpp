#include "mail/ThreadTimer.h"

#include "platform/ErrorReport.h"
#include "platform/Exception.h"

TThreadTimer::TThreadTimer(QObject *owner) : QObject(owner)
{
    // No system timer yet: the first setter call arms it. A failing handler is shown to
    // the user; the timer goes on running.
    connect(&m_period, &PeriodTimer::fired, this, [this] { runGuarded([this] { FireTimer(); }); });
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
    if (!m_period.restart(m_enabled && m_onTimer, m_interval))
        throw Exception(QStringLiteral("No Timer"));
}

void TThreadTimer::FireTimer()
{
    if (m_onTimer)
        m_onTimer(this);
}
