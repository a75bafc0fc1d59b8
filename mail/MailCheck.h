#pragma once

// The client of a mail check, as the show window's indicator and the settings dialog's
// test both use it.
#include "mail/MailServer.h"

#include <QString>
#include <memory>

class TPop3Client;

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

// A client set up for the mail check: kMailCheckTimeOut for each step, status texts up
// to `reportLevel`, and no message parsed or deleted.
MailCheckClient makeMailCheckClient(int reportLevel);

// Aims a client at a mailbox. A host text that cannot be read makes the client's next
// Connect fail before anything is sent.
void setMailAccount(TPop3Client &client, const MailAccount &account);
