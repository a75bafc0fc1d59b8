#include "mail/Pop3Client.h"

#include <cctype>
#include <limits>

namespace {

const QString kAuthenticationFailed = QStringLiteral("Authentication failed");

// A server that closes the connection instead of replying leaves an empty line; that
// failure gets a text of its own instead of an empty message.
QString replyFailureText(const QString &reply)
{
    if (reply.isEmpty())
        return QStringLiteral("Connection closed by the server");
    return reply;
}

// CR, LF and NUL would end or cut the USER or PASS line and let the rest of the value
// reach the server as a command of its own.
bool holdsLineBreakOrZero(const QString &text)
{
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n')) || text.contains(QChar(0));
}

} // namespace

TUUProcessor::TUUProcessor(QObject *owner) : QObject(owner)
{
    Method = uuMime;
}

QString ReplyWord(const QString &line, QChar separator, int k)
{
    QString word;
    int count = 0;
    for (const QChar c : line) {
        if (count >= k)
            break;
        if (c == separator)
            ++count;
        else if (count == k - 1)
            word += c;
    }
    return word;
}

bool IsPositiveReply(const QString &line)
{
    return ReplyWord(line, QLatin1Char(' '), 1).contains(QLatin1String("+OK"));
}

int IntegerOr(const QString &text, int fallback)
{
    if (text.isEmpty())
        return fallback;
    bool ok = false;
    qint64 value = 0;
    int start = 0;
    bool negative = false;
    if (text.at(0) == QLatin1Char('-') || text.at(0) == QLatin1Char('+')) {
        negative = text.at(0) == QLatin1Char('-');
        start = 1;
    }
    const QString digits = text.mid(start);
    if (digits.isEmpty())
        return fallback;
    for (const QChar c : digits) {
        if (c.unicode() > 127)
            return fallback;
    }
    if (digits.at(0) == QLatin1Char('$')) {
        const QString hex = digits.mid(1);
        if (hex.isEmpty() || hex.size() > 8)
            return fallback;
        for (const QChar c : hex) {
            if (!std::isxdigit(c.toLatin1()))
                return fallback;
        }
        value = qint64(hex.toUInt(&ok, 16));
        if (!ok)
            return fallback;
        const qint32 asInt = qint32(quint32(value));
        return negative ? -asInt : asInt;
    }
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return fallback;
        value = value * 10 + (c.unicode() - '0');
        if (value > qint64(std::numeric_limits<qint32>::max()) + 1)
            return fallback;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<qint32>::max() || value < std::numeric_limits<qint32>::min())
        return fallback;
    return int(value);
}

TPop3Client::TPop3Client(QObject *owner) : TBlockingSocket(owner)
{
    Port = 110;
    m_mailMessage = new TMailMessage;
    m_summary = new TSummary;
    DeleteOnRead = false;
    m_inOperation = false;
    m_attachFilePath.clear();
    m_uuProcessor = new TUUProcessor(this);
}

TPop3Client::~TPop3Client()
{
    delete m_summary;
    m_summary = nullptr;
    delete m_mailMessage;
    m_mailMessage = nullptr;
    delete m_uuProcessor;
    m_uuProcessor = nullptr;
    // The socket's destruction aborts; the drop of the connection is this class's part
    // of that abort, so it runs here while this class still exists. A failing drop may not
    // leave the destructor; the socket's own destructor releases the handle in any case.
    m_beingDestroyed = true;
    try {
        TPop3Client::Abort();
    } catch (...) {
    }
}

void TPop3Client::setAttachFilePath(const QString &value)
{
    if (value.endsWith(QLatin1Char('\\')))
        m_attachFilePath = value;
    else
        m_attachFilePath = value + QLatin1Char('\\');
}

void TPop3Client::Abort()
{
    Cancel();
    if (Connected()) {
        TBlockingSocket::Disconnect();
        ClearInput();
    }
}

void TPop3Client::Disconnect()
{
    if (!Connected())
        return;
    std::exception_ptr failure;
    QString reply;
    try {
        reply = Transaction(QStringLiteral("QUIT"));
    } catch (...) {
        failure = std::current_exception();
    }
    TBlockingSocket::Disconnect();
    if (failure)
        std::rethrow_exception(failure);
    if (!IsPositiveReply(reply))
        throw Exception(replyFailureText(reply));
}

bool TPop3Client::CheckLoginReply(const QString &reply, int &attempts)
{
    if (IsPositiveReply(reply))
        return true;
    if (attempts > 0 || !OnAuthenticationFailed)
        throw Exception(kAuthenticationFailed);
    bool handled = false;
    OnAuthenticationFailed(this, handled);
    if (!handled)
        throw Exception(kAuthenticationFailed);
    ++attempts;
    return false;
}

void TPop3Client::Connect()
{
    if (!HostError.isEmpty())
        throw Exception(HostError);
    int attempts = 0;
    while (Password.isEmpty() || UserID.isEmpty()) {
        if (!OnAuthenticationNeeded)
            throw Exception(kAuthenticationFailed);
        if (attempts > 0)
            break;
        bool handled = false;
        OnAuthenticationNeeded(this, handled);
        if (!handled)
            throw Exception(kAuthenticationFailed);
        ++attempts;
    }
    if (holdsLineBreakOrZero(UserID) || holdsLineBreakOrZero(Password))
        throw Exception(QStringLiteral("User ID or password holds a line break or zero character"));

    const bool wasInOperation = m_inOperation;
    m_inOperation = true;
    bool loggedIn = false;
    const auto finish = [&] {
        if (!wasInOperation)
            m_inOperation = false;
        if (loggedIn && OnConnect)
            OnConnect(this);
    };

    try {
        TBlockingSocket::Connect();
        try {
            const QString greeting = ReadLn();
            if (!IsPositiveReply(greeting))
                throw Exception(replyFailureText(greeting));

            int loginAttempts = 0;
            bool loginDone = false;
            while (!loginDone) {
                if (CheckLoginReply(Transaction(QStringLiteral("USER ") + UserID), loginAttempts))
                    loginDone = CheckLoginReply(Transaction(QStringLiteral("PASS ") + Password), loginAttempts);
                ++loginAttempts;
            }
            loggedIn = true;

            const QString stat = Transaction(QStringLiteral("STAT"));
            if (!IsPositiveReply(stat))
                throw Exception(replyFailureText(stat));
            // The count keeps the rule the check has always read it with (decimal, or
            // "$" and hexadecimal digits), not the settings store's wider one (leading
            // spaces, "x" and "0x" forms): no server sends those, and a reply that worked
            // before must mean the same now.
            // A mailbox cannot hold fewer than no messages: a negative count is no valid
            // count either, and would otherwise read as mail waiting.
            const int count = IntegerOr(ReplyWord(stat, QLatin1Char(' '), 2), 0);
            m_messageCount = count < 0 ? 0 : count;
        } catch (const ESockError &) {
            // The socket failed under the conversation (a reply cut off, too long, a
            // time-out): the replies are out of step, so a QUIT would only read a stray
            // line. The connection is dropped without it.
            if (Connected())
                TBlockingSocket::Disconnect();
            throw;
        } catch (...) {
            Disconnect();
            throw;
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
}
