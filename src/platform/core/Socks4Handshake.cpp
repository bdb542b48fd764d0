#include "platform/core/Socks4Handshake.h"
#include <QHostAddress>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QtEndian>
#include <stdexcept>

namespace {

constexpr char Version = 0x04;
constexpr char ConnectCommand = 0x01;
constexpr qsizetype ReplySize = 8;

quint16 PortNumber(int port, const char* what)
{
    if (port <= 0 || port > 65535)
        throw std::invalid_argument(std::string("SOCKS 4: ") + what + " port \"" + std::to_string(port) +
                                    "\" is not a port number");
    return static_cast<quint16>(port);
}

} // namespace

TSocks4Handshake::TSocks4Handshake(QTcpSocket& socket) : m_socket(socket) {}

// Destroying the hooks object removes its connections, so the socket may already be gone.
TSocks4Handshake::~TSocks4Handshake() = default;

QByteArray TSocks4Handshake::ConnectRequest(const QString& targetHost, quint16 targetPort, const QByteArray& userCode)
{
    QByteArray request;
    request.append(Version).append(ConnectCommand);
    char port[2];
    qToBigEndian(targetPort, port);
    request.append(port, 2);
    QHostAddress address;
    const bool literal = address.setAddress(targetHost) && address.protocol() == QAbstractSocket::IPv4Protocol;
    char ip[4];
    // 0.0.0.x with x non-zero tells a SOCKS 4a proxy that a name follows.
    qToBigEndian(literal ? address.toIPv4Address() : quint32(1), ip);
    request.append(ip, 4);
    request.append(userCode).append('\0');
    if (!literal)
        request.append(targetHost.toUtf8()).append('\0');
    return request;
}

QString TSocks4Handshake::ReplyError(const QByteArray& reply)
{
    if (reply.size() != ReplySize || reply[0] != 0)
        return QStringLiteral("SOCKS 4 proxy sent an invalid reply");
    const quint8 code = static_cast<quint8>(reply[1]);
    switch (code) {
    case RequestGranted:
        return {};
    case RequestRejected:
        return QStringLiteral("SOCKS 4 proxy refused the connection (code 91: rejected or failed)");
    case NoIdentd:
        return QStringLiteral("SOCKS 4 proxy refused the connection (code 92: cannot reach the identd of the client)");
    case IdentdMismatch:
        return QStringLiteral("SOCKS 4 proxy refused the connection (code 93: the user code was not confirmed)");
    default:
        return QStringLiteral("SOCKS 4 proxy sent an unknown reply code %1").arg(code);
    }
}

void TSocks4Handshake::Start(const QString& proxyHost, int proxyPort, const QString& targetHost, int targetPort,
                             const QByteArray& userCode)
{
    if (m_phase != NotStarted)
        throw std::logic_error("SOCKS 4 handshake started twice");
    const quint16 proxy = PortNumber(proxyPort, "proxy");
    m_request = ConnectRequest(targetHost, PortNumber(targetPort, "target"), userCode);
    m_proxy = proxyHost + ':' + QString::number(proxyPort);
    m_hooks = std::make_unique<QObject>();
    QObject::connect(&m_socket, &QTcpSocket::connected, m_hooks.get(), [this] { ProxyConnected(); });
    QObject::connect(&m_socket, &QTcpSocket::readyRead, m_hooks.get(), [this] { ReadReply(); });
    QObject::connect(&m_socket, &QTcpSocket::errorOccurred, m_hooks.get(), [this] { SocketFailed(); });
    QObject::connect(&m_socket, &QTcpSocket::stateChanged, m_hooks.get(), [this](QAbstractSocket::SocketState state) {
        if (state == QAbstractSocket::UnconnectedState)
            SocketFailed();
    });
    m_phase = ConnectingToProxy;
    // The proxy is reached directly; Qt's own proxy choice must not wrap it.
    m_socket.setProxy(QNetworkProxy::NoProxy);
    m_socket.connectToHost(proxyHost, proxy);
}

void TSocks4Handshake::ProxyConnected()
{
    if (m_phase != ConnectingToProxy)
        return;
    m_phase = WaitingForReply;
    m_socket.write(m_request);
}

// Reads no further than the reply: what the target sends next is the owner's.
void TSocks4Handshake::ReadReply()
{
    if (m_phase != WaitingForReply)
        return;
    const qint64 missing = ReplySize - m_reply.size();
    m_reply += m_socket.read(missing);
    if (m_reply.size() < ReplySize)
        return;
    const QString error = ReplyError(m_reply);
    if (error.isEmpty())
        Succeed();
    else
        Fail(error);
}

void TSocks4Handshake::SocketFailed()
{
    if (m_phase == ConnectingToProxy)
        Fail("SOCKS 4 proxy " + m_proxy + " cannot be reached: " + m_socket.errorString());
    else if (m_phase == WaitingForReply)
        Fail("SOCKS 4 proxy " + m_proxy + " closed the connection before replying");
}

void TSocks4Handshake::Succeed()
{
    Unhook();
    m_phase = Succeeded;
    if (OnSucceeded) {
        const auto handler = OnSucceeded;
        handler();
    }
}

// The socket is of no use after a failed handshake, so it is closed here;
// its owner hears the end of the session as from any other failure.
void TSocks4Handshake::Fail(const QString& error)
{
    Unhook();
    m_phase = Failed;
    m_error = error;
    if (OnFailed) {
        const auto handler = OnFailed;
        handler(error);
    }
    if (m_socket.state() != QAbstractSocket::UnconnectedState)
        m_socket.abort();
}

void TSocks4Handshake::Unhook()
{
    if (m_hooks)
        QObject::disconnect(&m_socket, nullptr, m_hooks.get(), nullptr);
}
