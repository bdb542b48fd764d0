#pragma once
// A TCP listener that can serve TLS: given a certificate and its key, every
// accepted connection first completes the TLS handshake and only then is
// handed on, so the rest of the server reads and writes plain bytes as
// ever. A failed handshake is logged and the connection dropped.
#include <QSslConfiguration>
#include <QTcpServer>
#include <optional>

namespace AlertServer {

// The certificate chain (PEM, leaf first) and its private key (PEM, RSA or
// EC); nullopt with Error when either cannot be used.
std::optional<QSslConfiguration> LoadServerTls(const QString& certificateFile, const QString& keyFile,
                                               QString& error);

class TlsListener : public QTcpServer {
    Q_OBJECT
public:
    using QTcpServer::QTcpServer;
    void ServeTls(const QSslConfiguration& configuration) { Tls = configuration; }
    bool ServesTls() const { return Tls.has_value(); }

protected:
    void incomingConnection(qintptr handle) override;

private:
    std::optional<QSslConfiguration> Tls;
};

} // namespace AlertServer
