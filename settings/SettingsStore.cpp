#include "settings/SettingsStore.h"

#include "platform/Exception.h"
#include "settings/SettingsText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <algorithm>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString folderPath()
{
    return QFileInfo(SettingsStore::filePath()).absolutePath();
}

// Makes the folder (0700) when it is missing. Returns false when it cannot be made.
bool ensureFolder()
{
    const QString folder = folderPath();
    if (QFileInfo(folder).isDir())
        return true;
    if (!QDir().mkpath(folder))
        return false;
    ::chmod(QFile::encodeName(folder).constData(), 0700);
    return true;
}

// Creates the file empty with mode 0600 before QSettings first writes it, so that the
// password is never readable by others, not even for a moment.
void ensureFile()
{
    const QByteArray path = QFile::encodeName(SettingsStore::filePath());
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
}

// QSettings keeps what it last read of the file, and under its lock reads the file again
// only when its size or its modification time in milliseconds has changed. Another
// process's save of the same size in the same millisecond (a check box turned from 0 to 1)
// would go unnoticed, and the next save here would write the stale copy back over it.
// So saves take a lock of their own and, under it, move the file's time forward before
// QSettings looks: past the file's own time and never behind the clock, so that no copy
// QSettings holds can match it and the file is always read afresh.
void forceFreshRead()
{
    const QByteArray path = QFile::encodeName(SettingsStore::filePath());
    struct stat info
    {};
    timespec now{};
    if (::stat(path.constData(), &info) != 0 || ::clock_gettime(CLOCK_REALTIME, &now) != 0)
        return;
    const auto milliseconds = [](const timespec &t) { return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1'000'000; };
    const qint64 moved = std::max(milliseconds(now), milliseconds(info.st_mtim) + 1);
    const timespec times[2] = {{0, UTIME_OMIT}, {time_t(moved / 1000), long(moved % 1000) * 1'000'000}};
    ::utimensat(AT_FDCWD, path.constData(), times, 0);
}

// QSettings saves through QSaveFile, which does not notice a write that fails while its
// buffer is flushed (a full disk, a file-size limit) and commits the cut-off file as if
// all went well. So after every save the file is read back, through a private copy that
// QSettings has not cached, and compared key for key with what was meant to be written.
bool savedIntact(const QSettings &live)
{
    QFile saved(SettingsStore::filePath());
    if (!saved.open(QIODevice::ReadOnly))
        return false;
    const QByteArray content = saved.readAll();
    QTemporaryFile copy(SettingsStore::filePath() + QStringLiteral(".check-XXXXXX"));
    if (!copy.open() || copy.write(content) != content.size() || !copy.flush())
        return false;
    QSettings check(copy.fileName(), QSettings::IniFormat);
    const QStringList keys = live.allKeys();
    if (check.allKeys().size() != keys.size())
        return false;
    for (const QString &key : keys) {
        if (check.value(key) != live.value(key))
            return false;
    }
    return true;
}

} // namespace

QString SettingNames::folder(int slot)
{
    return QStringLiteral("Folder%1").arg(slot);
}

SettingsStore::SettingsStore(SaveLockWait lockWait) : m_lockWait(std::move(lockWait))
{
    // Opening the store makes its folder, as opening the key creates it.
    ensureFolder();
}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::filePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/Brightwel/Pantel.conf");
}

QString SettingsStore::lockFilePath()
{
    return filePath() + QStringLiteral(".save-lock");
}

std::optional<QString> SettingsStore::readRaw(const QString &section, const QString &name) const
{
    if (!m_reading)
        m_reading = std::make_unique<QSettings>(filePath(), QSettings::IniFormat);
    const QVariant value = m_reading->value(section + QLatin1Char('/') + name);
    if (!value.isValid())
        return std::nullopt;
    // An unquoted text with commas comes back as a list: join it so that no field is lost.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    if (value.canConvert<QString>())
        return value.toString();
    return std::nullopt;
}

QString SettingsStore::ReadString(const QString &section, const QString &name, const QString &fallback) const
{
    return readRaw(section, name).value_or(fallback);
}

qint32 SettingsStore::ReadInteger(const QString &section, const QString &name, qint32 fallback) const
{
    const auto text = readRaw(section, name);
    if (!text)
        return fallback;
    return parseIntegerOr(*text, fallback);
}

bool SettingsStore::ReadBool(const QString &section, const QString &name, bool fallback) const
{
    return ReadInteger(section, name, fallback ? 1 : 0) != 0;
}

void SettingsStore::WriteString(const QString &section, const QString &name, const QString &text)
{
    m_reading.reset();
    bool sectionExists = false;
    bool ok = ensureFolder();
    QLockFile saving(lockFilePath());
    // A lock in the way raises its own message; one that cannot be made at all means the
    // folder takes no file, and the save below fails with the store's message.
    const bool locked = ok && takeSaveLock(saving, m_lockWait);
    if (ok) {
        ensureFile();
        if (locked)
            forceFreshRead();
        QSettings settings(filePath(), QSettings::IniFormat);
        sectionExists = settings.childGroups().contains(section);
        ok = locked && settings.isWritable();
        if (ok) {
            settings.beginGroup(section);
            settings.setValue(name, text);
            settings.endGroup();
            settings.sync();
            ok = settings.status() == QSettings::NoError && savedIntact(settings);
        }
    }
    if (!ok) {
        if (!sectionExists)
            throw Exception(QStringLiteral("キー %1 の作成に失敗しました").arg(section));
        throw Exception(QStringLiteral("'%1' の設定に失敗しました").arg(name));
    }
    // QSettings replaces the file on every save; keep it private to the user.
    const QByteArray path = QFile::encodeName(filePath());
    struct stat info
    {};
    if (::stat(path.constData(), &info) == 0 && (info.st_mode & 0777) != 0600)
        ::chmod(path.constData(), 0600);
}

void SettingsStore::WriteInteger(const QString &section, const QString &name, qint32 value)
{
    WriteString(section, name, QString::number(value));
}

void SettingsStore::WriteBool(const QString &section, const QString &name, bool value)
{
    WriteString(section, name, value ? QStringLiteral("1") : QStringLiteral("0"));
}

std::array<QString, kSlotCount> StoredSettings::folderPaths() const
{
    std::array<QString, kSlotCount> paths;
    for (int i = 0; i < kSlotCount; ++i)
        paths[size_t(i)] = Split(folders[size_t(i)], 7);
    return paths;
}

StoredSettings readSettings(const SettingsStore &store)
{
    using namespace SettingNames;
    StoredSettings s;
    s.orderF = store.ReadBool(Section, OrderF, DefaultOrderF);
    for (int i = 0; i < kSlotCount; ++i)
        s.folders[size_t(i)] = store.ReadString(Section, folder(i), DefaultFolder);
    s.startNo = store.ReadInteger(Section, StartNo, DefaultStartNo);
    s.host = store.ReadString(Section, Host, QString());
    s.userId = store.ReadString(Section, UserID, QString());
    s.password = store.ReadString(Section, Password, QString());
    s.roundTime = store.ReadInteger(Section, RoundTime, DefaultRoundTime);
    s.mailCheckF = store.ReadBool(Section, MailCheckF, DefaultMailCheckF);
    s.photo = readPhotoOptions(store);
    return s;
}

PhotoOptions readPhotoOptions(const SettingsStore &store)
{
    PhotoOptions options;
    for (const SettingNames::PhotoOptionName &option : SettingNames::kPhotoOptions)
        options.*option.flag = store.ReadString(SettingNames::Section, option.name, QString()) == QLatin1String("1");
    return options;
}

void writeSettings(SettingsStore &store, const StoredSettings &s)
{
    using namespace SettingNames;
    store.WriteBool(Section, OrderF, s.orderF);
    for (int i = 0; i < kSlotCount; ++i)
        store.WriteString(Section, folder(i), s.folders[size_t(i)]);
    store.WriteInteger(Section, StartNo, s.startNo);
    store.WriteString(Section, Host, s.host);
    store.WriteString(Section, UserID, s.userId);
    store.WriteString(Section, Password, s.password);
    store.WriteInteger(Section, RoundTime, s.roundTime);
    store.WriteBool(Section, MailCheckF, s.mailCheckF);
    for (const PhotoOptionName &option : kPhotoOptions)
        store.WriteBool(Section, option.name, s.photo.*option.flag);
}
