#include "show/MailIndicator.h"

#include "mail/Pop3Client.h"
#include "platform/ErrorReport.h"
#include "platform/Platform.h"
#include "settings/SettingsStore.h"
#include "show/Timer.h"

#include <QPointer>
#include <QTimer>
#include <QtGlobal>
#include <limits>

namespace {

constexpr int ShortestRoundTime = 5;

} // namespace

int mailCheckInterval(int roundTime)
{
    const qint64 minutes = roundTime > 0 ? roundTime : ShortestRoundTime;
    return int(qMin(minutes * 60000, qint64(std::numeric_limits<int>::max())));
}

MailIndicator::MailIndicator(Timer *timMailCheck, QObject *parent)
    // The show has no place for status texts: report level 0.
    : QObject(parent), m_timer(timMailCheck), m_client(makeMailCheckClient(0))
{
    m_client->setObjectName(QStringLiteral("popMail"));
    // The event comes from inside Connect, which may outlive the indicator.
    m_client->OnConnect = [indicator = QPointer<MailIndicator>(this)](QObject *) {
        if (indicator)
            indicator->popMailConnect();
    };
}

void MailIndicator::configure(const StoredSettings &settings)
{
    setMailAccount(*m_client, {settings.host, settings.userId, settings.password});
    m_timer->setInterval(mailCheckInterval(settings.roundTime));
    m_timer->setEnabled(settings.mailCheckF);
}

void MailIndicator::start()
{
    CompanionRunning = platform().globalAtomExists(CompanionAtom);
    if (m_timer->enabled())
        runMailCheck(false);
}

void MailIndicator::mailTick()
{
    // A tick served from a move step's own event processing would hold that step, and
    // with it the move, until the check has ended: the check waits for the step.
    if (m_checksHeld) {
        m_mailCheckDue = true;
        return;
    }
    runMailCheck(true);
}

void MailIndicator::holdChecks()
{
    m_checksHeld = true;
}

void MailIndicator::releaseChecks()
{
    m_checksHeld = false;
    if (m_mailCheckDue) {
        m_mailCheckDue = false;
        QTimer::singleShot(0, this, [this] { runGuarded([this] { runMailCheck(true); }); });
    }
}

void MailIndicator::popMailConnect()
{
    emit loggedIn();
    const QPointer<MailIndicator> alive(this);
    // The QUIT waits for the server too; this reference keeps the client through it.
    const MailCheckClient client = m_client;
    client->Disconnect();
    if (!alive)
        return;
    const bool waiting = client->MessageCount() != 0;
    if (waiting == MailWaiting)
        return;
    MailWaiting = waiting;
    emit mailWaitingChanged(MailWaiting);
}

void MailIndicator::runMailCheck(bool disconnectAfterFailure)
{
    // One check at a time: a tick that comes while a check waits for the server (the
    // waits serve the event queue) is skipped.
    if (m_mailCheckRunning || m_stopped)
        return;
    m_mailCheckRunning = true;
    // Input can close and destroy the window, and this indicator with it, while the
    // client waits. This check's reference keeps the client until the wait has returned.
    const QPointer<MailIndicator> alive(this);
    const MailCheckClient client = m_client;
    bool failed = false;
    try {
        client->Connect();
    } catch (...) {
        // Whatever failed, the check only shows the error mark; the show goes on.
        failed = true;
    }
    if (!alive)
        return;
    if (failed) {
        emit checkFailed();
        if (disconnectAfterFailure && client->Connected()) {
            try {
                client->Disconnect();
            } catch (...) {
                // The connection is dropped all the same, and the error mark shows already.
            }
            if (!alive)
                return;
        }
    }
    m_mailCheckRunning = false;
}

void MailIndicator::clockTick()
{
    if (!TalkShown)
        talkStartTest();
    else
        talkEndTest();
}

void MailIndicator::talkStartTest()
{
    if (!CompanionRunning && !m_timer->enabled())
        return;
    if (!platform().globalAtomExists(TalkedAtom) && !MailWaiting)
        return;
    TalkShown = true;
    emit talkChanged(true);
}

void MailIndicator::talkEndTest()
{
    if (platform().globalAtomExists(TalkedAtom) || MailWaiting)
        return;
    TalkShown = false;
    emit talkChanged(false);
}

void MailIndicator::stop()
{
    m_stopped = true;
    // A mail check waiting for the server would keep the program alive until its
    // time-out: it is cancelled, so the program ends right after.
    if (m_mailCheckRunning)
        m_client->Cancel();
}

void MailIndicator::endMailConnection()
{
    m_stopped = true;
    m_timer->setEnabled(false);
    if (m_mailCheckRunning) {
        // A check waits for the server in a handler further down the stack: it is
        // cancelled, and its own reference frees the client when its wait returns
        // (freeing it here would pull it away from under that wait).
        m_client->Cancel();
        return;
    }
    if (m_client->Connected()) {
        try {
            m_client->Disconnect();
        } catch (...) {
            // The connection is dropped all the same; nothing is left to report to.
        }
    }
}
