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

// Whether SIGTERM has arrived while a TerminationSignal exists. It is set by the signal
// handler itself, so work that keeps the event loop waiting (decoding a picture, a
// message box's own loop) can ask before the Qt signal is delivered.
bool terminationPending();
