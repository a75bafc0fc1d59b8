// The socket's conversation: sending, reading a line (from the socket or the TLS
// session), a command with its reply.
#include "mail/BlockingSocket.h"

#include "mail/SocketWaits.h"
#include "mail/TlsSession.h"

#include <QStringDecoder>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>

namespace {

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

} // namespace

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
        const TlsWait wait = m_tls->Read(m_tlsInput);
        if (wait == TlsWait::Nothing)
            continue;
        if (wait == TlsWait::Closed) {
            if (m_tlsInput.isEmpty())
                return {};
            throw ESockError(QStringLiteral("Connection closed in the middle of a line"));
        }
        AwaitTls(wait);
        ServeQueue(true);
    }
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
                    int written = 0;
                    const TlsWait wait = m_tls->Write(buffer + (length - remaining), remaining, written);
                    if (wait == TlsWait::Nothing) {
                        remaining -= written;
                        continue;
                    }
                    AwaitTls(wait);
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
    if (m_tls && (!m_tlsInput.isEmpty() || m_tls->HasPending()))
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
