#pragma once

#include <QString>

// The mail check's period in milliseconds for a RoundTime in minutes. A RoundTime of 0
// or less would make the timer fire never (or all the time), so it counts as the
// setup dialog's shortest period, 5 minutes; the largest periods end at the timer's limit.
int mailCheckInterval(int roundTime);

// The mail check's port: the text as a port number (1 to 65535), else the POP3 port 110.
int mailPortFrom(const QString &text);

// The companion's atoms: it runs, and it has talked.
inline const QString CompanionAtom = QStringLiteral("Querk.exe");
inline const QString TalkedAtom = QStringLiteral("QuerkTalked");
// The clock label's text while the frame carries the talk look.
inline const QString TalkText = QStringLiteral("<<< Pantelo Talked >>>");
