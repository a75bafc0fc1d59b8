#pragma once

// The TLS session of a connected socket, from the first byte: the socket keeps the waits,
// the time-out and the notifications, and calls this for each try of a TLS step.
#include "mail/MailServer.h"

#include <QByteArray>

struct ssl_st;

// What a TLS step that did not complete waits for before it is tried again.
enum class TlsWait {
    Nothing, // the step completed
    Read,    // the socket must become readable
    Write,   // the socket must become writable
    Closed,  // the peer ended the session (close_notify)
};

class TTlsSession
{
public:
    // A client session on the connected socket `socket` for `server`: TLS 1.2 at least,
    // the certificate checked against the system's store and server.name (an address
    // against the certificate's IP entries), the name sent as SNI. Loads OpenSSL on the
    // first use. Raises ESockError with a "TLS: " text when no session can be made.
    // Nothing is sent yet.
    TTlsSession(int socket, const MailServer &server);
    // The session does not own the socket: this sends nothing and closes nothing.
    ~TTlsSession();
    TTlsSession(const TTlsSession &) = delete;
    TTlsSession &operator=(const TTlsSession &) = delete;

    // One try of the handshake. Raises the failure with a "TLS: " text.
    TlsWait Handshake();
    // Appends the decrypted bytes at hand (at most 16 KB) to `input`. Raises the failure.
    TlsWait Read(QByteArray &input);
    // Sends from the `length` bytes of `data`; `written` is what was taken. Raises the
    // failure.
    TlsWait Write(const char *data, int length, int &written);
    // Whether decrypted bytes wait inside the session.
    bool HasPending() const;
    // Once the session is up: says that it ends (close_notify) without waiting for the
    // answer; should the peer be gone, the send fails quietly.
    void Shutdown();

private:
    // The wait a call that did not complete asks for; raises when it failed.
    TlsWait WaitFor(int result);

    ssl_st *m_tls = nullptr;
};
