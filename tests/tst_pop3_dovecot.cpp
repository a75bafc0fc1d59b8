#include "mail/Pop3Client.h"
#include "platform/Exception.h"
#include "tests/DovecotServer.h"

#include <QtTest>

// The mail check against a real POP3 server.
class TestPop3Dovecot : public QObject
{
    Q_OBJECT

private:
    DovecotServer m_dovecot;
    quint16 m_port = 0;

    // Aims `client` at the server's account, with the password given.
    void setUp(TPop3Client &client, const QString &password) const
    {
        client.Host = QStringLiteral("127.0.0.1");
        client.Port = m_port;
        client.TimeOut = 30000;
        client.UserID = QString::fromLatin1(DovecotServer::User);
        client.Password = password;
    }

    static QString failureOf(TPop3Client &client)
    {
        try {
            client.Connect();
        } catch (const Exception &e) {
            return e.message();
        }
        return {};
    }

private slots:
    void initTestCase();
    void cleanupTestCase();
    void mailboxWithThreeMessages();
    void wrongPassword();
};

void TestPop3Dovecot::initTestCase()
{
    if (DovecotServer::binary().isEmpty())
        QSKIP("the dovecot binary is not installed (Debian package dovecot-pop3d)");
    const QString failure = m_dovecot.start(3);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    m_port = m_dovecot.port();
}

void TestPop3Dovecot::cleanupTestCase()
{
    m_dovecot.stop();
}

void TestPop3Dovecot::mailboxWithThreeMessages()
{
    TPop3Client client;
    setUp(client, QString::fromLatin1(DovecotServer::Password));
    client.ReportLevel = 3;
    QStringList replies;
    client.OnStatus = [&](QObject *, const QString &status) { replies << status; };
    int connects = 0;
    client.OnConnect = [&](QObject *) {
        ++connects;
        client.Disconnect();
    };
    QCOMPARE(failureOf(client), QString());
    QCOMPARE(connects, 1);
    QCOMPARE(client.MessageCount(), 3);
    QCOMPARE(replies.size(), 4);
    for (const QString &reply : replies)
        QVERIFY2(reply.startsWith(QLatin1String("+OK")) && reply.endsWith(QLatin1String("\r\n")), qPrintable(reply));
    QVERIFY(!client.Connected());
}

void TestPop3Dovecot::wrongPassword()
{
    TPop3Client client;
    setUp(client, QStringLiteral("not the secret"));
    int connects = 0;
    client.OnConnect = [&](QObject *) { ++connects; };
    QCOMPARE(failureOf(client), QStringLiteral("Authentication failed"));
    QCOMPARE(connects, 0);
    QVERIFY(!client.Connected());
}

QTEST_GUILESS_MAIN(TestPop3Dovecot)
#include "tst_pop3_dovecot.moc"
