#pragma once

#include "settings/PhotoOptions.h"
#include "settings/SaveLock.h"
#include "settings/SlotSettings.h"

#include <QString>
#include <array>
#include <memory>
#include <optional>

class QSettings;

// The settings of the current user: one file, $XDG_CONFIG_HOME/Brightwel/Pantel.conf
// (~/.config/... by default), with every value stored as a string in one section.
// A store object lives for one load or one save. Its first read reads the whole file,
// and its later reads take their values from that reading (a large hand-edited file is
// read once per load, not once per value); every write opens the file itself and makes
// the next read read it again, so separate processes (the dialog, a preview, the saver)
// see each other's writes from one store to the next; each write takes the lock file
// beside the settings, waiting for it as `lockWait` says. The file holds the mail password
// in plain text, so the folder is made 0700 and the file 0600.
class SettingsStore
{
public:
    explicit SettingsStore(SaveLockWait lockWait = {});
    ~SettingsStore();
    SettingsStore(const SettingsStore &) = delete;
    SettingsStore &operator=(const SettingsStore &) = delete;

    // The file behind the store, and the lock file that saves take beside it.
    static QString filePath();
    static QString lockFilePath();

    QString ReadString(const QString &section, const QString &name, const QString &fallback) const;
    qint32 ReadInteger(const QString &section, const QString &name, qint32 fallback) const;
    bool ReadBool(const QString &section, const QString &name, bool fallback) const;

    // Each write raises Exception with "キー %s の作成に失敗しました" when the section
    // cannot be created, or "'%s' の設定に失敗しました" when the value cannot be set;
    // when the lock cannot be taken, with a text that names the lock file and what is
    // wrong with it (SaveLock.h).
    void WriteString(const QString &section, const QString &name, const QString &text);
    void WriteInteger(const QString &section, const QString &name, qint32 value);
    void WriteBool(const QString &section, const QString &name, bool value);

private:
    std::optional<QString> readRaw(const QString &section, const QString &name) const;

    SaveLockWait m_lockWait;
    mutable std::unique_ptr<QSettings> m_reading; // the file as this store read it
};

// The one table of setting names and defaults; both readers use it.
namespace SettingNames {
inline const QString Section = QStringLiteral("Config");
inline const QString OrderF = QStringLiteral("OrderF");
inline const QString StartNo = QStringLiteral("StartNo");
inline const QString Host = QStringLiteral("Host");
inline const QString UserID = QStringLiteral("UserID");
inline const QString Password = QStringLiteral("Password");
inline const QString RoundTime = QStringLiteral("RoundTime");
inline const QString MailCheckF = QStringLiteral("MailCheckF");
inline const QString FitPicture = QStringLiteral("FitPicture");
inline const QString AllFormats = QStringLiteral("AllFormats");
inline const QString SubFolders = QStringLiteral("SubFolders");
inline const QString Shuffle = QStringLiteral("Shuffle");
inline const QString ShowDate = QStringLiteral("ShowDate");
QString folder(int slot); // "Folder0" to "Folder5"

inline constexpr bool DefaultOrderF = false;
inline constexpr int DefaultStartNo = 0;
inline constexpr int DefaultRoundTime = 15;
inline constexpr bool DefaultMailCheckF = false;
inline const QString DefaultFolder = defaultSlotText();

// The photo options with their names, in the order they are saved and shown; each
// defaults to off, as PhotoOptions{} holds it.
struct PhotoOptionName
{
    const QString &name;
    bool PhotoOptions::*flag;
};
inline const std::array<PhotoOptionName, 5> kPhotoOptions{{
    {FitPicture, &PhotoOptions::fitPicture},
    {AllFormats, &PhotoOptions::allFormats},
    {SubFolders, &PhotoOptions::subFolders},
    {Shuffle, &PhotoOptions::shuffle},
    {ShowDate, &PhotoOptions::showDate},
}};
} // namespace SettingNames

// The whole set of stored values as read, with the defaults filled in.
struct StoredSettings
{
    bool orderF = SettingNames::DefaultOrderF;
    std::array<QString, kSlotCount> folders; // packed slot texts
    int startNo = SettingNames::DefaultStartNo;
    QString host;
    QString userId;
    QString password;
    int roundTime = SettingNames::DefaultRoundTime;
    bool mailCheckF = SettingNames::DefaultMailCheckF;
    PhotoOptions photo;

    StoredSettings() { folders.fill(SettingNames::DefaultFolder); }

    // The selected slot as an index: a StartNo outside 0 to 5 can only come from a
    // hand-edited file and selects slot 0.
    int slotIndex() const { return startNo >= 0 && startNo < kSlotCount ? startNo : 0; }
    std::array<QString, kSlotCount> folderPaths() const;
};

StoredSettings readSettings(const SettingsStore &store);

// A photo option is on only when stored as exactly "1"; anything else a hand edit leaves
// there (" 1", "yes", "2") reads as off, as does a missing value.
PhotoOptions readPhotoOptions(const SettingsStore &store);

// Writes everything in the store's order: OrderF, Folder0 to Folder5, StartNo, Host,
// UserID, Password, RoundTime, MailCheckF, then the photo options in their table's order.
// A failing write raises and the rest is not written.
void writeSettings(SettingsStore &store, const StoredSettings &settings);
