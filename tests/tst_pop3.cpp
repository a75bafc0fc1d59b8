#include "mail/Pop3Client.h"
#include "platform/ErrorReport.h"
#include "platform/Exception.h"
#include "tests/MailFixture.h"

#include <QtTest>

// The conversation of one mail check, C = client, S = server (RFC 1939):
//   S: greeting   C: USER   S: +OK   C: PASS   S: +OK   C: STAT   S: +OK n m   C: QUIT   S: +OK
class TestPop3 : public QObject
{
    Q_OBJECT

private slots:
    void replyWord_data();
    void replyWord();
    void positiveReply_data();
    void positiveReply();
    void construction();
    void attachFilePath_data();
    void attachFilePath();

    void successfulCheck();
    void statVariants_data();
    void statVariants();
    void negativeStatAfterQuitAndOnConnect();
    void negativeGreeting();
    void userRejected();
    void authenticationFailedHandledOnce();
    void authenticationFailedSecondRejection();
    void authenticationNeeded_data();
    void authenticationNeeded();
    void lineBreakInCredentialsRefused_data();
    void lineBreakInCredentialsRefused();
    void silentServerTimesOut();
    void reportLevel3GivesTheFourReplies();
    void passwordNeverInStatus();
    void hostileGreeting_data();
    void hostileGreeting();
    void disconnectByAnotherHandlerWhileWaiting();
    void disconnectWhenNotConnectedDoesNothing();
    void abortSendsNoQuit();
    void socketFailureSkipsDisconnect();
    void hostText_data();
    void hostText();
    void unreadableHostSendsNothing_data();
    void unreadableHostSendsNothing();
    void ipv6Address_data();
    void ipv6Address();
};

void TestPop3::replyWord_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("k");
    QTest::addColumn<QString>("word");
    QTest::newRow("status") << "+OK 3 1200\r\n" << 1 << "+OK";
    QTest::newRow("count") << "+OK 3 1200\r\n" << 2 << "3";
    QTest::newRow("last keeps line end") << "+OK 3 1200\r\n" << 3 << "1200\r\n";
    QTest::newRow("count at line end") << "+OK 3\r\n" << 2 << "3\r\n";
    QTest::newRow("two spaces") << "+OK  3 1200\r\n" << 2 << "";
    QTest::newRow("empty line") << "" << 1 << "";
    QTest::newRow("beyond") << "+OK\r\n" << 2 << "";
}

void TestPop3::replyWord()
{
    QFETCH(QString, line);
    QFETCH(int, k);
    QFETCH(QString, word);
    QCOMPARE(ReplyWord(line, QLatin1Char(' '), k), word);
}

void TestPop3::positiveReply_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("positive");
    QTest::newRow("plain") << "+OK\r\n" << true;
    QTest::newRow("with text") << "+OK ready\r\n" << true;
    QTest::newRow("inside word") << "x+OKy rest\r\n" << true;
    QTest::newRow("negative") << "-ERR no\r\n" << false;
    QTest::newRow("in field 2") << "-ERR +OK\r\n" << false;
    QTest::newRow("empty") << "" << false;
}

void TestPop3::positiveReply()
{
    QFETCH(QString, line);
    QFETCH(bool, positive);
    QCOMPARE(IsPositiveReply(line), positive);
}

void TestPop3::construction()
{
    TPop3Client client;
    QCOMPARE(client.Port, 110);
    QCOMPARE(client.MessageCount(), 0);
    QVERIFY(!client.InOperation());
    QVERIFY(!client.DeleteOnRead);
    QVERIFY(!client.Parse);
    QVERIFY(client.AttachFilePath().isEmpty());
    QVERIFY(client.Summary() && client.MailMessage() && client.UUProcessor());
    QCOMPARE(client.UUProcessor()->Method, TUUProcessor::uuMime);
    QCOMPARE(client.BytesRecvd(), 0);
    QCOMPARE(client.BytesTotal(), 0);
}

void TestPop3::attachFilePath_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("stored");
    QTest::newRow("no separator") << "C:\\mail"
                                  << "C:\\mail\\";
    QTest::newRow("separator") << "C:\\mail\\"
                               << "C:\\mail\\";
    QTest::newRow("empty") << ""
                           << "\\";
}

void TestPop3::attachFilePath()
{
    QFETCH(QString, value);
    QFETCH(QString, stored);
    TPop3Client client;
    client.setAttachFilePath(value);
    QCOMPARE(client.AttachFilePath(), stored);
}

void TestPop3::successfulCheck()
{
    ScriptedPeer peer(loginSequence() + statSequence("+OK 3 1200") + quitSequence());
    Pop3Check check(peer);
    bool inOperationDuringCheck = false;
    check.client.ReportLevel = 1;
    check.client.OnStatus = [&](QObject *, const QString &status) {
        if (status.startsWith(QLatin1String("+OK logged in")))
            inOperationDuringCheck = check.client.InOperation();
    };
    check.client.Connect();
    QCOMPARE(check.connects, 1);
    QVERIFY(inOperationDuringCheck);
    QVERIFY(!check.client.InOperation());
    QCOMPARE(check.client.MessageCount(), 3);
    QVERIFY(!check.client.Connected());
    QVERIFY2(peer.mismatches.isEmpty(), qPrintable(peer.mismatches.join(u'\n')));
    QCOMPARE(peer.received, (QStringList{"USER alice", "PASS secret", "STAT", "QUIT"}));
}

void TestPop3::statVariants_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("count");
    QTest::newRow("count and size") << QByteArray("+OK 3 1200") << 3;
    QTest::newRow("empty mailbox") << QByteArray("+OK 0 0") << 0;
    QTest::newRow("count at line end") << QByteArray("+OK 3") << 0;
    QTest::newRow("two spaces") << QByteArray("+OK  3 1200") << 0;
    QTest::newRow("not a number") << QByteArray("+OK many 1200") << 0;
    QTest::newRow("large") << QByteArray("+OK 2147483647 1") << 2147483647;
    // A mailbox cannot hold fewer than no messages: a negative count is no count.
    QTest::newRow("-1") << QByteArray("+OK -1 x") << 0;
    QTest::newRow("20 digits") << QByteArray("+OK 12345678901234567890 1") << 0;
    QTest::newRow("20 digits, negative") << QByteArray("+OK -12345678901234567890 1") << 0;
    QTest::newRow("one past 32 bits") << QByteArray("+OK 2147483648 1") << 0;
    QTest::newRow("hexadecimal") << QByteArray("+OK $10 1") << 16;
}

void TestPop3::statVariants()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, count);
    ScriptedPeer peer(loginSequence() + statSequence(reply) + quitSequence());
    Pop3Check check(peer);
    QCOMPARE(failureOf([&] { check.client.Connect(); }), QString());
    QCOMPARE(check.client.MessageCount(), count);
    QCOMPARE(check.connects, 1);
}

void TestPop3::negativeStatAfterQuitAndOnConnect()
{
    ScriptedPeer first(loginSequence() + statSequence("+OK 4 100") + quitSequence());
    ScriptedPeer second(loginSequence() + statSequence("-ERR mailbox locked") + quitSequence());
    Pop3Check check(first);
    check.client.Connect();
    QCOMPARE(check.client.MessageCount(), 4);

    check.client.Port = second.port();
    int connectsAfterQuit = 0;
    check.client.OnConnect = [&](QObject *) {
        ++check.connects;
        if (second.received.contains(QStringLiteral("QUIT")))
            ++connectsAfterQuit;
        check.client.Disconnect();
    };
    QCOMPARE(failureOf([&] { check.client.Connect(); }), QStringLiteral("-ERR mailbox locked\r\n"));
    QCOMPARE(check.connects, 2);
    QCOMPARE(connectsAfterQuit, 1);
    QCOMPARE(check.client.MessageCount(), 4);
    QCOMPARE(second.received.last(), QStringLiteral("QUIT"));
    QVERIFY(!check.client.Connected());
}

void TestPop3::negativeGreeting()
{
    ScriptedPeer peer(S("-ERR go away") + quitSequence());
    Pop3Check check(peer);
    QCOMPARE(failureOf([&] { check.client.Connect(); }), QStringLiteral("-ERR go away\r\n"));
    QCOMPARE(check.connects, 0);
    QCOMPARE(peer.received, QStringList{"QUIT"});
}

void TestPop3::userRejected()
{
    ScriptedPeer peer(greetingSequence() + C("USER alice") + S("-ERR who?") + quitSequence());
    Pop3Check check(peer);
    QCOMPARE(failureOf([&] { check.client.Connect(); }), QStringLiteral("Authentication failed"));
    QCOMPARE(check.connects, 0);
    QCOMPARE(peer.received, (QStringList{"USER alice", "QUIT"}));
}

void TestPop3::authenticationFailedHandledOnce()
{
    ScriptedPeer peer(greetingSequence() + C("USER alice") + S("+OK") + C("PASS wrong") + S("-ERR bad")
                      + C("USER alice") + S("+OK") + C("PASS secret") + S("+OK") + statSequence() + quitSequence());
    Pop3Check check(peer);
    check.client.Password = QStringLiteral("wrong");
    int asked = 0;
    check.client.OnAuthenticationFailed = [&](QObject *, bool &handled) {
        ++asked;
        check.client.Password = QStringLiteral("secret");
        handled = true;
    };
    check.client.Connect();
    QCOMPARE(asked, 1);
    QCOMPARE(check.connects, 1);
    QCOMPARE(check.client.MessageCount(), 3);
    QVERIFY2(peer.mismatches.isEmpty(), qPrintable(peer.mismatches.join(u'\n')));
}

void TestPop3::authenticationFailedSecondRejection()
{
    ScriptedPeer peer(greetingSequence() + C("USER alice") + S("-ERR no") + C("USER bob") + S("-ERR no either")
                      + quitSequence());
    Pop3Check check(peer);
    int asked = 0;
    check.client.OnAuthenticationFailed = [&](QObject *, bool &handled) {
        ++asked;
        check.client.UserID = QStringLiteral("bob");
        handled = true;
    };
    QCOMPARE(failureOf([&] { check.client.Connect(); }), QStringLiteral("Authentication failed"));
    QCOMPARE(asked, 1);
    QCOMPARE(check.connects, 0);
    QCOMPARE(peer.received, (QStringList{"USER alice", "USER bob", "QUIT"}));
}

void TestPop3::authenticationNeeded_data()
{
    QTest::addColumn<bool>("withHandler");
    QTest::addColumn<bool>("handles");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<int>("asked");
    QTest::newRow("no handler") << false << false << "Authentication failed" << 0;
    QTest::newRow("not handled") << true << false << "Authentication failed" << 1;
    QTest::newRow("handled") << true << true << "" << 1;
}

void TestPop3::authenticationNeeded()
{
    QFETCH(bool, withHandler);
    QFETCH(bool, handles);
    QFETCH(QString, failure);
    QFETCH(int, asked);
    ScriptedPeer peer(loginSequence() + statSequence() + quitSequence());
    Pop3Check check(peer);
    check.client.Password.clear();
    int calls = 0;
    if (withHandler) {
        check.client.OnAuthenticationNeeded = [&](QObject *, bool &handled) {
            ++calls;
            if (handles) {
                check.client.Password = QStringLiteral("secret");
                handled = true;
            }
        };
    }
    QCOMPARE(failureOf([&] { check.client.Connect(); }), failure);
    QCOMPARE(calls, asked);
    if (failure.isEmpty()) {
        QCOMPARE(check.client.MessageCount(), 3);
    } else {
        QCoreApplication::processEvents();
        QCOMPARE(peer.connections, 0);
        QCOMPARE(check.connects, 0);
    }
}

void TestPop3::lineBreakInCredentialsRefused_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::newRow("LF in password") << "alice"
                                    << "secret\nDELE 1";
    QTest::newRow("CR in user") << "alice\rDELE 1"
                                << "secret";
    QTest::newRow("zero in password") << "alice" << QString::fromLatin1("sec\0ret", 7);
}

void TestPop3::lineBreakInCredentialsRefused()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    ScriptedPeer peer(loginSequence() + statSequence() + quitSequence());
    Pop3Check check(peer);
    check.client.UserID = user;
    check.client.Password = password;
    QCOMPARE(failureOf([&] { check.client.Connect(); }),
             QStringLiteral("User ID or password holds a line break or zero character"));
    QCoreApplication::processEvents();
    QCOMPARE(peer.connections, 0);
}

void TestPop3::silentServerTimesOut()
{
    ScriptedPeer peer(loginSequence()); // then nothing: STAT stays unanswered
    Pop3Check check(peer);
    check.client.TimeOut = 200;
    QCOMPARE(failureOf([&] { check.client.Connect(); }), QStringLiteral("Socket readln aborted"));
    QCOMPARE(check.connects, 1); // the login had succeeded
    QVERIFY(!check.client.Connected());
    QVERIFY(!peer.received.contains(QStringLiteral("QUIT")));
    QTRY_VERIFY(peer.clientClosed);
}

void TestPop3::reportLevel3GivesTheFourReplies()
{
    ScriptedPeer peer(loginSequence() + statSequence("+OK 2 300") + quitSequence());
    Pop3Check check(peer);
    check.client.ReportLevel = 3;
    QStringList statuses;
    check.client.OnStatus = [&](QObject *, const QString &status) { statuses << status; };
    check.client.Connect();
    QCOMPARE(statuses, (QStringList{"+OK\r\n", "+OK logged in\r\n", "+OK 2 300\r\n", "+OK bye\r\n"}));
}

void TestPop3::passwordNeverInStatus()
{
    ScriptedPeer peer(loginSequence("alice", "Pa55-word") + statSequence() + quitSequence());
    Pop3Check check(peer);
    check.client.Password = QStringLiteral("Pa55-word");
    check.client.ReportLevel = 8;
    QStringList statuses;
    check.client.OnStatus = [&](QObject *, const QString &status) { statuses << status; };
    check.client.Connect();
    QVERIFY(statuses.size() > 20);
    for (const QString &status : statuses)
        QVERIFY2(!status.contains(QLatin1String("Pa55")), qPrintable(status));
    QVERIFY(!check.client.Status().contains(QLatin1String("Pa55")));
}

void TestPop3::hostileGreeting_data()
{
    QTest::addColumn<PeerScript>("script");
    QTest::addColumn<QString>("failure");
    QTest::newRow("closed at once") << closeConnection() << "Connection closed by the server";
    QTest::newRow("closed mid-line") << (raw("+OK half") + closeConnection())
                                     << "Connection closed in the middle of a line";
    QTest::newRow("longer than 64 KiB") << (raw(QByteArray(100000, 'A')) + S(""))
                                        << "Reply line too long (no line end within 65536 bytes)";
    QTest::newRow("flood") << raw(QByteArray(4 * 1024 * 1024, 'B'))
                           << "Reply line too long (no line end within 65536 bytes)";
    QTest::newRow("never a line end") << raw("+OK") << "Socket readln aborted";
    QTest::newRow("zero bytes") << (raw(QByteArray("-ERR\0\0\r\n", 8)) + quitSequence())
                                << QString::fromLatin1(QByteArray("-ERR\0\0\r\n", 8));
}

void TestPop3::hostileGreeting()
{
    QFETCH(PeerScript, script);
    QFETCH(QString, failure);
    ScriptedPeer peer(script);
    Pop3Check check(peer);
    check.client.TimeOut = 500;
    QCOMPARE(failureOf([&] { check.client.Connect(); }), failure);
    QCOMPARE(check.connects, 0);
    QVERIFY(!check.client.Connected());
}

void TestPop3::disconnectByAnotherHandlerWhileWaiting()
{
    // While the client waits for the USER reply, another handler (the settings dialog's
    // test switch) disconnects: the waiting read must fail, never read a later line.
    ScriptedPeer peer(greetingSequence() + C("USER alice") + C("QUIT") + S("+OK bye") + closeConnection());
    Pop3Check check(peer);
    check.client.TimeOut = 5000;
    QTimer::singleShot(200, [&] { check.client.Disconnect(); });
    QCOMPARE(failureOf([&] { check.client.Connect(); }), QStringLiteral("Socket readln aborted"));
    QCOMPARE(check.connects, 0);
    QCOMPARE(peer.received, (QStringList{"USER alice", "QUIT"}));
    QVERIFY(!check.client.Connected());
}

void TestPop3::disconnectWhenNotConnectedDoesNothing()
{
    TPop3Client client;
    client.ReportLevel = 8;
    QStringList statuses;
    client.OnStatus = [&](QObject *, const QString &status) { statuses << status; };
    client.Disconnect();
    QVERIFY(statuses.isEmpty());
}

void TestPop3::abortSendsNoQuit()
{
    ScriptedPeer peer(loginSequence() + statSequence() + quitSequence());
    Pop3Check check(peer);
    check.client.ReportLevel = 8;
    QStringList statuses;
    check.client.OnStatus = [&](QObject *, const QString &status) { statuses << status; };
    check.client.OnConnect = [&](QObject *) {
        statuses.clear();
        check.client.Abort();
    };
    check.client.Connect();
    QVERIFY(!check.client.Connected());
    QVERIFY(check.client.Canceled());
    QVERIFY(!statuses.contains(QStringLiteral("Abort")));
    QVERIFY(statuses.contains(QStringLiteral("Canceling")));
    QTRY_VERIFY(peer.clientClosed);
    QVERIFY(!peer.received.contains(QStringLiteral("QUIT")));
}

void TestPop3::socketFailureSkipsDisconnect()
{
    const quint16 port = closedPort();
    QVERIFY(port != 0);
    Pop3Check check(port);
    check.client.TimeOut = 5000;
    QCOMPARE(failureOf([&] { check.client.Connect(); }), QStringLiteral("Connection Failed"));
    QCOMPARE(check.connects, 0);
    QVERIFY(!check.client.InOperation());
}

// What the host field's text names: host, port, TLS, IPv6 and the one name it is looked
// up, sent and checked by; "!" as host: not readable.
void TestPop3::hostText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("tls");
    QTest::addColumn<bool>("ipv6");
    QTest::addColumn<QByteArray>("name");
    const QString bad = QStringLiteral("!");
    const auto row = [](const char *text, const char *host, int port, bool tls, bool ipv6, const char *name) {
        QTest::newRow(*text ? text : "empty")
            << QString::fromUtf8(text) << QString::fromUtf8(host) << port << tls << ipv6 << QByteArray(name);
    };
    row("pop.example.net", "pop.example.net", 110, false, false, "pop.example.net");
    row("192.0.2.1", "192.0.2.1", 110, false, false, "192.0.2.1");
    row(" 127.0.0.1 ", " 127.0.0.1 ", 110, false, false, "127.0.0.1");
    row("", "", 110, false, false, "");
    row("pop.example.net:2110", "pop.example.net", 2110, false, false, "pop.example.net");
    row("pop.example.net:995", "pop.example.net", 995, true, false, "pop.example.net");
    row("[::1]:2110", "::1", 2110, false, true, "::1");
    row("[2001:db8::1]", "2001:db8::1", 110, false, true, "2001:db8::1");
    row("::1", "::1", 110, false, true, "::1");
    row(" ::1", " ::1", 110, false, true, "::1");
    row("[ ::1]:2110", " ::1", 2110, false, true, "::1");
    row("pop3s://pop.example.net", "pop.example.net", 995, true, false, "pop.example.net");
    row("POP3S://pop.example.net:1995/", "pop.example.net", 1995, true, false, "pop.example.net");
    row("pop3s://[2001:db8::1]", "2001:db8::1", 995, true, true, "2001:db8::1");
    row("pop3s://bücher:995", "bücher", 995, true, false, "xn--bcher-kva");
    row("Pop.Example.NET", "Pop.Example.NET", 110, false, false, "pop.example.net");
    for (const char *text : {"pop:", "pop:0", "pop:65536", "pop:99999", "pop:1x", "pop:+1", "[::1", "::1]", "[pop]:110",
                             "[::1]x", "[::1]:", "imap://pop", "pop3s://", "pop3s://:995", ":110", "a:b:c",
                             "pop[1]:110", "pop3s://bücher..example", "pop example"})
        QTest::newRow(text) << QString::fromUtf8(text) << bad << 0 << false << false << QByteArray();
}

void TestPop3::hostText()
{
    QFETCH(QString, text);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(bool, tls);
    QFETCH(bool, ipv6);
    QFETCH(QByteArray, name);
    const MailServer server = parseMailHost(text);
    if (host == QLatin1String("!")) {
        QVERIFY2(server.error.startsWith(QStringLiteral("Mail server field \"%1\": ").arg(text)),
                 qPrintable(server.error));
        return;
    }
    QCOMPARE(server.error, QString());
    QCOMPARE(server.host, host);
    QCOMPARE(server.port, port);
    QCOMPARE(server.tls, tls);
    QCOMPARE(server.ipv6, ipv6);
    QCOMPARE(server.name, name);
}

// A host text the check cannot use fails it before the server hears anything; %1 is the
// port of a listening peer.
void TestPop3::unreadableHostSendsNothing_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("bad port") << "127.0.0.1:%1x";
    QTest::newRow("address in brackets") << "[127.0.0.1]:%1";
    QTest::newRow("name without IDNA form") << "pop3s://bücher..example:%1";
}

void TestPop3::unreadableHostSendsNothing()
{
    QFETCH(QString, text);
    ScriptedPeer peer(loginSequence() + statSequence() + quitSequence());
    const MailCheckClient client = makeMailCheckClient(0);
    setMailAccount(*client, {text.arg(peer.port()), QStringLiteral("alice"), QStringLiteral("secret")});
    const QString failure = failureOf([&] { client->Connect(); });
    QVERIFY2(failure.startsWith(QStringLiteral("Mail server field \"%1\": ").arg(text.arg(peer.port()))),
             qPrintable(failure));
    QTest::qWait(50);
    QCOMPARE(peer.connections, 0);
    QVERIFY(peer.received.isEmpty());
}

// An IPv6 address in the host text is reached over an IPv6 socket; the socket goes back
// to IPv4 for the next check of an IPv4 address.
void TestPop3::ipv6Address_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("[::1]:port") << "[::1]:%1";
    QTest::newRow("mapped") << "[::ffff:127.0.0.1]:%1";
    QTest::newRow("blank before it") << "[ ::1]:%1";
}

void TestPop3::ipv6Address()
{
    QFETCH(QString, text);
    const bool mapped = text.contains(QLatin1String("ffff"));
    ScriptedPeer peer(loginSequence() + statSequence("+OK 2 20") + quitSequence(),
                      mapped ? QHostAddress::Any : QHostAddress::LocalHostIPv6);
    Pop3Check check(peer);
    setMailAccount(check.client, {text.arg(peer.port()), QStringLiteral("alice"), QStringLiteral("secret")});
    QCOMPARE(failureOf([&] { check.client.Connect(); }), QString());
    QCOMPARE(check.client.MessageCount(), 2);
    QCOMPARE(peer.received, (QStringList{"USER alice", "PASS secret", "STAT", "QUIT"}));
    ScriptedPeer ipv4(loginSequence() + statSequence("+OK 1 10") + quitSequence());
    setMailAccount(check.client, {localHost(ipv4.port()), QStringLiteral("alice"), QStringLiteral("secret")});
    QCOMPARE(failureOf([&] { check.client.Connect(); }), QString());
    QCOMPARE(check.client.MessageCount(), 1);
}

QTEST_GUILESS_MAIN(TestPop3)
#include "tst_pop3.moc"
