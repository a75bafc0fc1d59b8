#include "mail/MailCheck.h"

#include "mail/Pop3Client.h"

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
    client.SetServer(server);
    client.HostError = server.error;
    client.UserID = account.userId;
    client.Password = account.password;
}
