#include "tests/DovecotServer.h"
#include "tests/MailFixture.h"

#include <QtTest>

// The mail check against a real POP3 server.
class TestPop3Dovecot : public QObject
{
    Q_OBJECT

private:
    DovecotServer m_dovecot;
    quint16 m_port = 0;

    // A check of the server's account with the password given.
    Pop3Check checkWith(const QString &password) const
    {
        return Pop3Check(m_port, kMailCheckTimeOut,
                         {QStringLiteral("127.0.0.1"), QString::fromLatin1(DovecotServer::User), password});
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
    Pop3Check check = checkWith(QString::fromLatin1(DovecotServer::Password));
    check.client.ReportLevel = 3;
    QStringList replies;
    check.client.OnStatus = [&](QObject *, const QString &status) { replies << status; };
    QCOMPARE(failureOf([&] { check.client.Connect(); }), QString());
    QCOMPARE(check.connects, 1);
    QCOMPARE(check.client.MessageCount(), 3);
    QCOMPARE(replies.size(), 4);
    for (const QString &reply : replies)
        QVERIFY2(reply.startsWith(QLatin1String("+OK")) && reply.endsWith(QLatin1String("\r\n")), qPrintable(reply));
    QVERIFY(!check.client.Connected());
}

void TestPop3Dovecot::wrongPassword()
{
    Pop3Check check = checkWith(QStringLiteral("not the secret"));
    QCOMPARE(failureOf([&] { check.client.Connect(); }), QStringLiteral("Authentication failed"));
    QCOMPARE(check.connects, 0);
    QVERIFY(!check.client.Connected());
}

QTEST_GUILESS_MAIN(TestPop3Dovecot)
#include "tst_pop3_dovecot.moc"
