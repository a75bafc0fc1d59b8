#pragma once

// OpenSSL, loaded when the first TLS check starts rather than with the program: most
// users never check mail over TLS, and libssl with libcrypto would cost every start of
// the saver some milliseconds before its first frame. The headers are OpenSSL's own; the
// functions are reached through one table filled from libssl.so.3 (which brings
// libcrypto.so.3 with it).
#include <QString>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

// Every OpenSSL function the socket layer calls, libssl's and libcrypto's alike.
#define PANTEL_TLS_FUNCTIONS(F)                                                                                        \
    F(BIO_clear_flags)                                                                                                 \
    F(BIO_get_data)                                                                                                    \
    F(BIO_get_new_index)                                                                                               \
    F(BIO_meth_new)                                                                                                    \
    F(BIO_meth_set_ctrl)                                                                                               \
    F(BIO_meth_set_read)                                                                                               \
    F(BIO_meth_set_write)                                                                                              \
    F(BIO_new)                                                                                                         \
    F(BIO_set_data)                                                                                                    \
    F(BIO_set_flags)                                                                                                   \
    F(BIO_set_init)                                                                                                    \
    F(ERR_clear_error)                                                                                                 \
    F(ERR_peek_error)                                                                                                  \
    F(ERR_reason_error_string)                                                                                         \
    F(SSL_CTX_ctrl)                                                                                                    \
    F(SSL_CTX_free)                                                                                                    \
    F(SSL_CTX_new)                                                                                                     \
    F(SSL_CTX_set_default_verify_paths)                                                                                \
    F(SSL_CTX_set_verify)                                                                                              \
    F(SSL_connect)                                                                                                     \
    F(SSL_ctrl)                                                                                                        \
    F(SSL_free)                                                                                                        \
    F(SSL_get0_param)                                                                                                  \
    F(SSL_get_error)                                                                                                   \
    F(SSL_get_verify_result)                                                                                           \
    F(SSL_is_init_finished)                                                                                            \
    F(SSL_new)                                                                                                         \
    F(SSL_pending)                                                                                                     \
    F(SSL_read)                                                                                                        \
    F(SSL_set1_host)                                                                                                   \
    F(SSL_set_bio)                                                                                                     \
    F(SSL_shutdown)                                                                                                    \
    F(SSL_write)                                                                                                       \
    F(TLS_client_method)                                                                                               \
    F(X509_VERIFY_PARAM_set1_ip_asc)                                                                                   \
    F(X509_verify_cert_error_string)

struct TTlsLibrary
{
#define PANTEL_TLS_MEMBER(name) decltype(&::name) name = nullptr;
    PANTEL_TLS_FUNCTIONS(PANTEL_TLS_MEMBER)
#undef PANTEL_TLS_MEMBER
};

// The file that is loaded: libssl.so.3.
extern const char *const kTlsLibraryName;

// Loads the library and finds its functions on the first call (the GUI thread's); later
// calls answer at once. Empty when the table is ready, else the failure's text.
QString loadTlsLibrary();

// The table; complete only after loadTlsLibrary answered empty.
const TTlsLibrary &tlsLibrary();

// For the tests: loads `fileName` instead at the next loadTlsLibrary, as if none had been
// loaded yet; nullptr goes back to libssl.so.3.
void setTlsLibraryFileForTesting(const char *fileName);
