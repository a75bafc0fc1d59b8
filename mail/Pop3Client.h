#pragma once

#include "mail/BlockingSocket.h"

#include <QList>
#include <QObject>
#include <QStringList>

class QIODevice;

// A string list; it adds nothing to the plain one here.
class TExStringList : public QStringList
{};

// The summary of one message.
class TSummary
{
public:
    QString Subject;
    QString From;
    int Bytes = 0;
    QString MessageId;
    TExStringList Header;
};

// One retrieved message: its header lines, body, attachment names and decoded parts.
class TMailMessage
{
public:
    TExStringList Header;
    QStringList Body;
    QStringList Attachments;
    QStringList Parts;
    QList<void *> Items;
};

// Attachment encoder and decoder.
class TUUProcessor : public QObject
{
    Q_OBJECT

public:
    enum UUMethods { uuMime = 0, uuCode };

    explicit TUUProcessor(QObject *owner = nullptr);

    UUMethods Method = uuMime;
    TNotifyEvent OnBeginEncode;
    TNotifyEvent OnEndEncode;
    TNotifyEvent OnBeginDecode;
    TNotifyEvent OnEndDecode;
    QIODevice *InputStream = nullptr;
    QIODevice *OutputStream = nullptr;
};

// Field k (counting from 1) of `line` split at `separator`. Separators are not merged,
// so two in a row make an empty field; the last field keeps the line's CR LF.
QString ReplyWord(const QString &line, QChar separator, int k);

// A POP3 reply is positive when its status word holds "+OK" (RFC 1939: "+OK" or "-ERR").
bool IsPositiveReply(const QString &line);

// The integer of a text, or `fallback` when the text is not a valid integer text (a
// decimal number with an optional sign, or "$" and hexadecimal digits, within 32 bits).
int IntegerOr(const QString &text, int fallback);

// The mail check client: logs in to a POP3 mailbox (RFC 1939) and learns how many
// messages wait there. One Connect is the whole check: lookup, TCP connect, greeting,
// USER, PASS and STAT; OnConnect is raised inside it, and its handler disconnects.
class TPop3Client : public TBlockingSocket
{
    Q_OBJECT

public:
    explicit TPop3Client(QObject *owner = nullptr);
    ~TPop3Client() override;

    void Connect() override;
    void Disconnect() override;
    void Abort() override;

    // Published properties.
    QString UserID;
    QString Password;
    bool Parse = false;
    bool DeleteOnRead = false;
    // Not empty: the host text could not be read, and Connect fails with this text
    // before anything is sent.
    QString HostError;
    TNotifyEvent OnConnect; // raised once the login succeeded
    THandlerEvent OnAuthenticationNeeded;
    THandlerEvent OnAuthenticationFailed;
    TNotifyEvent OnReset;
    TNotifyEvent OnRetrieveStart;
    TNotifyEvent OnRetrieveEnd;
    TNotifyEvent OnSuccess;
    TNotifyEvent OnFailure;
    TListEvent OnList;
    TVarFileNameEvent OnDecodeStart;
    TNotifyEvent OnDecodeEnd;

    QString AttachFilePath() const { return m_attachFilePath; }
    void setAttachFilePath(const QString &value);

    int MessageCount() const { return m_messageCount; }
    bool InOperation() const { return m_inOperation; }

    TSummary *Summary() const { return m_summary; }
    TMailMessage *MailMessage() const { return m_mailMessage; }
    TUUProcessor *UUProcessor() const { return m_uuProcessor; }

private:
    // Judges the reply to USER or PASS: true accepts it, false asks for another pass of
    // the login loop; raises when the login has failed.
    bool CheckLoginReply(const QString &reply, int &attempts);

    TUUProcessor *m_uuProcessor = nullptr;
    QString m_attachFilePath;
    TSummary *m_summary = nullptr;
    TMailMessage *m_mailMessage = nullptr;
    bool m_inOperation = false;
    int m_messageCount = 0;
};
