#include "mail/HostLookup.h"
#include "tests/DovecotServer.h"
#include "tests/MailFixture.h"

#include <QtTest>

namespace {
// bücher is this machine, but only in the ASCII form its certificate names; every other
// name goes to the system's resolver.
int bucherIsHere(const QString &name, quint32 &address)
{
    if (name != QLatin1String("xn--bcher-kva"))
        return lookUpIpv4(name, address);
    address = 0x7F000001;
    return 0;
}
} // namespace

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
    void overTls_data();
    void overTls();
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

// Dovecot with TLS required, its certificate signed by a test CA that SSL_CERT_FILE names
// (or not): a trusted one is used; any other is refused inside the connect, before the
// greeting is read, so no USER or PASS is sent.
void TestPop3Dovecot::overTls_data()
{
    QTest::addColumn<QString>("certificate");
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("trustCa");
    QTest::addColumn<QString>("failure");
    QTest::newRow("trusted name") << "localhost"
                                  << "pop3s://localhost:%1" << true << "";
    QTest::newRow("international name") << "idn"
                                        << "pop3s://bücher:%1" << true << "";
    QTest::newRow("trusted address") << "localhost"
                                     << "pop3s://127.0.0.1:%1" << true << "";
    QTest::newRow("other name") << "other"
                                << "pop3s://localhost:%1" << true
                                << "TLS: certificate verify failed (hostname mismatch)";
    QTest::newRow("other address") << "other"
                                   << "pop3s://127.0.0.1:%1" << true
                                   << "TLS: certificate verify failed (IP address mismatch)";
    QTest::newRow("self-signed") << "selfsigned"
                                 << "pop3s://localhost:%1" << true
                                 << "TLS: certificate verify failed (self-signed certificate)";
    QTest::newRow("CA not trusted") << "localhost"
                                    << "pop3s://localhost:%1" << false
                                    << "TLS: certificate verify failed (unable to get local issuer certificate)";
    QTest::newRow("plain client on the TLS port") << "localhost"
                                                  << "127.0.0.1:%1" << true << "Socket readln aborted";
}

void TestPop3Dovecot::overTls()
{
    QFETCH(QString, certificate);
    QFETCH(QString, host);
    QFETCH(bool, trustCa);
    QFETCH(QString, failure);
    QTemporaryDir pki;
    const QString made = DovecotServer::makeCertificates(pki.path());
    QVERIFY2(made.isEmpty(), qPrintable(made));
    DovecotServer server;
    const QString started = server.start(2, {pki.filePath(certificate + ".pem"), pki.filePath(certificate + ".key")});
    QVERIFY2(started.isEmpty(), qPrintable(started));
    qputenv("SSL_CERT_FILE", QFile::encodeName(pki.filePath(trustCa ? "ca.pem" : "other.pem")));
    setHostResolverForTesting(bucherIsHere);
    const auto restore = qScopeGuard([] {
        qunsetenv("SSL_CERT_FILE");
        setHostResolverForTesting(nullptr);
    });

    const MailCheckClient client = makeMailCheckClient(3);
    client->TimeOut = failure.startsWith(QLatin1String("Socket")) ? 1000 : kMailCheckTimeOut;
    setMailAccount(*client,
                   {host.arg(server.port()), QString::fromLatin1(DovecotServer::User),
                    QString::fromLatin1(DovecotServer::Password)});
    QStringList replies;
    client->OnStatus = [&](QObject *, const QString &status) { replies << status; };
    client->OnConnect = [&](QObject *) { client->Disconnect(); };
    QCOMPARE(failureOf([&] { client->Connect(); }), failure);
    QVERIFY(!client->Connected());
    if (!failure.isEmpty()) {
        QCOMPARE(replies, QStringList()); // no reply to any command came
        return;
    }
    QCOMPARE(client->MessageCount(), 2);
    QCOMPARE(replies.size(), 4);
    for (const QString &reply : replies)
        QVERIFY2(reply.startsWith(QLatin1String("+OK")), qPrintable(reply));
}

QTEST_GUILESS_MAIN(TestPop3Dovecot)
#include "tst_pop3_dovecot.moc"
