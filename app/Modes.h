#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

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

// The modes' bodies, each in the file named after it.
int runPasswordChangeMode();
int runShowMode(int &argc, char **argv);
int runSettingsMode(int &argc, char **argv);
