#include "app/Modes.h"

#include "platform/Platform.h"
#include "platform/PreviewParent.h"
#include "settings/SettingsText.h"

namespace {

// The second argument as a window handle: decimal, or hexadecimal behind "$", "x" or
// "0x" (X11 tools print window ids in hex); missing or not a number gives 0.
quint32 windowArgument(const QStringList &arguments)
{
    if (arguments.size() < 2)
        return 0;
    return quint32(parseIntegerOr(arguments.at(1), 0));
}

} // namespace

ModeChoice chooseMode(const QStringList &arguments)
{
    ModeChoice choice;
    if (arguments.isEmpty()) {
        choice.modeText = QStringLiteral("/C");
        choice.mode = Mode::Settings;
        return choice;
    }
    choice.modeText = upperAscii(arguments.first());
    // An empty first argument has no character to read: treat it like no arguments.
    if (choice.modeText.isEmpty()) {
        choice.mode = Mode::Settings;
        return choice;
    }
    // A one-character mode text has no mode letter and selects the run mode.
    const QChar letter = choice.modeText.size() >= 2 ? choice.modeText.at(1) : QChar();
    if (letter == QLatin1Char('A')) {
        choice.mode = Mode::PasswordChange;
        choice.previewParent = windowArgument(arguments);
    } else if (letter == QLatin1Char('C')) {
        choice.mode = Mode::Settings;
    } else if (letter == QLatin1Char('P')) {
        choice.mode = Mode::Preview;
        choice.previewParent = windowArgument(arguments);
    } else {
        choice.mode = Mode::Run;
    }
    return choice;
}

int runMode(const ModeChoice &choice, int &argc, char **argv)
{
    setPreviewParent(choice.previewParent);
    switch (choice.mode) {
    case Mode::PasswordChange:
        return runPasswordChangeMode();
    case Mode::Settings:
        return runSettingsMode(argc, argv);
    case Mode::Preview:
    case Mode::Run:
        return runShowMode(argc, argv);
    }
    return 0;
}

int runPasswordChangeMode()
{
    // The system's password-change dialog for screen savers; where the system has no
    // such library (Linux), the mode ends at once and shows nothing.
    if (auto changer = platform().loadPasswordChanger())
        changer->change(QByteArrayLiteral("SCRSAVE"), previewParent(), 0, 0);
    return 0;
}
