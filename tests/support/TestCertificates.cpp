#include "TestCertificates.h"
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

namespace {

// A configuration of our own, so that the system's defaults add nothing.
const QByteArray Configuration = R"([req]
distinguished_name = dn
[dn]
[ca_ext]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[leaf_ext]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = $ENV::SAN
[ca]
default_ca = test_ca
[test_ca]
database = index.txt
new_certs_dir = .
serial = serial
policy = any_name
default_md = sha256
unique_subject = no
[any_name]
commonName = supplied
)";

const QByteArray Loopback = "DNS:localhost,IP:127.0.0.1";

bool WriteFile(const QString& path, const QByteArray& contents)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(contents) == contents.size();
}

} // namespace

bool TestCertificates::Run(const QStringList& arguments, const QByteArray& subjectAltName, QByteArray* output)
{
    QProcess openssl;
    openssl.setWorkingDirectory(m_dir.path());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("SAN", QString::fromLatin1(subjectAltName));
    openssl.setProcessEnvironment(environment);
    openssl.start(m_openssl, arguments);
    if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        m_failure = "openssl " + arguments.join(' ') + " failed: " + QString::fromUtf8(openssl.readAllStandardError());
        return false;
    }
    if (output)
        *output = openssl.readAllStandardOutput();
    return true;
}

bool TestCertificates::Make()
{
    m_openssl = QStandardPaths::findExecutable("openssl");
    if (m_openssl.isEmpty()) {
        m_failure = "openssl is not installed (package openssl; tools/setup.sh installs it)";
        return false;
    }
    if (!m_dir.isValid() || !WriteFile(Path("t.cnf"), Configuration) || !WriteFile(Path("index.txt"), {}) ||
        !WriteFile(Path("serial"), "1000\n")) {
        m_failure = "cannot write the openssl files in " + m_dir.path();
        return false;
    }
    const QStringList signByCa{"ca", "-config", "t.cnf", "-batch", "-notext", "-cert", "ca.pem", "-keyfile", "ca.key",
                               "-extensions", "leaf_ext"};
    const QStringList selfSigned{"req", "-config", "t.cnf", "-x509", "-new", "-key", "server.key", "-days", "30",
                                 "-extensions", "leaf_ext"};
    return Run({"req", "-config", "t.cnf", "-x509", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days", "30", "-subj", "/CN=Tavisk Test CA",
                "-extensions", "ca_ext"},
               Loopback) &&
           Run({"genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", "server.key"}, Loopback) &&
           Run({"req", "-config", "t.cnf", "-new", "-key", "server.key", "-subj", "/CN=localhost", "-out", "server.csr"},
               Loopback) &&
           Run(signByCa + QStringList{"-in", "server.csr", "-out", "server.pem", "-days", "30"}, Loopback) &&
           Run(signByCa + QStringList{"-in", "server.csr", "-out", "named.pem", "-days", "30"},
               QByteArray("DNS:") + NamedHost) &&
           Run(signByCa + QStringList{"-in", "server.csr", "-out", "expired.pem", "-startdate", "20200101000000Z",
                                      "-enddate", "20200201000000Z"},
               Loopback) &&
           Run(selfSigned + QStringList{"-subj", "/CN=self", "-out", "self.pem"}, Loopback) &&
           Run(selfSigned + QStringList{"-subj", "/CN=other", "-out", "other.pem"}, Loopback);
}

QByteArray TestCertificates::OpensslFingerprint(const QString& file)
{
    QByteArray output;
    if (!Run({"x509", "-in", file, "-noout", "-fingerprint", "-sha256"}, Loopback, &output))
        return {};
    return output.trimmed();
}
