#include "platform/core/TlsPolicy.h"
#include <QCryptographicHash>
#include <QFile>
#include <QRegularExpression>
#include <QSslCertificate>
#include <algorithm>

namespace {

constexpr qsizetype Sha256HexDigits = 64;

// What a pinned certificate stands in for: who signed it and which name it
// carries. Expiry and revocation still refuse it.
bool PinStandsInFor(QSslError::SslError error)
{
    switch (error) {
    case QSslError::SelfSignedCertificate:
    case QSslError::SelfSignedCertificateInChain:
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToVerifyFirstCertificate:
    case QSslError::CertificateUntrusted:
    case QSslError::HostNameMismatch:
        return true;
    default:
        return false;
    }
}

bool IsUntrusted(QSslError::SslError error) { return PinStandsInFor(error) && error != QSslError::HostNameMismatch; }

// The most telling of several errors comes first: an expired certificate
// from an unknown authority is reported as expired.
int Rank(QSslError::SslError error)
{
    switch (error) {
    case QSslError::CertificateRevoked:
    case QSslError::CertificateBlacklisted:
        return 0;
    case QSslError::CertificateExpired:
    case QSslError::CertificateNotYetValid:
        return 1;
    default:
        return IsUntrusted(error) ? 2 : error == QSslError::HostNameMismatch ? 3 : 4;
    }
}

} // namespace

TTlsPolicy::TTlsPolicy(const TTlsSettings& settings)
    : m_configuration(QSslConfiguration::defaultConfiguration()), m_peerName(settings.PeerName.trimmed())
{
    if (!settings.Problem.isEmpty())
        throw ETlsSettingsError(settings.Problem.toStdString());
    if (!settings.CaFile.isEmpty()) {
        QFile file(settings.CaFile);
        if (!file.open(QIODevice::ReadOnly))
            throw ETlsSettingsError("The TLS certificate authority file \"" + settings.CaFile.toStdString() +
                                    "\" cannot be read: " + file.errorString().toStdString());
        const QList<QSslCertificate> authorities = QSslCertificate::fromData(file.readAll(), QSsl::Pem);
        if (authorities.isEmpty())
            throw ETlsSettingsError("The TLS certificate authority file \"" + settings.CaFile.toStdString() +
                                    "\" holds no PEM certificate.");
        m_configuration.addCaCertificates(authorities);
    }
    if (!settings.Fingerprint.trimmed().isEmpty()) {
        m_pin = NormalizedFingerprint(settings.Fingerprint);
        if (m_pin.isEmpty())
            throw ETlsSettingsError("The TLS fingerprint setting is not a SHA-256 fingerprint "
                                    "(64 hexadecimal digits, colons allowed).");
    }
}

QString TTlsPolicy::PeerName(const QString& host) const { return m_peerName.isEmpty() ? host : m_peerName; }

QString TTlsPolicy::NormalizedFingerprint(const QString& text)
{
    QString hex = text.mid(text.lastIndexOf('=') + 1);
    hex.remove(QRegularExpression(QStringLiteral("[:\\s]")));
    static const QRegularExpression allHex(QStringLiteral("^[0-9a-fA-F]{64}$"));
    return hex.size() == Sha256HexDigits && allHex.match(hex).hasMatch() ? hex.toLower() : QString();
}

QString TTlsPolicy::FingerprintOf(const QSslCertificate& certificate)
{
    return QString::fromLatin1(certificate.digest(QCryptographicHash::Sha256).toHex());
}

QString TTlsPolicy::ProtocolName(int sessionProtocol)
{
    switch (sessionProtocol) {
    case QSsl::TlsV1_3:
        return QStringLiteral("TLS 1.3");
    case QSsl::TlsV1_2:
        return QStringLiteral("TLS 1.2");
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    case QSsl::TlsV1_1:
        return QStringLiteral("TLS 1.1");
    case QSsl::TlsV1_0:
        return QStringLiteral("TLS 1.0");
    QT_WARNING_POP
    default:
        return QStringLiteral("TLS");
    }
}

bool TTlsPolicy::PinMatches(const QSslCertificate& peer) const
{
    return !peer.isNull() && FingerprintOf(peer) == m_pin;
}

TTlsPolicy::TVerdict TTlsPolicy::Judge(const QList<QSslError>& errors, const QSslCertificate& peer,
                                        const QString& expectedName) const
{
    const bool excused = !m_pin.isEmpty() && PinMatches(peer) && !errors.isEmpty() &&
                         std::all_of(errors.begin(), errors.end(),
                                     [](const QSslError& e) { return PinStandsInFor(e.error()); });
    if (excused)
        return {errors, QString()};
    return {{}, DescribeRefusal(errors, peer, expectedName)};
}

QString TTlsPolicy::RefusalOfVerifiedPeer(const QSslCertificate& peer) const
{
    if (m_pin.isEmpty() || PinMatches(peer))
        return {};
    return QStringLiteral("The server's certificate does not match the configured fingerprint.");
}

QString TTlsPolicy::DescribeRefusal(const QList<QSslError>& errors, const QSslCertificate& peer,
                                   const QString& expectedName) const
{
    if (!m_pin.isEmpty() && !PinMatches(peer))
        return RefusalOfVerifiedPeer(peer);
    QList<QSslError> pending = errors;
    if (!m_pin.isEmpty())
        pending.removeIf([](const QSslError& e) { return PinStandsInFor(e.error()); });
    if (pending.isEmpty())
        return QStringLiteral("The server's certificate was refused.");
    const QSslError worst = *std::min_element(pending.begin(), pending.end(), [](const QSslError& a, const QSslError& b) {
        return Rank(a.error()) < Rank(b.error());
    });
    switch (worst.error()) {
    case QSslError::CertificateRevoked:
    case QSslError::CertificateBlacklisted:
        return QStringLiteral("The server's certificate has been revoked.");
    case QSslError::CertificateExpired:
        return QStringLiteral("The server's certificate has expired.");
    case QSslError::CertificateNotYetValid:
        return QStringLiteral("The server's certificate is not valid yet.");
    case QSslError::HostNameMismatch:
        return QStringLiteral("The server's certificate is for another name (expected \"%1\").").arg(expectedName);
    default:
        if (IsUntrusted(worst.error()))
            return QStringLiteral("The server's certificate is not trusted (self-signed or from an unknown authority).");
        return QStringLiteral("The server's certificate was refused: %1").arg(worst.errorString());
    }
}
