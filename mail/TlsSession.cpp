#include "mail/TlsSession.h"

#include "mail/SocketErrors.h"

#include <cerrno>
#include <cstdint>
#include <sys/socket.h>

// Last: the OpenSSL calls below go through the table of the library loaded at run time.
#include "mail/TlsCalls.h"

namespace {

// The session reads and writes the socket through this BIO rather than OpenSSL's own
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

TTlsSession::TTlsSession(int socket, const MailServer &server)
{
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
        if (m_tls)
            SSL_free(m_tls);
        throw ESockError(QStringLiteral("TLS: no session could be made"));
    }
    BIO_set_data(bio, reinterpret_cast<void *>(intptr_t(socket)));
    BIO_set_init(bio, 1);
    SSL_set_bio(m_tls, bio, bio);
    // The name is sent (SNI) and must be one the certificate names, in the form it was
    // looked up by; an address must be one of its IP entries instead.
    if (addressFamilyOf(QString::fromLatin1(server.name)) == 0) {
        SSL_set_tlsext_host_name(m_tls, server.name.constData());
        SSL_set1_host(m_tls, server.name.constData());
    } else {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_tls), server.name.constData());
    }
}

TTlsSession::~TTlsSession()
{
    SSL_free(m_tls);
}

TlsWait TTlsSession::Handshake()
{
    ERR_clear_error();
    const int result = SSL_connect(m_tls);
    return result == 1 ? TlsWait::Nothing : WaitFor(result);
}

TlsWait TTlsSession::Read(QByteArray &input)
{
    char chunk[16384];
    ERR_clear_error();
    const int got = SSL_read(m_tls, chunk, int(sizeof chunk));
    if (got > 0) {
        input.append(chunk, got);
        return TlsWait::Nothing;
    }
    if (SSL_get_error(m_tls, got) == SSL_ERROR_ZERO_RETURN)
        return TlsWait::Closed;
    return WaitFor(got);
}

TlsWait TTlsSession::Write(const char *data, int length, int &written)
{
    ERR_clear_error();
    const int result = SSL_write(m_tls, data, length);
    written = result > 0 ? result : 0;
    return result > 0 ? TlsWait::Nothing : WaitFor(result);
}

bool TTlsSession::HasPending() const
{
    return SSL_pending(m_tls) > 0;
}

void TTlsSession::Shutdown()
{
    if (SSL_is_init_finished(m_tls)) {
        SSL_shutdown(m_tls);
        ERR_clear_error();
    }
}

TlsWait TTlsSession::WaitFor(int result)
{
    switch (SSL_get_error(m_tls, result)) {
    case SSL_ERROR_WANT_READ:
        return TlsWait::Read;
    case SSL_ERROR_WANT_WRITE:
        return TlsWait::Write;
    default:
        throw ESockError(tlsFailureText(m_tls, result));
    }
}
