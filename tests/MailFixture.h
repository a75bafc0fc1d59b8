#pragma once

// What the mail test programs share: the text of the failure a piece of work raised, and
// a mail check aimed at a local server with its client set up as the program sets its
// own up. Header only.
#include "mail/MailCheck.h"
#include "mail/Pop3Client.h"
#include "tests/ScriptedPeer.h"

#include <QtTest>

// Runs `work` and returns the text of the failure it raised, empty if none. `wasAbort`,
// when given, tells whether the failure was an abort (a cancel or a time-out).
template <typename Work> QString failureOf(Work work, bool *wasAbort = nullptr)
{
    try {
        work();
    } catch (const EAbortError &e) {
        if (wasAbort)
            *wasAbort = true;
        return e.message();
    } catch (const Exception &e) {
        if (wasAbort)
            *wasAbort = false;
        return e.message();
    }
    return {};
}

// The host text of a local server: "127.0.0.1:port".
inline QString localHost(quint16 port)
{
    return QStringLiteral("127.0.0.1:") + QString::number(port);
}

// One mail check of `account` (by default alice / secret at 127.0.0.1, the host text
// followed by ":port"), with `timeOut` for each step. Its OnConnect handler counts and
// disconnects, as the program's handlers do.
struct Pop3Check
{
    explicit Pop3Check(const ScriptedPeer &peer, int timeOut = kMailCheckTimeOut) : Pop3Check(peer.port(), timeOut) {}
    explicit Pop3Check(quint16 port, int timeOut = kMailCheckTimeOut,
                       const MailAccount &account
                       = {QStringLiteral("127.0.0.1"), QStringLiteral("alice"), QStringLiteral("secret")})
        : held(makeMailCheckClient(0)), client(*held)
    {
        client.TimeOut = timeOut;
        setMailAccount(client,
                       {account.host + QLatin1Char(':') + QString::number(port), account.userId, account.password});
        client.OnConnect = [this](QObject *sender) {
            ++connects;
            QCOMPARE(sender, &client);
            client.Disconnect();
        };
    }
    Pop3Check(const Pop3Check &) = delete;
    Pop3Check &operator=(const Pop3Check &) = delete;

    const MailCheckClient held;
    TPop3Client &client;
    int connects = 0;
};
