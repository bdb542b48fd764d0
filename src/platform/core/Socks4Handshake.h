#pragma once
// The client side of a SOCKS 4 CONNECT, which Qt does not offer, over a
// QTcpSocket the caller owns: connect to the proxy, send the request with the
// user code, read the 8-byte reply, and report success or a clear error. A
// target given as an IPv4 address goes in the request itself; any other host
// name is sent after the user code for the proxy to resolve (SOCKS 4a).
//
// Bytes the target sends right after the reply stay unread in the socket.
// While the handshake runs, the socket's connected and readyRead signals
// belong to it; the owner ignores them until a report has been raised.
#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

class QObject;
class QTcpSocket;

class TSocks4Handshake {
public:
    enum TPhase : quint8 { NotStarted, ConnectingToProxy, WaitingForReply, Succeeded, Failed };

    // Reply codes of the second reply byte.
    static constexpr quint8 RequestGranted = 0x5A;
    static constexpr quint8 RequestRejected = 0x5B;
    static constexpr quint8 NoIdentd = 0x5C;
    static constexpr quint8 IdentdMismatch = 0x5D;

    explicit TSocks4Handshake(QTcpSocket& socket);
    ~TSocks4Handshake();
    TSocks4Handshake(const TSocks4Handshake&) = delete;
    TSocks4Handshake& operator=(const TSocks4Handshake&) = delete;

    std::function<void()> OnSucceeded;
    std::function<void(const QString& error)> OnFailed;

    // Connects the socket to the proxy; the outcome arrives through one of the
    // two events. A bad target port or proxy port fails at once (OnFailed
    // raised inside Start).
    void Start(const QString& proxyHost, int proxyPort, const QString& targetHost, int targetPort,
               const QByteArray& userCode);

    TPhase Phase() const { return m_phase; }
    bool Running() const { return m_phase == ConnectingToProxy || m_phase == WaitingForReply; }
    const QString& Error() const { return m_error; }

    // The request bytes for a target: version 4, CONNECT, port, address, user
    // code, a zero; for a host name the address 0.0.0.1 and the name follow.
    static QByteArray ConnectRequest(const QString& targetHost, quint16 targetPort, const QByteArray& userCode);
    // Empty for a granted reply, otherwise why it failed.
    static QString ReplyError(const QByteArray& reply);

private:
    void ProxyConnected();
    void ReadReply();
    void SocketFailed();
    void Succeed();
    void Fail(const QString& error);
    void Unhook();

    QTcpSocket& m_socket;
    std::unique_ptr<QObject> m_hooks;
    TPhase m_phase = NotStarted;
    QByteArray m_request;
    QByteArray m_reply;
    QString m_proxy;
    QString m_error;
};
