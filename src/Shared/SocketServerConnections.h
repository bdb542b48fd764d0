#pragma once
// The TCP server connection: one QTcpSocket, a three-state machine, a precise
// text for immediate connect failures and a read loop that drains everything
// the socket holds. The name lookup is asynchronous, so a GUI never freezes on
// it: an unresolvable host ends the session later with ErrorText "DNS error".
// With TLS on, the pipe counts as open only once the handshake is done and
// the server verified: nothing the owner queued leaves before that, and a
// refusal ends the session with its reason in ErrorText.
#include "base/DisposeWhenIdle.h"
#include "Shared/GenericServerConnection.h"
#include <QList>
#include <QString>
#include <memory>
#include <stdexcept>

class QSslError;
class QSslSocket;
class QTcpSocket;
class QTimer;
class TSocks4Handshake;
class TTlsPolicy;

// Raised (and caught) inside Connect when the socket cannot even start.
class ESocketException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TSocketServerConnection : public TGenericServerConnection {
public:
    enum TState : quint8 { NotConnected = 0, Connected = 1, Closed = 2 };

    // SOCKS and TLS as the settings say; their address is not used (the
    // conversation splits it into address and port).
    TSocketServerConnection(const QString& address, const QString& port, TConnectionSettings settings = {});
    ~TSocketServerConnection() override;

    bool Connect() override;
    void Send(const QByteArray& data) override;
    void Close() override;
    QByteArray ReadAll() override;
    bool ReadAhead() override;
    QString EncryptionProtocol() const override;

    const QString Address;
    const QString Port;

    TState State() const { return m_state; }
    // Received bytes that ReadAll would return now.
    qint64 BytesWaiting() const;

private:
    void WSocket1SessionConnected();
    void WSocket1SessionClosed();
    void WSocket1DataAvailable();
    bool FailAtOnce(const QString& reason);
    void TransportReady();
    void StartTls();
    void TlsEncrypted();
    void TlsErrors(const QList<QSslError>& errors);
    void TlsHandshakeTimedOut();
    void TlsDecryptTheRest();
    QString TlsEndReason() const;
    void HookSocket();
    void UnhookSocket();
    void ConnectThroughSocks(quint16 port);
    bool SocksHandshakePending() const;
    quint16 NumericPort() const;
    QString FailedConnectText() const;
    template <typename Handler>
    void FromSocket(const QString& location, Handler&& handler);

    // Counts the socket's signals on the stack: the socket, the timer and the
    // receiver of their signals outlive this object until the last has returned.
    TDisposeWhenIdle m_lifetime;
    QTcpSocket* m_socket = nullptr; // owned; created by Connect
    QSslSocket* m_ssl = nullptr;    // the same socket when TLS is on
    std::unique_ptr<TTlsPolicy> m_tls;
    std::unique_ptr<QTimer> m_handshakeTimer;
    bool m_transportReady = false;  // TCP (and SOCKS) up; the TLS handshake may follow
    bool m_answered = false;        // the server has sent something since the pipe opened
    TState m_state = NotConnected;
    std::unique_ptr<TSocks4Handshake> m_socks4; // SOCKS 4 only: Qt negotiates SOCKS 5 itself
    std::unique_ptr<class QObject> m_hooks; // receiver of the socket's signals
};
