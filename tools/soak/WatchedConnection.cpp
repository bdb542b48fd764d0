#include "WatchedConnection.h"

TWatchedConnection::TWatchedConnection(std::unique_ptr<TGenericServerConnection> inner, TConnectionObserver observer)
    : TGenericServerConnection(inner->Settings()), m_inner(std::move(inner)), m_observer(std::move(observer))
{
}

TWatchedConnection::~TWatchedConnection()
{
    *m_alive = false;
    m_inner->OnSessionClosed = nullptr;
    m_inner->OnSessionConnected = nullptr;
    m_inner->OnDataAvailable = nullptr;
    m_inner->OnDebugText = nullptr;
}

void TWatchedConnection::HookInner()
{
    m_inner->OnSessionConnected = [this](TGenericServerConnection*) {
        if (m_observer.Connected)
            m_observer.Connected();
        RaiseSessionConnected();
    };
    m_inner->OnDataAvailable = [this](TGenericServerConnection*) {
        const std::shared_ptr<bool> alive = m_alive;
        RaiseDataAvailable();
        if (*alive && m_observer.DataHandled)
            m_observer.DataHandled();
    };
    m_inner->OnSessionClosed = [this](TGenericServerConnection*) {
        if (m_observer.Closed)
            m_observer.Closed();
        RaiseSessionClosed();
    };
    m_inner->OnDebugText = [this](TGenericServerConnection*, const QString& text) { RaiseDebugText(text); };
}

bool TWatchedConnection::Connect()
{
    HookInner();
    const bool underWay = m_inner->Connect();
    ErrorText = m_inner->ErrorText;
    return underWay;
}

void TWatchedConnection::Send(const QByteArray& data) { m_inner->Send(data); }

void TWatchedConnection::Close() { m_inner->Close(); }

QByteArray TWatchedConnection::ReadAll() { return m_inner->ReadAll(); }
