#include "library/FolderWalk.h"

#include "platform/TerminationSignal.h"

#include <QFile>
#include <QStringBuilder>

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

// A name as the folder listing gives it: a byte order mark at its start is a character
// like any other, where the decoder would drop it.
QString nameText(QByteArrayView name)
{
    const QByteArrayView byteOrderMark("\xEF\xBB\xBF");
    if (name.startsWith(byteOrderMark))
        return QChar(QChar::ByteOrderMark) + QString::fromUtf8(name.sliced(byteOrderMark.size()));
    return QString::fromUtf8(name);
}

class Walker
{
public:
    Walker(const FolderRule &rule, const WalkHooks &hooks) : m_rule(rule), m_hooks(hooks) {}

    void walk(const QString &folder, int level)
    {
        if (stopped())
            return;
        // The folder is opened once, and its sub-folders are read from that very folder,
        // even if a rename swaps the path in between.
        DIR *dir = ::opendir(QFile::encodeName(folder).constData());
        if (!dir)
            return;
        struct stat status;
        if (::fstat(::dirfd(dir), &status) != 0 || !m_seen.insert({status.st_dev, status.st_ino}).second) {
            ::closedir(dir);
            return;
        }
        const QStringList pictures = m_rule.pictures(folder);
        if (!pictures.isEmpty()) {
            // The catalogue stays for the whole run, and a path built by concatenation
            // holds room for twice its length.
            for (QString picture : pictures) {
                picture.squeeze();
                m_result.pictures << picture;
            }
            if (!m_reported && m_hooks.firstPictures) {
                m_reported = true;
                m_hooks.firstPictures(pictures);
            }
        }
        const QStringList subFolders
            = m_rule.sorted(level < kMaxFolderLevels ? subFolderPaths(folder, dir) : QStringList());
        ::closedir(dir);
        for (const QString &subFolder : subFolders) {
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
    // The folder's sub-folders that the walk may enter.
    QStringList subFolderPaths(const QString &folder, DIR *dir)
    {
        QStringList paths;
        while (!stopped()) {
            const dirent *entry = ::readdir(dir);
            if (!entry)
                break;
            // "." and ".." start with a dot as well.
            const QByteArrayView name(entry->d_name);
            if (name.startsWith('.') || !name.isValidUtf8())
                continue;
            bool isFolder = entry->d_type == DT_DIR;
            // Only links and file systems that do not give the kind cost a stat.
            if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
                struct stat status;
                isFolder = ::fstatat(::dirfd(dir), entry->d_name, &status, 0) == 0 && S_ISDIR(status.st_mode);
            }
            if (isFolder)
                paths << QString(folder % QLatin1Char('/') % nameText(name));
        }
        return paths;
    }

    const FolderRule &m_rule;
    const WalkHooks &m_hooks;
    std::unordered_set<FolderId, FolderIdHash> m_seen;
    WalkResult m_result;
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
