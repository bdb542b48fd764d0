#include "TunnelEndpoint.h"
#include "AlertServer.h"
#include "Logger.h"
#include "WireCodec.h"
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTimer>

namespace AlertServer {

namespace {
constexpr qsizetype MaxHeaderBytes = 16 * 1024;
// A chunk is at most 6000 bytes, about 8000 characters of P64; leave room.
constexpr qint64 MaxBodyBytes = 1024 * 1024;
const QByteArray PostPrefix("/post/");
} // namespace

std::optional<HttpRequest> TakeHttpRequest(QByteArray& buffer, QString& error)
{
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0) {
        if (buffer.size() > MaxHeaderBytes)
            error = QStringLiteral("request header too long");
        return std::nullopt;
    }
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    if (requestLine.size() != 3 || !requestLine[2].startsWith("HTTP/")) {
        error = QStringLiteral("bad request line");
        return std::nullopt;
    }
    HttpRequest request;
    request.Method = requestLine[0];
    request.Path = requestLine[1];
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.Headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
    }
    qint64 length = 0;
    if (request.Headers.contains("content-length")) {
        bool ok = false;
        length = request.Headers.value("content-length").toLongLong(&ok);
        if (!ok || length < 0 || length > MaxBodyBytes) {
            error = QStringLiteral("bad content length");
            return std::nullopt;
        }
    } else if (request.Headers.contains("transfer-encoding")) {
        error = QStringLiteral("chunked bodies are not supported");
        return std::nullopt;
    }
    const qsizetype bodyStart = headerEnd + 4;
    if (buffer.size() - bodyStart < length)
        return std::nullopt;
    request.Body = buffer.mid(bodyStart, length);
    buffer.remove(0, bodyStart + length);
    return request;
}

TunnelEndpoint::TunnelEndpoint(AlertServerCore& server, QObject* parent) : QObject(parent), Server(server)
{
    connect(&Listener, &QTcpServer::newConnection, this, &TunnelEndpoint::Accept);
}

bool TunnelEndpoint::Listen(const QHostAddress& host, quint16 port, QString& error)
{
    if (Server.Tls())
        Listener.ServeTls(*Server.Tls());
    if (!Listener.listen(host, port)) {
        error = QStringLiteral("cannot listen for HTTP on %1:%2: %3")
                    .arg(host.toString())
                    .arg(port)
                    .arg(Listener.errorString());
        return false;
    }
    Log(QStringLiteral("HTTP tunnel on %1:%2").arg(host.toString()).arg(Port()));
    return true;
}

void TunnelEndpoint::Accept()
{
    while (QTcpSocket* socket = Listener.nextPendingConnection()) {
        Connections.insert(socket, {});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { ReadRequests(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            Connections.remove(socket);
            socket->deleteLater();
        });
    }
}

void TunnelEndpoint::ReadRequests(QTcpSocket* socket)
{
    auto found = Connections.find(socket);
    if (found == Connections.end())
        return; // the socket now carries a tunnel's stream
    found->Buffer += socket->readAll();
    while (!found->Busy) {
        QString error;
        const auto request = TakeHttpRequest(found->Buffer, error);
        if (!error.isEmpty()) {
            Log(QStringLiteral("tunnel: %1").arg(error));
            Respond(socket, 400, "Bad Request", error.toUtf8());
            socket->disconnectFromHost();
            return;
        }
        if (!request)
            return;
        const int delay = request->Method == "POST" ? Server.State().Faults.SlowPostsMs : 0;
        if (delay == 0) {
            Dispatch(socket, *request);
            found = Connections.find(socket);
            if (found == Connections.end())
                return;
            continue;
        }
        // A slow POST holds back later requests on the same connection, as a
        // slow server would.
        found->Busy = true;
        QTimer::singleShot(delay, socket, [this, socket, request = *request] {
            Dispatch(socket, request);
            auto waiting = Connections.find(socket);
            if (waiting != Connections.end()) {
                waiting->Busy = false;
                ReadRequests(socket);
            }
        });
    }
}

void TunnelEndpoint::Dispatch(QTcpSocket* socket, const HttpRequest& request)
{
    if (request.Method == "GET")
        OpenTunnel(socket, request);
    else if (request.Method == "POST" && request.Path.startsWith(PostPrefix))
        HandlePost(socket, request);
    else
        Respond(socket, 404, "Not Found", "no such address");
}

void TunnelEndpoint::OpenTunnel(QTcpSocket* socket, const HttpRequest& request)
{
    // From here on the socket carries the session's output, not requests.
    Connections.remove(socket);
    QByteArray token = QByteArray::number(QRandomGenerator::system()->generate64(), 16);
    AlertSession* session = Server.CreateSession(socket);
    Tunnels.insert(token, {session, socket, 0});
    const QByteArray host = request.Headers.value(
        "host", socket->localAddress().toString().toLatin1() + ':' + QByteArray::number(socket->localPort()));
    Log(QStringLiteral("session %1: tunnel %2 opened by %3")
            .arg(session->Number())
            .arg(QString::fromLatin1(token), socket->peerAddress().toString()));
    socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nCache-Control: no-cache\r\n"
                  "Connection: close\r\n\r\n");
    const QByteArray scheme = Listener.ServesTls() ? "https://" : "http://";
    socket->write("TAVISK TUNNEL 1\r\n" + scheme + host + PostPrefix + token + "\r\n");
    connect(session, &AlertSession::BytesReady, socket, [socket](const QByteArray& bytes) { socket->write(bytes); });
    connect(session, &AlertSession::CloseRequested, socket, &QTcpSocket::disconnectFromHost, Qt::QueuedConnection);
    connect(socket, &QTcpSocket::disconnected, this, [this, token, session] {
        Log(QStringLiteral("session %1: tunnel closed").arg(session->Number()));
        Tunnels.remove(token);
    });
}

void TunnelEndpoint::HandlePost(QTcpSocket* socket, const HttpRequest& request)
{
    const QByteArray token = request.Path.mid(PostPrefix.size());
    auto tunnel = Tunnels.find(token);
    if (tunnel == Tunnels.end() || !tunnel->Session) {
        Respond(socket, 404, "Not Found", "unknown tunnel");
        return;
    }
    FaultSwitches& faults = Server.State().Faults;
    if (faults.FailPosts > 0) {
        --faults.FailPosts;
        Log(QStringLiteral("session %1: POST failed on purpose").arg(tunnel->Session->Number()));
        Respond(socket, 500, "Internal Server Error", "failed on purpose");
        return;
    }
    const auto form = ParseFormPairs(request.Body);
    bool numbered = false;
    const qint64 sequence = form.value("sequence").toLongLong(&numbered);
    const auto data = P64Decode(form.value("body"));
    if (!numbered || sequence < 0 || !form.contains("body") || !data) {
        Respond(socket, 400, "Bad Request", "expected sequence=N&body=P64");
        return;
    }
    if (sequence < tunnel->NextSequence) {
        Log(QStringLiteral("session %1: POST %2 repeated, not applied again").arg(tunnel->Session->Number()).arg(sequence));
        Respond(socket, 200, "OK", "OK");
        return;
    }
    if (sequence > tunnel->NextSequence) {
        Log(QStringLiteral("session %1: POST %2 arrived, %3 expected").arg(tunnel->Session->Number()).arg(sequence).arg(tunnel->NextSequence));
        Respond(socket, 409, "Conflict", "sequence out of order");
        return;
    }
    ++tunnel->NextSequence;
    QPointer<AlertSession> session = tunnel->Session;
    Respond(socket, 200, "OK", "OK");
    session->Receive(*data);
}

void TunnelEndpoint::Respond(QTcpSocket* socket, int status, const QByteArray& reason, const QByteArray& body)
{
    socket->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + reason +
                  "\r\nContent-Type: text/plain\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" +
                  body);
}

} // namespace AlertServer
