#pragma once
// A server connection driven by the test: it records every Send, hands out
// bytes the test queued, reports connected or closed when told to, can fail
// Connect, and counts what happened. It keeps the interface's rules (Send
// before open is an assertion failure, Close raises OnSessionClosed once).
#include "Shared/GenericServerConnection.h"
#include "Shared/TalkWithServer.h"
#include <QByteArray>
#include <QString>
#include <QVector>
#include <memory>

class ScriptedServerConnection : public TGenericServerConnection {
public:
    enum class Phase { NotOpen, Open, Ended };

    explicit ScriptedServerConnection(TConnectionSettings settings = {}) : TGenericServerConnection(std::move(settings)) {}
    ~ScriptedServerConnection() override;

    bool Connect() override;
    void Send(const QByteArray& data) override;
    void Close() override;
    QByteArray ReadAll() override;

    // Script.
    void ReportConnected();
    void ReportClosed();
    // Queues the bytes and raises OnDataAvailable.
    void Deliver(const QByteArray& bytes);
    // Makes the next Connect fail at once with this text.
    void FailConnectWith(const QString& errorText);
    // Makes the next ReadAll raise a std::runtime_error with this text.
    void FailReadAllWith(const QString& message);

    // Record.
    Phase CurrentPhase() const { return m_phase; }
    const QVector<QByteArray>& Sends() const { return m_sends; }
    QByteArray AllSent() const;
    int ConnectCalls = 0;
    int CloseCalls = 0;
    int ReadAllCalls = 0;
    int SessionClosedRaised = 0;
    // Becomes true when the object is destroyed; tests keep a copy.
    std::shared_ptr<bool> Destroyed = std::make_shared<bool>(false);

    // A conversation factory that makes one scripted connection and stores
    // its address in *made (the conversation owns it).
    static TTalkWithServer::TConnectionFactory FactoryInto(ScriptedServerConnection** made);

private:
    void EndSession();

    Phase m_phase = Phase::NotOpen;
    QVector<QByteArray> m_sends;
    QByteArray m_incoming;
    QString m_connectFailure;
    bool m_failConnect = false;
    QString m_readAllFailure;
};
