#pragma once
// The server connection over HTTP: one long-running GET carries the server's
// bytes (after two opening lines, the second naming the address for POSTs),
// and a sequence of numbered POSTs, one at a time, carries the client's bytes
// in chunks of at most 6000 bytes as P64 text. A POST that fails or takes
// longer than the send time-out is sent again with the same number; the fourth
// failure that successes have not paid back closes the tunnel.
#include "Shared/GenericServerConnection.h"
#include "platform/core/HttpClient.h"
#include <QBuffer>
#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <memory>

class QTimer;
class TWakeMeSoon;

class THttpTunnel final : public TGenericServerConnection {
public:
    enum TState : quint8 { Idle = 0, Opening = 1, Open = 2, Closed = 3 };
    enum TSenderState : quint8 { SendIdle = 0, SendRetry = 1, Sending = 2, SendFailed = 3 };

    static constexpr qsizetype MaxChunk = 6000;
    static constexpr int TimeoutCheckMs = 100;

    // Proxies, TLS and the send time-out as the settings say; the URL is
    // theirs unless given.
    explicit THttpTunnel(const TConnectionSettings& settings);
    THttpTunnel(const QString& url, TConnectionSettings settings = {});
    ~THttpTunnel() override;

    bool Connect() override;
    void Send(const QByteArray& data) override;
    void Close() override;
    QByteArray ReadAll() override;
    QString EncryptionProtocol() const override;

    // Gives the client the HTTP proxy, or else the SOCKS proxy, or neither.
    void ApplyProxy(THttpClient& client) const;

    // The receive client's body handler.
    void ReceiveData(const QByteArray& data);

    const QString Url;

    TState State() const { return m_state; }
    TSenderState SenderState() const { return m_senderState; }
    qint32 SequenceNumber() const { return m_sequenceNumber; }
    qint32 FailureCount() const { return m_failureCount; }
    qsizetype SendBufferSize() const { return m_sendBuffer.size(); }
    // The chunk cut from the send buffer and not yet accepted by the server.
    const QByteArray& ChunkInFlight() const { return m_chunk; }
    THttpClient& ReceiveClient() { return *m_receiveClient; }
    THttpClient& SendClient() { return *m_sendClient; }

private:
    void CheckForSend();
    void CutChunk();
    void Post();
    void SendDone(int errCode);
    void CheckSendTimeout();
    QString SendClientText() const;
    QString OpeningFailure() const;
    bool WaitingToPost() const;

    TState m_state = Idle;
    QByteArray m_receiveBuffer;
    QByteArray m_sendBuffer;
    QByteArray m_chunk;
    qint32 m_sequenceNumber = 0;
    TSenderState m_senderState = SendIdle;
    qint32 m_failureCount = 0;
    QElapsedTimer m_postStarted; // the deadline is the send time-out after this
    QBuffer m_body;
    std::unique_ptr<TWakeMeSoon> m_wakeUp;
    std::unique_ptr<THttpClient> m_receiveClient;
    std::unique_ptr<THttpClient> m_sendClient;
    std::unique_ptr<QTimer> m_timer;
};
