#include "platform/core/HttpClient.h"
#include "base/GuardedCall.h"
#include <QCoreApplication>
#include <QIODevice>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QSslError>
#include <string>
#include <array>

namespace {

constexpr std::array<const char*, 11> StateNames = {
    "httpReady",         "httpNotConnected", "httpConnected",    "httpDnsLookup",
    "httpDnsLookupDone", "httpWaitingHeader", "httpWaitingBody", "httpBodyReceived",
    "httpWaitingProxyConnect", "httpClosing", "httpAborting"};

quint16 CheckedPort(qint32 port, const char* what)
{
    if (port <= 0 || port > 65535)
        throw EHttpException(std::string(what) + " port \"" + std::to_string(port) + "\" is not a port number");
    return static_cast<quint16>(port);
}

// The errors QNetworkReply raises for a response that arrived with an error
// status: the exchange itself worked, the status tells the rest.
bool IsHttpStatusError(QNetworkReply::NetworkError error)
{
    const int code = static_cast<int>(error);
    return (code >= QNetworkReply::ContentAccessDenied && code <= QNetworkReply::UnknownContentError) ||
           (code >= QNetworkReply::InternalServerError && code <= QNetworkReply::UnknownServerError);
}

// The words the TCP connection uses for the same failures.
QString TransportFailureText(const QNetworkReply& reply)
{
    switch (reply.error()) {
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("DNS error");
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("Connection refused");
    case QNetworkReply::TimeoutError:
        return QStringLiteral("Connection timed out");
    default:
        return reply.errorString();
    }
}

} // namespace

QString UrlForDisplay(const QString& url)
{
    // Scheme "://" user ":" password "@": the password runs to the last "@"
    // before the path, since a careless one may hold an "@" of its own.
    static const QRegularExpression userInfo(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*://[^/?#@:]*:)[^/?#]*@"));
    QString shown = url;
    return shown.replace(userInfo, QStringLiteral("\\1***@"));
}

QString HttpStateName(THttpState state)
{
    const auto index = static_cast<std::size_t>(state);
    return index < StateNames.size() ? QString::fromLatin1(StateNames[index]) : QStringLiteral("httpUnknown");
}

THttpClient::THttpClient()
    : m_manager(std::make_unique<QNetworkAccessManager>()), m_hooks(std::make_unique<QObject>())
{
}

// Inside one of the reply's signals the manager and the signal context are
// still on the stack, so they go once that signal has returned.
THttpClient::~THttpClient()
{
    if (m_reply) {
        QNetworkReply* reply = DetachReply();
        reply->abort();
        reply->deleteLater();
    }
    // A resumption still queued would reach a client that has gone.
    QCoreApplication::removePostedEvents(m_hooks.get(), QEvent::MetaCall);
    m_lifetime.Dispose(std::move(m_hooks));
    m_lifetime.Dispose(std::move(m_manager));
}

void THttpClient::GetASync() { Start(httpGET, {}); }

void THttpClient::PostASync(const QByteArray& contentType) { Start(httpPOST, contentType); }

void THttpClient::Start(THttpRequest request, const QByteArray& contentType)
{
    if (m_reply)
        throw EHttpException("a request is already running");
    const QUrl url = CheckedUrl();
    const QNetworkProxy proxy = ChosenProxy();
    m_manager->setProxy(proxy);

    QNetworkRequest networkRequest(url);
    // A redirected POST would quietly become something else; the tunnel
    // treats any status but 200 as a failure instead.
    networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    // Proxies must hand the stream over as it comes, not keep a copy.
    networkRequest.setRawHeader("Cache-Control", "no-cache");
    ApplyTls(networkRequest, url);
    m_statusCode = 0;
    m_reasonPhrase.clear();
    m_transportFailure.clear();
    m_request = request;
    m_state = httpDnsLookup;
    m_receivePaused = false;
    if (request == httpGET) {
        m_reply = m_manager->get(networkRequest);
        m_reply->setReadBufferSize(ReceiveBufferBytes);
    } else {
        networkRequest.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
        const QByteArray body = SendStream ? SendStream->readAll() : QByteArray();
        m_reply = m_manager->post(networkRequest, body);
    }
    HookReply(m_reply);
}

bool IsHttpUrl(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    // Port 0 (explicit) reaches no server.
    return url.isValid() && !url.host().isEmpty() && url.port() != 0 && (scheme == "http" || scheme == "https");
}

QUrl THttpClient::CheckedUrl() const
{
    const QUrl url(URL, QUrl::StrictMode);
    if (!IsHttpUrl(URL))
        throw EHttpException("invalid URL \"" + UrlForDisplay(URL).toStdString() + "\"");
    return url;
}

QNetworkProxy THttpClient::ChosenProxy() const
{
    if (!Proxy.isEmpty())
        return QNetworkProxy(QNetworkProxy::HttpProxy, Proxy, CheckedPort(ProxyPort, "proxy"), ProxyUsername,
                             ProxyPassword);
    if (!SocksServer.isEmpty()) {
        // Qt speaks SOCKS 5 only; going direct instead would bypass the proxy
        // the user asked for, so anything else refuses to start.
        if (SocksLevel != 0 && SocksLevel != 5)
            throw EHttpException("SOCKS " + std::to_string(SocksLevel) +
                                 " cannot carry HTTP requests; use SOCKS 5 or an HTTP proxy");
        const bool authenticate = SocksAuthentication == socksAuthenticateUsercode;
        return QNetworkProxy(QNetworkProxy::Socks5Proxy, SocksServer, CheckedPort(SocksPort, "SOCKS"),
                             authenticate ? SocksUsercode : QString(), authenticate ? SocksPassword : QString());
    }
    // Explicitly direct: the application-wide or system proxy must not sneak in.
    return QNetworkProxy(QNetworkProxy::NoProxy);
}

void THttpClient::ApplyTls(QNetworkRequest& request, const QUrl& url)
{
    m_tlsFailure.clear();
    m_encryptionProtocol.clear();
    m_tls.reset();
    if (url.scheme().toLower() != "https")
        return;
    m_tls = std::make_unique<TTlsPolicy>(Tls);
    request.setSslConfiguration(m_tls->Configuration());
    request.setPeerVerifyName(m_tls->PeerName(url.host()));
}

// Once the server has been verified, a pinned fingerprint must still match.
void THttpClient::CheckEncrypted()
{
    if (!m_reply || !m_tls)
        return;
    const QSslConfiguration session = m_reply->sslConfiguration();
    m_tlsFailure = m_tls->RefusalOfVerifiedPeer(session.peerCertificate());
    if (!m_tlsFailure.isEmpty()) {
        // Let go of the reply before it stops: nothing reads it once closed.
        Abort();
        return;
    }
    m_encryptionProtocol = TTlsPolicy::ProtocolName(session.sessionProtocol());
}

template <typename Work>
void THttpClient::FromReply(const char* location, Work&& work)
{
    const TDisposeWhenIdle::THandlerScope scope(m_lifetime);
    GuardedCall(QString::fromLatin1(location), work);
}

void THttpClient::HookReply(QNetworkReply* reply)
{
    QObject* hooks = m_hooks.get();
    QObject::connect(reply, &QNetworkReply::socketStartedConnecting, hooks, [this] {
        if (m_state == httpDnsLookup)
            m_state = httpDnsLookupDone;
    });
    QObject::connect(reply, &QNetworkReply::requestSent, hooks, [this] {
        if (m_state < httpWaitingHeader)
            m_state = httpWaitingHeader;
    });
    QObject::connect(reply, &QNetworkReply::metaDataChanged, hooks, [this] { ReadHeader(); });
    QObject::connect(reply, &QNetworkReply::sslErrors, hooks, [this, reply](const QList<QSslError>& errors) {
        if (!m_tls)
            return;
        const TTlsPolicy::TVerdict verdict =
            m_tls->Judge(errors, reply->sslConfiguration().peerCertificate(), reply->request().peerVerifyName());
        if (verdict.Refusal.isEmpty())
            reply->ignoreSslErrors(verdict.Ignore);
        else
            m_tlsFailure = verdict.Refusal;
    });
    QObject::connect(reply, &QNetworkReply::encrypted, hooks,
                     [this] { FromReply("THttpClient.Encrypted", [this] { CheckEncrypted(); }); });
    QObject::connect(reply, &QNetworkReply::readyRead, hooks,
                     [this] { FromReply("THttpClient.OnDocData", [this] { DeliverBody(); }); });
    QObject::connect(reply, &QNetworkReply::finished, hooks,
                     [this] { FromReply("THttpClient.OnRequestDone", [this] { Finish(); }); });
}

void THttpClient::ReadHeader()
{
    const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return;
    m_statusCode = status.toInt();
    m_reasonPhrase = m_reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    m_state = httpWaitingBody;
}

void THttpClient::DeliverBody(bool evenWhenPaused)
{
    if (!m_reply || (m_receivePaused && !evenWhenPaused))
        return;
    ReadHeader();
    const QByteArray data = m_reply->readAll();
    if (data.isEmpty() || !OnDocData)
        return;
    // A copy: the receiver may unhook itself while it runs.
    const THttpDocDataEvent handler = OnDocData;
    handler(this, data);
}

void THttpClient::Finish()
{
    const TDisposeWhenIdle::THandlerScope scope(m_lifetime);
    DeliverBody(true); // whatever came with the end
    if (scope.OwnerGone() || !m_reply)
        return; // destroyed or aborted by the body's receiver
    ReadHeader();
    m_state = httpBodyReceived;
    QNetworkReply* reply = DetachReply();
    const int errCode = ErrorCodeOf(*reply);
    if (errCode != 0)
        m_transportFailure = TransportFailureText(*reply);
    reply->deleteLater();
    m_state = httpReady;
    RaiseRequestDone(m_request, errCode);
}

int THttpClient::ErrorCodeOf(const QNetworkReply& reply) const
{
    const QNetworkReply::NetworkError error = reply.error();
    if (error == QNetworkReply::NoError || (m_statusCode > 0 && IsHttpStatusError(error)))
        return 0;
    return static_cast<int>(error);
}

void THttpClient::SetReceivePaused(bool paused)
{
    if (paused == m_receivePaused)
        return;
    m_receivePaused = paused;
    if (paused || !m_reply)
        return;
    // Not from here: the receiver is resuming from inside its own reading.
    QMetaObject::invokeMethod(
        m_hooks.get(), [this] { FromReply("THttpClient.OnDocData", [this] { DeliverBody(); }); },
        Qt::QueuedConnection);
}

void THttpClient::Abort()
{
    if (!m_reply)
        return;
    m_state = httpAborting;
    QNetworkReply* reply = DetachReply();
    reply->abort();
    reply->deleteLater();
    m_state = httpReady;
    RaiseRequestDone(m_request, QNetworkReply::OperationCanceledError);
}

QNetworkReply* THttpClient::DetachReply()
{
    QNetworkReply* reply = m_reply;
    m_reply = nullptr;
    QObject::disconnect(reply, nullptr, m_hooks.get(), nullptr);
    return reply;
}

void THttpClient::RaiseRequestDone(THttpRequest request, int errCode)
{
    if (!OnRequestDone)
        return;
    // A copy: the receiver may unhook itself while it runs.
    const THttpRequestDoneEvent handler = OnRequestDone;
    handler(this, request, errCode);
}
