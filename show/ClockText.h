#pragma once

#include <QLocale>
#include <QString>
#include <QTime>

// The clock: hour on the 24-hour clock without a leading zero, the separator, two-digit
// minutes ("9:05").
QString clockText(QTime time, const QString &separator);

// The time separator of a locale: what its short time format puts between hours and
// minutes; ":" when the format has none.
QString timeSeparator(const QLocale &locale);
