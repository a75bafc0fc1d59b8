#include "SlideMove.h"

#include <QRegularExpression>
#include <cstdlib>

int slideStep(int left, int slideWidth, int border)
{
    if (left >= border)
        return 0;
    const int half = (-slideWidth - border) / 2;
    int step;
    if (left < half)
        step = ((-slideWidth - left) / 2) - 1;
    else
        step = ((left - border) / 5) - 1;
    return -step;
}

MoveState moveStep(MoveState state, QSize frame, QSize window)
{
    state.left += state.right ? 1 : -1;
    state.top += state.down ? 1 : -1;
    if (state.left <= 0)
        state.right = !state.right;
    if (state.top <= 0)
        state.down = !state.down;
    if (state.left + frame.width() >= window.width())
        state.right = !state.right;
    if (state.top + frame.height() >= window.height())
        state.down = !state.down;
    return state;
}

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

bool mouseMoveCloses(QPoint first, QPoint now)
{
    return std::abs(first.x() - now.x()) > 5 || std::abs(first.y() - now.y()) > 5;
}
