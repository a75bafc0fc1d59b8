// The Linux side of the seam. Linux is of the NT kind as far as the saver is concerned:
// the desktop's screen locker owns the password, so the window itself never prompts, and
// the Windows 9x password libraries do not exist, which makes their callers take the
// "library could not be loaded" branch.
#include "platform/Platform.h"
#include "platform/TerminationSignal.h"

#include <QApplication>
#include <QBitmap>
#include <QCursor>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <dirent.h>
#include <unistd.h>

namespace {

// Qt's blank cursor is first looked for in the cursor themes, a dozen files on the way
// to the first frame, before Qt makes one of its own; a cursor of an empty bitmap is made
// at once and shows the same nothing.
QCursor blankCursor()
{
    QBitmap empty(16, 16);
    empty.clear();
    return QCursor(empty, empty);
}

class LinuxPlatform final : public Platform
{
public:
    int showCursor(bool show) override
    {
        const bool wasHidden = m_cursorCount < 0;
        m_cursorCount += show ? 1 : -1;
        const bool hidden = m_cursorCount < 0;
        if (hidden != wasHidden && qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
            if (hidden)
                QGuiApplication::setOverrideCursor(blankCursor());
            else
                QGuiApplication::restoreOverrideCursor();
        }
        return m_cursorCount;
    }

    std::optional<quint32> platformId() override { return 2; }

    void setScreenSaverRunning(bool) override {}

    DesktopValue screenSaveUsePassword() override { return {}; }

    std::unique_ptr<PasswordVerifier> loadPasswordVerifier() override { return nullptr; }
    std::unique_ptr<PasswordChanger> loadPasswordChanger() override { return nullptr; }

    bool globalAtomExists(const QString &name) override
    {
        if (name.isEmpty() || name.contains(QLatin1Char('/')) || name == QLatin1String(".")
            || name == QLatin1String(".."))
            return false;
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        const QString folder = runtime.isEmpty() ? QStringLiteral("/tmp/global-atoms-%1").arg(getuid())
                                                 : QString::fromLocal8Bit(runtime) + QStringLiteral("/global-atoms");
        return QFileInfo::exists(folder + QLatin1Char('/') + name);
    }

    void openUrl(const QString &address) override { QDesktopServices::openUrl(QUrl(address)); }

    void beep() override
    {
        if (qobject_cast<QApplication *>(QCoreApplication::instance()))
            QApplication::beep();
    }

    QStringList folderEntryNames(const QString &folder) override
    {
        QStringList names;
        // readdir alone: a stat of every entry would cost more than the whole listing.
        DIR *dir = opendir(QFile::encodeName(folder).constData());
        if (!dir)
            return names;
        const QByteArrayView byteOrderMark("\xEF\xBB\xBF");
        // A folder of hundreds of thousands of entries takes a good part of a second; a
        // SIGTERM ends the listing, since nothing will be shown from it.
        while (const dirent *entry = terminationPending() ? nullptr : readdir(dir)) {
            const QByteArrayView name(entry->d_name);
            if (name == ".." || name == "." || !name.isValidUtf8())
                continue;
            // The decoder would drop a byte order mark at the start of a text, but in a
            // name it is a character like any other, as it is inside a whole path.
            if (name.startsWith(byteOrderMark))
                names << QChar(QChar::ByteOrderMark) + QString::fromUtf8(name.sliced(byteOrderMark.size()));
            else
                names << QString::fromUtf8(name);
        }
        closedir(dir);
        return names;
    }

private:
    int m_cursorCount = 0;
};

std::unique_ptr<Platform> &installed()
{
    static std::unique_ptr<Platform> instance;
    return instance;
}

} // namespace

std::unique_ptr<Platform> makeSystemPlatform()
{
    return std::make_unique<LinuxPlatform>();
}

Platform &platform()
{
    if (!installed())
        installed() = makeSystemPlatform();
    return *installed();
}

void installPlatform(std::unique_ptr<Platform> platform)
{
    installed() = std::move(platform);
}
