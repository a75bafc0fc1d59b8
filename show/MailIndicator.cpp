#include "show/MailIndicator.h"

#include <QtGlobal>
#include <limits>

namespace {

constexpr int ShortestRoundTime = 5;
constexpr int Pop3Port = 110;

} // namespace

int mailCheckInterval(int roundTime)
{
    const qint64 minutes = roundTime > 0 ? roundTime : ShortestRoundTime;
    return int(qMin(minutes * 60000, qint64(std::numeric_limits<int>::max())));
}

int mailPortFrom(const QString &text)
{
    bool ok = false;
    const int port = text.trimmed().toInt(&ok);
    return ok && port >= 1 && port <= 65535 ? port : Pop3Port;
}
