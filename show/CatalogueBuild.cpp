#include "show/CatalogueBuild.h"

#include "platform/TerminationSignal.h"
#include "show/PictureCatalogue.h"

#include <QMetaObject>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

struct CatalogueBuild::State
{
    std::atomic<bool> cancelled{false};
    std::mutex mutex;
    std::condition_variable changed;
    bool firstKnown = false;
    bool over = false;
    QStringList first;
    QStringList all;
    std::thread thread;
};

CatalogueBuild::CatalogueBuild(const QString &folder, bool subFolders, bool allFormats, Done done)
    : m_state(std::make_shared<State>()), m_done(std::move(done))
{
    // The destructor waits for the thread, so `this` outlives it; a result still queued
    // when the build goes is dropped with it.
    m_state->thread = std::thread([this, state = m_state, folder, subFolders, allFormats] {
        WalkHooks hooks;
        hooks.cancelled = [&state] { return state->cancelled.load() || terminationPending(); };
        hooks.firstPictures = [&state](const QStringList &pictures) {
            {
                const std::lock_guard lock(state->mutex);
                state->first = pictures;
                state->firstKnown = true;
            }
            state->changed.notify_all();
        };
        WalkResult result = walkPictureFolders(folder, subFolders, pictureFolderRule(allFormats), hooks);
        {
            const std::lock_guard lock(state->mutex);
            state->all = result.pictures;
            state->over = true;
        }
        state->changed.notify_all();
        if (result.cancelled)
            return;
        QMetaObject::invokeMethod(
            this, [this, pictures = std::move(result.pictures)] { m_done(pictures); }, Qt::QueuedConnection);
    });
}

CatalogueBuild::~CatalogueBuild()
{
    cancel();
    if (m_state->thread.joinable())
        m_state->thread.join();
}

QStringList CatalogueBuild::waitForFirst()
{
    std::unique_lock lock(m_state->mutex);
    // The wait is cut into short slices so that SIGTERM, which only sets a flag, is seen.
    while (!m_state->firstKnown && !m_state->over && !terminationPending())
        m_state->changed.wait_for(lock, std::chrono::milliseconds(20));
    if (m_state->over)
        return m_state->all;
    return m_state->first;
}

bool CatalogueBuild::running() const
{
    const std::lock_guard lock(m_state->mutex);
    return !m_state->over;
}

void CatalogueBuild::cancel()
{
    m_state->cancelled = true;
}
