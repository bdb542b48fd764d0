#include "ControlChannel.h"
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace AlertServer {

namespace {
int SignalPipe[2] = {-1, -1};

// Only async-signal-safe work here: hand the number to the event loop.
void ForwardSignal(int signalNumber)
{
    const char byte = static_cast<char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(SignalPipe[0], &byte, 1);
}
} // namespace

ControlChannel::ControlChannel(QObject* parent) : QObject(parent)
{
    InputNotifier = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    connect(InputNotifier.get(), &QSocketNotifier::activated, this, &ControlChannel::ReadInput);
    // A client that vanishes must not kill the server through a write.
    std::signal(SIGPIPE, SIG_IGN);
    if (SignalPipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM, 0, SignalPipe) != 0)
        return;
    SignalNotifier = std::make_unique<QSocketNotifier>(SignalPipe[1], QSocketNotifier::Read);
    connect(SignalNotifier.get(), &QSocketNotifier::activated, this, &ControlChannel::ReadSignal);
    struct sigaction action {};
    action.sa_handler = ForwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

ControlChannel::~ControlChannel()
{
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}

void ControlChannel::ReadInput()
{
    char buffer[4096];
    const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (count <= 0) {
        // End of input (or no usable input at all): keep serving without a console.
        InputNotifier->setEnabled(false);
        return;
    }
    Pending.append(buffer, static_cast<qsizetype>(count));
    qsizetype end = 0;
    while ((end = Pending.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(Pending.left(end)).trimmed();
        Pending.remove(0, end + 1);
        if (!line.isEmpty())
            emit LineReceived(line);
    }
}

void ControlChannel::ReadSignal()
{
    char byte = 0;
    if (::read(SignalPipe[1], &byte, 1) == 1)
        emit StopSignalled(byte);
}

} // namespace AlertServer
