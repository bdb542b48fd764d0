#pragma once
// Run-time control: command lines read from standard input, and SIGINT /
// SIGTERM turned into an orderly stop on the event loop.
#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace AlertServer {

class ControlChannel : public QObject {
    Q_OBJECT
public:
    explicit ControlChannel(QObject* parent = nullptr);
    ~ControlChannel() override;

signals:
    void LineReceived(const QString& line);
    void StopSignalled(int signalNumber);

private:
    void ReadInput();
    void ReadSignal();

    QByteArray Pending;
    std::unique_ptr<QSocketNotifier> InputNotifier;
    std::unique_ptr<QSocketNotifier> SignalNotifier;
};

} // namespace AlertServer
