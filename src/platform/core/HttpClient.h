#pragma once
// An asynchronous HTTP client over QNetworkAccessManager with the shape the
// HTTP tunnel needs: a numbered state, response-body bytes delivered as they
// arrive, exactly one request-done report per finished or aborted request
// (with the client already back in httpReady), the last status code and
// reason phrase, and HTTP proxy or SOCKS settings.
//
// Transport failures give a non-zero ErrCode (the QNetworkReply error); an
// HTTP error status is not a transport failure, it is seen in StatusCode.
#include "base/DisposeWhenIdle.h"
#include "platform/core/TlsPolicy.h"
#include <QByteArray>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <stdexcept>

class QIODevice;
class QNetworkAccessManager;
class QNetworkProxy;
class QNetworkReply;
class QObject;

// A request that cannot even be started (bad URL, bad proxy settings, a proxy
// kind this client cannot speak).
class EHttpException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The URL as it is shown and logged: the password of a "user:password@"
// part masked, the rest exactly as written (also when it is no valid URL).
QString UrlForDisplay(const QString& url);
// An absolute http:// or https:// URL with a host, read strictly: the only
// URLs the client requests (the settings reader refuses any other).
bool IsHttpUrl(const QString& url);

enum THttpState : quint8 {
    httpReady = 0,
    httpNotConnected = 1,
    httpConnected = 2,
    httpDnsLookup = 3,
    httpDnsLookupDone = 4,
    httpWaitingHeader = 5,
    httpWaitingBody = 6,
    httpBodyReceived = 7,
    httpWaitingProxyConnect = 8,
    httpClosing = 9,
    httpAborting = 10,
};

// "httpReady", "httpNotConnected", ...
QString HttpStateName(THttpState state);

enum THttpRequest : quint8 { httpGET, httpPOST };
enum TSocksAuthentication : quint8 { socksNoAuthentication, socksAuthenticateUsercode };

class THttpClient;
using THttpDocDataEvent = std::function<void(THttpClient* sender, const QByteArray& data)>;
using THttpRequestDoneEvent = std::function<void(THttpClient* sender, THttpRequest request, int errCode)>;

class THttpClient {
public:
    THttpClient();
    ~THttpClient();
    THttpClient(const THttpClient&) = delete;
    THttpClient& operator=(const THttpClient&) = delete;

    QString URL;

    // HTTP proxy: used when Proxy is non-empty; it takes precedence over SOCKS.
    QString Proxy;
    qint32 ProxyPort = 0;
    QString ProxyUsername;
    QString ProxyPassword;

    // SOCKS proxy: used when SocksServer is non-empty and Proxy is empty.
    QString SocksServer;
    qint32 SocksPort = 0;
    qint32 SocksLevel = 0; // only 5 can carry HTTP requests here; 0: 5
    QString SocksUsercode;
    QString SocksPassword;
    TSocksAuthentication SocksAuthentication = socksNoAuthentication;

    // How an https:// request verifies the server; unused for http://.
    TTlsSettings Tls;

    // The POST body is read from here, from its current position to its end,
    // when the POST starts. Not owned.
    QIODevice* SendStream = nullptr;

    THttpDocDataEvent OnDocData;
    THttpRequestDoneEvent OnRequestDone;

    // Start a request; they raise EHttpException (ETlsSettingsError for
    // unusable TLS settings) when it cannot start and the client then stays
    // ready. Only one request at a time.
    void GetASync();
    void PostASync(const QByteArray& contentType);
    // Stops the current request; its request-done report is raised before
    // Abort returns. Nothing happens when the client is ready.
    void Abort();
    // While paused, body bytes stay with the request (at most
    // ReceiveBufferBytes, then the server is held back); resuming hands
    // them over on the next pass of the event loop. The end of a request
    // hands over whatever is left, paused or not.
    void SetReceivePaused(bool paused);
    bool ReceivePaused() const { return m_receivePaused; }
    static constexpr qint64 ReceiveBufferBytes = 1024 * 1024;

    THttpState State() const { return m_state; }
    int StatusCode() const { return m_statusCode; }
    const QString& ReasonPhrase() const { return m_reasonPhrase; }
    // Why the current or last request's server was refused; empty if it was not.
    const QString& TlsFailure() const { return m_tlsFailure; }
    // Why the last request failed on the way, in the words a TCP connection
    // uses ("DNS error", "Connection refused", ...); empty when it did not.
    const QString& TransportFailure() const { return m_transportFailure; }
    // "TLS 1.3" once the current or last request's server has been verified.
    const QString& EncryptionProtocol() const { return m_encryptionProtocol; }

private:
    void Start(THttpRequest request, const QByteArray& contentType);
    QUrl CheckedUrl() const;
    QNetworkProxy ChosenProxy() const;
    void HookReply(QNetworkReply* reply);
    void ApplyTls(class QNetworkRequest& request, const QUrl& url);
    void CheckEncrypted();
    void ReadHeader();
    void DeliverBody(bool evenWhenPaused = false);
    void Finish();
    int ErrorCodeOf(const QNetworkReply& reply) const;
    void RaiseRequestDone(THttpRequest request, int errCode);
    QNetworkReply* DetachReply();
    template <typename Work>
    void FromReply(const char* location, Work&& work);

    // Counts the reply's signals on the stack: the manager and the signal
    // context outlive this object until the last has returned.
    TDisposeWhenIdle m_lifetime;
    std::unique_ptr<QNetworkAccessManager> m_manager;
    std::unique_ptr<QObject> m_hooks; // context of the current reply's signals
    QNetworkReply* m_reply = nullptr;
    THttpRequest m_request = httpGET;
    THttpState m_state = httpReady;
    int m_statusCode = 0;
    QString m_reasonPhrase;
    std::unique_ptr<TTlsPolicy> m_tls; // https only
    QString m_tlsFailure;
    QString m_transportFailure;
    QString m_encryptionProtocol;
    bool m_receivePaused = false;
};
