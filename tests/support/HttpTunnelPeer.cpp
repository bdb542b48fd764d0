#include "HttpTunnelPeer.h"
#include <QTimer>
#include <QUrlQuery>
#include <optional>

namespace {

constexpr int PieceGapMs = 30;

QByteArray ReasonFor(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 407:
        return "Proxy Authentication Required";
    case 409:
        return "Conflict";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

// Cuts one complete request off the buffer, or nothing while it is incomplete.
std::optional<PeerRequest> TakeRequest(QByteArray& buffer)
{
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return std::nullopt;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    PeerRequest request;
    request.Method = requestLine.value(0);
    request.Target = requestLine.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.Headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
    }
    const qsizetype length = request.Headers.value("content-length", "0").toLongLong();
    const qsizetype bodyStart = headerEnd + 4;
    if (buffer.size() - bodyStart < length)
        return std::nullopt;
    request.Body = buffer.mid(bodyStart, length);
    buffer.remove(0, bodyStart + length);
    return request;
}

} // namespace

HttpTunnelPeer::HttpTunnelPeer()
{
    m_server.listen(QHostAddress::LocalHost, 0);
    PostAddress = Url("/post/t1").toLatin1();
    connect(&m_server, &QTcpServer::newConnection, this, [this] { Accept(); });
}

QString HttpTunnelPeer::Url(const QString& path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(Port()).arg(path);
}

void HttpTunnelPeer::Accept()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        m_buffers.insert(socket, {});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { ReadRequests(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_buffers.remove(socket);
            socket->deleteLater();
        });
    }
}

void HttpTunnelPeer::ReadRequests(QTcpSocket* socket)
{
    if (!m_buffers.contains(socket))
        return; // the socket carries a stream now
    m_buffers[socket] += socket->readAll();
    while (m_buffers.contains(socket)) {
        const std::optional<PeerRequest> request = TakeRequest(m_buffers[socket]);
        if (!request)
            return;
        Handle(socket, *request);
    }
}

void HttpTunnelPeer::Handle(QTcpSocket* socket, const PeerRequest& request)
{
    const bool proxied =
        request.Header("proxy-authorization") == RequiredProxyAuthorization && request.Target.startsWith("http://");
    if (!RequiredProxyAuthorization.isEmpty() && !proxied) {
        ++ProxyChallenges;
        Respond(socket, 407, "Proxy-Authenticate: Basic realm=\"tunnel test\"\r\n");
        return;
    }
    if (request.Method == "GET") {
        Gets.append(request);
        OpenStream(socket);
        return;
    }
    Posts.append(request);
    const int status = PostStatuses.isEmpty() ? 200 : PostStatuses.takeFirst();
    if (status == 0)
        m_held.append(socket);
    else
        Respond(socket, status);
}

void HttpTunnelPeer::OpenStream(QTcpSocket* socket)
{
    m_buffers.remove(socket);
    m_stream = socket;
    socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nConnection: close\r\n\r\n");
    if (OpeningPieces.isEmpty())
        socket->write(Greeting + PostAddress + "\r\n");
    else
        WritePieces(OpeningPieces);
}

void HttpTunnelPeer::WritePieces(QList<QByteArray> pieces)
{
    if (pieces.isEmpty() || !m_stream)
        return;
    m_stream->write(pieces.takeFirst());
    m_stream->flush();
    QTimer::singleShot(PieceGapMs, this, [this, pieces] { WritePieces(pieces); });
}

void HttpTunnelPeer::Push(const QByteArray& bytes)
{
    if (m_stream)
        m_stream->write(bytes);
}

void HttpTunnelPeer::EndStream()
{
    if (m_stream)
        m_stream->disconnectFromHost();
}

void HttpTunnelPeer::AnswerHeld(int status)
{
    while (!m_held.isEmpty()) {
        const QPointer<QTcpSocket> socket = m_held.takeFirst();
        if (socket) {
            Respond(socket, status);
            return;
        }
    }
}

void HttpTunnelPeer::Respond(QTcpSocket* socket, int status, const QByteArray& extraHeaders)
{
    const QByteArray body = status == 407 ? QByteArray() : ReasonFor(status);
    socket->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + ReasonFor(status) + "\r\n" + extraHeaders +
                  "Content-Type: text/plain\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" +
                  body);
}

qint64 HttpTunnelPeer::SequenceOf(const PeerRequest& post)
{
    bool ok = false;
    const qint64 sequence = QUrlQuery(QString::fromLatin1(post.Body)).queryItemValue("sequence").toLongLong(&ok);
    return ok ? sequence : -1;
}

QByteArray HttpTunnelPeer::EncodedDataOf(const PeerRequest& post)
{
    const qsizetype at = post.Body.indexOf("&body=");
    return at < 0 ? QByteArray() : post.Body.mid(at + 6);
}
