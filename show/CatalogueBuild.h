#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

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

    CatalogueBuild(const QString &folder, bool subFolders, bool allFormats, Done done);
    // Cancels a walk still running and waits for it (a walk asks for the flag between
    // entries, so that is a moment).
    ~CatalogueBuild() override;

    // Waits on the calling thread until the first pictures are known or the walk is over,
    // and gives what is known then: the first folder's pictures, or the whole catalogue.
    // A pending SIGTERM ends the wait.
    QStringList waitForFirst();
    bool running() const;
    void cancel();

private:
    struct State;
    std::shared_ptr<State> m_state;
    Done m_done;
};
