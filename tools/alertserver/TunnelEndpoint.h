#pragma once
// The server side of the HTTP tunnel. A GET opens a session: its response
// body starts with a greeting line and the address for the client's POSTs,
// then carries the session's output for as long as it lasts. Each POST holds
// "sequence=N&body=<P64 bytes>"; chunks are fed to the session in sequence
// order, and a repeated sequence number is acknowledged without being applied
// again.
#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QPointer>
#include "TlsListener.h"
#include <optional>

class QTcpSocket;

namespace AlertServer {

class AlertServerCore;
class AlertSession;

struct HttpRequest {
    QByteArray Method;
    QByteArray Path;
    QHash<QByteArray, QByteArray> Headers; // names in lower case
    QByteArray Body;
};

// Cuts one complete request off the front of Buffer; nullopt while it is
// incomplete, or with Error set when it can never become valid.
std::optional<HttpRequest> TakeHttpRequest(QByteArray& buffer, QString& error);

class TunnelEndpoint : public QObject {
    Q_OBJECT
public:
    explicit TunnelEndpoint(AlertServerCore& server, QObject* parent = nullptr);
    bool Listen(const QHostAddress& host, quint16 port, QString& error);
    quint16 Port() const { return Listener.serverPort(); }

private:
    struct Tunnel {
        QPointer<AlertSession> Session;
        QPointer<QTcpSocket> Stream;
        qint64 NextSequence = 0;
    };
    struct Connection {
        QByteArray Buffer;
        bool Busy = false;
    };

    void Accept();
    void ReadRequests(QTcpSocket* socket);
    void Dispatch(QTcpSocket* socket, const HttpRequest& request);
    void OpenTunnel(QTcpSocket* socket, const HttpRequest& request);
    void HandlePost(QTcpSocket* socket, const HttpRequest& request);
    void Respond(QTcpSocket* socket, int status, const QByteArray& reason, const QByteArray& body);

    AlertServerCore& Server;
    TlsListener Listener;
    QHash<QByteArray, Tunnel> Tunnels;
    QHash<QTcpSocket*, Connection> Connections;
};

} // namespace AlertServer
