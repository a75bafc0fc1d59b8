#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM (the way screen-saver daemons end their savers) into a Qt signal. The
// signal handler only writes one byte into a pipe; the event loop reads it and emits
// `terminationRequested`, so no work is done inside the handler. One instance at a time.
class TerminationSignal : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignal(QObject *parent = nullptr);
    ~TerminationSignal() override;

signals:
    void terminationRequested();

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
};
