#include "show/ClockText.h"

#include <QRegularExpression>

QString clockText(QTime time, const QString &separator)
{
    return QString::number(time.hour()) + separator + QStringLiteral("%1").arg(time.minute(), 2, 10, QLatin1Char('0'));
}

QString timeSeparator(const QLocale &locale)
{
    const QString format = locale.timeFormat(QLocale::ShortFormat);
    const qsizetype hour = format.indexOf(QRegularExpression(QStringLiteral("[hH]")));
    if (hour < 0)
        return QStringLiteral(":");
    qsizetype i = hour;
    while (i < format.size() && (format.at(i) == QLatin1Char('h') || format.at(i) == QLatin1Char('H')))
        ++i;
    const qsizetype minute = format.indexOf(QLatin1Char('m'), i);
    if (minute <= i)
        return QStringLiteral(":");
    QString separator = format.mid(i, minute - i);
    separator.remove(QLatin1Char('\''));
    return separator.isEmpty() ? QStringLiteral(":") : separator;
}
