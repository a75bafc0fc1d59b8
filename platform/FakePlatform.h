#pragma once

#include "platform/Platform.h"

#include <QSet>
#include <QStringList>
#include <functional>

// A platform for tests: every answer is a field that the test sets, and every call that
// changes something is recorded, so both branches of the Windows 9x paths can be driven
// on any machine. Install it with installFake(), which returns the installed object.
class FakePlatform final : public Platform
{
public:
    // Answers.
    std::optional<quint32> id = 2;
    DesktopValue desktop;
    bool verifierLibraryPresent = false;
    std::function<bool(quint64)> verifyAnswer; // called for each prompt
    bool changerLibraryPresent = false;
    QSet<QString> atoms;

    // Records.
    int cursorCount = 0;
    QList<int> cursorCalls; // +1 / -1 in call order
    QList<bool> screenSaverRunningCalls;
    QList<quint64> verifyCalls;
    int verifierUnloads = 0;
    QList<quint32> changeOwners;
    QStringList openedUrls;
    int beeps = 0;

    int showCursor(bool show) override;
    std::optional<quint32> platformId() override { return id; }
    void setScreenSaverRunning(bool running) override { screenSaverRunningCalls << running; }
    DesktopValue screenSaveUsePassword() override { return desktop; }
    std::unique_ptr<PasswordVerifier> loadPasswordVerifier() override;
    std::unique_ptr<PasswordChanger> loadPasswordChanger() override;
    bool globalAtomExists(const QString &name) override { return atoms.contains(name); }
    void openUrl(const QString &address) override { openedUrls << address; }
    void beep() override { ++beeps; }
    // The tests list real folders that they make, so the listing is the system's.
    QStringList folderEntryNames(const QString &folder) override;

    static FakePlatform &installFake();
};
