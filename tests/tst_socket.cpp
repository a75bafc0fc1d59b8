#include "mail/BlockingSocket.h"
#include "mail/HostLookup.h"
#include "mail/NotifyWindow.h"
#include "mail/SocketErrors.h"
#include "mail/ThreadTimer.h"
#include "platform/ErrorReport.h"
#include "platform/Exception.h"
#include "tests/MailFixture.h"

#include <QElapsedTimer>
#include <QSemaphore>
#include <QtTest>

#include <cerrno>
#include <limits>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// A listener on 127.0.0.1 whose queue of one connection is taken, so that the next
// connect attempt stays pending: the kernel drops its handshake.
class FullListener
{
public:
    FullListener()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address);
        ::listen(m_listener, 0);
        socklen_t length = sizeof address;
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length);
        port = ntohs(address.sin_port);
        m_filler = ::socket(AF_INET, SOCK_STREAM, 0);
        ::connect(m_filler, reinterpret_cast<sockaddr *>(&address), sizeof address);
    }
    ~FullListener()
    {
        ::close(m_filler);
        ::close(m_listener);
    }
    FullListener(const FullListener &) = delete;
    FullListener &operator=(const FullListener &) = delete;

    quint16 port = 0;

private:
    int m_listener = -1;
    int m_filler = -1;
};
// A resolver that answers (127.0.0.1) only when the test lets it, so that a lookup
// stays pending for as long as the test needs.
QSemaphore g_resolverGate;
int gatedResolver(const QString &, quint32 &address)
{
    g_resolverGate.acquire();
    address = 0x7F000001;
    return 0;
}
} // namespace

class TestSocket : public QObject
{
    Q_OBJECT

private:
    static void aimAt(TBlockingSocket &socket, quint16 port, int timeOut)
    {
        socket.TimeOut = timeOut;
        socket.Host = QStringLiteral("127.0.0.1");
        socket.Port = port;
    }

    static void connectTo(TBlockingSocket &socket, const ScriptedPeer &peer)
    {
        socket.Host = QStringLiteral("127.0.0.1");
        socket.Port = peer.port();
        socket.Connect();
    }

    // A socket whose connect attempt stays pending at a full listener, counting the
    // attempts that failed.
    struct PendingConnect
    {
        explicit PendingConnect(int timeOut)
        {
            aimAt(socket, listener.port, timeOut);
            socket.OnConnectionFailed = [this](QObject *) { ++failed; };
        }
        FullListener listener;
        TBlockingSocket socket;
        int failed = 0;
    };

private slots:
    void errorText_data();
    void errorText();
    void lookUpErrorMessageReportsPrefix();
    void systemErrorNumbers_data();
    void systemErrorNumbers();

    void timerNeedsIntervalAndHandler();
    void timerEnablePeriod_data();
    void timerEnablePeriod();
    void timerExceptionIsReportedAndTimerGoesOn();

    void startUpInfoAndUserCount();
    void firstSocketLingersZeroReplacementDoesNot();
    void notifyWindowDispatchesFrom1125();

    void dottedHostNeedsNoLookup_data();
    void dottedHostNeedsNoLookup();
    void blankBeforeAddress_data();
    void blankBeforeAddress();
    void lookupEnding_data();
    void lookupEnding();
    void lookupAnswer_data();
    void lookupAnswer();
    void socketGoneDuringLookup_data();
    void socketGoneDuringLookup();
    void unresolvableNameGivesNullRemoteAddress();
    void invalidHostHandlerAskedOnce();
    void refusedPortGivesConnectionFailed();
    void connectAfterARefusal();
    void pendingConnectTimesOut();
    void pendingConnectCanceled();
    void startUpFailure();
    void alreadyConnected();
    void disconnectGivesFreshSocket();

    void readLnTwoLinesInOneSegment();
    void readLnLineInPieces();
    void readLnPeerClosedNothingLeft();
    void readLnPeerClosesMidLine();
    void readLnKeepsZeroBytes();
    void readLnSilentServerTimesOut();
    void readLnTimeOutZeroNeverTimesOut();
    void readLnLineTooLong();
    void readLnNoLineEndTimesOut();
    void readLnEndsWhenDisconnectedByHandler();
    void sendThatCannotProgressTimesOut();
    void writeStopsAtZero();
    void sendWithoutConnectionIsNotConnected();
    void lookupTimerIsOffForHostResolved();
    void transactionReplyCode_data();
    void transactionReplyCode();
    void reportLevels();
    void readableAndPeerCloseWhileIdle();
};

void TestSocket::errorText_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("text");
    QTest::newRow("refused") << 10061 << "10061:Connection refused";
    QTest::newRow("would block") << 10035 << "10035:Operation would block";
    QTest::newRow("no route") << 10065 << "10065:No route to Host";
    QTest::newRow("lookup") << 11004 << "11004:Valid name, no data record of requested type";
    QTest::newRow("first") << 10004 << "10004:Interrupted system call";
    QTest::newRow("startup") << 10093 << "10093:Successful WSAStartup not yet performed";
    QTest::newRow("zero") << 0 << "";
    QTest::newRow("missing") << 10000 << "Unknown Error No. 10000";
    QTest::newRow("between") << 10090 << "Unknown Error No. 10090";
    QTest::newRow("beyond") << 12345 << "Unknown Error No. 12345";
}

void TestSocket::errorText()
{
    QFETCH(int, number);
    QFETCH(QString, text);
    TBlockingSocket socket;
    QString message = QStringLiteral("ignored");
    socket.LookUpErrorMessage(quint16(number), message);
    QCOMPARE(message, text);
}

void TestSocket::lookUpErrorMessageReportsPrefix()
{
    TBlockingSocket socket;
    socket.ReportLevel = 8;
    QStringList statuses;
    socket.OnStatus = [&](QObject *, const QString &status) { statuses << status; };
    QString message = QStringLiteral(" before");
    socket.LookUpErrorMessage(10061, message);
    QCOMPARE(statuses, QStringList{QStringLiteral("Looking Up Error Message before")});
}

void TestSocket::systemErrorNumbers_data()
{
    QTest::addColumn<int>("systemError");
    QTest::addColumn<int>("number");
    QTest::newRow("would block") << EWOULDBLOCK << 10035;
    QTest::newRow("already") << EALREADY << 10037;
    QTest::newRow("refused") << ECONNREFUSED << 10061;
    QTest::newRow("reset") << ECONNRESET << 10054;
    QTest::newRow("timed out") << ETIMEDOUT << 10060;
    QTest::newRow("host unreachable") << EHOSTUNREACH << 10065;
    QTest::newRow("net unreachable") << ENETUNREACH << 10051;
    QTest::newRow("in use") << EADDRINUSE << 10048;
    QTest::newRow("not connected") << ENOTCONN << 10057;
    QTest::newRow("is connected") << EISCONN << 10056;
    QTest::newRow("bad file") << EBADF << 10009;
    QTest::newRow("none") << 0 << 0;
}

void TestSocket::systemErrorNumbers()
{
    QFETCH(int, systemError);
    QFETCH(int, number);
    QCOMPARE(winsockError(systemError), number);
}

void TestSocket::timerNeedsIntervalAndHandler()
{
    TThreadTimer timer;
    QVERIFY(timer.Enabled());
    QCOMPARE(timer.Interval(), 1000u);
    QVERIFY2(!timer.isArmed(), "the constructor sets no timer");
    timer.setInterval(50);
    QVERIFY2(!timer.isArmed(), "no handler, no timer");
    int fired = 0;
    timer.setOnTimer([&](QObject *sender) {
        QCOMPARE(sender, &timer);
        ++fired;
    });
    QVERIFY(timer.isArmed());
    timer.setInterval(0);
    QVERIFY2(!timer.isArmed(), "interval 0, no timer");
    timer.setInterval(20);
    QTRY_VERIFY(fired >= 2);
    timer.setOnTimer({});
    QVERIFY(!timer.isArmed());
}

void TestSocket::timerEnablePeriod_data()
{
    // A 400 ms timer is enabled, and 250 ms later enabled again, with or without being
    // disabled in between; the first firing shows whether the period started anew.
    QTest::addColumn<bool>("disableFirst");
    QTest::addColumn<qint64>("notBefore");
    QTest::addColumn<qint64>("before");
    QTest::newRow("enabled twice arms once: the running period goes on") << false << qint64(0) << qint64(600);
    QTest::newRow("disable and enable: a full period from there")
        << true << qint64(250 + 370) << std::numeric_limits<qint64>::max();
}

void TestSocket::timerEnablePeriod()
{
    QFETCH(bool, disableFirst);
    QFETCH(qint64, notBefore);
    QFETCH(qint64, before);
    TThreadTimer timer;
    timer.setEnabled(false);
    timer.setInterval(400);
    QElapsedTimer clock;
    qint64 firedAt = -1;
    timer.setOnTimer([&](QObject *) {
        if (firedAt < 0)
            firedAt = clock.elapsed();
    });
    clock.start();
    timer.setEnabled(true);
    QTest::qWait(250);
    if (disableFirst)
        timer.setEnabled(false);
    timer.setEnabled(true);
    QTRY_VERIFY_WITH_TIMEOUT(firedAt >= 0, 2000);
    QVERIFY2(firedAt >= notBefore, qPrintable(QStringLiteral("fired after %1 ms").arg(firedAt)));
    QVERIFY2(firedAt < before, qPrintable(QStringLiteral("fired after %1 ms").arg(firedAt)));
}

void TestSocket::timerExceptionIsReportedAndTimerGoesOn()
{
    QStringList reports;
    setErrorSink([&](const QString &text) { reports << text; });
    {
        TThreadTimer timer;
        timer.setInterval(10);
        timer.setOnTimer([](QObject *) { throw Exception(QStringLiteral("handler failed")); });
        QTRY_VERIFY(reports.size() >= 3);
        QVERIFY(timer.isArmed());
    }
    setErrorSink({});
    QCOMPARE(reports.first(), QStringLiteral("handler failed"));
}

void TestSocket::startUpInfoAndUserCount()
{
    const int before = TBlockingSocket::WinsockUsers();
    {
        TBlockingSocket first;
        TBlockingSocket second;
        QCOMPARE(TBlockingSocket::WinsockUsers(), before + 2);
        const TBlockingSocket &starter = before == 0 ? first : second;
        if (before == 0) {
            const QStringList info = starter.WinsockInfo();
            QCOMPARE(info.size(), 6);
            const char *prefixes[]
                = {"Version= ", "High Version= ", "Description= ", "System= ", "Max Sockets= ", "Max Udp pack size= "};
            for (int i = 0; i < 6; ++i)
                QVERIFY2(info.at(i).startsWith(QLatin1String(prefixes[i])), qPrintable(info.at(i)));
            QVERIFY(second.WinsockInfo().isEmpty());
        }
        QVERIFY(first.NotifyWindow() != second.NotifyWindow());
        QVERIFY(first.TimeoutTimer() != second.TimeoutTimer());
        QVERIFY(first.SocketHandle() != TBlockingSocket::kNoSocket);
        QVERIFY(!first.Connected());
    }
    QCOMPARE(TBlockingSocket::WinsockUsers(), before);
}

void TestSocket::firstSocketLingersZeroReplacementDoesNot()
{
    TBlockingSocket socket;
    linger option{};
    socklen_t length = sizeof option;
    QCOMPARE(::getsockopt(socket.SocketHandle(), SOL_SOCKET, SO_LINGER, &option, &length), 0);
    QCOMPARE(option.l_onoff, 1);
    QCOMPARE(option.l_linger, 0);
    int disconnects = 0;
    socket.OnDisconnect = [&](QObject *) { ++disconnects; };
    socket.Disconnect();
    QCOMPARE(disconnects, 1);
    option = {};
    QCOMPARE(::getsockopt(socket.SocketHandle(), SOL_SOCKET, SO_LINGER, &option, &length), 0);
    QCOMPARE(option.l_onoff, 0);
}

void TestSocket::notifyWindowDispatchesFrom1125()
{
    // The connect notification reaches the component through its notification object;
    // a message of a socket that was replaced meanwhile, or one below 1125, changes nothing.
    ScriptedPeer peer(greetingSequence());
    TBlockingSocket socket;
    connectTo(socket, peer);
    QVERIFY(socket.Connected());
    socket.NotifyWindow()->post(kSocketEventMessage, 0, 32 | (10054u << 16));
    socket.NotifyWindow()->post(1124, 0, 0);
    QCoreApplication::processEvents();
    QVERIFY(socket.Connected());
    QVERIFY(socket.EventOk());

    // On its own the object hands its handler the messages from 1125 on, in their order
    // and with their parameters; without a handler it drops them.
    QList<QList<quint64>> handed;
    TSocketNotifyWindow window([&](quint32 message, quint64 wParam, quint32 lParam) {
        handed << QList<quint64>{message, wParam, lParam};
    });
    window.post(1124, 1, 2);
    window.post(kSocketEventMessage, 3, 16);
    window.post(kHostLookupMessage, 4, 11001u << 16);
    TSocketNotifyWindow unowned({});
    unowned.post(kSocketEventMessage, 0, 16);
    QCoreApplication::processEvents();
    QCOMPARE(handed, (QList<QList<quint64>>{{1125, 3, 16}, {1126, 4, 11001u << 16}}));
}

void TestSocket::dottedHostNeedsNoLookup_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<quint32>("address");
    QTest::addColumn<bool>("lookedUp");
    QTest::newRow("test net") << "192.0.2.1" << quint32(0xC0000201) << false;
    QTest::newRow("loopback") << "127.0.0.1" << quint32(0x7F000001) << false;
    QTest::newRow("all bits set") << "255.255.255.255" << quint32(0xFFFFFFFF) << true;
    QTest::newRow("name") << "localhost" << quint32(0x7F000001) << true;
}

void TestSocket::dottedHostNeedsNoLookup()
{
    QFETCH(QString, host);
    QFETCH(quint32, address);
    QFETCH(bool, lookedUp);
    TBlockingSocket socket;
    socket.TimeOut = 10000;
    socket.ReportLevel = 8;
    QStringList statuses;
    socket.OnStatus = [&](QObject *, const QString &status) { statuses << status; };
    int resolved = 0;
    socket.OnHostResolved = [&](QObject *) { ++resolved; };
    socket.Host = host;
    socket.ResolveHost();
    QCOMPARE(socket.RemoteAddress(), address);
    QCOMPARE(resolved, lookedUp ? 1 : 0);
    QCOMPARE(statuses.contains(QStringLiteral("Timer On")), lookedUp);
}

// Blanks around an address are the same address, of either family.
void TestSocket::blankBeforeAddress_data()
{
    QTest::addColumn<QString>("host");
    QTest::newRow("IPv4") << " 127.0.0.1";
    QTest::newRow("IPv6") << " ::1";
    QTest::newRow("IPv6 in blanks") << " ::1 ";
}

void TestSocket::blankBeforeAddress()
{
    QFETCH(QString, host);
    ScriptedPeer peer({}, QHostAddress::Any);
    TBlockingSocket socket;
    socket.TimeOut = 5000;
    socket.Host = host;
    socket.Port = peer.port();
    QCOMPARE(failureOf([&] { socket.Connect(); }), QString());
    QVERIFY(socket.Connected());
    QTRY_COMPARE(peer.connections, 1);
}

void TestSocket::lookupEnding_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<int>("asked");
    QTest::newRow("name not found: the invalid-host handler is asked")
        << false << QStringLiteral("Null Remote Address") << 1;
    QTest::newRow("lookup cancelled: the connect ends at once") << true << QStringLiteral("Host Lookup Canceled") << 0;
}

void TestSocket::lookupEnding()
{
    QFETCH(bool, cancel);
    QFETCH(QString, failure);
    QFETCH(int, asked);
    TBlockingSocket socket;
    socket.TimeOut = 10000;
    socket.Host = QStringLiteral("no-such-host.invalid");
    socket.Port = 110;
    socket.ReportLevel = 8;
    socket.OnStatus = [&](QObject *, const QString &status) {
        if (cancel && status == QLatin1String("Resolve Host"))
            socket.Cancel();
    };
    int handlerAsked = 0;
    socket.OnInvalidHost = [&](QObject *, bool &) { ++handlerAsked; };
    QCOMPARE(failureOf([&] { socket.Connect(); }), failure);
    QCOMPARE(handlerAsked, asked);
    // The given-up lookup still answers (the name is not found).
    QTRY_VERIFY(!socket.EventOk());
}

// What the resolver answers for names that are no plain dotted address.
void TestSocket::lookupAnswer_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("error");
    QTest::addColumn<quint32>("address");
    QTest::newRow("name") << "localhost" << 0 << quint32(0x7F000001);
    QTest::newRow("address in blanks") << " 127.0.0.1 " << 0 << quint32(0x7F000001);
    QTest::newRow("IPv6 with scope") << "fe80::1%lo" << 11004 << quint32(0);
    QTest::newRow("empty") << "" << 11001 << quint32(0);
    QTest::newRow("not a host name") << "a b" << 11001 << quint32(0);
}

void TestSocket::lookupAnswer()
{
    QFETCH(QString, name);
    QFETCH(int, error);
    QFETCH(quint32, address);
    quint32 found = 1;
    QCOMPARE(lookUpIpv4(name, found), error);
    QCOMPARE(found, address);
}

// A socket may go while its lookup still runs, or while the answer waits in the queue:
// nothing reaches the socket afterwards, and nothing is left behind (the sanitizer build
// checks both).
void TestSocket::socketGoneDuringLookup_data()
{
    QTest::addColumn<bool>("answered");
    QTest::newRow("lookup running") << false;
    QTest::newRow("answer queued") << true;
}

void TestSocket::socketGoneDuringLookup()
{
    QFETCH(bool, answered);
    setHostResolverForTesting(gatedResolver);
    const auto restore = qScopeGuard([] { setHostResolverForTesting(nullptr); });
    auto socket = std::make_unique<TBlockingSocket>();
    socket->TimeOut = 10000;
    socket->Host = QStringLiteral("pop.example.net");
    socket->ReportLevel = 8;
    socket->OnStatus = [&](QObject *, const QString &status) {
        if (status == QLatin1String("Resolve Host"))
            socket->Cancel();
    };
    QCOMPARE(failureOf([&] { socket->ResolveHost(); }), QStringLiteral("Host Lookup Canceled"));
    QCOMPARE(runningHostLookups(), 1);
    if (answered) {
        g_resolverGate.release();
        QTRY_COMPARE(runningHostLookups(), 0);
    }
    socket.reset();
    if (!answered)
        g_resolverGate.release();
    QTRY_COMPARE(runningHostLookups(), 0);
    QCoreApplication::processEvents();
}

void TestSocket::unresolvableNameGivesNullRemoteAddress()
{
    TBlockingSocket socket;
    socket.TimeOut = 10000;
    socket.Host = QStringLiteral("no-such-host.invalid");
    socket.Port = 110;
    QCOMPARE(failureOf([&] { socket.Connect(); }), QStringLiteral("Null Remote Address"));
    socket.Host.clear();
    QCOMPARE(failureOf([&] { socket.Connect(); }), QStringLiteral("Null Remote Address"));
}

void TestSocket::invalidHostHandlerAskedOnce()
{
    ScriptedPeer peer(greetingSequence());
    TBlockingSocket socket;
    socket.TimeOut = 10000;
    socket.Port = peer.port();
    int asked = 0;
    socket.OnInvalidHost = [&](QObject *, bool &handled) {
        ++asked;
        socket.Host = QStringLiteral("127.0.0.1");
        handled = true;
    };
    socket.Host = QStringLiteral("no-such-host.invalid");
    socket.Connect();
    QCOMPARE(asked, 1);
    QVERIFY(socket.Connected());

    TBlockingSocket other;
    other.TimeOut = 10000;
    asked = 0;
    other.OnInvalidHost = [&](QObject *, bool &handled) {
        ++asked;
        other.Host = QStringLiteral("still-no-such-host.invalid");
        handled = true;
    };
    other.Host = QStringLiteral("no-such-host.invalid");
    QCOMPARE(failureOf([&] { other.Connect(); }), QStringLiteral("Null Remote Address"));
    QCOMPARE(asked, 1);

    asked = 0;
    other.OnInvalidHost = [&](QObject *, bool &) { ++asked; };
    QCOMPARE(failureOf([&] { other.Connect(); }), QStringLiteral("Null Remote Address"));
    QCOMPARE(asked, 1);
}

void TestSocket::refusedPortGivesConnectionFailed()
{
    const quint16 port = closedPort();
    QVERIFY(port != 0);
    TBlockingSocket socket;
    aimAt(socket, port, 5000);
    int failed = 0;
    socket.OnConnectionFailed = [&](QObject *) { ++failed; };
    QCOMPARE(failureOf([&] { socket.Connect(); }), QStringLiteral("Connection Failed"));
    QCOMPARE(failed, 1);
    // The refusal arrives as a notification; LastError keeps the would-block of the call.
    QCOMPARE(socket.LastError(), 10035);
    QVERIFY(!socket.Connected());
}

void TestSocket::connectAfterARefusal()
{
    const quint16 closed = closedPort();
    QVERIFY(closed != 0);
    TBlockingSocket socket;
    aimAt(socket, closed, 5000);
    QCOMPARE(failureOf([&] { socket.Connect(); }), QStringLiteral("Connection Failed"));
    // The next attempt, to a server that listens, connects.
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    socket.Port = server.serverPort();
    QCOMPARE(failureOf([&] { socket.Connect(); }), QString());
    QVERIFY(socket.Connected());
    QTRY_VERIFY(server.hasPendingConnections());
}

void TestSocket::pendingConnectTimesOut()
{
    PendingConnect pending(300);
    TBlockingSocket &socket = pending.socket;
    QCOMPARE(failureOf([&] { socket.Connect(); }), QStringLiteral("Connection Timed out"));
    QCOMPARE(pending.failed, 1);
    QVERIFY(socket.TimedOut());
    // The attempt was not withdrawn: a second one finds it still pending.
    QCOMPARE(failureOf([&] { socket.Connect(); }), QStringLiteral("10037:Operation already in progress"));
    QCOMPARE(pending.failed, 1);
    QCOMPARE(socket.LastError(), 10037);
}

void TestSocket::pendingConnectCanceled()
{
    PendingConnect pending(0);
    TBlockingSocket &socket = pending.socket;
    QTimer::singleShot(100, [&] { socket.Cancel(); });
    QCOMPARE(failureOf([&] { socket.Connect(); }), QStringLiteral("Connection Canceled"));
    QCOMPARE(pending.failed, 1);
    QVERIFY(socket.Canceled());
}

void TestSocket::startUpFailure()
{
    // With no descriptor left for the process, the first socket cannot be made.
    rlimit saved{};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int before = TBlockingSocket::WinsockUsers();
    rlimit tight = saved;
    tight.rlim_cur = 0;
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    QString failure;
    try {
        TBlockingSocket socket;
    } catch (const ESockError &e) {
        failure = e.message();
    }
    ::setrlimit(RLIMIT_NOFILE, &saved);
    QCOMPARE(failure, QStringLiteral("Initializaton of windows sockets failed"));
    QCOMPARE(TBlockingSocket::WinsockUsers(), before);
}

void TestSocket::alreadyConnected()
{
    ScriptedPeer peer;
    TBlockingSocket socket;
    connectTo(socket, peer);
    QCOMPARE(failureOf([&] { socket.Connect(); }), QStringLiteral("Already connected"));
}

void TestSocket::disconnectGivesFreshSocket()
{
    ScriptedPeer first(S("one"));
    ScriptedPeer second(S("two"));
    TBlockingSocket socket;
    socket.TimeOut = 5000;
    int connects = 0;
    socket.OnConnect = [&](QObject *) { ++connects; };
    connectTo(socket, first);
    QCOMPARE(socket.ReadLn(), QStringLiteral("one\r\n"));
    socket.Disconnect();
    QVERIFY(!socket.Connected());
    QTRY_VERIFY(first.clientClosed);
    connectTo(socket, second);
    QCOMPARE(socket.ReadLn(), QStringLiteral("two\r\n"));
    QCOMPARE(connects, 2);
}

void TestSocket::readLnTwoLinesInOneSegment()
{
    ScriptedPeer peer(raw("+OK first\r\n+OK second\r\n"));
    TBlockingSocket socket;
    socket.TimeOut = 5000;
    connectTo(socket, peer);
    QCOMPARE(socket.ReadLn(), QStringLiteral("+OK first\r\n"));
    QVERIFY2(socket.DataAvailable(), "the second line stays in the socket");
    QCOMPARE(socket.ReadLn(), QStringLiteral("+OK second\r\n"));
}

void TestSocket::readLnLineInPieces()
{
    ScriptedPeer peer(raw("+O") + pauseFor(50) + raw("K in ") + pauseFor(50) + raw("pieces\r") + pauseFor(50)
                      + raw("\nrest"));
    TBlockingSocket socket;
    socket.TimeOut = 5000;
    connectTo(socket, peer);
    QCOMPARE(socket.ReadLn(), QStringLiteral("+OK in pieces\r\n"));
    QTRY_VERIFY(peer.finished());
    QTRY_VERIFY(socket.DataAvailable());
    char rest[8] = {};
    QCOMPARE(::recv(socket.SocketHandle(), rest, sizeof rest, MSG_DONTWAIT), ssize_t(4));
    QCOMPARE(QByteArray(rest), QByteArray("rest"));
}

void TestSocket::sendWithoutConnectionIsNotConnected()
{
    // Linux answers EPIPE here, which for a connection means a reset.
    TBlockingSocket socket;
    QCOMPARE(failureOf([&] { socket.Writeln(QStringLiteral("STAT")); }),
             QStringLiteral("10057:Socket is not connected"));
    QCOMPARE(socket.LastError(), 10057);
}

void TestSocket::lookupTimerIsOffForHostResolved()
{
    ScriptedPeer peer(S("+OK"));
    TBlockingSocket socket;
    socket.TimeOut = 5000;
    socket.Host = QStringLiteral("localhost");
    socket.Port = peer.port();
    int resolved = 0;
    bool timerOn = true;
    socket.OnHostResolved = [&](QObject *) {
        ++resolved;
        timerOn = socket.TimeoutTimer()->Enabled();
    };
    socket.Connect();
    QCOMPARE(resolved, 1);
    QVERIFY(!timerOn);
}

void TestSocket::readLnPeerClosedNothingLeft()
{
    ScriptedPeer peer(S("+OK last") + closeConnection());
    TBlockingSocket socket;
    socket.TimeOut = 5000;
    connectTo(socket, peer);
    QCOMPARE(socket.ReadLn(), QStringLiteral("+OK last\r\n"));
    QCOMPARE(socket.ReadLn(), QString());
    QTRY_VERIFY(!socket.Connected());
    QCOMPARE(socket.ReadLn(), QString());
}

void TestSocket::readLnPeerClosesMidLine()
{
    ScriptedPeer peer(raw("+OK no end") + closeConnection());
    TBlockingSocket socket;
    socket.TimeOut = 5000;
    connectTo(socket, peer);
    QCOMPARE(failureOf([&] { socket.ReadLn(); }), QStringLiteral("Connection closed in the middle of a line"));
}

void TestSocket::readLnKeepsZeroBytes()
{
    ScriptedPeer peer(raw(QByteArray("+OK a\0b\r\n", 9)));
    TBlockingSocket socket;
    socket.TimeOut = 5000;
    connectTo(socket, peer);
    QCOMPARE(socket.ReadLn(), QString::fromLatin1(QByteArray("+OK a\0b\r\n", 9)));
}

void TestSocket::readLnSilentServerTimesOut()
{
    ScriptedPeer peer;
    TBlockingSocket socket;
    socket.TimeOut = 200;
    connectTo(socket, peer);
    QElapsedTimer clock;
    clock.start();
    bool wasAbort = false;
    QCOMPARE(failureOf([&] { socket.ReadLn(); }, &wasAbort), QStringLiteral("Socket readln aborted"));
    QVERIFY(wasAbort);
    QVERIFY(socket.TimedOut());
    QVERIFY2(!socket.Canceled(), "the failing read clears the cancel");
    QVERIFY(clock.elapsed() >= 150);
    QVERIFY(clock.elapsed() < 3000);
}

void TestSocket::readLnTimeOutZeroNeverTimesOut()
{
    ScriptedPeer peer(pauseFor(600) + S("+OK late"));
    TBlockingSocket socket;
    socket.TimeOut = 0;
    connectTo(socket, peer);
    bool armed = true;
    QTimer::singleShot(300, [&] { armed = socket.TimeoutTimer()->isArmed(); });
    QCOMPARE(socket.ReadLn(), QStringLiteral("+OK late\r\n"));
    QVERIFY2(!armed, "no time-out timer runs with TimeOut 0");
}

void TestSocket::readLnLineTooLong()
{
    ScriptedPeer peer(raw(QByteArray(70000, 'A')) + S(""));
    TBlockingSocket socket;
    socket.TimeOut = 5000;
    connectTo(socket, peer);
    QVERIFY(failureOf([&] { socket.ReadLn(); }).startsWith(QLatin1String("Reply line too long")));
}

void TestSocket::readLnNoLineEndTimesOut()
{
    ScriptedPeer peer(raw("+OK but never ending"));
    TBlockingSocket socket;
    socket.TimeOut = 300;
    connectTo(socket, peer);
    QCOMPARE(failureOf([&] { socket.ReadLn(); }), QStringLiteral("Socket readln aborted"));
}

void TestSocket::readLnEndsWhenDisconnectedByHandler()
{
    ScriptedPeer peer(pauseFor(400) + S("+OK too late"));
    ScriptedPeer other(S("+OK from another server"));
    TBlockingSocket socket;
    socket.TimeOut = 5000;
    connectTo(socket, peer);
    QTimer::singleShot(100, [&] {
        socket.Disconnect();
        connectTo(socket, other);
    });
    bool wasAbort = false;
    QCOMPARE(failureOf([&] { socket.ReadLn(); }, &wasAbort), QStringLiteral("Socket readln aborted"));
    QVERIFY(wasAbort);
}

void TestSocket::sendThatCannotProgressTimesOut()
{
    // A peer that never reads: the kernel's buffers fill and the send must end by the
    // time-out instead of spinning.
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    server.pauseAccepting();
    TBlockingSocket socket;
    aimAt(socket, server.serverPort(), 300);
    socket.Connect();
    const QString block(60000, QLatin1Char('x'));
    QElapsedTimer clock;
    clock.start();
    bool wasAbort = false;
    QString failure;
    for (int i = 0; i < 2000 && failure.isEmpty(); ++i)
        failure = failureOf([&] { socket.Write(block); }, &wasAbort);
    QCOMPARE(failure, QStringLiteral("Socket send aborted"));
    QVERIFY(wasAbort);
    QVERIFY(clock.elapsed() < 20000);
}

void TestSocket::writeStopsAtZero()
{
    ScriptedPeer peer(C("HELLO") + C("AFTER"));
    TBlockingSocket socket;
    socket.TimeOut = 5000;
    connectTo(socket, peer);
    socket.Write(QString::fromLatin1("HELLO\r\n\0IGNORED", 15));
    socket.Writeln(QStringLiteral("AFTER"));
    QTRY_VERIFY(peer.finished());
    QVERIFY2(peer.mismatches.isEmpty(), qPrintable(peer.mismatches.join(u'\n')));
    QCOMPARE(peer.received, (QStringList{"HELLO", "AFTER"}));
}

void TestSocket::transactionReplyCode_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("code");
    QTest::newRow("smtp style") << QByteArray("250 fine") << 250;
    QTest::newRow("pop3") << QByteArray("+OK 3 1200") << 0;
    QTest::newRow("digits only") << QByteArray("42") << 42;
    QTest::newRow("too large") << QByteArray("99999999999 x") << 0;
}

void TestSocket::transactionReplyCode()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, code);
    ScriptedPeer peer(C("NOOP") + S(reply));
    TBlockingSocket socket;
    socket.TimeOut = 5000;
    socket.ReportLevel = 1;
    QStringList statuses;
    socket.OnStatus = [&](QObject *, const QString &status) { statuses << status; };
    connectTo(socket, peer);
    const QString line = socket.Transaction(QStringLiteral("NOOP"));
    QCOMPARE(line, QString::fromLatin1(reply + "\r\n"));
    QCOMPARE(socket.LastReply(), line);
    QCOMPARE(int(socket.ReplyCode()), code);
    QCOMPARE(statuses, QStringList{line});
    QVERIFY(peer.mismatches.isEmpty());
}

void TestSocket::reportLevels()
{
    ScriptedPeer peer(C("NOOP") + S("+OK") + C("NOOP") + S("+OK"));
    TBlockingSocket socket;
    socket.TimeOut = 5000;
    QStringList statuses;
    socket.OnStatus = [&](QObject *, const QString &status) { statuses << status; };
    connectTo(socket, peer);
    socket.ReportLevel = 4;
    socket.Transaction(QStringLiteral("NOOP"));
    QCOMPARE(statuses, (QStringList{QStringLiteral("Sending Buffer"), QStringLiteral("+OK\r\n")}));
    statuses.clear();
    socket.ReportLevel = 3;
    socket.Transaction(QStringLiteral("NOOP"));
    QCOMPARE(statuses, QStringList{QStringLiteral("+OK\r\n")});
    QCOMPARE(socket.Status(), QStringLiteral("+OK\r\n"));
}

void TestSocket::readableAndPeerCloseWhileIdle()
{
    ScriptedPeer peer(pauseFor(50) + S("+OK unasked") + pauseFor(50) + closeConnection());
    TBlockingSocket socket;
    int readable = 0;
    int disconnects = 0;
    socket.OnReadable = [&](QObject *) { ++readable; };
    socket.OnDisconnect = [&](QObject *) { ++disconnects; };
    connectTo(socket, peer);
    QTRY_COMPARE(readable, 1);
    QVERIFY(socket.Connected());
    QCOMPARE(socket.ReadLn(), QStringLiteral("+OK unasked\r\n"));
    QTRY_VERIFY(!socket.Connected());
    QCOMPARE(disconnects, 1);
}

QTEST_GUILESS_MAIN(TestSocket)
#include "tst_socket.moc"
