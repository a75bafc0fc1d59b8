#include "mail/MailCheck.h"

#include "mail/HostLookup.h"
#include "mail/Pop3Client.h"

#include <sys/socket.h>

namespace {

MailServer failed(const QString &text, const QString &why)
{
    MailServer server;
    server.error = QStringLiteral("Mail server field \"%1\": %2").arg(text, why);
    return server;
}

bool isIpv6Address(const QString &text)
{
    return addressFamilyOf(text) == AF_INET6;
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
        // Today's form: the text goes to the lookup as it is.
        server.host = text;
        return server;
    }

    QString portText;
    bool hasPort = false;
    if (rest.startsWith(QLatin1Char('['))) {
        const int close = rest.indexOf(QLatin1Char(']'));
        if (close < 0)
            return failed(text, QStringLiteral("the '[' has no ']'"));
        server.host = rest.mid(1, close - 1);
        if (!isIpv6Address(server.host))
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
        if (!isIpv6Address(rest))
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
    return server;
}

MailCheckClient makeMailCheckClient(int reportLevel)
{
    auto client = std::make_shared<TPop3Client>();
    client->Port = kPop3Port;
    client->TimeOut = kMailCheckTimeOut;
    client->ReportLevel = reportLevel;
    client->Parse = false;
    client->DeleteOnRead = false;
    return client;
}

void setMailAccount(TPop3Client &client, const MailAccount &account)
{
    const MailServer server = parseMailHost(account.host);
    client.Host = server.host;
    client.Port = server.port;
    client.Tls = server.tls;
    client.HostError = server.error;
    client.UserID = account.userId;
    client.Password = account.password;
}
