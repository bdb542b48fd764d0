#pragma once
// A server connection that wraps the one the client would have made and
// reports its life to an observer: when it connected, when data arrived,
// when it closed. Everything else passes straight through, so the session
// code under observation runs unchanged.
#include "Shared/GenericServerConnection.h"
#include <functional>
#include <memory>

struct TConnectionObserver {
    std::function<void()> Connected;
    // Called after the conversation has handled the data.
    std::function<void()> DataHandled;
    std::function<void()> Closed;
};

class TWatchedConnection : public TGenericServerConnection {
public:
    TWatchedConnection(std::unique_ptr<TGenericServerConnection> inner, TConnectionObserver observer);
    ~TWatchedConnection() override;

    bool Connect() override;
    void Send(const QByteArray& data) override;
    void Close() override;
    QByteArray ReadAll() override;

private:
    void HookInner();

    std::unique_ptr<TGenericServerConnection> m_inner;
    TConnectionObserver m_observer;
    // Cleared on destruction: the data handler may end this object's life.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
