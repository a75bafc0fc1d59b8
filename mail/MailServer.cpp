#include "mail/MailServer.h"

#include <QUrl>

#include <arpa/inet.h>
#include <sys/socket.h>

namespace {

MailServer failed(const QString &text, const QString &why)
{
    MailServer server;
    server.error = QStringLiteral("Mail server field \"%1\": %2").arg(text, why);
    return server;
}

// A port is 1 to 5 ASCII digits naming 1 to 65535.
int portOf(const QString &text)
{
    if (text.isEmpty() || text.size() > 5)
        return 0;
    int port = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
        port = port * 10 + (c.unicode() - '0');
    }
    return port <= 65535 ? port : 0;
}

// `server` with the name of `host`; fails when the name has none.
MailServer named(const QString &text, MailServer server, const QString &host)
{
    const MailServer name = serverNamed(host);
    if (!name.error.isEmpty())
        return failed(text, name.error);
    server.host = host;
    server.name = name.name;
    server.ipv6 = name.ipv6;
    return server;
}

} // namespace

MailServer parseMailHost(const QString &text)
{
    MailServer server;
    QString rest = text;
    const int scheme = text.indexOf(QLatin1String("://"));
    if (scheme >= 0) {
        if (text.left(scheme).compare(QLatin1String("pop3s"), Qt::CaseInsensitive) != 0)
            return failed(text, QStringLiteral("the only scheme known is pop3s://"));
        server.tls = true;
        server.port = kPop3sPort;
        rest = text.mid(scheme + 3);
        if (rest.endsWith(QLatin1Char('/')))
            rest.chop(1);
    } else if (!text.contains(QLatin1Char(':')) && !text.contains(QLatin1Char('['))
               && !text.contains(QLatin1Char(']'))) {
        // Today's form: the whole text is the host, kept as typed.
        return named(text, server, text);
    }

    QString portText;
    bool hasPort = false;
    if (rest.startsWith(QLatin1Char('['))) {
        const int close = rest.indexOf(QLatin1Char(']'));
        if (close < 0)
            return failed(text, QStringLiteral("the '[' has no ']'"));
        server.host = rest.mid(1, close - 1);
        if (addressFamilyOf(server.host) != AF_INET6)
            return failed(text, QStringLiteral("\"%1\" in brackets is no IPv6 address").arg(server.host));
        server.ipv6 = true;
        const QString after = rest.mid(close + 1);
        if (!after.isEmpty() && !after.startsWith(QLatin1Char(':')))
            return failed(text, QStringLiteral("only \":port\" may follow the ']'"));
        hasPort = !after.isEmpty();
        portText = after.mid(1);
    } else if (rest.contains(QLatin1Char('[')) || rest.contains(QLatin1Char(']'))) {
        return failed(text, QStringLiteral("a bracket belongs only around an IPv6 address"));
    } else if (rest.count(QLatin1Char(':')) > 1) {
        if (addressFamilyOf(rest) != AF_INET6)
            return failed(text, QStringLiteral("an IPv6 address with a port goes in brackets: [address]:port"));
        server.host = rest;
        server.ipv6 = true;
    } else {
        const int colon = rest.indexOf(QLatin1Char(':'));
        hasPort = colon >= 0;
        server.host = hasPort ? rest.left(colon) : rest;
        portText = hasPort ? rest.mid(colon + 1) : QString();
    }
    if (server.host.isEmpty())
        return failed(text, QStringLiteral("no server name"));
    if (hasPort) {
        server.port = portOf(portText);
        if (server.port == 0)
            return failed(text, QStringLiteral("the port \"%1\" is no number from 1 to 65535").arg(portText));
    }
    if (server.port == kPop3sPort)
        server.tls = true;
    return named(text, server, server.host);
}

MailServer serverNamed(const QString &host)
{
    MailServer server;
    server.host = host;
    const QString bare = host.trimmed();
    switch (addressFamilyOf(bare)) {
    case AF_INET:
        server.name = bare.toLatin1();
        break;
    case AF_INET6:
        server.ipv6 = true;
        server.name = bare.toLatin1();
        break;
    default:
        // The resolver, the server name sent and the certificate's names all speak
        // ASCII: a name outside it goes everywhere in its IDNA form, and one that has
        // none goes nowhere.
        server.name = QUrl::toAce(bare);
        if (server.name.isEmpty() && !bare.isEmpty())
            server.error = QStringLiteral("the name \"%1\" has no international (IDNA) form").arg(bare);
        break;
    }
    return server;
}

int addressFamilyOf(const QString &text, quint32 *ipv4)
{
    QByteArray bytes = text.simplified().toLatin1();
    in_addr address4{};
    if (::inet_pton(AF_INET, bytes.constData(), &address4) == 1) {
        if (ipv4)
            *ipv4 = ntohl(address4.s_addr);
        return AF_INET;
    }
    const int scope = bytes.lastIndexOf('%');
    if (scope >= 0)
        bytes.truncate(scope);
    in6_addr address6{};
    return ::inet_pton(AF_INET6, bytes.constData(), &address6) == 1 ? AF_INET6 : 0;
}
