#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <memory>
#include <optional>

// The one seam to the operating system. Every facility the saver takes from the system
// (the cursor counter, the platform id, the screen-saver password machinery, the
// companion's global atoms, the shell, the beep, the folder listing) goes through this
// interface, so that tests drive every branch with FakePlatform and production code
// never asks whether it runs under test.
class Platform
{
public:
    // What "Control Panel\desktop" gave for "ScreenSaveUsePassword".
    struct DesktopValue
    {
        bool keyOpened = false;      // false: the key could not be opened for reading
        std::optional<QString> text; // the value's text; empty when absent
    };

    // The system's screen-saver password prompt ("VerifyScreenSavePwd" of
    // "PASSWORD.CPL"). Destroying the object unloads the library.
    class PasswordVerifier
    {
    public:
        virtual ~PasswordVerifier() = default;
        // Shows the prompt for `window`; true when the password was right.
        virtual bool verify(quint64 window) = 0;
    };

    // The system's password-change dialog ("PwdChangePasswordA" of "MPR.DLL").
    class PasswordChanger
    {
    public:
        virtual ~PasswordChanger() = default;
        virtual void change(const QByteArray &provider, quint32 owner, quint32 reserved1, quint32 reserved2) = 0;
    };

    virtual ~Platform() = default;

    // The ShowCursor counter: +1 for show, -1 for hide; the cursor is visible while the
    // counter is 0 or more. Returns the new count.
    virtual int showCursor(bool show) = 0;

    // The operating-system version query: 1 = Windows 9x family, 2 = NT family.
    // Empty when the query fails.
    virtual std::optional<quint32> platformId() = 0;

    // SPI_SETSCREENSAVERRUNNING; only called for platform id 1.
    virtual void setScreenSaverRunning(bool running) = 0;

    virtual DesktopValue screenSaveUsePassword() = 0;

    // Null when the library cannot be loaded or lacks the function.
    virtual std::unique_ptr<PasswordVerifier> loadPasswordVerifier() = 0;
    virtual std::unique_ptr<PasswordChanger> loadPasswordChanger() = 0;

    // GlobalFindAtom: whether the named global atom exists (looked up only).
    virtual bool globalAtomExists(const QString &name) = 0;

    // ShellExecute with the verb "OPEN" on a web address.
    virtual void openUrl(const QString &address) = 0;

    // MessageBeep.
    virtual void beep() = 0;

    // The names of one folder's entries in the order the system lists them: every kind
    // of entry (hidden ones, sub-folders, links, devices), their attributes not looked
    // at; "." and ".." are left out, and so are names that are not valid UTF-8, which no
    // text could name again. Empty when the folder cannot be opened (missing, not
    // readable, not a folder). Cut short once SIGTERM has come (terminationPending):
    // the program is ending and shows none of them.
    virtual QStringList folderEntryNames(const QString &folder) = 0;
};

// The process-wide platform. The program installs the real one at start; a test
// installs a FakePlatform. Until something is installed the real one is used.
Platform &platform();
void installPlatform(std::unique_ptr<Platform> platform);

// The real implementation for this system.
std::unique_ptr<Platform> makeSystemPlatform();
