#include "platform/core/CertificateProbe.h"
#include "base/GuardedCall.h"
#include "platform/core/TlsPolicy.h"
#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>

namespace {

// "CN=localhost, O=Example": every attribute, as openssl names them.
QString DistinguishedName(const QSslCertificate& certificate, bool issuer)
{
    QStringList parts;
    for (const QByteArray& attribute : issuer ? certificate.issuerInfoAttributes() : certificate.subjectInfoAttributes())
        for (const QString& value : issuer ? certificate.issuerInfo(attribute) : certificate.subjectInfo(attribute))
            parts << QString::fromLatin1(attribute) + u'=' + value;
    return parts.join(QStringLiteral(", "));
}

} // namespace

TCertificateProbe::TCertificateProbe(int timeoutMs) : m_timeoutMs(timeoutMs), m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] {
        Finish({QStringLiteral("The server sent no certificate within %1 s.").arg(m_timeoutMs / 1000), {}, {}, {}, {},
                {}, {}});
    });
}

TCertificateProbe::~TCertificateProbe() { m_done = nullptr; }

QString TCertificateProbe::ColonFingerprint(const QString& hex)
{
    QStringList pairs;
    for (qsizetype i = 0; i + 1 < hex.size(); i += 2)
        pairs << hex.mid(i, 2).toUpper();
    return pairs.join(u':');
}

void TCertificateProbe::Start(const TCertificateRoute& route, TDone done)
{
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
    }
    m_done = std::move(done);
    auto* socket = new QSslSocket(this);
    m_socket = socket;
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    if (QFile file(route.CaFile); !route.CaFile.isEmpty() && file.open(QIODevice::ReadOnly))
        configuration.addCaCertificates(QSslCertificate::fromData(file.readAll(), QSsl::Pem));
    socket->setSslConfiguration(configuration);
    socket->setProxy(route.Proxy);
    connect(socket, &QSslSocket::sslErrors, this, [this](const QList<QSslError>& errors) {
        QStringList doubts;
        for (const QSslError& error : errors)
            doubts << error.errorString();
        Presented(doubts);
    });
    connect(socket, &QSslSocket::encrypted, this, [this] { Presented({}); });
    connect(socket, &QAbstractSocket::errorOccurred, this,
            [this, socket] { Finish({socket->errorString(), {}, {}, {}, {}, {}, {}}); });
    m_timer->start(m_timeoutMs);
    socket->connectToHostEncrypted(route.Host, route.Port, route.PeerName.isEmpty() ? route.Host : route.PeerName);
}

void TCertificateProbe::Presented(const QStringList& doubts)
{
    const QSslCertificate certificate = m_socket ? m_socket->peerCertificate() : QSslCertificate();
    if (certificate.isNull()) {
        Finish({QStringLiteral("The server presented no certificate."), {}, {}, {}, {}, {}, {}});
        return;
    }
    Finish({QString(), DistinguishedName(certificate, false), DistinguishedName(certificate, true), certificate.effectiveDate(),
            certificate.expiryDate(), ColonFingerprint(TTlsPolicy::FingerprintOf(certificate)), doubts});
}

// The socket goes once its own handler has returned; the answer is given once.
void TCertificateProbe::Finish(const TPresentedCertificate& presented)
{
    m_timer->stop();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
        m_socket = nullptr;
    }
    TDone done = std::move(m_done);
    m_done = nullptr;
    if (done)
        GuardedCall(QStringLiteral("TCertificateProbe, answer"), [&] { done(presented); });
}
