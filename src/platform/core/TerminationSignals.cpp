#include "platform/core/TerminationSignals.h"
#include "base/GuardedCall.h"
#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <cerrno>

namespace {

constexpr int Handled[] = {SIGTERM, SIGINT, SIGHUP};
// Read end, write end; -1 when no object is installed.
int g_pipe[2] = {-1, -1};

extern "C" void WriteWakeByte(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    // Nothing to do when the pipe is full: a wake-up is already waiting.
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}

bool OpenPipe()
{
    if (::pipe(g_pipe) != 0)
        return false;
    for (const int fd : g_pipe) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    return true;
}

void ClosePipe()
{
    for (int& fd : g_pipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

// Handlers first, then the mask: a signal the parent left blocked and that
// is already pending is delivered to our handler, not to the default action.
void RouteSignals(void (*handler)(int))
{
    sigset_t handled;
    sigemptyset(&handled);
    for (const int signal : Handled) {
        struct sigaction action = {};
        action.sa_handler = handler;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(signal, &action, nullptr);
        sigaddset(&handled, signal);
    }
    ::sigprocmask(SIG_UNBLOCK, &handled, nullptr);
}

} // namespace

void HoldTerminationSignals()
{
    sigset_t handled;
    sigemptyset(&handled);
    for (const int signal : Handled)
        sigaddset(&handled, signal);
    ::sigprocmask(SIG_BLOCK, &handled, nullptr);
}

TTerminationSignals::TTerminationSignals(std::function<void()> onTermination)
    : m_onTermination(std::move(onTermination))
{
    if (g_pipe[0] >= 0 || !OpenPipe())
        return;
    m_notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { Drain(); });
    RouteSignals(WriteWakeByte);
}

TTerminationSignals::~TTerminationSignals()
{
    if (!m_notifier)
        return;
    RouteSignals(SIG_DFL);
    m_notifier.reset();
    ClosePipe();
}

void TTerminationSignals::Drain()
{
    char bytes[64];
    while (::read(g_pipe[0], bytes, sizeof bytes) > 0) {
    }
    if (m_raised || !m_onTermination)
        return;
    m_raised = true;
    GuardedCall(QStringLiteral("TTerminationSignals.Drain"), m_onTermination);
}

#else

TTerminationSignals::TTerminationSignals(std::function<void()> onTermination)
    : m_onTermination(std::move(onTermination))
{
}

void HoldTerminationSignals() {}

TTerminationSignals::~TTerminationSignals() = default;

void TTerminationSignals::Drain() {}

#endif
