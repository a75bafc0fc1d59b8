#pragma once

#include "picture/Cancel.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <functional>
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

// One worker thread that decodes one request at a time, so that the owner's thread (the
// GUI thread) only ever receives finished results. A new request gives up the one before
// it; the decode function is told through `cancelled` when its work is no longer wanted
// and should return soon after. Destroying the thread cancels and joins it.
template <class Request, class Result> class DecodeThread
{
public:
    using Decode = std::function<std::optional<Result>(const Request &, const CancelCheck &cancelled)>;

    explicit DecodeThread(Decode decode) : m_decode(std::move(decode)), m_thread([this] { run(); }) {}

    ~DecodeThread()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_quit = true;
            ++m_generation;
        }
        m_wake.notify_all();
        m_thread.join();
    }

    DecodeThread(const DecodeThread &) = delete;
    DecodeThread &operator=(const DecodeThread &) = delete;

    // Starts on `request`; a decode under way, or a result not yet taken, is given up.
    void request(Request request)
    {
        {
            const std::lock_guard lock(m_mutex);
            ++m_generation;
            m_request = std::move(request);
            m_result.reset();
            m_state = State::Queued;
        }
        m_wake.notify_all();
    }

    // The request last made, as long as its result has not been taken or cancelled.
    std::optional<Request> requested() const
    {
        const std::lock_guard lock(m_mutex);
        if (m_state == State::Idle)
            return std::nullopt;
        return m_request;
    }

    bool isFinished() const
    {
        const std::lock_guard lock(m_mutex);
        return m_state == State::Finished;
    }

    // The finished request's result (empty: the decode found nothing to show); the
    // thread is idle afterwards.
    std::optional<Result> take()
    {
        const std::lock_guard lock(m_mutex);
        m_state = State::Idle;
        return std::exchange(m_result, std::nullopt);
    }

    // Gives the request up: a decode under way is told to stop, a result is dropped.
    void cancel()
    {
        const std::lock_guard lock(m_mutex);
        ++m_generation;
        m_result.reset();
        m_state = State::Idle;
    }

    // Emits `finished` each time a request's result comes in.
    const DecodeThreadSignal *signal() const { return &m_signal; }

private:
    enum class State { Idle, Queued, Running, Finished };

    void run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_quit || m_state == State::Queued; });
            if (m_quit)
                return;
            const quint64 generation = m_generation;
            const Request request = m_request;
            m_state = State::Running;
            lock.unlock();
            // Any later request, a cancel or the thread's end makes the work stale.
            const CancelCheck cancelled = [this, generation] { return m_generation.load() != generation; };
            std::optional<Result> result;
            try {
                result = m_decode(request, cancelled);
            } catch (...) {
                // A decode that fails this way (out of memory) found nothing to show;
                // nothing may leave the thread.
                result.reset();
            }
            lock.lock();
            if (generation != m_generation)
                continue;
            m_result = std::move(result);
            m_state = State::Finished;
            lock.unlock();
            emit m_signal.finished();
            lock.lock();
        }
    }

    DecodeThreadSignal m_signal;
    const Decode m_decode;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::atomic<quint64> m_generation{0};
    bool m_quit = false;
    State m_state = State::Idle;
    Request m_request{};
    std::optional<Result> m_result;
    // Last: it starts once everything it uses is there, and is joined before they go.
    std::thread m_thread;
};
