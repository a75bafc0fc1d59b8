#pragma once

// The mail server a host text names, read once: the check's set-up, the lookup, the
// connect and the TLS name check all take it from here.
#include <QByteArray>
#include <QString>

// The POP3 port (RFC 1939).
constexpr int kPop3Port = 110;
// The port of POP3 over TLS from the first byte (RFC 8314).
constexpr int kPop3sPort = 995;

// Where a check goes, as read from the host field's text.
struct MailServer
{
    QString host; // a name or an address, without brackets
    int port = kPop3Port;
    bool tls = false;
    bool ipv6 = false; // `host` is an IPv6 address
    // The one form the host is looked up by, sent as the TLS server name and checked
    // against the certificate: without the blanks around it, a name in its IDNA (ASCII)
    // form, an address as it is written.
    QByteArray name;
    QString error; // not empty: the text cannot be read, and this says why
};

// Reads the host field: "name" or "address" (POP3 on port 110, the text kept exactly as
// typed), "name:port", "[IPv6 address]:port", "pop3s://name[:port]" (TLS from the first
// byte, port 995 when none is given). Port 995 always means TLS. A name without an IDNA
// form cannot be read.
MailServer parseMailHost(const QString &text);

// The server that a host alone names (no scheme, no port, no brackets): its `name` and
// IPv6 flag; `error` says why a name has no IDNA form.
MailServer serverNamed(const QString &host);

// The family of the address `text` is (AF_INET or AF_INET6; blanks around it and a
// "%scope" after an IPv6 one are allowed), 0 when it is no address. An IPv4 address is
// put in `ipv4` in host byte order.
int addressFamilyOf(const QString &text, quint32 *ipv4 = nullptr);
