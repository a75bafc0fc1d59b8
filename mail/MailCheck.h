#pragma once

// The client of a mail check, as the show window's indicator and the settings dialog's
// test both use it.
#include <QString>
#include <memory>

class TPop3Client;

// The POP3 port (RFC 1939).
constexpr int kPop3Port = 110;
// The port of POP3 over TLS from the first byte (RFC 8314).
constexpr int kPop3sPort = 995;
// Milliseconds for each step of a check before it gives up.
constexpr int kMailCheckTimeOut = 30000;

// A check's Connect waits for the server while the event queue is served, and input
// served there can close the window that owns the client. So the client is shared: its
// owner holds one reference, and whoever waits on it holds another for as long as the
// wait lasts; the client goes when the last of them lets go, never from under a wait.
using MailCheckClient = std::shared_ptr<TPop3Client>;

// The mailbox a check logs in to.
struct MailAccount
{
    QString host;
    QString userId;
    QString password;
};

// Where a check goes, as read from the host field's text.
struct MailServer
{
    QString host; // a name or an address, without brackets
    int port = kPop3Port;
    bool tls = false;
    bool ipv6 = false; // `host` is an IPv6 address
    QString error;     // not empty: the text cannot be read, and this says why
};

// Reads the host field: "name" or "address" (POP3 on port 110, the text kept exactly as
// typed), "name:port", "[IPv6 address]:port", "pop3s://name[:port]" (TLS from the first
// byte, port 995 when none is given). Port 995 always means TLS.
MailServer parseMailHost(const QString &text);

// A client set up for the mail check: kMailCheckTimeOut for each step, status texts up
// to `reportLevel`, and no message parsed or deleted.
MailCheckClient makeMailCheckClient(int reportLevel);

// Aims a client at a mailbox. A host text that cannot be read makes the client's next
// Connect fail before anything is sent.
void setMailAccount(TPop3Client &client, const MailAccount &account);
