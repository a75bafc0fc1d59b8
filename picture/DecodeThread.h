#pragma once

#include "picture/Cancel.h"

#include <QObject>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

// Tells the thread that owns a DecodeThread that a result has come in. Emitted from the
// worker, so a receiver of the owner's thread hears it through its event queue.
class DecodeThreadSignal : public QObject
{
    Q_OBJECT

signals:
    void finished();
};

// How many decode workers were left running when their owner went, because their decode
// did not heed its cancel in time (libheif's decode cannot be stopped). While one runs,
// the process must end without tearing down the libraries it is inside:
// endProcessAfterDecodes does so.
int abandonedDecodeWorkers();
// Ends the program with `code`: by returning it from main as usual, or, while an
// abandoned worker may still be inside a decoder, at once (the standard streams flushed).
int endProcessAfterDecodes(int code);

namespace decodethread_detail {
void noteAbandoned();
}

// One worker thread that decodes one request at a time, so that the owner's thread (the
// GUI thread) only ever receives finished results. A new request gives up the one before
// it; the decode function is told through `cancelled` when its work is no longer wanted
// and should return soon after. Destroying the thread cancels it and waits for it a short
// while (kJoinWaitMs); a decode still under way then is left to finish alone, touching
// nothing but the worker's own state, so that closing never waits on a decoder.
template <class Request, class Result> class DecodeThread
{
public:
    using Decode = std::function<std::optional<Result>(const Request &, const CancelCheck &cancelled)>;

    static constexpr int kJoinWaitMs = 100;

    explicit DecodeThread(Decode decode) : m_state(std::make_shared<Shared>(std::move(decode)))
    {
        m_thread = std::thread([state = m_state, signal = &m_signal] { run(*state, signal); });
    }

    ~DecodeThread()
    {
        std::unique_lock lock(m_state->mutex);
        m_state->quit = true;
        ++m_state->generation;
        m_state->wake.notify_all();
        const bool left = m_state->idle.wait_for(lock, std::chrono::milliseconds(kJoinWaitMs),
                                                 [this] { return !m_state->decoding; });
        lock.unlock();
        if (left) {
            m_thread.join();
        } else {
            m_thread.detach();
            decodethread_detail::noteAbandoned();
        }
    }

    DecodeThread(const DecodeThread &) = delete;
    DecodeThread &operator=(const DecodeThread &) = delete;

    // Starts on `request`; a decode under way, or a result not yet taken, is given up.
    void request(Request request)
    {
        {
            const std::lock_guard lock(m_state->mutex);
            ++m_state->generation;
            m_state->request = std::move(request);
            m_state->result.reset();
            m_state->phase = Phase::Queued;
        }
        m_state->wake.notify_all();
    }

    // The request last made, as long as its result has not been taken or cancelled.
    std::optional<Request> requested() const
    {
        const std::lock_guard lock(m_state->mutex);
        if (m_state->phase == Phase::Idle)
            return std::nullopt;
        return m_state->request;
    }

    bool isFinished() const
    {
        const std::lock_guard lock(m_state->mutex);
        return m_state->phase == Phase::Finished;
    }

    // The finished request's result (empty: the decode found nothing to show); the
    // thread is idle afterwards.
    std::optional<Result> take()
    {
        const std::lock_guard lock(m_state->mutex);
        m_state->phase = Phase::Idle;
        return std::exchange(m_state->result, std::nullopt);
    }

    // Gives the request up: a decode under way is told to stop, a result is dropped.
    void cancel()
    {
        const std::lock_guard lock(m_state->mutex);
        ++m_state->generation;
        m_state->result.reset();
        m_state->phase = Phase::Idle;
    }

    // Emits `finished` each time a request's result comes in (connect receivers of other
    // threads only).
    const DecodeThreadSignal *signal() const { return &m_signal; }

private:
    enum class Phase { Idle, Queued, Running, Finished };

    // Everything the worker touches; it shares the block, so that a worker left running
    // after its owner has gone still has it.
    struct Shared
    {
        explicit Shared(Decode d) : decode(std::move(d)) {}
        const Decode decode;
        std::mutex mutex;
        std::condition_variable wake;
        std::condition_variable idle;
        std::atomic<quint64> generation{0};
        bool quit = false;
        bool decoding = false;
        Phase phase = Phase::Idle;
        Request request{};
        std::optional<Result> result;
    };

    // The signal belongs to the owner: it is emitted under the lock, and only while the
    // owner is there (before `quit`). Its receivers live in other threads, so the emission
    // only queues an event.
    static void run(Shared &state, DecodeThreadSignal *signal)
    {
        std::unique_lock lock(state.mutex);
        for (;;) {
            state.wake.wait(lock, [&state] { return state.quit || state.phase == Phase::Queued; });
            if (state.quit)
                return;
            const quint64 generation = state.generation;
            const Request request = state.request;
            state.phase = Phase::Running;
            state.decoding = true;
            lock.unlock();
            // Any later request, a cancel or the thread's end makes the work stale.
            const CancelCheck cancelled = [&state, generation] { return state.generation.load() != generation; };
            std::optional<Result> result;
            try {
                result = state.decode(request, cancelled);
            } catch (...) {
                // A decode that fails this way (out of memory) found nothing to show;
                // nothing may leave the thread.
                result.reset();
            }
            lock.lock();
            state.decoding = false;
            state.idle.notify_all();
            if (state.quit)
                return;
            if (generation != state.generation)
                continue;
            state.result = std::move(result);
            state.phase = Phase::Finished;
            emit signal->finished();
        }
    }

    DecodeThreadSignal m_signal;
    const std::shared_ptr<Shared> m_state;
    std::thread m_thread;
};
