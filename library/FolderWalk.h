#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>
#include <functional>

// How one folder's own pictures are listed and how names are ordered (all are needed);
// the walk applies the same rule in every folder of a tree, so the show's own listing
// rule is what it is given.
struct FolderRule
{
    // The pictures of one folder (its own entries; sub-folders are not entered), each as
    // folder text + "/" + name, in the order they show.
    std::function<QStringList(const QString &folder)> pictures;
    // Whether an entry of a folder is one of those pictures, by its name alone. A walk
    // reads each folder once for both its pictures and its sub-folders, so it picks the
    // pictures by this and orders them by `sorted`: the two together list what
    // `pictures` lists.
    std::function<bool(QStringView name)> isPicture;
    // Paths of one folder's entries in the order its pictures show; the walk orders
    // sub-folders by it too.
    std::function<QStringList(QStringList paths)> sorted;
};

// What a walk may be told while it runs.
struct WalkHooks
{
    // Asked between entries and between folders; true ends the walk at once. Without
    // one, a pending SIGTERM ends it.
    std::function<bool()> cancelled;
    // Told once, with the pictures of the first folder that has any, as soon as that
    // folder is listed, so that a show can start before the rest of the tree is read (or
    // a check for "any picture at all" can end the walk there).
    std::function<void(const QStringList &pictures)> firstPictures;
};

struct WalkResult
{
    QStringList pictures;
    bool cancelled = false; // the list then holds only what was found until then
};

// The deepest a walk goes: the slot's folder is the first level.
constexpr int kMaxFolderLevels = 32;

// The catalogue of a slot's folder. Without `subFolders` it is exactly the rule's list of
// `root`. With them, depth first: a folder's own pictures, then each of its sub-folders in
// the rule's name order, the same way. Sub-folders whose name starts with "." are left
// out, and so are names that are not valid UTF-8 (no text could name them again); links
// to folders are followed, but a folder reached a second time (the same device and inode:
// a link loop, a bind mount, a link to a folder already walked) is skipped, and nothing
// deeper than kMaxFolderLevels is entered. A folder that cannot be read adds nothing and
// says nothing.
WalkResult walkPictureFolders(const QString &root, bool subFolders, const FolderRule &rule,
                              const WalkHooks &hooks = {});
