#include "Exception.h"
#include "Pop3Client.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

// The mail check against a real POP3 server: Dovecot on 127.0.0.1 with a configuration,
// mailbox and password file of its own in a temporary folder.
class TestPop3Dovecot : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QProcess m_dovecot;
    quint16 m_port = 0;
    QString m_binary;

    static quint16 freePort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }

    // Owner of the mailbox: Dovecot runs no mail process as root, so when the test runs
    // as root the mailbox belongs to "nobody".
    struct MailUser
    {
        QString user;
        QString group;
        uid_t uid;
        gid_t gid;
    };

    static MailUser mailUser()
    {
        if (::geteuid() == 0) {
            const passwd *nobody = ::getpwnam("nobody");
            const group *nogroup = nobody ? ::getgrgid(nobody->pw_gid) : nullptr;
            if (nobody && nogroup)
                return {QString::fromLocal8Bit(nobody->pw_name), QString::fromLocal8Bit(nogroup->gr_name),
                        nobody->pw_uid, nobody->pw_gid};
        }
        const passwd *me = ::getpwuid(::geteuid());
        const group *mine = me ? ::getgrgid(me->pw_gid) : nullptr;
        return {me ? QString::fromLocal8Bit(me->pw_name) : QString(),
                mine ? QString::fromLocal8Bit(mine->gr_name) : QString(), ::geteuid(), ::getegid()};
    }

    static bool userExists(const char *name) { return ::getpwnam(name) != nullptr; }

    static void chownTree(const QString &path, uid_t uid, gid_t gid)
    {
        QVERIFY(::chown(QFile::encodeName(path).constData(), uid, gid) == 0);
        const QFileInfoList entries = QDir(path).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        for (const QFileInfo &entry : entries) {
            if (entry.isDir())
                chownTree(entry.filePath(), uid, gid);
            else
                QVERIFY(::chown(QFile::encodeName(entry.filePath()).constData(), uid, gid) == 0);
        }
    }

    QString failureOf(TPop3Client &client)
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
    m_binary = QStandardPaths::findExecutable(QStringLiteral("dovecot"), {"/usr/sbin", "/usr/local/sbin", "/sbin"});
    if (m_binary.isEmpty())
        m_binary = QStandardPaths::findExecutable(QStringLiteral("dovecot"));
    if (m_binary.isEmpty())
        QSKIP("the dovecot binary is not installed (Debian package dovecot-pop3d)");
    QVERIFY(m_dir.isValid());

    const QString root = m_dir.path();
    QFile::setPermissions(root, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                    | QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther
                                    | QFileDevice::ExeOther);
    const MailUser owner = mailUser();
    QVERIFY(!owner.user.isEmpty());
    const QString maildir = root + QStringLiteral("/mail/alice/Maildir");
    for (const char *sub : {"cur", "new", "tmp"})
        QVERIFY(QDir().mkpath(maildir + QLatin1Char('/') + QLatin1String(sub)));
    for (int i = 1; i <= 3; ++i) {
        QFile message(maildir + QStringLiteral("/new/%1.M%1P1.pantel").arg(1700000000 + i));
        QVERIFY(message.open(QIODevice::WriteOnly));
        message.write(QStringLiteral("From: bob@example.org\r\nTo: alice@example.org\r\nSubject: note %1\r\n\r\n"
                                     "Message %1.\r\n")
                          .arg(i)
                          .toLatin1());
    }
    if (::geteuid() == 0)
        chownTree(root + QStringLiteral("/mail"), owner.uid, owner.gid);

    QFile passwords(root + QStringLiteral("/passwd"));
    QVERIFY(passwords.open(QIODevice::WriteOnly));
    passwords.write("alice:{PLAIN}secret::::::\n");
    passwords.close();

    m_port = freePort();
    QVERIFY(m_port != 0);
    const bool asRoot = ::geteuid() == 0;
    const QString internalUser = asRoot && userExists("dovecot") ? QStringLiteral("dovecot") : owner.user;
    const QString loginUser = asRoot && userExists("dovenull") ? QStringLiteral("dovenull") : owner.user;
    QFile config(root + QStringLiteral("/dovecot.conf"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(QStringLiteral("base_dir = %1/run\n"
                                "state_dir = %1/state\n"
                                "log_path = %1/dovecot.log\n"
                                "protocols = pop3\n"
                                "listen = 127.0.0.1\n"
                                "ssl = no\n"
                                "disable_plaintext_auth = no\n"
                                "auth_failure_delay = 0\n"
                                "default_internal_user = %3\n"
                                "default_login_user = %4\n"
                                "mail_location = maildir:%1/mail/%u/Maildir\n"
                                "pop3_uidl_format = %08Xu%08Xv\n"
                                "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN %1/passwd\n}\n"
                                "userdb {\n  driver = static\n  args = uid=%5 gid=%6 home=%1/mail/%u\n}\n"
                                "service pop3-login {\n  inet_listener pop3 {\n    port = %2\n  }\n}\n"
                                "service anvil {\n  chroot =\n}\n"
                                "service stats {\n  chroot =\n}\n")
                     .arg(root)
                     .arg(m_port)
                     .arg(internalUser, loginUser, owner.user, owner.group)
                     .toUtf8());
    config.close();

    m_dovecot.setProcessChannelMode(QProcess::MergedChannels);
    m_dovecot.start(m_binary, {QStringLiteral("-F"), QStringLiteral("-c"), config.fileName()});
    QVERIFY2(m_dovecot.waitForStarted(), qPrintable(m_dovecot.errorString()));
    bool accepting = false;
    for (int i = 0; i < 100 && !accepting && m_dovecot.state() == QProcess::Running; ++i) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, m_port);
        accepting = probe.waitForConnected(100);
        if (!accepting)
            QTest::qWait(100);
    }
    if (!accepting) {
        QFile log(root + QStringLiteral("/dovecot.log"));
        log.open(QIODevice::ReadOnly);
        QFAIL(qPrintable(QStringLiteral("dovecot does not accept: %1 %2")
                             .arg(QString::fromLocal8Bit(m_dovecot.readAll()), QString::fromLocal8Bit(log.readAll()))));
    }
}

void TestPop3Dovecot::cleanupTestCase()
{
    if (m_dovecot.state() != QProcess::NotRunning) {
        m_dovecot.terminate();
        if (!m_dovecot.waitForFinished(10000)) {
            m_dovecot.kill();
            m_dovecot.waitForFinished(5000);
        }
    }
}

void TestPop3Dovecot::mailboxWithThreeMessages()
{
    TPop3Client client;
    client.Host = QStringLiteral("127.0.0.1");
    client.Port = m_port;
    client.TimeOut = 30000;
    client.UserID = QStringLiteral("alice");
    client.Password = QStringLiteral("secret");
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
    client.Host = QStringLiteral("127.0.0.1");
    client.Port = m_port;
    client.TimeOut = 30000;
    client.UserID = QStringLiteral("alice");
    client.Password = QStringLiteral("not the secret");
    int connects = 0;
    client.OnConnect = [&](QObject *) { ++connects; };
    QCOMPARE(failureOf(client), QStringLiteral("Authentication failed"));
    QCOMPARE(connects, 0);
    QVERIFY(!client.Connected());
}

QTEST_GUILESS_MAIN(TestPop3Dovecot)
#include "tst_pop3_dovecot.moc"
