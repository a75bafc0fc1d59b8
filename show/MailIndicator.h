#pragma once

#include "mail/MailCheck.h"

#include <QObject>
#include <QString>

class Timer;
class TPop3Client;
struct StoredSettings;

// The mail check's period in milliseconds for a RoundTime in minutes. A RoundTime of 0
// or less would make the timer fire never (or all the time), so it counts as the
// setup dialog's shortest period, 5 minutes; the largest periods end at the timer's limit.
int mailCheckInterval(int roundTime);

// The companion's atoms: it runs, and it has talked.
inline const QString CompanionAtom = QStringLiteral("Querk.exe");
inline const QString TalkedAtom = QStringLiteral("QuerkTalked");
// The clock label's text while the frame carries the talk look.
inline const QString TalkText = QStringLiteral("<<< Pantelo Talked >>>");

// The show window's mail indicator: the periodic POP3 check of the mailbox, and the
// companion's signal. It owns the mail client and decides; the window shows what its
// signals say: the error mark after a failed check, gone once a check logs in again, and
// the talk look, which the clock's ticks switch on while mail waits or the companion has
// talked, and off again once neither holds.
class MailIndicator : public QObject
{
    Q_OBJECT

public:
    // `timMailCheck` is the window's mail timer: its ticks come to mailTick, and whether it
    // runs says whether the mail check is on.
    explicit MailIndicator(Timer *timMailCheck, QObject *parent = nullptr);

    // The mail client, named as the window's component.
    TPop3Client *popMail() const { return m_client.get(); }

    // The account and the period from the settings; the timer runs when the check is on.
    void configure(const StoredSettings &settings);
    // Looks for the companion, and runs the start-up check when the mail check is on.
    void start();
    // The mail timer's tick: the periodic check.
    void mailTick();
    // The clock's tick: the talk look starts or ends.
    void clockTick();
    // A move step serves the event queue between holdChecks and releaseChecks; a mail
    // tick that comes meanwhile runs its check right after the step.
    void holdChecks();
    void releaseChecks();
    // The window closes: a check waiting for the server is cancelled, and none starts.
    void stop();
    // The window goes: the timer stops and the connection ends.
    void endMailConnection();

    bool companionRunning() const { return CompanionRunning; }
    bool talkShown() const { return TalkShown; }
    bool mailWaiting() const { return MailWaiting; }
    // A mail check is waiting for the server.
    bool mailCheckRunning() const { return m_mailCheckRunning; }

signals:
    // A check logged in: the error mark goes.
    void loggedIn();
    // A check failed: the error mark shows.
    void checkFailed();
    // A check found mail waiting (true) or the mailbox empty (false) where it was not before.
    void mailWaitingChanged(bool waiting);
    // The talk look starts (true) or ends (false).
    void talkChanged(bool shown);

private:
    // popMail's connect event, raised inside Connect once the login succeeded.
    void popMailConnect();
    // One mail check; after a failure the periodic check also ends a connection that
    // is still open. Skipped while another check runs or once the window closes.
    void runMailCheck(bool disconnectAfterFailure);
    void talkStartTest();
    void talkEndTest();

    Timer *m_timer;
    MailCheckClient m_client;
    bool m_mailCheckRunning = false;
    // A move step runs; a mail tick that came meanwhile is due after it.
    bool m_checksHeld = false;
    bool m_mailCheckDue = false;
    // The window closes or has gone: no new check starts.
    bool m_stopped = false;

    // The window's fields that the indicator keeps.
    bool CompanionRunning = false;
    bool TalkShown = false;
    bool MailWaiting = false;
};
