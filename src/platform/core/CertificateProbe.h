#pragma once
// Asks a server for its TLS certificate without logging in: one handshake,
// then the connection is dropped, so that the trader can look at the
// certificate and pin it knowingly. Nothing is sent but the handshake, and no
// verification error is ever ignored: the certificate is read when the
// handshake reports it, trusted or not, and the attempt ends there.
#include <QDateTime>
#include <QNetworkProxy>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>

class QSslSocket;
class QTimer;

// Where the handshake goes.
struct TCertificateRoute {
    QString Host;
    quint16 Port = 0;
    QString PeerName; // the name the certificate is checked against; empty: Host
    QNetworkProxy Proxy{QNetworkProxy::NoProxy};
    QString CaFile; // PEM authorities trusted besides the system's; may be empty
};

// What the server presented.
struct TPresentedCertificate {
    QString Error; // why no certificate was seen; empty when one was
    QString Subject;
    QString Issuer;
    QDateTime ValidFrom;
    QDateTime ValidUntil;
    QString Fingerprint; // SHA-256, "AB:CD:..." as the fingerprint setting accepts it
    QStringList Doubts;  // why verification refuses it; empty: verified
};

class TCertificateProbe : public QObject {
public:
    using TDone = std::function<void(const TPresentedCertificate& presented)>;
    explicit TCertificateProbe(int timeoutMs = 10000);
    ~TCertificateProbe() override;

    // Starts one attempt, abandoning one under way (its done is not called).
    // done is called once, from the event loop, and never once this object
    // is gone.
    void Start(const TCertificateRoute& route, TDone done);

    // "AB:CD:...": the form openssl prints, which the setting accepts.
    static QString ColonFingerprint(const QString& hex);

private:
    void Finish(const TPresentedCertificate& presented);
    void Presented(const QStringList& doubts);

    int m_timeoutMs;
    QPointer<QSslSocket> m_socket;
    QTimer* m_timer = nullptr;
    TDone m_done;
};
