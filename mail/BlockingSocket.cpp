#include "mail/BlockingSocket.h"

#include "mail/HostLookup.h"
#include "mail/NotifyWindow.h"
#include "mail/ThreadTimer.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QStringDecoder>
#include <QSysInfo>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <optional>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

// Last: the OpenSSL calls below go through the table of the library loaded at run time.
#include "mail/TlsCalls.h"

namespace {

int g_winsockUsers = 0;

// Socket event codes of the notification message (low 16 bits).
constexpr quint32 kEventRead = 1;
constexpr quint32 kEventAccept = 8;
constexpr quint32 kEventConnect = 16;
constexpr quint32 kEventClose = 32;

constexpr int kWouldBlock = 10035;
constexpr int kNotConnected = 10057;

// The tick that bounds each wait in the event loop. The flags that end a wait are set by
// handlers of events, and those events wake the loop themselves; the tick only keeps a
// wait from sleeping longer than this should a flag ever change without one.
constexpr int kWaitTickMs = 100;

// The errors of a connect attempt that an asynchronous socket reports through its
// connect notification rather than from the connect call itself.
bool isConnectOutcome(int systemError)
{
    switch (systemError) {
    case ECONNREFUSED:
    case ETIMEDOUT:
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ECONNRESET:
        return true;
    default:
        return false;
    }
}

quint32 withError(quint32 event, int error)
{
    return event | (quint32(quint16(error)) << 16);
}

// A reply line's text: UTF-8 when the bytes are valid UTF-8 (ASCII is), else Shift_JIS,
// which older Japanese servers send, else one character per byte.
QString decodeReply(const QByteArray &line)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(line);
    if (!utf8.hasError())
        return text;
    QStringDecoder shiftJis("Shift_JIS", QStringDecoder::Flag::Stateless);
    if (shiftJis.isValid()) {
        text = shiftJis(line);
        if (!shiftJis.hasError())
            return text;
    }
    return QString::fromLatin1(line);
}

// The TLS session reads and writes the socket through this BIO rather than OpenSSL's own
// socket BIO: its sends carry MSG_NOSIGNAL, so a peer that is gone gives an error and no
// SIGPIPE, and a socket that would block asks the session to retry after the next wait.
int tlsBioWrite(BIO *bio, const char *data, int length)
{
    BIO_clear_retry_flags(bio);
    const ssize_t sent
        = ::send(int(reinterpret_cast<intptr_t>(BIO_get_data(bio))), data, size_t(length), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        BIO_set_retry_write(bio);
    return int(sent);
}

int tlsBioRead(BIO *bio, char *data, int length)
{
    BIO_clear_retry_flags(bio);
    const ssize_t got = ::recv(int(reinterpret_cast<intptr_t>(BIO_get_data(bio))), data, size_t(length), MSG_DONTWAIT);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        BIO_set_retry_read(bio);
    return int(got);
}

long tlsBioControl(BIO *, int command, long, void *)
{
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

BIO_METHOD *tlsBioMethod()
{
    static BIO_METHOD *const method = [] {
        BIO_METHOD *made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "pantel socket");
        BIO_meth_set_write(made, tlsBioWrite);
        BIO_meth_set_read(made, tlsBioRead);
        BIO_meth_set_ctrl(made, tlsBioControl);
        return made;
    }();
    return method;
}

// The text of a TLS call's failure: the certificate check's own reason when that failed,
// else OpenSSL's reason, else the socket's error, else the close.
QString tlsFailureText(SSL *tls, int result)
{
    const int error = SSL_get_error(tls, result);
    const unsigned long queued = ERR_peek_error();
    const int systemError = errno;
    ERR_clear_error();
    if (ERR_GET_REASON(queued) == SSL_R_CERTIFICATE_VERIFY_FAILED)
        return QStringLiteral("TLS: certificate verify failed (%1)")
            .arg(QString::fromUtf8(X509_verify_cert_error_string(SSL_get_verify_result(tls))));
    if (queued != 0 && ERR_reason_error_string(queued))
        return QStringLiteral("TLS: ") + QString::fromUtf8(ERR_reason_error_string(queued));
    if (error == SSL_ERROR_SYSCALL && result < 0 && systemError != 0)
        return QStringLiteral("TLS: ") + socketErrorText(quint16(winsockError(systemError)));
    return QStringLiteral("TLS: connection closed by the server");
}

} // namespace

// Keeps the wait tick running while at least one wait serves the queue.
class TBlockingSocket::WaitTick
{
public:
    explicit WaitTick(TBlockingSocket *socket) : m_socket(socket)
    {
        if (m_socket->m_waits++ == 0)
            m_socket->m_waitTick->start();
    }
    ~WaitTick()
    {
        if (--m_socket->m_waits == 0)
            m_socket->m_waitTick->stop();
    }
    WaitTick(const WaitTick &) = delete;
    WaitTick &operator=(const WaitTick &) = delete;

private:
    TBlockingSocket *m_socket;
};

namespace {
// Disarms the time-out timer when a step ends, also when it raises.
class TimerStep
{
public:
    explicit TimerStep(TBlockingSocket *socket) : m_socket(socket) { m_socket->TimerOn(); }
    ~TimerStep() { m_socket->TimerOff(); }
    TimerStep(const TimerStep &) = delete;
    TimerStep &operator=(const TimerStep &) = delete;

private:
    TBlockingSocket *m_socket;
};
} // namespace

TBlockingSocket::TBlockingSocket(QObject *owner) : QObject(owner)
{
    ReportStatus(8, QStringLiteral("Create"));
    m_notifyWindow = std::make_unique<TSocketNotifyWindow>(
        [this](quint32 message, quint64 wParam, quint32 lParam) { HandleSocketMessage(message, wParam, lParam); });
    m_lookupShare = std::make_shared<THostLookupShare>();
    m_lookupShare->window = m_notifyWindow.get();
    ProxyHost.clear();
    m_lineBuffer = QByteArray(kLineSize + 1, '\0');
    m_timeoutTimer = new TThreadTimer(this);
    m_timeoutTimer->setEnabled(false);
    m_timeoutTimer->setOnTimer([this](QObject *) { TimeoutHandler(); });
    m_waitTick = new QTimer(this);
    m_waitTick->setInterval(kWaitTickMs);
    TimeOut = 0;
    m_canceled = false;
    m_destroying = false;
    m_connected = false;
    InitializeWinsock();
}

TBlockingSocket::~TBlockingSocket()
{
    m_beingDestroyed = true;
    ReportStatus(8, QStringLiteral("Destroy"));
    // In the destructor these are this class's own Abort and Cancel: they only set flags
    // and record the status text, which reaches no handler any more, so nothing raises.
    Abort();
    Cancel();
    delete m_timeoutTimer;
    m_timeoutTimer = nullptr;
    // A lookup still running answers no one from now on; answers already posted go with
    // the notification object.
    {
        const std::lock_guard<std::mutex> lock(m_lookupShare->mutex);
        m_lookupShare->window = nullptr;
    }
    m_notifyWindow.reset();
    m_destroying = true;
    // A failing close raises; the handle is released below all the same, and there is no
    // one left to tell.
    try {
        RequestCloseSocket();
    } catch (...) {
    }
    if (m_socket != kNoSocket) {
        // The close failed; the handle is released all the same.
        ForgetSocket();
        ::close(m_socket);
        m_socket = kNoSocket;
    }
    --g_winsockUsers;
}

int TBlockingSocket::WinsockUsers()
{
    return g_winsockUsers;
}

void TBlockingSocket::InitializeWinsock()
{
    ReportStatus(8, QStringLiteral("Initializing Winsock"));
    ++g_winsockUsers;
    if (g_winsockUsers == 1) {
        // The sockets of this system need no start-up call; these lines describe what is
        // in use: the 1.1 interface on the kernel's sockets.
        rlimit files{};
        quint16 maxSockets = 0xffff;
        if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < 0xffff)
            maxSockets = quint16(files.rlim_cur);
        m_winsockInfo << QStringLiteral("Version= 1.1") << QStringLiteral("High Version= 1.1")
                      << QStringLiteral("Description= ") + QSysInfo::kernelType() + QLatin1String(" sockets ")
                + QSysInfo::kernelVersion()
                      << QStringLiteral("System= Running")
                      << QStringLiteral("Max Sockets= ") + QString::number(maxSockets)
                      << QStringLiteral("Max Udp pack size= 65507");
    }
    bool failed = false;
    try {
        m_socket = MakeSocket(true);
        if (m_socket == kNoSocket) {
            CheckSocketError(kWouldBlock);
            failed = true; // no socket to register
        } else {
            WatchSocket();
        }
    } catch (...) {
        failed = true;
    }
    if (failed) {
        --g_winsockUsers;
        throw ESockError(QStringLiteral("Initializaton of windows sockets failed"));
    }
}

int TBlockingSocket::FetchSystemError()
{
    m_wsaLastError = winsockError(errno);
    return m_wsaLastError;
}

int TBlockingSocket::MakeSocket(bool lingerOff, bool ipv6)
{
    const int handle
        = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, lingerOff ? IPPROTO_TCP : 0);
    if (handle < 0) {
        FetchSystemError();
        return kNoSocket;
    }
    m_socketIpv6 = ipv6;
    if (lingerOff) {
        // The first socket resets its connection at once when it is closed.
        linger option{1, 0};
        ::setsockopt(handle, SOL_SOCKET, SO_LINGER, &option, sizeof option);
    }
    return handle;
}

void TBlockingSocket::WatchSocket()
{
    ++m_socketSerial;
    m_connectPending = false;
    m_readNotifier = new QSocketNotifier(m_socket, QSocketNotifier::Read, this);
    m_readNotifier->setEnabled(false);
    connect(m_readNotifier, &QSocketNotifier::activated, this, [this] { SocketReadable(); });
    m_writeNotifier = new QSocketNotifier(m_socket, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, [this] { SocketWritable(); });
}

void TBlockingSocket::ForgetSocket()
{
    // Messages already posted for this socket are recognised as stale by their serial.
    ++m_socketSerial;
    m_connectPending = false;
    // The session does not own the socket: freeing it sends nothing and closes nothing.
    // Without a session OpenSSL may not even be loaded.
    if (m_tls)
        SSL_free(m_tls);
    m_tls = nullptr;
    m_tlsInput.clear();
    delete m_readNotifier;
    m_readNotifier = nullptr;
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
}

void TBlockingSocket::SocketReadable()
{
    // Like the system's read notification, this one is given once and re-enabled by the
    // next receive, so unread data does not wake the loop again and again.
    m_readNotifier->setEnabled(false);
    char byte = 0;
    const ssize_t n = ::recv(m_socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) {
        m_notifyWindow->post(kSocketEventMessage, m_socketSerial, kEventRead);
    } else if (n == 0) {
        m_notifyWindow->post(kSocketEventMessage, m_socketSerial, kEventClose);
    } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        m_readNotifier->setEnabled(true);
    } else {
        m_notifyWindow->post(kSocketEventMessage, m_socketSerial, withError(kEventClose, winsockError(errno)));
    }
}

void TBlockingSocket::SocketWritable()
{
    m_writeNotifier->setEnabled(false);
    if (!m_connectPending) {
        m_writable = true;
        return;
    }
    m_connectPending = false;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(m_socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        error = errno;
    if (error == 0)
        m_readNotifier->setEnabled(true);
    m_notifyWindow->post(kSocketEventMessage, m_socketSerial, withError(kEventConnect, winsockError(error)));
}

void TBlockingSocket::ServeQueue(bool wait)
{
    if (wait)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    else
        QCoreApplication::processEvents();
}

void TBlockingSocket::HandleSocketMessage(quint32 message, quint64 wParam, quint32 lParam)
{
    // This runs from the event loop, which no failure may cross, and there is no caller to
    // hand one to. The flags a wait watches (the connection, the event's outcome, the
    // lookup's end) are set before the user's handlers run, so a failing handler or close
    // cannot hold a wait: the waiting step still ends by its outcome or its time-out.
    try {
        if (message == kSocketEventMessage && wParam != m_socketSerial)
            return; // a message of a socket that was closed meanwhile
        if (message == kHostLookupMessage && wParam != m_lookupSerial)
            return; // the answer of a lookup that was given up
        m_eventOk = (lParam >> 16) == 0;
        if (message == kSocketEventMessage) {
            switch (lParam & 0xffff) {
            case kEventRead:
                if (OnReadable)
                    OnReadable(this);
                break;
            case kEventAccept:
                m_connected = true;
                if (OnAcceptable)
                    OnAcceptable(this);
                break;
            case kEventConnect:
                if (m_eventOk) {
                    m_connected = true;
                    if (OnConnect)
                        OnConnect(this);
                }
                break;
            case kEventClose:
                if (!DataAvailable()) {
                    RequestCloseSocket();
                    m_closedByPeer = true;
                }
                break;
            default:
                break;
            }
        } else if (message == kHostLookupMessage) {
            {
                const std::lock_guard<std::mutex> lock(m_lookupShare->mutex);
                m_hostEntry = m_lookupShare->address;
            }
            m_lookupDone = true;
        }
    } catch (...) {
    }
}

void TBlockingSocket::ReportStatus(quint8 level, const QString &text)
{
    if (level > ReportLevel)
        return;
    m_status = text;
    if (m_beingDestroyed || !OnStatus)
        return;
    // A status text is only news: a handler that fails on it must not end the step it
    // reports on, and reports come from the destructor too.
    try {
        OnStatus(this, text);
    } catch (...) {
    }
}

void TBlockingSocket::Cancel()
{
    ReportStatus(8, QStringLiteral("Canceling"));
    m_canceled = true;
}

void TBlockingSocket::Abort()
{
    ReportStatus(8, QStringLiteral("Abort"));
    Cancel();
}

void TBlockingSocket::TimerOn()
{
    ReportStatus(8, QStringLiteral("Timer On"));
    m_timedOut = false;
    m_timeoutTimer->setInterval(quint32(std::max(TimeOut, 0)));
    m_timeoutTimer->setEnabled(true);
}

void TBlockingSocket::TimerOff()
{
    ReportStatus(8, QStringLiteral("Timer Off"));
    if (m_timeoutTimer)
        m_timeoutTimer->setEnabled(false);
}

void TBlockingSocket::TimeoutHandler()
{
    ReportStatus(8, QStringLiteral("Timer Triggered"));
    TimerOff();
    m_timedOut = true;
    m_lookupDone = true;
    Abort();
}

void TBlockingSocket::LookUpErrorMessage(quint16 error, QString &message)
{
    ReportStatus(8, QStringLiteral("Looking Up Error Message") + message);
    message = socketErrorText(error);
}

QString TBlockingSocket::CheckSocketError(quint16 allowed)
{
    m_lastError = m_wsaLastError;
    QString message;
    if (m_lastError == allowed || m_lastError <= 10000)
        return message;
    LookUpErrorMessage(quint16(m_lastError), message);
    if (OnSocketError)
        OnSocketError(this, quint16(m_lastError), message);
    throw ESockError(message);
}

void TBlockingSocket::ResolveHost()
{
    ReportStatus(8, QStringLiteral("Resolve Host"));
    const QString target = ProxyHost.isEmpty() ? Host : ProxyHost;
    // The name goes through the buffer as zero-terminated text.
    QByteArray name = target.toUtf8().left(kLineSize);
    const int zero = name.indexOf('\0');
    if (zero >= 0)
        name.truncate(zero);
    // An IPv6 address needs no lookup either.
    m_remoteIsIpv6 = ::inet_pton(AF_INET6, name.constData(), m_remoteAddress6) == 1;
    if (m_remoteIsIpv6) {
        m_remoteAddress = 0;
        return;
    }
    const in_addr_t dotted = ::inet_addr(name.constData());
    if (dotted != INADDR_NONE) {
        m_remoteAddress = ntohl(dotted);
        return;
    }

    m_remoteAddress = 0;
    // The time-out covers the wait only: it is off before the outcome is judged and before
    // OnHostResolved runs.
    std::optional<TimerStep> step(std::in_place, this);
    m_lookupDone = false;
    const quint64 lookup = ++m_lookupSerial;
    {
        const std::lock_guard<std::mutex> lock(m_lookupShare->mutex);
        m_lookupShare->serial = lookup;
        m_lookupShare->address = 0;
    }
    startHostLookup(m_lookupShare, QString::fromUtf8(name), lookup);

    {
        WaitTick tick(this);
        while (!m_lookupDone && !m_timedOut && !m_canceled)
            ServeQueue(true);
    }
    step.reset();
    if (m_timedOut)
        throw EHostLookupTimedOut();
    if (m_canceled)
        throw EHostLookupCanceled();
    if (!m_eventOk)
        throw ESockError(QStringLiteral("Host Lookup Failed"));
    m_remoteAddress = m_hostEntry;
    if (OnHostResolved)
        OnHostResolved(this);
}

void TBlockingSocket::Connect()
{
    ReportStatus(8, QStringLiteral("Connecting"));
    m_canceled = false;
    if (m_connected)
        throw ESockError(QStringLiteral("Already connected"));
    // A socket whose connect has failed (refused, unreachable) cannot connect again: the
    // next attempt starts on a fresh one, or every check after one failure would fail
    // too. An attempt that is still pending after a time-out keeps its socket.
    if (m_connectTried && !m_connectPending && m_socket != kNoSocket) {
        ForgetSocket();
        ::close(m_socket);
        m_socket = MakeSocket(false);
        if (m_socket != kNoSocket)
            WatchSocket();
    }
    m_connectTried = false;

    int attempts = 0;
    for (;;) {
        // A lookup that ran out of time or was cancelled ends the connect; any other
        // failure leaves no address, and the invalid-host handler may give another host.
        try {
            ResolveHost();
        } catch (const EHostLookupTimedOut &) {
            throw;
        } catch (const EHostLookupCanceled &) {
            throw;
        } catch (const ESockError &) {
            m_remoteAddress = 0;
        }
        if (m_remoteAddress != 0 || m_remoteIsIpv6)
            break;
        if (attempts > 0 || !OnInvalidHost)
            throw ESockError(QStringLiteral("Null Remote Address"));
        bool handled = false;
        OnInvalidHost(this, handled);
        if (!handled)
            throw ESockError(QStringLiteral("Null Remote Address"));
        ++attempts;
    }

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(ProxyHost.isEmpty() ? quint16(Port) : ProxyPort);
    address.sin_addr.s_addr = htonl(m_remoteAddress);
    sockaddr_in6 address6{};
    address6.sin6_family = AF_INET6;
    address6.sin6_port = address.sin_port;
    std::memcpy(&address6.sin6_addr, m_remoteAddress6, sizeof m_remoteAddress6);
    // The socket's family must be the address's: a socket of the other one is replaced.
    if (m_socket != kNoSocket && m_socketIpv6 != m_remoteIsIpv6) {
        ForgetSocket();
        ::close(m_socket);
        m_socket = MakeSocket(false, m_remoteIsIpv6);
        if (m_socket != kNoSocket)
            WatchSocket();
    }

    m_lookupDone = false;
    m_eventOk = true;
    int result = -1;
    if (m_socket == kNoSocket) {
        m_wsaLastError = 10038;
    } else {
        m_connectTried = true;
        result = m_remoteIsIpv6 ? ::connect(m_socket, reinterpret_cast<const sockaddr *>(&address6), sizeof address6)
                                : ::connect(m_socket, reinterpret_cast<const sockaddr *>(&address), sizeof address);
        if (result == 0) {
            m_readNotifier->setEnabled(true);
            m_notifyWindow->post(kSocketEventMessage, m_socketSerial, kEventConnect);
        } else if (errno == EINPROGRESS) {
            // The normal answer of an asynchronous socket; the outcome comes as the
            // connect notification.
            m_wsaLastError = kWouldBlock;
            m_connectPending = true;
            m_writeNotifier->setEnabled(true);
        } else if (isConnectOutcome(errno)) {
            // The kernel knew the outcome at once (a refused loopback port, say); it is
            // delivered as the notification all the same, as an asynchronous socket does.
            const int error = winsockError(errno);
            m_wsaLastError = kWouldBlock;
            m_notifyWindow->post(kSocketEventMessage, m_socketSerial, withError(kEventConnect, error));
        } else {
            FetchSystemError();
        }
    }
    if (result != 0)
        CheckSocketError(kWouldBlock);

    {
        TimerStep step(this);
        WaitTick tick(this);
        while (!m_connected && !m_timedOut && !m_canceled && m_eventOk)
            ServeQueue(true);
    }
    if (!m_timedOut && !m_canceled && m_eventOk) {
        if (!Tls)
            return;
        // A failed handshake drops the connection: nothing of the conversation goes out
        // on a session that is not trusted.
        try {
            StartTls();
        } catch (...) {
            if (m_connected)
                RequestCloseSocket();
            throw;
        }
        return;
    }
    if (OnConnectionFailed)
        OnConnectionFailed(this);
    if (m_timedOut)
        throw ESockError(QStringLiteral("Connection Timed out"));
    if (m_canceled)
        throw ESockError(QStringLiteral("Connection Canceled"));
    throw ESockError(QStringLiteral("Connection Failed"));
}

void TBlockingSocket::StartTls()
{
    ReportStatus(8, QStringLiteral("TLS Handshake"));
    const QString unavailable = loadTlsLibrary();
    if (!unavailable.isEmpty())
        throw ESockError(unavailable);
    SSL_CTX *context = SSL_CTX_new(TLS_client_method());
    if (context) {
        SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
        // The system's store; OpenSSL lets SSL_CERT_FILE and SSL_CERT_DIR name others.
        SSL_CTX_set_default_verify_paths(context);
        m_tls = SSL_new(context);
        SSL_CTX_free(context); // the session holds its own reference
    }
    BIO *bio = m_tls ? BIO_new(tlsBioMethod()) : nullptr;
    if (!bio) {
        ERR_clear_error();
        throw ESockError(QStringLiteral("TLS: no session could be made"));
    }
    BIO_set_data(bio, reinterpret_cast<void *>(intptr_t(m_socket)));
    BIO_set_init(bio, 1);
    SSL_set_bio(m_tls, bio, bio);
    // The name is sent (SNI) and must be one the certificate names; an address must be
    // one of its IP entries instead.
    const QByteArray host = Host.toUtf8();
    if (addressFamilyOf(Host) == 0) {
        SSL_set_tlsext_host_name(m_tls, host.constData());
        SSL_set1_host(m_tls, host.constData());
    } else {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_tls), host.constData());
    }

    TimerStep step(this);
    WaitTick tick(this);
    const quint64 serial = m_socketSerial;
    for (;;) {
        ERR_clear_error();
        const int result = SSL_connect(m_tls);
        if (result == 1)
            return;
        AwaitTls(result);
        ServeQueue(true);
        if (m_timedOut)
            throw ESockError(QStringLiteral("TLS: handshake timed out"));
        if (m_canceled)
            throw ESockError(QStringLiteral("TLS: handshake canceled"));
        if (serial != m_socketSerial)
            throw ESockError(QStringLiteral("TLS: connection closed by the server during the handshake"));
    }
}

void TBlockingSocket::AwaitTls(int result)
{
    switch (SSL_get_error(m_tls, result)) {
    case SSL_ERROR_WANT_READ:
        m_readNotifier->setEnabled(true);
        return;
    case SSL_ERROR_WANT_WRITE:
        m_writable = false;
        m_writeNotifier->setEnabled(true);
        return;
    default:
        throw ESockError(tlsFailureText(m_tls, result));
    }
}

QString TBlockingSocket::ReadTlsLn()
{
    TimerStep step(this);
    WaitTick tick(this);
    const quint64 serial = m_socketSerial;
    for (;;) {
        if (m_canceled) {
            m_canceled = false;
            throw EAbortError(QStringLiteral("Socket readln aborted"));
        }
        if (serial != m_socketSerial) {
            // As on the plain socket: the peer's close with nothing left is the empty line.
            if (m_closedByPeer)
                return {};
            throw EAbortError(QStringLiteral("Socket readln aborted"));
        }
        const qsizetype end = m_tlsInput.indexOf('\n');
        if (end >= kLineSize || (end < 0 && m_tlsInput.size() >= kLineSize))
            throw ESockError(QStringLiteral("Reply line too long (no line end within 65536 bytes)"));
        if (end >= 0) {
            const QByteArray line = m_tlsInput.left(end + 1);
            m_tlsInput.remove(0, end + 1);
            return decodeReply(line);
        }
        char chunk[16384];
        ERR_clear_error();
        const int got = SSL_read(m_tls, chunk, int(sizeof chunk));
        if (got > 0) {
            m_tlsInput.append(chunk, got);
            continue;
        }
        if (SSL_get_error(m_tls, got) == SSL_ERROR_ZERO_RETURN) {
            if (m_tlsInput.isEmpty())
                return {};
            throw ESockError(QStringLiteral("Connection closed in the middle of a line"));
        }
        AwaitTls(got);
        ServeQueue(true);
    }
}

void TBlockingSocket::Disconnect()
{
    ReportStatus(8, QStringLiteral("Disconnecting"));
    RequestCloseSocket();
}

void TBlockingSocket::RequestCloseSocket()
{
    ReportStatus(4, QStringLiteral("Request Close Socket"));
    m_connected = false;
    m_closedByPeer = false;
    if (m_socket == kNoSocket)
        return;
    // A session that is up says it ends (close_notify) without waiting for the answer;
    // should the peer be gone, the send fails quietly.
    if (m_tls && SSL_is_init_finished(m_tls)) {
        SSL_shutdown(m_tls);
        ERR_clear_error();
    }
    ForgetSocket();
    const int result = ::close(m_socket);
    const int closeError = errno;
    m_socket = kNoSocket; // released by the kernel whatever close answered
    if (result != 0 && closeError != EINTR) {
        m_wsaLastError = winsockError(closeError);
        CheckSocketError(kWouldBlock);
    }
    // The fresh socket is there before OnDisconnect runs, so that a failing handler
    // cannot leave the component without one.
    m_connectTried = false;
    if (!m_destroying) {
        m_socket = MakeSocket(false);
        if (m_socket != kNoSocket)
            WatchSocket();
    }
    if (!m_beingDestroyed && OnDisconnect)
        OnDisconnect(this);
}

void TBlockingSocket::SendBuffer(const char *buffer, int length)
{
    ReportStatus(4, QStringLiteral("Sending Buffer"));
    {
        TimerStep step(this);
        if (!m_canceled) {
            if (length == 0)
                length = int(::strnlen(buffer, kLineSize - 1));
            int remaining = length;
            WaitTick tick(this);
            while (remaining > 0 && !m_canceled) {
                if (m_tls) {
                    ERR_clear_error();
                    const int written = SSL_write(m_tls, buffer + (length - remaining), remaining);
                    if (written > 0) {
                        remaining -= written;
                        continue;
                    }
                    AwaitTls(written);
                    const quint64 serial = m_socketSerial;
                    ServeQueue(true);
                    if (serial != m_socketSerial)
                        throw ESockError(QStringLiteral("TLS: connection closed by the server"));
                    continue;
                }
                const ssize_t sent
                    = ::send(m_socket, buffer + (length - remaining), size_t(remaining), MSG_NOSIGNAL | MSG_DONTWAIT);
                if (sent == 0)
                    break;
                if (sent > 0) {
                    remaining -= int(sent);
                    continue;
                }
                const int sendError = errno;
                FetchSystemError();
                // Linux answers EPIPE on a socket that is not connected (never, or no
                // more: the peer's close replaced it) as well as on a connection the peer
                // has shut; only the latter is a reset.
                if (sendError == EPIPE && !m_connected)
                    m_wsaLastError = kNotConnected;
                CheckSocketError(kWouldBlock);
                // The peer is not taking data: serve the queue until the socket can take
                // more, so that the time-out (or a cancel) can end the send.
                const quint64 serial = m_socketSerial;
                m_writable = false;
                if (m_writeNotifier && !m_connectPending)
                    m_writeNotifier->setEnabled(true);
                while (!m_writable && !m_canceled && serial == m_socketSerial)
                    ServeQueue(true);
            }
        }
    }
    if (m_canceled) {
        m_canceled = false;
        throw EAbortError(QStringLiteral("Socket send aborted"));
    }
}

void TBlockingSocket::Write(const QString &text)
{
    ReportStatus(8, QStringLiteral("Write"));
    // The text goes out up to its first zero character and at most 65,536 bytes long.
    QByteArray bytes = text.left(kLineSize).toUtf8().left(kLineSize);
    const int zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    std::memcpy(m_lineBuffer.data(), bytes.constData(), size_t(bytes.size()));
    m_lineBuffer[bytes.size()] = '\0';
    if (bytes.isEmpty())
        SendBuffer(m_lineBuffer.constData(), 0);
    else
        SendBuffer(m_lineBuffer.constData(), int(bytes.size()));
}

void TBlockingSocket::Writeln(const QString &text)
{
    ReportStatus(8, QStringLiteral("Writeln"));
    Write(text + QLatin1String("\r\n"));
}

QString TBlockingSocket::ReadLn()
{
    ReportStatus(8, QStringLiteral("ReadLn"));
    if (m_tls)
        return ReadTlsLn();
    TimerStep step(this);
    WaitTick tick(this);
    const quint64 serial = m_socketSerial;
    QByteArray line;
    char *buffer = m_lineBuffer.data();
    for (;;) {
        if (m_canceled) {
            m_canceled = false;
            throw EAbortError(QStringLiteral("Socket readln aborted"));
        }
        bool socketLost = serial != m_socketSerial;
        if (!socketLost) {
            // Only peek, so that no byte after the line end is taken from the socket.
            const int room = kLineSize - int(line.size());
            if (room <= 0)
                throw ESockError(QStringLiteral("Reply line too long (no line end within 65536 bytes)"));
            const ssize_t peeked = ::recv(m_socket, buffer, size_t(room), MSG_PEEK | MSG_DONTWAIT);
            if (peeked == 0) {
                if (line.isEmpty())
                    return {};
                throw ESockError(QStringLiteral("Connection closed in the middle of a line"));
            }
            if (peeked > 0) {
                const char *end = static_cast<const char *>(std::memchr(buffer, '\n', size_t(peeked)));
                const int wanted = end ? int(end - buffer) + 1 : int(peeked);
                const ssize_t taken = ::recv(m_socket, buffer, size_t(wanted), MSG_DONTWAIT);
                if (taken > 0)
                    line.append(buffer, taken);
                if (m_readNotifier)
                    m_readNotifier->setEnabled(true);
                if (end && taken == wanted)
                    return decodeReply(line);
                ServeQueue(false);
                continue;
            }
            FetchSystemError();
            m_lastError = m_wsaLastError;
            if (m_lastError == kNotConnected)
                socketLost = true;
            else
                CheckSocketError(kWouldBlock);
            if (m_readNotifier)
                m_readNotifier->setEnabled(true);
        }
        if (socketLost) {
            // The socket went away under this read. After the peer closed with nothing
            // left that is the empty line of a closed connection; a close from this side
            // (a Disconnect run by another handler) ends the read as aborted, so that no
            // line of a later connection is ever taken for the reply.
            if (m_closedByPeer && line.isEmpty())
                return {};
            if (m_closedByPeer && !line.isEmpty())
                throw ESockError(QStringLiteral("Connection closed in the middle of a line"));
            throw EAbortError(QStringLiteral("Socket readln aborted"));
        }
        ServeQueue(true);
    }
}

QString TBlockingSocket::Transaction(const QString &command)
{
    ReportStatus(8, QStringLiteral("Transaction"));
    m_replyCode = 0;
    Writeln(command);
    m_lastReply = ReadLn();
    if (!m_lastReply.isEmpty()) {
        ReportStatus(1, m_lastReply);
        qint64 code = 0;
        int digits = 0;
        while (digits < 10 && digits < m_lastReply.size() && m_lastReply.at(digits).isDigit()
               && m_lastReply.at(digits).unicode() < 128) {
            code = code * 10 + (m_lastReply.at(digits).unicode() - '0');
            ++digits;
        }
        // A number too large for the 16-bit code is no reply code.
        if (digits > 0 && code <= 32767)
            m_replyCode = qint16(code);
    }
    return m_lastReply;
}

bool TBlockingSocket::DataAvailable()
{
    ReportStatus(8, QStringLiteral("Data Available"));
    if (m_tls && (!m_tlsInput.isEmpty() || SSL_pending(m_tls) > 0))
        return true;
    const ssize_t n = ::recv(m_socket, m_lineBuffer.data(), 1, MSG_PEEK | MSG_DONTWAIT);
    return n >= 1;
}

void TBlockingSocket::ClearInput()
{
    ReportStatus(8, QStringLiteral("Clearing Input"));
    m_tlsInput.clear();
    (void)::recv(m_socket, m_lineBuffer.data(), kLineSize, MSG_DONTWAIT);
    if (m_readNotifier && m_connected)
        m_readNotifier->setEnabled(true);
}

int TBlockingSocket::Accept()
{
    ReportStatus(4, QStringLiteral("Accepting"));
    {
        WaitTick tick(this);
        while (!m_lookupDone && !m_canceled)
            ServeQueue(true);
    }
    if (m_canceled)
        throw ESockError(QStringLiteral("Accepting Canceled"));
    if (!m_eventOk)
        throw ESockError(QStringLiteral("Error creating Data Connection"));
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    const int handle = ::accept4(m_socket, reinterpret_cast<sockaddr *>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    // This component watches one socket only; the accepted one is handed to the caller.
    m_remoteAddress = ntohl(peer.sin_addr.s_addr);
    if (m_canceled) {
        m_canceled = false;
        throw EAbortError(QStringLiteral("Socket send aborted"));
    }
    return handle;
}
