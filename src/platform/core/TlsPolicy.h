#pragma once
// How a connection to the alert server is encrypted and verified: Qt's
// default verification (the system's authorities, plus those of an optional
// PEM file, and the server's name), or a pinned SHA-256 fingerprint of the
// server's certificate, which then is the only certificate accepted. Used by
// the TCP connection and by the HTTP client of the tunnel; failures are told
// in words a trader understands.
#include <QList>
#include <QSslConfiguration>
#include <QSslError>
#include <QString>
#include <stdexcept>

class QSslCertificate;

// The optional TLS settings of a connection (read with the other connection
// settings, Shared/ConnectionSettings).
struct TTlsSettings {
    bool Enabled = false;  // the TCP connection talks TLS (a tunnel follows its URL's scheme)
    QString CaFile;        // PEM file of authorities trusted besides the system's
    QString PeerName;      // the name the certificate must carry; empty: the host dialled
    QString Fingerprint;   // SHA-256 of the server's certificate in hex, colons allowed
    // Set when the settings say nothing clear (Enabled is then set too, so
    // that nothing goes in clear): every connection is refused with this text.
    QString Problem;
    // A server that never answers the handshake (it does not speak TLS) is
    // given up after this long.
    int HandshakeTimeoutMs = 10000;

    friend bool operator==(const TTlsSettings&, const TTlsSettings&) = default;
};

// Settings that cannot be used (an unreadable CA file, a malformed
// fingerprint, a Problem); the message is meant for the user.
class ETlsSettingsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TTlsPolicy {
public:
    // Reads the CA file and checks the fingerprint; raises ETlsSettingsError,
    // also for settings with a Problem.
    explicit TTlsPolicy(const TTlsSettings& settings);

    const QSslConfiguration& Configuration() const { return m_configuration; }
    // The name the server's certificate is checked against when dialling Host.
    QString PeerName(const QString& host) const;

    // What to do about the verification errors of a handshake: ignore
    // exactly these (the pinned fingerprint matched and every error is one
    // the pin stands in for: an unknown authority or another name), or
    // refuse the server for the reason given.
    struct TVerdict {
        QList<QSslError> Ignore;
        QString Refusal; // empty: go on, ignoring Ignore
    };
    TVerdict Judge(const QList<QSslError>& errors, const QSslCertificate& peer, const QString& expectedName) const;
    // Why the peer is refused, once verification has passed: empty when it
    // may be used (no pin, or the pin matched).
    QString RefusalOfVerifiedPeer(const QSslCertificate& peer) const;

    // "a1b2..." (64 lower-case hex digits) from hex with or without colons,
    // also as openssl prints it ("SHA256 Fingerprint=A1:B2:..."); empty when
    // the text is no SHA-256 fingerprint.
    static QString NormalizedFingerprint(const QString& text);
    static QString FingerprintOf(const QSslCertificate& certificate);
    // "TLS 1.3", "TLS 1.2", ...
    static QString ProtocolName(int sessionProtocol);

private:
    bool PinMatches(const QSslCertificate& peer) const;
    QString DescribeRefusal(const QList<QSslError>& errors, const QSslCertificate& peer,
                            const QString& expectedName) const;

    QSslConfiguration m_configuration;
    QString m_peerName;
    QString m_pin; // normalized; empty: no pin
};
