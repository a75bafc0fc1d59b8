#pragma once

#include "library/FolderWalk.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class QEventLoop;

// One build of a slot's catalogue on a thread of its own, so that a large folder tree
// never holds the window: the walk's result comes back to the GUI thread through its
// event queue. Closing the window sets the build's cancel flag; a pending SIGTERM ends
// the walk as well, and either way nothing is handed back.
class CatalogueBuild : public QObject
{
    Q_OBJECT

public:
    // `done` is told the whole catalogue on the GUI thread when the walk is over.
    using Done = std::function<void(const QStringList &)>;
    // Walks the tree on the build's thread: walkPictureFolders unless a test gives its own.
    using Walk = std::function<WalkResult(const QString &root, bool subFolders, const FolderRule &rule,
                                          const WalkHooks &hooks)>;

    CatalogueBuild(const QString &folder, bool subFolders, bool allFormats, Done done, Walk walk = {});
    // Cancels a walk still running and waits for it (a walk asks for the flag between
    // entries, so that is a moment).
    ~CatalogueBuild() override;

    // Waits on the calling thread until the first pictures are known or the walk is over,
    // and gives what is known then: the first folder's pictures, or the whole catalogue.
    // A pending SIGTERM ends the wait.
    QStringList waitForFirst();
    // The same wait with the calling thread's events served in `events` meanwhile. The
    // loop ended by anyone else (a close, the program's end) gives the wait up, and so
    // does a walk cut short: then nothing is given.
    std::optional<QStringList> waitForFirst(QEventLoop &events);
    // What the wait gave was the first folder's pictures alone: the whole catalogue
    // follows through `done`.
    bool wholeToCome() const { return m_wholeToCome; }
    void cancel();

signals:
    // From the build's thread: the first pictures are known, or the walk is over.
    void firstKnown();

private:
    struct State;
    // What is known now (the mutex held): the whole catalogue, else the first folder's
    // pictures, which leave the whole catalogue to come.
    QStringList takeKnown();

    std::shared_ptr<State> m_state;
    Done m_done;
    // A wait serving events is under way: `done` would run inside it.
    bool m_awaited = false;
    bool m_wholeToCome = false;
};
