#pragma once

// A real POP3 server for tests: Dovecot on 127.0.0.1 (a free port) with a configuration,
// mailbox and password file of its own in a temporary folder. Header only.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

class DovecotServer
{
public:
    static constexpr const char *User = "alice";
    static constexpr const char *Password = "secret";

    DovecotServer() = default;
    DovecotServer(const DovecotServer &) = delete;
    DovecotServer &operator=(const DovecotServer &) = delete;
    ~DovecotServer() { stop(); }

    // The dovecot program, empty when it is not installed (Debian package dovecot-pop3d).
    static QString binary()
    {
        QString found
            = QStandardPaths::findExecutable(QStringLiteral("dovecot"), {"/usr/sbin", "/usr/local/sbin", "/sbin"});
        if (found.isEmpty())
            found = QStandardPaths::findExecutable(QStringLiteral("dovecot"));
        return found;
    }

    // The certificate (PEM) and key a server on TLS presents.
    struct Tls
    {
        QString certificate;
        QString key;
    };

    // Makes a test CA (ca.pem) in `dir` and, with their keys (NAME.key): localhost.pem for
    // localhost and 127.0.0.1, other.pem for other.example and idn.pem for xn--bcher-kva
    // (bücher in its ASCII form), all signed by the CA, and
    // selfsigned.pem for localhost and 127.0.0.1, signed by itself. Returns what went
    // wrong, empty on success.
    static QString makeCertificates(const QString &dir)
    {
        const auto openssl = [&dir](const QStringList &arguments) {
            QProcess process;
            process.setWorkingDirectory(dir);
            process.setProcessChannelMode(QProcess::MergedChannels);
            process.start(QStringLiteral("openssl"), arguments);
            if (!process.waitForFinished(30000) || process.exitCode() != 0)
                return QStringLiteral("openssl %1: %2")
                    .arg(arguments.join(u' '), QString::fromLocal8Bit(process.readAll()));
            return QString();
        };
        const QStringList key{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2"};
        QString failure = openssl(QStringList{"req", "-x509", "-keyout", "ca.key", "-out", "ca.pem", "-subj",
                                              "/CN=Pantel Test CA", "-addext", "basicConstraints=critical,CA:TRUE",
                                              "-addext", "keyUsage=critical,keyCertSign"}
                                  + key);
        const auto signedFor = [&](const QString &name, const QString &names) {
            QFile extensions(dir + QLatin1Char('/') + name + QStringLiteral(".ext"));
            if (!extensions.open(QIODevice::WriteOnly))
                return QStringLiteral("cannot write %1").arg(extensions.fileName());
            extensions.write(("subjectAltName=" + names + "\n").toUtf8());
            extensions.close();
            QString failed = openssl(
                QStringList{"req", "-new", "-keyout", name + ".key", "-out", name + ".csr", "-subj", "/CN=" + name}
                + key.mid(0, 5));
            if (failed.isEmpty())
                failed = openssl({"x509", "-req", "-in", name + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                                  "-CAcreateserial", "-days", "2", "-out", name + ".pem", "-extfile", name + ".ext"});
            return failed;
        };
        if (failure.isEmpty())
            failure = signedFor(QStringLiteral("localhost"), QStringLiteral("DNS:localhost,IP:127.0.0.1"));
        if (failure.isEmpty())
            failure = signedFor(QStringLiteral("other"), QStringLiteral("DNS:other.example"));
        if (failure.isEmpty())
            failure = signedFor(QStringLiteral("idn"), QStringLiteral("DNS:xn--bcher-kva"));
        if (failure.isEmpty())
            failure
                = openssl(QStringList{"req", "-x509", "-keyout", "selfsigned.key", "-out", "selfsigned.pem", "-subj",
                                      "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1"}
                          + key);
        return failure;
    }

    // Starts the server with `messages` messages in the mailbox of alice (password
    // "secret"), speaking TLS from the first byte when `tls` names a certificate; returns
    // what went wrong, empty when it accepts connections.
    QString start(int messages, const Tls &tls = {})
    {
        const QString program = binary();
        if (program.isEmpty())
            return QStringLiteral("the dovecot binary is not installed");
        if (!m_dir.isValid())
            return QStringLiteral("no temporary folder");
        const QString root = m_dir.path();
        QFile::setPermissions(root,
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                  | QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther
                                  | QFileDevice::ExeOther);
        const MailUser owner = mailUser();
        if (owner.user.isEmpty())
            return QStringLiteral("no user to own the mailbox");
        const QString maildir = root + QStringLiteral("/mail/alice/Maildir");
        for (const char *sub : {"cur", "new", "tmp"}) {
            if (!QDir().mkpath(maildir + QLatin1Char('/') + QLatin1String(sub)))
                return QStringLiteral("cannot make the mailbox");
        }
        for (int i = 1; i <= messages; ++i) {
            QFile message(maildir + QStringLiteral("/new/%1.M%1P1.pantel").arg(1700000000 + i));
            if (!message.open(QIODevice::WriteOnly))
                return QStringLiteral("cannot write a message");
            message.write(QStringLiteral("From: bob@example.org\r\nTo: alice@example.org\r\nSubject: note %1\r\n\r\n"
                                         "Message %1.\r\n")
                              .arg(i)
                              .toLatin1());
        }
        if (::geteuid() == 0 && !chownTree(root + QStringLiteral("/mail"), owner.uid, owner.gid))
            return QStringLiteral("cannot hand the mailbox to %1").arg(owner.user);

        QFile passwords(root + QStringLiteral("/passwd"));
        if (!passwords.open(QIODevice::WriteOnly))
            return QStringLiteral("cannot write the password file");
        passwords.write(QByteArray(User) + ":{PLAIN}" + Password + "::::::\n");
        passwords.close();

        m_port = freePort();
        if (m_port == 0)
            return QStringLiteral("no free port");
        const bool asRoot = ::geteuid() == 0;
        const QString internalUser = asRoot && userExists("dovecot") ? QStringLiteral("dovecot") : owner.user;
        const QString loginUser = asRoot && userExists("dovenull") ? QStringLiteral("dovenull") : owner.user;
        QFile config(root + QStringLiteral("/dovecot.conf"));
        if (!config.open(QIODevice::WriteOnly))
            return QStringLiteral("cannot write the configuration");
        // Dovecot's own pop3s listener is turned off: it would take port 995, which a second
        // server running at the same time (ctest -j2) could not have.
        config.write(QStringLiteral("base_dir = %1/run\n"
                                    "state_dir = %1/state\n"
                                    "log_path = %1/dovecot.log\n"
                                    "protocols = pop3\n"
                                    "listen = 127.0.0.1\n"
                                    "@ssl@"
                                    "disable_plaintext_auth = no\n"
                                    "auth_failure_delay = 0\n"
                                    "default_internal_user = %3\n"
                                    "default_login_user = %4\n"
                                    "mail_location = maildir:%1/mail/%u/Maildir\n"
                                    "pop3_uidl_format = %08Xu%08Xv\n"
                                    "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN %1/passwd\n}\n"
                                    "userdb {\n  driver = static\n  args = uid=%5 gid=%6 home=%1/mail/%u\n}\n"
                                    "service pop3-login {\n  inet_listener pop3 {\n    port = %2\n@listener-ssl@  }\n"
                                    "  inet_listener pop3s {\n    port = 0\n  }\n}\n"
                                    "service anvil {\n  chroot =\n}\n"
                                    "service stats {\n  chroot =\n}\n")
                         .arg(root)
                         .arg(m_port)
                         .arg(internalUser, loginUser, owner.user, owner.group)
                         .replace(QStringLiteral("@ssl@"),
                                  tls.certificate.isEmpty()
                                      ? QStringLiteral("ssl = no\n")
                                      : QStringLiteral("ssl = required\nssl_cert = <%1\nssl_key = <%2\n")
                                            .arg(tls.certificate, tls.key))
                         .replace(QStringLiteral("@listener-ssl@"),
                                  tls.certificate.isEmpty() ? QString() : QStringLiteral("    ssl = yes\n"))
                         .toUtf8());
        config.close();

        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(program, {QStringLiteral("-F"), QStringLiteral("-c"), config.fileName()});
        if (!m_process.waitForStarted())
            return m_process.errorString();
        bool accepting = false;
        for (int i = 0; i < 100 && !accepting && m_process.state() == QProcess::Running; ++i) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, m_port);
            accepting = probe.waitForConnected(100);
            if (!accepting)
                QTest::qWait(100);
        }
        if (accepting)
            return {};
        QFile log(root + QStringLiteral("/dovecot.log"));
        log.open(QIODevice::ReadOnly);
        return QStringLiteral("dovecot does not accept: %1 %2")
            .arg(QString::fromLocal8Bit(m_process.readAll()), QString::fromLocal8Bit(log.readAll()));
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    quint16 port() const { return m_port; }

private:
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

    static quint16 freePort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }

    static bool chownTree(const QString &path, uid_t uid, gid_t gid)
    {
        if (::chown(QFile::encodeName(path).constData(), uid, gid) != 0)
            return false;
        const QFileInfoList entries = QDir(path).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        for (const QFileInfo &entry : entries) {
            if (entry.isDir() ? !chownTree(entry.filePath(), uid, gid)
                              : ::chown(QFile::encodeName(entry.filePath()).constData(), uid, gid) != 0)
                return false;
        }
        return true;
    }

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
};
