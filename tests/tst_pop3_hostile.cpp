// The mail check against hostile or broken POP3 servers: odd line lengths, slow and split
// replies, zero bytes, wrong letter case, absurd counts, silence and resets. Each check
// must end (by its time-out at the latest) with a clear outcome and no socket left open.
#include "mail/TlsLibrary.h"
#include "tests/MailFixture.h"

#include <QElapsedTimer>
#include <QtTest>

#include <sys/socket.h>

namespace {

// Short enough that the checks which end by their time-out keep the run short.
constexpr int kTimeOut = 3000;

// A reply line of exactly `length` bytes, CR LF included, starting with `head`.
QByteArray lineOfLength(const QByteArray &head, int length)
{
    QByteArray line = head + ' ';
    line += QByteArray(length - 2 - line.size(), 'x');
    return line;
}

// `bytes` sent one at a time, `gap` ms apart.
PeerScript trickle(const QByteArray &bytes, int gap)
{
    PeerScript script;
    for (const char c : bytes)
        script += raw(QByteArray(1, c)) + pauseFor(gap);
    return script;
}

} // namespace

class TestPop3Hostile : public QObject
{
    Q_OBJECT

private slots:
    void lineLengths_data();
    void lineLengths();
    void megabyteWithoutLineEnd();
    void oneByteAtATime_data();
    void oneByteAtATime();
    void lineEndSplitAcrossReads();
    void zeroBytes_data();
    void zeroBytes();
    void lowerCaseOk();
    void bigGreeting();
    void silence_data();
    void silence();
    void resetInTheMiddleOfAReply();
    void overTls_data();
    void overTls();
    void withoutOpenSsl_data();
    void withoutOpenSsl();
    void replyText_data();
    void replyText();
};

void TestPop3Hostile::lineLengths_data()
{
    QTest::addColumn<int>("length");
    for (const int length : {511, 512, 513, 2049})
        QTest::addRow("%d bytes", length) << length;
}

void TestPop3Hostile::lineLengths()
{
    // Lines longer than a classic 512-byte buffer are whole lines all the same.
    QFETCH(int, length);
    const QByteArray greeting = lineOfLength("+OK", length);
    const QByteArray stat = lineOfLength("+OK 7", length);
    QCOMPARE(greeting.size() + 2, length);
    ScriptedPeer peer(S(greeting) + C("USER alice") + S(lineOfLength("+OK", length)) + C("PASS secret")
                      + S(lineOfLength("+OK", length)) + statSequence(stat) + quitSequence());
    Pop3Check check(peer, kTimeOut);
    QCOMPARE(failureOf([&] { check.client.Connect(); }), QString());
    QCOMPARE(check.connects, 1);
    QCOMPARE(check.client.MessageCount(), 7);
    QVERIFY(peer.mismatches.isEmpty());
}

void TestPop3Hostile::megabyteWithoutLineEnd()
{
    ScriptedPeer peer(greetingSequence() + C("USER alice") + raw(QByteArray(1024 * 1024, '+')));
    Pop3Check check(peer, kTimeOut);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(failureOf([&] { check.client.Connect(); }),
             QStringLiteral("Reply line too long (no line end within 65536 bytes)"));
    QVERIFY(clock.elapsed() < 3000); // refused as soon as the limit is passed, no time-out
    QCOMPARE(check.connects, 0);
    QVERIFY(!check.client.Connected());
    QTRY_VERIFY(peer.clientClosed);
}

void TestPop3Hostile::oneByteAtATime_data()
{
    QTest::addColumn<int>("timeOut");
    QTest::addColumn<QString>("failure");
    // The time-out bounds a whole line, not the gap between two bytes: a server that
    // drips its greeting slower than that cannot hold the check open for ever.
    QTest::newRow("within the time-out") << 5000 << QString();
    QTest::newRow("slower than the time-out") << 400 << QStringLiteral("Socket readln aborted");
}

void TestPop3Hostile::oneByteAtATime()
{
    QFETCH(int, timeOut);
    QFETCH(QString, failure);
    ScriptedPeer peer(trickle("+OK slow\r\n", 100) + C("USER alice") + S("+OK") + C("PASS secret") + S("+OK")
                      + statSequence("+OK 2 10") + quitSequence());
    Pop3Check check(peer, timeOut);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(failureOf([&] { check.client.Connect(); }), failure);
    if (failure.isEmpty()) {
        QCOMPARE(check.client.MessageCount(), 2);
    } else {
        QVERIFY(clock.elapsed() < timeOut + 2000);
        QCOMPARE(check.connects, 0);
    }
    QVERIFY(!check.client.Connected());
}

void TestPop3Hostile::lineEndSplitAcrossReads()
{
    ScriptedPeer peer(raw("+OK ready\r") + pauseFor(150) + raw("\n") + C("USER alice") + raw("+OK") + pauseFor(50)
                      + raw("\r") + pauseFor(50) + raw("\n") + C("PASS secret") + S("+OK") + C("STAT")
                      + raw("+OK 4 40\r") + pauseFor(100) + raw("\n") + quitSequence());
    Pop3Check check(peer, kTimeOut);
    QCOMPARE(failureOf([&] { check.client.Connect(); }), QString());
    QCOMPARE(check.client.MessageCount(), 4);
    QVERIFY2(peer.mismatches.isEmpty(), qPrintable(peer.mismatches.join(u'\n')));
}

void TestPop3Hostile::zeroBytes_data()
{
    QTest::addColumn<QByteArray>("stat");
    QTest::addColumn<int>("count");
    QTest::newRow("in the text") << QByteArray("+OK 5 1\0\0 z", 11) << 5;
    QTest::newRow("in the count") << QByteArray("+OK 5\0 1", 8) << 0;
    QTest::newRow("before the count") << QByteArray("+OK \0005 1", 9) << 0;
}

void TestPop3Hostile::zeroBytes()
{
    QFETCH(QByteArray, stat);
    QFETCH(int, count);
    ScriptedPeer peer(S(QByteArray("+OK \0hello\0", 11)) + C("USER alice") + S("+OK") + C("PASS secret") + S("+OK")
                      + statSequence(stat) + quitSequence());
    Pop3Check check(peer, kTimeOut);
    QCOMPARE(failureOf([&] { check.client.Connect(); }), QString());
    QCOMPARE(check.client.MessageCount(), count);
    QCOMPARE(peer.received, (QStringList{"USER alice", "PASS secret", "STAT", "QUIT"}));
}

void TestPop3Hostile::lowerCaseOk()
{
    // RFC 1939 writes its status indicators in upper case; "+ok" is not one.
    ScriptedPeer peer(S("+ok ready") + quitSequence());
    Pop3Check check(peer, kTimeOut);
    QCOMPARE(failureOf([&] { check.client.Connect(); }), QStringLiteral("+ok ready\r\n"));
    QCOMPARE(check.connects, 0);
    QVERIFY(!peer.received.contains(QStringLiteral("USER alice")));
}

void TestPop3Hostile::bigGreeting()
{
    ScriptedPeer peer(S("+OK " + QByteArray(10 * 1024, 'g')) + C("USER alice") + S("+OK") + C("PASS secret") + S("+OK")
                      + statSequence("+OK 1 1") + quitSequence());
    Pop3Check check(peer, kTimeOut);
    QCOMPARE(failureOf([&] { check.client.Connect(); }), QString());
    QCOMPARE(check.client.MessageCount(), 1);
}

void TestPop3Hostile::silence_data()
{
    QTest::addColumn<PeerScript>("script");
    QTest::addColumn<QStringList>("said");
    QTest::newRow("after the greeting") << greetingSequence() << QStringList{"USER alice"};
    QTest::newRow("after PASS") << (greetingSequence() + C("USER alice") + S("+OK"))
                                << QStringList{"USER alice", "PASS secret"};
}

void TestPop3Hostile::silence()
{
    QFETCH(PeerScript, script);
    QFETCH(QStringList, said);
    ScriptedPeer peer(script);
    Pop3Check check(peer, 300);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(failureOf([&] { check.client.Connect(); }), QStringLiteral("Socket readln aborted"));
    QVERIFY(clock.elapsed() < 3000);
    QCOMPARE(check.connects, 0);
    QVERIFY(!check.client.Connected());
    QTRY_VERIFY(peer.clientClosed);
    QCOMPARE(peer.received, said); // no QUIT into a conversation out of step
}

void TestPop3Hostile::resetInTheMiddleOfAReply()
{
    ScriptedPeer peer(loginSequence() + C("STAT") + raw("+OK 3 12"));
    Pop3Check check(peer, kTimeOut);
    // Once half the STAT reply is out, the server resets the connection (RST, not FIN).
    QTimer reset;
    QObject::connect(&reset, &QTimer::timeout, [&] {
        if (!peer.finished() || !peer.client())
            return;
        reset.stop();
        peer.client()->flush();
        const linger hard{1, 0};
        ::setsockopt(int(peer.client()->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        peer.client()->abort();
    });
    reset.start(20);
    const QString failure = failureOf([&] { check.client.Connect(); });
    QVERIFY2(failure == QLatin1String("10054:Connection reset by peer")
                 || failure == QLatin1String("Connection closed in the middle of a line"),
             qPrintable(failure));
    QCOMPARE(check.connects, 1); // the login had succeeded
    QCOMPARE(check.client.MessageCount(), 0);
    QVERIFY(!check.client.Connected());
}

// A check over TLS against servers that do not speak it, or stop in the middle: each one
// ends with a "TLS: " text within the time-out, and nothing of the login is sent.
void TestPop3Hostile::overTls_data()
{
    QTest::addColumn<PeerScript>("script");
    QTest::addColumn<QString>("failure"); // the start of the text
    QTest::newRow("plain server") << (greetingSequence() + pauseFor(5000)) << "TLS: wrong version number";
    QTest::newRow("close at once") << closeConnection() << "TLS: ";
    QTest::newRow("silent") << pauseFor(5000) << "TLS: handshake timed out";
    QTest::newRow("truncated record") << (raw(QByteArray("\x16\x03\x03\x40\x00", 5) + QByteArray(100, 'x'))
                                          + closeConnection())
                                      << "TLS: ";
    QTest::newRow("stop mid-record") << (raw(QByteArray("\x16\x03\x03\x00\x40", 5) + QByteArray(20, 'x'))
                                         + pauseFor(5000))
                                     << "TLS: handshake timed out";
    QTest::newRow("garbage") << (raw(QByteArray(300, '\xff')) + pauseFor(5000)) << "TLS: ";
}

void TestPop3Hostile::overTls()
{
    QFETCH(PeerScript, script);
    QFETCH(QString, failure);
    ScriptedPeer peer(script);
    Pop3Check check(peer.port(), 500,
                    {QStringLiteral("pop3s://127.0.0.1"), QStringLiteral("alice"), QStringLiteral("secret")});
    QVERIFY(check.client.Tls);
    QElapsedTimer clock;
    clock.start();
    const QString text = failureOf([&] { check.client.Connect(); });
    QVERIFY2(text.startsWith(failure), qPrintable(text));
    QVERIFY(clock.elapsed() < 3000);
    QCOMPARE(check.connects, 0);
    QVERIFY(!check.client.Connected());
    QTRY_VERIFY(peer.clientClosed);
    QVERIFY(!peer.received.contains(QStringLiteral("USER alice")));
}

// OpenSSL is loaded by the first check over TLS. Where it cannot be, a TLS check fails
// calmly before the login, and a plain one goes on without it.
void TestPop3Hostile::withoutOpenSsl_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QByteArray>("library");
    QTest::addColumn<QString>("failure");
    QTest::newRow("no such file") << "pop3s://127.0.0.1" << QByteArray("libssl.so.0-none")
                                  << "TLS: the OpenSSL library (libssl.so.0-none) could not be loaded";
    QTest::newRow("not OpenSSL") << "pop3s://127.0.0.1" << QByteArray("libc.so.6")
                                 << "TLS: the OpenSSL library (libc.so.6) lacks BIO_clear_flags";
    QTest::newRow("plain check") << "127.0.0.1" << QByteArray("libssl.so.0-none") << "";
}

void TestPop3Hostile::withoutOpenSsl()
{
    QFETCH(QString, host);
    QFETCH(QByteArray, library);
    QFETCH(QString, failure);
    setTlsLibraryFileForTesting(library.constData());
    const auto restore = qScopeGuard([] { setTlsLibraryFileForTesting(nullptr); });
    ScriptedPeer peer(loginSequence() + statSequence() + quitSequence());
    Pop3Check check(peer.port(), kTimeOut, {host, QStringLiteral("alice"), QStringLiteral("secret")});
    QCOMPARE(failureOf([&] { check.client.Connect(); }), failure);
    QCOMPARE(check.connects, failure.isEmpty() ? 1 : 0);
    QCOMPARE(peer.received.contains(QStringLiteral("USER alice")), failure.isEmpty());
    QTRY_VERIFY(peer.clientClosed);
}

// Reply texts are read as UTF-8 when they are valid UTF-8, else as Shift_JIS, else one
// character per byte.
void TestPop3Hostile::replyText_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("text");
    const QString locked = QStringLiteral("-ERR メールボックスはロック中です");
    QStringEncoder shiftJis("Shift_JIS");
    QVERIFY(shiftJis.isValid());
    QTest::newRow("UTF-8") << locked.toUtf8() << locked;
    QTest::newRow("Shift_JIS") << QByteArray(shiftJis(locked)) << locked;
    QTest::newRow("neither") << QByteArray("-ERR \xa0\xff") << QStringLiteral("-ERR \u00a0\u00ff");
    QTest::newRow("ASCII") << QByteArray("-ERR locked") << QStringLiteral("-ERR locked");
}

void TestPop3Hostile::replyText()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, text);
    ScriptedPeer peer(loginSequence() + statSequence(reply) + quitSequence());
    Pop3Check check(peer, kTimeOut);
    QCOMPARE(failureOf([&] { check.client.Connect(); }), text + QLatin1String("\r\n"));
    QCOMPARE(peer.received, (QStringList{"USER alice", "PASS secret", "STAT", "QUIT"}));
}

QTEST_GUILESS_MAIN(TestPop3Hostile)
#include "tst_pop3_hostile.moc"
