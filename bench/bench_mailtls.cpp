// Processor time of the mail check over TLS: per check against a local Dovecot, over TLS
// and plain (the goal: under 20 ms more over TLS), and while a check waits on a TLS server
// that completes the handshake and then stays silent until the check's time-out (the
// goal: under 2% of one core, as for plain). The servers' own time is not counted. Each
// figure is the median of five runs, with their spread.
//
// Usage: bench_mailtls [time-out of the silent wait in ms, default 30000]

#include "bench/Median.h"
#include "bench/WaitTiming.h"
#include "mail/MailCheck.h"
#include "mail/Pop3Client.h"
#include "platform/Exception.h"
#include "tests/DovecotServer.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

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
    constexpr int checks = 8;
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

// One check that waits on the silent TLS server at `port`: prints its share of one core
// and the seconds it waited.
int waitOnce(quint16 port, int timeOut)
{
    return reportWait(
        "bench_mailtls", timeOut, [&] { return check(QStringLiteral("pop3s://localhost:%1").arg(port), timeOut); },
        [](const QString &failure) { return !failure.isEmpty() && !failure.startsWith(QLatin1String("TLS")); });
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && QByteArray(argv[1]) == "--silent")
        return waitOnce(quint16(QByteArray(argv[2]).toUInt()), QByteArray(argv[3]).toInt());
    const int timeOut = argc > 1 ? QByteArray(argv[1]).toInt() : 30000;
    constexpr int kRuns = 5;
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
    // Plain and TLS alternate; each run's TLS figure is compared with its own plain one.
    std::vector<double> plainMs;
    std::vector<double> tlsMs;
    std::vector<double> above;
    for (int run = 0; run < kRuns; ++run) {
        plainMs.push_back(msPerCheck(QStringLiteral("127.0.0.1:%1").arg(plain.port())));
        tlsMs.push_back(msPerCheck(QStringLiteral("pop3s://localhost:%1").arg(overTls.port())));
        if (plainMs.back() < 0 || tlsMs.back() < 0)
            return 1;
        above.push_back(tlsMs.back() - plainMs.back());
    }
    const double aboveMs = median(above);
    std::printf("bench:mail check over TLS, CPU per check above plain (ms)\t%.2f (TLS %.2f, plain %.2f)\t%.2f-%.2f\t< "
                "20\t%s\n",
                aboveMs, median(tlsMs), median(plainMs), *std::min_element(above.begin(), above.end()),
                *std::max_element(above.begin(), above.end()), aboveMs < 20 ? "met" : "not met");
    std::fflush(stdout);

    // TLS servers that complete the handshake and then say nothing, one for each check
    // (openssl s_server serves one connection at a time); the checks wait at once.
    std::vector<std::unique_ptr<QProcess>> servers;
    std::vector<quint16> ports;
    for (int run = 0; run < kRuns; ++run) {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        ports.push_back(probe.serverPort());
        probe.close();
        servers.push_back(std::make_unique<QProcess>());
        servers.back()->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        servers.back()->start(QStringLiteral("openssl"),
                              {"s_server", "-quiet", "-accept", QStringLiteral("127.0.0.1:%1").arg(ports.back()),
                               "-cert", tls.certificate, "-key", tls.key});
        if (!servers.back()->waitForStarted()) {
            std::fprintf(stderr, "bench_mailtls: openssl s_server does not start\n");
            return 2;
        }
    }
    QTest::qWait(1000);
    std::vector<std::unique_ptr<QProcess>> checks;
    for (const quint16 port : ports) {
        checks.push_back(std::make_unique<QProcess>());
        checks.back()->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        checks.back()->start(QCoreApplication::applicationFilePath(),
                             {QStringLiteral("--silent"), QString::number(port), QString::number(timeOut)});
    }
    std::vector<double> percents;
    double seconds = 0;
    const bool failed = !gatherWaits(checks, timeOut, percents, seconds);
    for (const auto &server : servers) {
        server->kill();
        server->waitForFinished(5000);
    }
    if (failed) {
        std::fprintf(stderr, "bench_mailtls: a silent check failed\n");
        return 1;
    }
    const double percent = percents[percents.size() / 2];
    std::printf("bench:mail check over TLS waiting %.0f s on a silent server (%% of one core)\t%.3f\t%.3f-%.3f\t< "
                "2\t%s\n",
                seconds, percent, percents.front(), percents.back(), percent < 2.0 ? "met" : "not met");
    return 0;
}
