#include "library/FolderWalk.h"

#include "platform/TerminationSignal.h"

#include <QFile>
#include <QScopeGuard>

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace {

// A folder as the file system knows it, whatever path led to it.
struct FolderId
{
    dev_t device;
    ino_t inode;
    bool operator==(const FolderId &) const = default;
};

struct FolderIdHash
{
    size_t operator()(const FolderId &id) const { return std::hash<ino_t>()(id.inode) * 31 + size_t(id.device); }
};

// A name as the folder listing gives it, into `text` (used again for every entry of a
// tree, so that a name that turns out to be neither picture nor folder costs no
// allocation); false for a name that is not UTF-8. A byte order mark at its start is a
// character like any other, where the decoder would drop it.
bool nameText(QByteArrayView name, QString &text)
{
    if (std::all_of(name.begin(), name.end(), [](char byte) { return uchar(byte) < 0x80; })) {
        text.resize(name.size());
        std::copy(name.begin(), name.end(), reinterpret_cast<char16_t *>(text.data()));
        return true;
    }
    if (!name.isValidUtf8())
        return false;
    const QByteArrayView byteOrderMark("\xEF\xBB\xBF");
    if (name.startsWith(byteOrderMark))
        text = QChar(QChar::ByteOrderMark) + QString::fromUtf8(name.sliced(byteOrderMark.size()));
    else
        text = QString::fromUtf8(name);
    return true;
}

// The catalogue keeps its paths for the whole run, so each is allocated once at its exact
// length (QString's own sum of two texts would keep room to grow).
QString joined(QStringView prefix, QStringView name)
{
    QString path(prefix.size() + name.size(), Qt::Uninitialized);
    std::copy(name.begin(), name.end(), std::copy(prefix.begin(), prefix.end(), path.begin()));
    return path;
}

// What one reading of a folder gives, in the listing's order.
struct FolderEntries
{
    QStringList pictures;
    QStringList subFolders; // those the walk may enter
};

class Walker
{
public:
    Walker(const FolderRule &rule, const WalkHooks &hooks) : m_rule(rule), m_hooks(hooks) {}

    void walk(const QString &folder, int level)
    {
        if (stopped())
            return;
        FolderEntries entries;
        if (!read(folder, level < kMaxFolderLevels, entries))
            return;
        if (!entries.pictures.isEmpty()) {
            QStringList pictures = m_rule.sorted(std::move(entries.pictures));
            // A sort that SIGTERM cut short gives nothing.
            if (stopped())
                return;
            if (!m_reported && m_hooks.firstPictures) {
                m_reported = true;
                m_hooks.firstPictures(pictures);
            }
            m_result.pictures.append(std::move(pictures));
        }
        if (entries.subFolders.isEmpty())
            return;
        for (const QString &subFolder : m_rule.sorted(std::move(entries.subFolders))) {
            walk(subFolder, level + 1);
            if (m_result.cancelled)
                return;
        }
    }

    bool stopped()
    {
        if (!m_result.cancelled)
            m_result.cancelled = m_hooks.cancelled ? m_hooks.cancelled() : terminationPending();
        return m_result.cancelled;
    }

    WalkResult take() { return std::move(m_result); }

private:
    // The folder's pictures and sub-folders, from one reading of it, as `find` reads it;
    // false for a folder that cannot be read, one already walked, or a walk that ends
    // while it is read.
    bool read(const QString &folder, bool withSubFolders, FolderEntries &entries)
    {
        DIR *dir = ::opendir(QFile::encodeName(folder).constData());
        if (!dir)
            return false;
        const auto closing = qScopeGuard([dir] { ::closedir(dir); });
        struct stat status;
        if (::fstat(::dirfd(dir), &status) != 0 || !m_seen.insert({status.st_dev, status.st_ino}).second)
            return false;
        const QString prefix = folder + QLatin1Char('/');
        while (const dirent *entry = ::readdir(dir)) {
            if (stopped())
                return false;
            const QByteArrayView name(entry->d_name);
            if (name == "." || name == ".." || !nameText(name, m_name))
                continue;
            const bool picture = m_rule.isPicture(m_name);
            // "." and ".." start with a dot as well.
            const bool subFolder = withSubFolders && !name.startsWith('.') && isFolder(dir, entry);
            if (!picture && !subFolder)
                continue;
            const QString path = joined(prefix, m_name);
            if (picture)
                entries.pictures << path;
            if (subFolder)
                entries.subFolders << path;
        }
        return true;
    }

    static bool isFolder(DIR *dir, const dirent *entry)
    {
        // Only links and file systems that do not give the kind cost a stat.
        if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN)
            return entry->d_type == DT_DIR;
        struct stat status;
        return ::fstatat(::dirfd(dir), entry->d_name, &status, 0) == 0 && S_ISDIR(status.st_mode);
    }

    const FolderRule &m_rule;
    const WalkHooks &m_hooks;
    std::unordered_set<FolderId, FolderIdHash> m_seen;
    WalkResult m_result;
    QString m_name;
    bool m_reported = false;
};

} // namespace

WalkResult walkPictureFolders(const QString &root, bool subFolders, const FolderRule &rule, const WalkHooks &hooks)
{
    if (!subFolders) {
        WalkResult result;
        result.pictures = rule.pictures(root);
        if (!result.pictures.isEmpty() && hooks.firstPictures)
            hooks.firstPictures(result.pictures);
        return result;
    }
    if (root.isEmpty())
        return {};
    Walker walker(rule, hooks);
    walker.walk(root, 1);
    return walker.take();
}
