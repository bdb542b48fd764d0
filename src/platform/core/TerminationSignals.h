#pragma once
// An orderly end on the signals that ask a process to go (SIGTERM, SIGINT,
// SIGHUP): the handler only writes a byte to a pipe; the event loop reads it
// and runs the owner's action there, so the action may do anything a GUI
// handler may (quit the loop, after which the settings are saved as on a
// normal close). Signals that arrive before the object exists stay pending if
// the parent blocked them, and are taken once it does. A second signal while
// the first is handled changes nothing. Elsewhere than on Unix it does nothing.
#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

// Keeps those signals pending from the start of main until the object exists,
// so that one sent during start-up ends the client in order instead of
// killing it before its settings are saved.
void HoldTerminationSignals();

class TTerminationSignals : public QObject {
public:
    // At most one object per process. Needs the application object.
    explicit TTerminationSignals(std::function<void()> onTermination);
    ~TTerminationSignals() override;

private:
    void Drain();

    std::function<void()> m_onTermination;
    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_raised = false;
};
