#include "mail/MailCheck.h"

#include "mail/Pop3Client.h"

MailCheckClient makeMailCheckClient(int port, int reportLevel)
{
    auto client = std::make_shared<TPop3Client>();
    client->Port = port;
    client->TimeOut = kMailCheckTimeOut;
    client->ReportLevel = reportLevel;
    client->Parse = false;
    client->DeleteOnRead = false;
    return client;
}

void setMailAccount(TPop3Client &client, const MailAccount &account)
{
    client.Host = account.host;
    client.UserID = account.userId;
    client.Password = account.password;
}
