#pragma once

#include "platform/PeriodTimer.h"

#include <QObject>

// A timer component: Enabled, Interval and one timeout. Enabling (or changing the
// interval of an enabled timer) starts a full period; an interval of 0 never fires,
// where a bare QTimer would fire continuously.
class Timer : public QObject
{
    Q_OBJECT

public:
    explicit Timer(QObject *parent = nullptr);

    bool enabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    int interval() const { return m_interval; }
    void setInterval(int interval);
    // Whether the timer will fire: enabled with an interval above 0.
    bool isRunning() const { return m_period.isArmed(); }

signals:
    void timeout();

private:
    void update();

    PeriodTimer m_period;
    bool m_enabled = false;
    int m_interval = 1000;
};
