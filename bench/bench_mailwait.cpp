// Processor time of a mail check that waits on a server which accepts the connection and
// then stays silent until the check's time-out ends it. The wait must sleep in the event
// loop, not poll: the goal is below 2% of one core. A polling wait of the kind the check
// must not use is measured for one second as the reference. Five checks wait at the same
// time, each in a process of its own (they sleep, so they do not disturb each other).
//
// Usage: bench_mailwait [time-out in ms, default 30000]
//        bench_mailwait --once TIME-OUT   (internal) one check; prints its % and seconds

#include "bench/WaitTiming.h"
#include "mail/Pop3Client.h"
#include "platform/Exception.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

namespace {

// One check against a silent server of its own; prints "percent seconds" on stdout.
int waitOnce(int timeOut)
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0)) {
        std::fprintf(stderr, "cannot listen: %s\n", qPrintable(server.errorString()));
        return 2;
    }
    QList<QTcpSocket *> silent; // accepted and never answered
    QObject::connect(&server, &QTcpServer::newConnection, [&] { silent << server.nextPendingConnection(); });

    TPop3Client client;
    client.Host = QStringLiteral("127.0.0.1");
    client.Port = server.serverPort();
    client.TimeOut = timeOut;
    client.UserID = QStringLiteral("alice");
    client.Password = QStringLiteral("secret");

    return reportWait(
        "bench_mailwait", timeOut,
        [&client] {
            try {
                client.Connect();
            } catch (const Exception &e) {
                return e.message();
            }
            return QString();
        },
        [](const QString &failure) { return !failure.isEmpty(); });
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--once")
        return waitOnce(QByteArray(argv[2]).toInt());
    const int timeOut = argc > 1 ? QByteArray(argv[1]).toInt() : 30000;
    constexpr double goalPercent = 2.0;
    constexpr int kRuns = 5;

    // Reference: one second of serving the queue without sleeping between turns.
    double referencePercent = 0;
    {
        QElapsedTimer wall;
        const double start = processSeconds();
        wall.start();
        while (wall.elapsed() < 1000)
            QCoreApplication::processEvents();
        referencePercent = 100.0 * (processSeconds() - start) / (double(wall.nsecsElapsed()) / 1e9);
    }

    std::vector<std::unique_ptr<QProcess>> checks;
    for (int run = 0; run < kRuns; ++run) {
        checks.push_back(std::make_unique<QProcess>());
        checks.back()->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        checks.back()->start(QCoreApplication::applicationFilePath(),
                             {QStringLiteral("--once"), QString::number(timeOut)});
    }
    std::vector<double> percents;
    double seconds = 0;
    if (!gatherWaits(checks, timeOut, percents, seconds)) {
        std::fprintf(stderr, "bench_mailwait: a check failed\n");
        return 1;
    }
    const double percent = percents[percents.size() / 2];
    std::printf("bench:mail check waiting %.0f s on a silent server (%% of one core)\t%.3f (a polling wait: %.1f)\t"
                "%.3f-%.3f\t< %.0f\t%s\n",
                seconds, percent, referencePercent, percents.front(), percents.back(), goalPercent,
                percent < goalPercent ? "met" : "not met");
    return 0;
}
