#include "Shared/SocketServerConnections.h"
#include "base/Assertions.h"
#include "base/DebugLog.h"
#include "base/GuardedCall.h"
#include "platform/core/Socks4Handshake.h"
#include "platform/core/TlsPolicy.h"
#include <QNetworkProxy>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

namespace {
constexpr const char* AssertUnit = "SocketServerConnections";
constexpr int ConnectTwiceLine = 102;
constexpr int SendBeforeOpenLine = 199;
// What the socket holds for the conversation before it stops reading: while
// the conversation works through a backlog, TCP holds the server back
// instead of this process buffering without end.
constexpr qint64 ReadBufferBytes = 1024 * 1024;
}

TSocketServerConnection::TSocketServerConnection(const QString& address, const QString& port,
                                                 TConnectionSettings settings)
    : TGenericServerConnection(std::move(settings)), Address(address), Port(port)
{
}

// The owner hears that the session has gone before the object goes. When
// this runs inside one of the socket's (or the timer's) own signals, they go
// once it has returned.
TSocketServerConnection::~TSocketServerConnection()
{
    if (m_state != Closed)
        GuardedCall("TSocketServerConnection.Destroy", [this] { RaiseSessionClosed(); });
    m_lifetime.Dispose(std::move(m_handshakeTimer));
    if (!m_socket)
        return;
    UnhookSocket();
    m_socket->abort();
    m_lifetime.Dispose(std::unique_ptr<QTcpSocket>(m_socket));
}

bool TSocketServerConnection::Connect()
{
    TAV_ASSERT(m_socket == nullptr, AssertUnit, ConnectTwiceLine);
    m_socket = Settings().Tls.Enabled ? (m_ssl = new QSslSocket) : new QTcpSocket;
    m_socket->setReadBufferSize(ReadBufferBytes);
    try {
        if (m_ssl)
            m_tls = std::make_unique<TTlsPolicy>(Settings().Tls);
        if (Address.isEmpty())
            throw ESocketException("no server address");
        const quint16 port = NumericPort();
        if (Settings().UsesSocks()) {
            ConnectThroughSocks(port);
        } else {
            HookSocket();
            m_socket->connectToHost(Address, port);
        }
    } catch (const ETlsSettingsError& e) {
        return FailAtOnce(QString::fromUtf8(e.what()));
    } catch (const std::exception& e) {
        return FailAtOnce("TSocketServerConnection.Connect, " + ExceptionClassName(e) + ", " +
                          QString::fromUtf8(e.what()));
    }
    return true;
}

bool TSocketServerConnection::FailAtOnce(const QString& reason)
{
    ErrorText = reason;
    RaiseSessionClosed();
    return false;
}

quint16 TSocketServerConnection::NumericPort() const
{
    bool ok = false;
    const uint port = Port.toUInt(&ok);
    if (!ok || port > 65535)
        throw ESocketException("invalid port \"" + Port.toStdString() + "\"");
    return static_cast<quint16>(port);
}

// SOCKS 5 is Qt's own: the socket reports connected once the proxy has
// granted the request. SOCKS 4 is negotiated here; its handshake is hooked to
// the socket before the connection's own handlers, which wait for it.
void TSocketServerConnection::ConnectThroughSocks(quint16 port)
{
    const TConnectionSettings& socks = Settings();
    const QString& user = socks.SocksUser; // empty: no authentication
    if (socks.SocksLevel == 5) {
        if (socks.SocksPort <= 0 || socks.SocksPort > 65535)
            throw ESocketException("invalid SOCKS port \"" + std::to_string(socks.SocksPort) + "\"");
        m_socket->setProxy(QNetworkProxy(QNetworkProxy::Socks5Proxy, socks.SocksServer,
                                         static_cast<quint16>(socks.SocksPort), user,
                                         user.isEmpty() ? QString() : socks.SocksPassword));
        HookSocket();
        m_socket->connectToHost(Address, port);
        return;
    }
    if (socks.SocksLevel != 4)
        throw ESocketException("SOCKS level \"" + std::to_string(socks.SocksLevel) + "\" is neither 4 nor 5");
    m_socks4 = std::make_unique<TSocks4Handshake>(*m_socket);
    m_socks4->OnSucceeded = [this] {
        FromSocket("TSocketServerConnection.WSocket1SessionConnected", [this] { TransportReady(); });
    };
    // The handshake closes the socket next; the session ends through it.
    m_socks4->OnFailed = [this](const QString& error) { ErrorText = error; };
    m_socks4->Start(socks.SocksServer, socks.SocksPort, Address, port, user.toUtf8());
    HookSocket();
    // A proxy the system will not even dial fails inside Start, before the
    // hooks above could hear the socket end: the session ends here instead.
    if (m_socks4->Phase() == TSocks4Handshake::Failed)
        WSocket1SessionClosed();
}

bool TSocketServerConnection::SocksHandshakePending() const
{
    return m_socks4 && m_socks4->Phase() != TSocks4Handshake::Succeeded;
}

// Runs a socket signal's handler: no exception may leave a Qt signal, and the
// owner may destroy this object from the event it receives.
template <typename Handler>
void TSocketServerConnection::FromSocket(const QString& location, Handler&& handler)
{
    const TDisposeWhenIdle::THandlerScope scope(m_lifetime);
    GuardedCall(location, handler);
}

void TSocketServerConnection::HookSocket()
{
    m_hooks = std::make_unique<QObject>();
    QObject* hooks = m_hooks.get();
    QObject::connect(m_socket, &QTcpSocket::connected, hooks, [this] {
        if (SocksHandshakePending())
            return;
        FromSocket("TSocketServerConnection.WSocket1SessionConnected", [this] { TransportReady(); });
    });
    if (m_ssl) {
        QObject::connect(m_ssl, &QSslSocket::encrypted, hooks,
                         [this] { FromSocket("TSocketServerConnection.Encrypted", [this] { TlsEncrypted(); }); });
        QObject::connect(m_ssl, &QSslSocket::sslErrors, hooks, [this](const QList<QSslError>& errors) {
            FromSocket("TSocketServerConnection.SslErrors", [&] { TlsErrors(errors); });
        });
    }
    QObject::connect(m_socket, &QTcpSocket::readyRead, hooks, [this] {
        if (SocksHandshakePending())
            return;
        FromSocket("TSocketServerConnection.WSocket1DataAvailable", [this] { WSocket1DataAvailable(); });
    });
    // Qt has no single "session closed" signal: a failed lookup or connect and
    // the end of an open session all end in the unconnected state.
    const auto ended = [this] {
        FromSocket("TSocketServerConnection.WSocket1SessionClosed", [this] { WSocket1SessionClosed(); });
    };
    QObject::connect(m_socket, &QTcpSocket::disconnected, hooks, ended);
    QObject::connect(m_socket, &QTcpSocket::errorOccurred, hooks, [this, ended](QAbstractSocket::SocketError error) {
        if (m_socket->state() == QAbstractSocket::UnconnectedState)
            ended();
        else if (m_ssl && error == QAbstractSocket::RemoteHostClosedError)
            FromSocket("TSocketServerConnection.WSocket1DataAvailable", [this] { TlsDecryptTheRest(); });
    });
    QObject::connect(m_socket, &QTcpSocket::stateChanged, hooks, [ended](QAbstractSocket::SocketState state) {
        if (state == QAbstractSocket::UnconnectedState)
            ended();
    });
}

void TSocketServerConnection::UnhookSocket()
{
    if (!m_hooks)
        return;
    QObject::disconnect(m_socket, nullptr, m_hooks.get(), nullptr);
    m_lifetime.Dispose(std::move(m_hooks));
}

// The TCP connection is up, through the proxy if there is one. Without TLS
// the pipe is open; with it, the handshake starts now, over whatever SOCKS
// has set up, so the certificate is always checked against the server.
void TSocketServerConnection::TransportReady()
{
    m_transportReady = true;
    if (m_ssl)
        StartTls();
    else
        WSocket1SessionConnected();
}

void TSocketServerConnection::StartTls()
{
    m_ssl->setSslConfiguration(m_tls->Configuration());
    m_ssl->setPeerVerifyName(m_tls->PeerName(Address));
    m_handshakeTimer = std::make_unique<QTimer>();
    m_handshakeTimer->setSingleShot(true);
    QObject::connect(m_handshakeTimer.get(), &QTimer::timeout, m_handshakeTimer.get(), [this] {
        FromSocket("TSocketServerConnection.HandshakeTimeout", [this] { TlsHandshakeTimedOut(); });
    });
    m_handshakeTimer->start(Settings().Tls.HandshakeTimeoutMs);
    m_ssl->startClientEncryption();
}

void TSocketServerConnection::TlsErrors(const QList<QSslError>& errors)
{
    const TTlsPolicy::TVerdict verdict = m_tls->Judge(errors, m_ssl->peerCertificate(), m_tls->PeerName(Address));
    if (verdict.Refusal.isEmpty())
        m_ssl->ignoreSslErrors(verdict.Ignore);
    else
        ErrorText = verdict.Refusal; // Qt ends the handshake when this returns
}

void TSocketServerConnection::TlsEncrypted()
{
    m_handshakeTimer->stop();
    const QString refusal = m_tls->RefusalOfVerifiedPeer(m_ssl->peerCertificate());
    if (!refusal.isEmpty()) {
        ErrorText = refusal;
        m_ssl->abort();
        return;
    }
    WSocket1SessionConnected();
}

void TSocketServerConnection::TlsHandshakeTimedOut()
{
    if (m_state != NotConnected)
        return;
    ErrorText = QStringLiteral("The server does not speak TLS: it did not answer the TLS handshake.");
    m_socket->abort();
}

// Why a TLS session ended before it was open, when no check said so already.
QString TSocketServerConnection::TlsEndReason() const
{
    if (!m_transportReady)
        return {}; // the server was not reached at all: the usual texts apply
    if (m_socket->error() == QAbstractSocket::RemoteHostClosedError)
        return QStringLiteral("The server does not speak TLS: it closed the connection during the TLS handshake.");
    return QStringLiteral("The TLS handshake with the server failed (does the server speak TLS?): ") +
           m_socket->errorString();
}

QString TSocketServerConnection::EncryptionProtocol() const
{
    return m_ssl && m_state == Connected ? TTlsPolicy::ProtocolName(m_ssl->sessionProtocol()) : QString();
}

void TSocketServerConnection::WSocket1SessionConnected()
{
    if (m_state != NotConnected)
        return;
    m_state = Connected;
    RaiseSessionConnected();
}

// Qt's TLS socket decrypts no further than its read buffer allows, and once
// the server has closed it throws away what OpenSSL still holds encrypted: a
// server that writes much and then closes would lose its last frames. The
// close is reported first (as an error, still connected); what is held is
// decrypted now, beyond the buffer's limit, and read as usual.
void TSocketServerConnection::TlsDecryptTheRest()
{
    m_ssl->setReadBufferSize(0);
    m_ssl->flush();
}

// Reached once per session whichever of Qt's end reports comes first.
void TSocketServerConnection::WSocket1SessionClosed()
{
    if (m_state == Closed)
        return;
    // A reason given earlier (a SOCKS 4 refusal, a rejected certificate) is kept.
    if (m_state == NotConnected && ErrorText.isEmpty() && m_ssl)
        ErrorText = TlsEndReason();
    if (m_state == NotConnected && ErrorText.isEmpty())
        ErrorText = FailedConnectText();
    else if (m_state == Connected && !m_ssl && !m_answered)
        ErrorText = QStringLiteral("The server closed the connection without answering "
                                   "(does it expect TLS?).");
    if (m_handshakeTimer)
        m_handshakeTimer->stop();
    m_state = Closed;
    RaiseSessionClosed();
}

// Why a connect that was under way failed, so that the user learns it: empty
// when it was not the socket's doing (our own Close). A reason given earlier
// (a SOCKS 4 refusal) is kept by the caller.
QString TSocketServerConnection::FailedConnectText() const
{
    switch (m_socket->error()) {
    case QAbstractSocket::UnknownSocketError:
        return QString();
    case QAbstractSocket::HostNotFoundError:
        return QStringLiteral("DNS error");
    case QAbstractSocket::ConnectionRefusedError:
        return QStringLiteral("Connection refused");
    case QAbstractSocket::SocketTimeoutError:
        return QStringLiteral("Connection timed out");
    default:
        return m_socket->errorString();
    }
}

void TSocketServerConnection::WSocket1DataAvailable()
{
    m_answered = true;
    RaiseDataAvailable();
}

void TSocketServerConnection::Send(const QByteArray& data)
{
    TAV_ASSERT(m_state != NotConnected, AssertUnit, SendBeforeOpenLine);
    if (m_state == Connected)
        m_socket->write(data);
}

// A socket still looking up or connecting ignores close() until it has
// connected; abort() ends it now, so the session ends with this call.
void TSocketServerConnection::Close()
{
    if (!m_socket || m_state == Closed)
        return;
    // A TLS handshake or a SOCKS request still under way counts as not open.
    if (m_state == Connected)
        m_socket->close();
    else
        m_socket->abort();
}

bool TSocketServerConnection::ReadAhead()
{
    if (!m_socket || m_state != Connected)
        return false;
    // Inside a readyRead of its own the socket announces nothing new: what
    // it takes in here is read because this says so.
    if (m_socket->bytesAvailable() < ReadBufferBytes)
        m_socket->waitForReadyRead(0);
    return m_socket->bytesAvailable() > 0;
}

qint64 TSocketServerConnection::BytesWaiting() const
{
    return m_socket && m_socket->isReadable() ? m_socket->bytesAvailable() : 0;
}

QByteArray TSocketServerConnection::ReadAll()
{
    if (!m_socket || !m_socket->isReadable())
        return {};
    // Qt hands its buffered bytes over without copying them where it can.
    return m_socket->readAll();
}
