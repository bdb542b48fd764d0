#include "TlsListener.h"
#include "Logger.h"
#include "ServerOptions.h"
#include <QFile>
#include <QSslKey>
#include <QSslSocket>
#include <QTimer>

namespace AlertServer {

namespace {
// A client that connects and never completes the handshake is not kept.
constexpr int HandshakeTimeoutMs = 30000;
} // namespace

std::optional<QSslConfiguration> LoadServerTls(const QString& certificateFile, const QString& keyFile, QString& error)
{
    QByteArray certificates;
    QByteArray keyText;
    if (!ReadFile(certificateFile, certificates, error) || !ReadFile(keyFile, keyText, error))
        return std::nullopt;
    const QList<QSslCertificate> chain = QSslCertificate::fromData(certificates, QSsl::Pem);
    if (chain.isEmpty()) {
        error = QStringLiteral("%1 holds no PEM certificate").arg(certificateFile);
        return std::nullopt;
    }
    QSslKey key(keyText, QSsl::Rsa, QSsl::Pem);
    if (key.isNull())
        key = QSslKey(keyText, QSsl::Ec, QSsl::Pem);
    if (key.isNull()) {
        error = QStringLiteral("%1 holds no unencrypted PEM RSA or EC private key").arg(keyFile);
        return std::nullopt;
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificateChain(chain);
    configuration.setPrivateKey(key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone); // clients prove themselves by their login
    return configuration;
}

void TlsListener::incomingConnection(qintptr handle)
{
    if (!Tls) {
        QTcpServer::incomingConnection(handle);
        return;
    }
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(handle)) {
        delete socket;
        return;
    }
    const QString peer = QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
    socket->setSslConfiguration(*Tls);
    auto* handshake = new QObject(socket); // context of the handshake's own hooks
    // The hooks go first, and their context later: one of them is running.
    const auto unhook = [socket, handshake] {
        disconnect(socket, nullptr, handshake, nullptr);
        handshake->deleteLater();
    };
    connect(socket, &QSslSocket::encrypted, handshake, [this, socket, unhook] {
        unhook();
        addPendingConnection(socket);
        emit newConnection();
    });
    const auto fail = [socket, unhook, peer](const QString& why) {
        Log(QStringLiteral("TLS handshake with %1 failed: %2").arg(peer, why));
        unhook();
        socket->abort();
        socket->deleteLater();
    };
    connect(socket, &QSslSocket::errorOccurred, handshake, [socket, fail] { fail(socket->errorString()); });
    QTimer::singleShot(HandshakeTimeoutMs, handshake, [fail] { fail(QStringLiteral("no handshake in time")); });
    socket->startServerEncryption();
}

} // namespace AlertServer
