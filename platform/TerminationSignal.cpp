#include "platform/TerminationSignal.h"

#include "platform/Exception.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_pipe[2] = {-1, -1};
struct sigaction g_previous;
std::atomic<bool> g_pending{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set inside a signal handler");

void onTerminate(int)
{
    const int saved = errno;
    g_pending.store(true);
    const char byte = 1;
    // Setting the flag and writing the byte are all that is async-signal-safe enough.
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

TerminationSignal::TerminationSignal(QObject *parent) : QObject(parent)
{
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw Exception(QStringLiteral("pipe: %1").arg(QString::fromLocal8Bit(strerror(errno))));
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignal::readPipe);
    struct sigaction action = {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    g_pending.store(false);
    ::sigaction(SIGTERM, &action, &g_previous);
}

TerminationSignal::~TerminationSignal()
{
    ::sigaction(SIGTERM, &g_previous, nullptr);
    g_pending.store(false);
    delete m_notifier;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void TerminationSignal::readPipe()
{
    char buffer[16];
    while (::read(g_pipe[0], buffer, sizeof buffer) > 0) {
    }
    emit terminationRequested();
}

bool terminationPending()
{
    return g_pending.load();
}
