#pragma once

#include <QColor>
#include <QString>
#include <QtGlobal>
#include <optional>

// Colours as the settings store them: a 32-bit value, plain colours laid out 0x00BBGGRR,
// the platform's system colours as 0x80000000 + index, and "clNone" 0x1FFFFFFF.
using ColorValue = quint32;

constexpr ColorValue clBlack = 0x000000;
constexpr ColorValue clMaroon = 0x000080;
constexpr ColorValue clYellow = 0x00FFFF;
constexpr ColorValue clWhite = 0xFFFFFF;
constexpr ColorValue clNone = 0x1FFFFFFF;
constexpr ColorValue clSystemBase = 0x80000000u;

// The colour's name from the 42-entry table, else "$" and eight upper-case hex digits.
QString colorToString(ColorValue color);

// A name of the table (any letter case), else the integer parse. Empty when neither.
std::optional<ColorValue> stringToColor(const QString &text);

// What a clock colour text shows as: a text that is neither a name nor a number reads
// as black.
ColorValue clockColorOf(const QString &text);

// The colour on screen. System colours take the classic Windows standard scheme so that
// the frame looks the same on every desktop; clNone shows as black.
QColor toQColor(ColorValue color);

// The plain colour value of an on-screen colour (what a colour dialog gives).
ColorValue fromQColor(const QColor &color);

// Number of entries in the colour-name table and access to them (for tests).
int colorNameCount();
QString colorNameAt(int index);
ColorValue colorValueAt(int index);
