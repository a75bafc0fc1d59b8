#include "mail/BlockingSocket.h"

#include "mail/HostLookup.h"
#include "mail/NotifyWindow.h"
#include "mail/SocketWaits.h"
#include "mail/ThreadTimer.h"
#include "mail/TlsSession.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QSysInfo>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_winsockUsers = 0;

// The tick that bounds each wait in the event loop. The flags that end a wait are set by
// handlers of events, and those events wake the loop themselves; the tick only keeps a
// wait from sleeping longer than this should a flag ever change without one.
constexpr int kWaitTickMs = 100;

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
    m_tls.reset();
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

void TBlockingSocket::SetServer(const MailServer &server)
{
    m_server = server;
    Host = server.host;
    Port = server.port;
    Tls = server.tls;
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
    if (m_tls)
        m_tls->Shutdown();
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
