#pragma once

#include <QString>
#include <QStringView>
#include <QtGlobal>
#include <optional>

// The text forms shared by every reader and writer of the settings.

// The integer parse: leading spaces, an optional sign, then decimal digits or hexadecimal
// digits behind "$", "x", "X", "0x" or "0X", and nothing after the digits. Hexadecimal
// texts take the full 32 bits ("$FFFFFFFF" is -1); decimal texts must fit a signed 32-bit
// number. Empty when the text does not parse.
std::optional<qint32> parseInteger(QStringView text);

// Integer parse with a default for a text that does not parse.
qint32 parseIntegerOr(QStringView text, qint32 fallback);

// Removes leading and trailing characters whose code is 32 or less.
QString trimControl(const QString &text);

// Upper-cases the ASCII letters a to z only; every other character stays as it is.
QString upperAscii(const QString &text);
