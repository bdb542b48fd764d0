#pragma once
// Certificates for TLS tests, made at test time by the system's openssl in a
// temporary folder: a certificate authority and, all for one EC key
// ("server.key"), a server certificate it signed for localhost and
// 127.0.0.1 ("server.pem"), one it signed for another name ("named.pem",
// alerts.example.test), an expired one ("expired.pem"), and two self-signed
// ones for 127.0.0.1 ("self.pem", "other.pem").
//
//   TestCertificates certificates;
//   if (!certificates.Make()) GTEST_SKIP() << certificates.Failure();
//   server.Start({"--tls-cert", certificates.Path("server.pem"), "--tls-key", certificates.Path("server.key")});
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class TestCertificates {
public:
    static constexpr char NamedHost[] = "alerts.example.test";

    // False when openssl is missing or failed; Failure says why.
    bool Make();
    QString Path(const QString& file) const { return m_dir.filePath(file); }
    // The SHA-256 fingerprint as "openssl x509 -fingerprint -sha256" prints it.
    QByteArray OpensslFingerprint(const QString& file);
    const QString& Failure() const { return m_failure; }

private:
    bool Run(const QStringList& arguments, const QByteArray& subjectAltName, QByteArray* output = nullptr);

    QTemporaryDir m_dir;
    QString m_openssl;
    QString m_failure;
};
