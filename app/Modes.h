#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <functional>
#include <memory>

class TerminationSignal;

// The command line picks one of four modes by the second character of its first
// argument, upper-cased in ASCII ("/s", "-S", "/c:1234"); no arguments at all mean the
// settings mode.
enum class Mode { PasswordChange, Settings, Preview, Run };

struct ModeChoice
{
    QString modeText; // first argument upper-cased, or "/C"
    Mode mode = Mode::Settings;
    quint32 previewParent = 0; // from the second argument in modes A and P
};

// `arguments` without the program name.
ModeChoice chooseMode(const QStringList &arguments);

// Starts the chosen mode and returns the process's exit status when it ends.
int runMode(const ModeChoice &choice, int &argc, char **argv);

// SIGTERM, the way daemons and session managers end a program, ends the mode: every open
// dialog and message box is closed as if cancelled, so that their own event loops end,
// and then `end` runs. Call it as soon as the application object exists, before anything
// can wait. Null when the signal cannot be caught.
std::unique_ptr<TerminationSignal> endOnTermination(std::function<void()> end);

// The modes' bodies, each in the file named after it.
int runPasswordChangeMode();
int runShowMode(int &argc, char **argv);
int runSettingsMode(int &argc, char **argv);
