// The socket's way to its server: the host's address (a lookup on a thread when it is a
// name), the connect, and the TLS handshake that ends a connect with Tls on.
#include "mail/BlockingSocket.h"

#include "mail/HostLookup.h"
#include "mail/NotifyWindow.h"
#include "mail/SocketWaits.h"
#include "mail/TlsSession.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

namespace {

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

} // namespace

void TBlockingSocket::ResolveHost()
{
    ReportStatus(8, QStringLiteral("Resolve Host"));
    QString target = ProxyHost.isEmpty() ? Host : ProxyHost;
    // The name goes through the buffer as zero-terminated text.
    const qsizetype zero = target.indexOf(QChar(0));
    if (zero >= 0)
        target.truncate(zero);
    // The host is read once: the lookup, the connect and the TLS name check all take
    // this reading of it.
    m_target = m_server.host == target ? m_server : serverNamed(target);
    // An IPv6 address needs no lookup either.
    m_remoteIsIpv6 = m_target.ipv6 && ::inet_pton(AF_INET6, m_target.name.constData(), m_remoteAddress6) == 1;
    if (m_remoteIsIpv6) {
        m_remoteAddress = 0;
        return;
    }
    const in_addr_t dotted = ::inet_addr(m_target.name.constData());
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
    startHostLookup(m_lookupShare, QString::fromLatin1(m_target.name), lookup);

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
    m_tls = std::make_unique<TTlsSession>(m_socket, m_target);
    TimerStep step(this);
    WaitTick tick(this);
    const quint64 serial = m_socketSerial;
    for (;;) {
        const TlsWait wait = m_tls->Handshake();
        if (wait == TlsWait::Nothing)
            return;
        AwaitTls(wait);
        ServeQueue(true);
        if (m_timedOut)
            throw ESockError(QStringLiteral("TLS: handshake timed out"));
        if (m_canceled)
            throw ESockError(QStringLiteral("TLS: handshake canceled"));
        if (serial != m_socketSerial)
            throw ESockError(QStringLiteral("TLS: connection closed by the server during the handshake"));
    }
}

void TBlockingSocket::AwaitTls(TlsWait wait)
{
    switch (wait) {
    case TlsWait::Read:
        m_readNotifier->setEnabled(true);
        break;
    case TlsWait::Write:
        m_writable = false;
        m_writeNotifier->setEnabled(true);
        break;
    default:
        break;
    }
}
