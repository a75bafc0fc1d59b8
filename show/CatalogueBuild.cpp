#include "show/CatalogueBuild.h"

#include "platform/TerminationSignal.h"
#include "show/PictureCatalogue.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QScopeGuard>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// The exit code of a wait's loop that the build's own signal ended; any other end (a
// close quits with 0, an ending program's loop gives -1) gives the wait up.
constexpr int kWoken = 1;

} // namespace

struct CatalogueBuild::State
{
    std::atomic<bool> cancelled{false};
    std::mutex mutex;
    std::condition_variable changed;
    bool firstKnown = false;
    bool over = false;
    bool cutShort = false;
    QStringList first;
    QStringList all;
    std::thread thread;
};

CatalogueBuild::CatalogueBuild(const QString &folder, bool subFolders, bool allFormats, Done done, Walk walk)
    : m_state(std::make_shared<State>()), m_done(std::move(done))
{
    if (!walk)
        walk = walkPictureFolders;
    // The destructor waits for the thread, so `this` outlives it; a result still queued
    // when the build goes is dropped with it.
    m_state->thread = std::thread([this, state = m_state, folder, subFolders, allFormats, walk = std::move(walk)] {
        WalkHooks hooks;
        hooks.cancelled = [&state] { return state->cancelled.load() || terminationPending(); };
        hooks.firstPictures = [this, &state](const QStringList &pictures) {
            {
                const std::lock_guard lock(state->mutex);
                state->first = pictures;
                state->firstKnown = true;
            }
            state->changed.notify_all();
            emit firstKnown();
        };
        WalkResult result = walk(folder, subFolders, pictureFolderRule(allFormats), hooks);
        {
            const std::lock_guard lock(state->mutex);
            state->all = result.pictures;
            state->over = true;
            state->cutShort = result.cancelled;
        }
        state->changed.notify_all();
        emit firstKnown();
        if (result.cancelled)
            return;
        QMetaObject::invokeMethod(
            this,
            [this, pictures = std::move(result.pictures)] {
                // A wait still under way takes the whole catalogue itself.
                if (!m_awaited)
                    m_done(pictures);
            },
            Qt::QueuedConnection);
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
    return takeKnown();
}

std::optional<QStringList> CatalogueBuild::waitForFirst(QEventLoop &events)
{
    m_awaited = true;
    const auto over = qScopeGuard([this] { m_awaited = false; });
    // Connected before the first look, so that no news falls between the look and the loop.
    connect(this, &CatalogueBuild::firstKnown, &events, [&events] { events.exit(kWoken); });
    for (;;) {
        {
            const std::lock_guard lock(m_state->mutex);
            if (m_state->over && m_state->cutShort)
                return std::nullopt;
            if (m_state->over || m_state->firstKnown)
                return takeKnown();
        }
        if (events.exec() != kWoken)
            return std::nullopt;
    }
}

QStringList CatalogueBuild::takeKnown()
{
    m_wholeToCome = !m_state->over && m_state->firstKnown;
    return m_state->over ? m_state->all : m_state->first;
}

void CatalogueBuild::cancel()
{
    m_state->cancelled = true;
}
