#pragma once

#include "mail/MailEvents.h"
#include "platform/PeriodTimer.h"

#include <QObject>

// A timer for components that have no window of their own. Its hidden object receives
// the system timer; the timer runs while it is Enabled, its Interval is not 0 and an
// OnTimer handler is set. Every change that re-arms it restarts the full period.
class TThreadTimer : public QObject
{
    Q_OBJECT

public:
    explicit TThreadTimer(QObject *owner = nullptr);
    ~TThreadTimer() override;

    bool Enabled() const { return m_enabled; }
    void setEnabled(bool value);

    quint32 Interval() const { return m_interval; }
    void setInterval(quint32 value);

    const TNotifyEvent &OnTimer() const { return m_onTimer; }
    void setOnTimer(TNotifyEvent handler);

    // Kills the system timer and sets it again when the timer should run.
    void UpdateTimer();
    // Raises OnTimer with this timer as Sender.
    void FireTimer();

    // Whether a system timer is set at the moment.
    bool isArmed() const { return m_period.isArmed(); }

private:
    PeriodTimer m_period;
    quint32 m_interval = 1000;
    TNotifyEvent m_onTimer;
    bool m_enabled = true;
};
