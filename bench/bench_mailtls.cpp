// Processor time of the mail check over TLS: per check against a local Dovecot, over TLS
// and plain (the goal: under 20 ms more over TLS), and while a check waits on a TLS server
// that completes the handshake and then stays silent until the check's time-out (the
// goal: under 2% of one core, as for plain). The servers' own time is not counted.
//
// Usage: bench_mailtls [time-out of the silent wait in ms, default 30000]

#include "mail/MailCheck.h"
#include "mail/Pop3Client.h"
#include "platform/Exception.h"
#include "tests/DovecotServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <ctime>

namespace {

double processSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// One check of `host`; the failure's text, empty when it logged in.
QString check(const QString &host, int timeOut)
{
    const MailCheckClient client = makeMailCheckClient(0);
    client->TimeOut = timeOut;
    setMailAccount(*client,
                   {host, QString::fromLatin1(DovecotServer::User), QString::fromLatin1(DovecotServer::Password)});
    client->OnConnect = [&](QObject *) { client->Disconnect(); };
    try {
        client->Connect();
    } catch (const Exception &e) {
        return e.message();
    }
    return {};
}

// Milliseconds of processor time per check of `host`, or -1 when a check fails.
double msPerCheck(const QString &host)
{
    constexpr int checks = 20;
    check(host, kMailCheckTimeOut); // warms up the lookup and the certificate store
    const double start = processSeconds();
    for (int i = 0; i < checks; ++i) {
        const QString failure = check(host, kMailCheckTimeOut);
        if (!failure.isEmpty()) {
            std::fprintf(stderr, "check of %s failed: %s\n", qPrintable(host), qPrintable(failure));
            return -1;
        }
    }
    return 1000.0 * (processSeconds() - start) / checks;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int timeOut = argc > 1 ? QByteArray(argv[1]).toInt() : 30000;
    QTemporaryDir pki;
    const QString made = DovecotServer::makeCertificates(pki.path());
    if (!made.isEmpty()) {
        std::fprintf(stderr, "bench_mailtls: %s\n", qPrintable(made));
        return 2;
    }
    qputenv("SSL_CERT_FILE", QFile::encodeName(pki.filePath(QStringLiteral("ca.pem"))));
    const DovecotServer::Tls tls{pki.filePath(QStringLiteral("localhost.pem")),
                                 pki.filePath(QStringLiteral("localhost.key"))};

    DovecotServer plain;
    DovecotServer overTls;
    QString failure = plain.start(2);
    if (failure.isEmpty())
        failure = overTls.start(2, tls);
    if (!failure.isEmpty()) {
        std::fprintf(stderr, "bench_mailtls: %s\n", qPrintable(failure));
        return 2;
    }
    const double plainMs = msPerCheck(QStringLiteral("127.0.0.1:%1").arg(plain.port()));
    const double tlsMs = msPerCheck(QStringLiteral("pop3s://localhost:%1").arg(overTls.port()));
    if (plainMs < 0 || tlsMs < 0)
        return 1;
    std::printf("bench:mail check over TLS, CPU per check above plain (ms)\t%.2f (TLS %.2f, plain %.2f)\t< 20\t%s\n",
                tlsMs - plainMs, tlsMs, plainMs, tlsMs - plainMs < 20 ? "met" : "not met");
    std::fflush(stdout);

    // A TLS server that completes the handshake and then says nothing.
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    QProcess silent;
    silent.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    silent.start(QStringLiteral("openssl"),
                 {"s_server", "-quiet", "-accept", QStringLiteral("127.0.0.1:%1").arg(port), "-cert", tls.certificate,
                  "-key", tls.key});
    if (!silent.waitForStarted()) {
        std::fprintf(stderr, "bench_mailtls: openssl s_server does not start\n");
        return 2;
    }
    QTest::qWait(1000);
    QElapsedTimer wall;
    const double start = processSeconds();
    wall.start();
    failure = check(QStringLiteral("pop3s://localhost:%1").arg(port), timeOut);
    const double cpu = processSeconds() - start;
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    const double percent = 100.0 * cpu / seconds;
    silent.kill();
    silent.waitForFinished(5000);
    std::fprintf(stderr, "silent TLS check ended with: \"%s\" after %.1f s (time-out %d ms)\n", qPrintable(failure),
                 seconds, timeOut);
    if (failure.isEmpty() || failure.startsWith(QLatin1String("TLS"))) {
        std::fprintf(stderr, "bench_mailtls: the check did not wait for its time-out after the handshake\n");
        return 1;
    }
    std::printf("bench:mail check over TLS waiting %.0f s on a silent server (%% of one core)\t%.3f\t< 2\t%s\n",
                seconds, percent, percent < 2.0 ? "met" : "not met");
    return 0;
}
