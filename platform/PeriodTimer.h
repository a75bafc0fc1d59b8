#pragma once

#include <QObject>

// The core of the program's timers: one system timer that every restart arms for a full
// period. The slide steps of the show and the time-outs of the mail check differ in what
// makes them run and in how they report; this part they share.
class PeriodTimer : public QObject
{
    Q_OBJECT

public:
    explicit PeriodTimer(QObject *parent = nullptr);

    // Stops the timer and, when `run` is true and `interval` above 0, arms it for a full
    // period of `interval` ms. An interval of 0 never fires, where a bare QTimer would fire
    // continuously; Qt takes the period as a signed int, so longer ones are cut to the
    // longest it takes. False when the system gave no timer.
    bool restart(bool run, quint32 interval);
    // Whether a system timer is set at the moment.
    bool isArmed() const { return m_timerId != 0; }

signals:
    void fired();

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    int m_timerId = 0; // the system timer; 0 when none runs
};
