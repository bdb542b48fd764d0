#include "Shared/HttpTunnels.h"
#include "base/Assertions.h"
#include "base/DebugLog.h"
#include "base/GuardedCall.h"
#include "Shared/P64.h"
#include "Shared/WakeMeSoon.h"
#include <QTimer>

namespace {
constexpr const char* AssertUnit = "HttpTunnels";
constexpr int ConnectTwiceLine = 221;
constexpr int SendBeforeOpenLine = 301;
constexpr int GiveUpFailures = 4;
constexpr int AcceptedStatus = 200;
// Two opening lines never need this much; anything longer is not a tunnel
// and must not be buffered without end.
constexpr qsizetype MaxOpeningBytes = 64 * 1024;
const QByteArray LineEnd("\r\n");
const QByteArray FormContentType("application/x-www-form-urlencoded");

bool IsHttps(const QString& url) { return url.startsWith(QLatin1String("https:"), Qt::CaseInsensitive); }
} // namespace

THttpTunnel::THttpTunnel(const TConnectionSettings& settings) : THttpTunnel(settings.HttpTunnelUrl, settings)
{
}

THttpTunnel::THttpTunnel(const QString& url, TConnectionSettings settings)
    : TGenericServerConnection(std::move(settings)),
      Url(url),
      m_wakeUp(std::make_unique<TWakeMeSoon>()),
      m_receiveClient(std::make_unique<THttpClient>()),
      m_sendClient(std::make_unique<THttpClient>()),
      m_timer(std::make_unique<QTimer>())
{
    m_wakeUp->OnWakeUp = [this] { CheckForSend(); };
    m_body.open(QIODevice::ReadOnly);
    m_receiveClient->OnDocData = [this](THttpClient*, const QByteArray& data) { ReceiveData(data); };
    m_receiveClient->OnRequestDone = [this](THttpClient*, THttpRequest, int) {
        if (m_state == Opening)
            ErrorText = OpeningFailure();
        Close();
    };
    m_sendClient->OnRequestDone = [this](THttpClient*, THttpRequest, int errCode) { SendDone(errCode); };
    m_sendClient->SendStream = &m_body;
    m_timer->setInterval(TimeoutCheckMs);
    QObject::connect(m_timer.get(), &QTimer::timeout, m_timer.get(),
                     [this] { GuardedCall("THttpTunnel.CheckSendTimeout", [this] { CheckSendTimeout(); }); });
    m_timer->start();
}

THttpTunnel::~THttpTunnel()
{
    GuardedCall("THttpTunnel.Destroy", [this] { Close(); });
    m_receiveClient.reset();
    m_sendClient.reset();
    m_body.close();
    m_wakeUp.reset();
    m_timer.reset();
}

void THttpTunnel::ApplyProxy(THttpClient& client) const
{
    const TConnectionSettings& settings = Settings();
    const bool httpProxy = !settings.Proxy.isEmpty();
    const bool socks = !httpProxy && settings.UsesSocks();
    client.Proxy = httpProxy ? settings.Proxy : QString();
    client.ProxyPort = httpProxy ? settings.ProxyPort : 0;
    client.ProxyUsername = httpProxy ? settings.ProxyUser : QString();
    client.ProxyPassword = httpProxy ? settings.ProxyPassword : QString();
    client.SocksServer = socks ? settings.SocksServer : QString();
    client.SocksPort = socks ? settings.SocksPort : 0;
    client.SocksLevel = socks ? settings.SocksLevel : 0;
    client.SocksUsercode = socks ? settings.SocksUser : QString();
    client.SocksPassword = socks ? settings.SocksPassword : QString();
    client.SocksAuthentication = socks && !settings.SocksUser.isEmpty() ? socksAuthenticateUsercode
                                                                        : socksNoAuthentication;
}

bool THttpTunnel::Connect()
{
    TAV_ASSERT(m_state == Idle, AssertUnit, ConnectTwiceLine);
    m_state = Opening;
    ApplyProxy(*m_sendClient);
    ApplyProxy(*m_receiveClient);
    const TTlsSettings& tls = Settings().Tls;
    m_sendClient->Tls = tls;
    m_receiveClient->Tls = tls;
    m_receiveClient->URL = Url;
    // Settings that say nothing clear about TLS are refused first, for what they are.
    if (!tls.Problem.isEmpty() || (tls.Enabled && !IsHttps(Url))) {
        // The user asked for TLS; an http:// tunnel would carry the login in clear.
        ErrorText = !tls.Problem.isEmpty()
                        ? tls.Problem
                        : QStringLiteral("TLS is turned on, but the http tunnel url does not start with https://.");
        RaiseDebugText(ErrorText);
        Close();
        return false;
    }
    try {
        m_receiveClient->GetASync();
    } catch (const ETlsSettingsError& e) {
        ErrorText = QString::fromUtf8(e.what());
        RaiseDebugText(ErrorText);
        Close();
        return false;
    } catch (const std::exception& e) {
        ErrorText = "THttpTunnel.Connect, " + ExceptionClassName(e) + ", " + QString::fromUtf8(e.what()) + ", " +
                    QString::number(m_receiveClient->StatusCode()) + ", " + m_receiveClient->ReasonPhrase();
        // The owner may not look at ErrorText (the main connection does
        // not), so the reason also goes where diagnostics go.
        RaiseDebugText(ErrorText);
        Close();
        return false;
    }
    return true;
}

void THttpTunnel::ReceiveData(const QByteArray& data)
{
    m_receiveBuffer += data;
    if (m_state == Opening) {
        const qsizetype first = m_receiveBuffer.indexOf(LineEnd);
        const qsizetype second = first < 0 ? -1 : m_receiveBuffer.indexOf(LineEnd, first + LineEnd.size());
        if (second < 0) {
            if (m_receiveBuffer.size() > MaxOpeningBytes) {
                RaiseDebugText("Invalid tunnel greeting:  no POST address in the first " +
                               QString::number(MaxOpeningBytes) + " bytes");
                Close();
            }
            return;
        }
        const qsizetype start = first + LineEnd.size();
        m_sendClient->URL = QString::fromUtf8(m_receiveBuffer.mid(start, second - start));
        if (IsHttps(Url) && !IsHttps(m_sendClient->URL)) {
            // The client's bytes would travel in clear while the server's came encrypted.
            ErrorText = QStringLiteral("The tunnel's server asked for unencrypted POSTs on an https tunnel.");
            RaiseDebugText(ErrorText);
            Close();
            return;
        }
        m_receiveBuffer.remove(0, second + LineEnd.size());
        m_state = Open;
        RaiseSessionConnected();
    }
    if (m_state != Open || m_receiveBuffer.isEmpty())
        return;
    // The conversation reads when it is ready; until then the server waits.
    if (m_receiveBuffer.size() >= THttpClient::ReceiveBufferBytes)
        m_receiveClient->SetReceivePaused(true);
    RaiseDataAvailable();
}

QString THttpTunnel::EncryptionProtocol() const
{
    return m_state == Open ? m_receiveClient->EncryptionProtocol() : QString();
}

QByteArray THttpTunnel::ReadAll()
{
    if (m_state != Open && m_state != Closed)
        return {};
    QByteArray result;
    result.swap(m_receiveBuffer);
    if (m_state == Open)
        m_receiveClient->SetReceivePaused(false);
    return result;
}

void THttpTunnel::Send(const QByteArray& data)
{
    if (m_state == Closed)
        return;
    TAV_ASSERT(m_state == Open, AssertUnit, SendBeforeOpenLine);
    m_sendBuffer += data;
    m_wakeUp->RequestWakeUp();
}

// A chunk, once cut, stays in m_chunk until the server has accepted it, and
// only then is the next one cut: whatever state the send client is found in,
// no byte is lost or overwritten, and a retry repeats the same number.
void THttpTunnel::CheckForSend()
{
    if (m_senderState == SendIdle && m_chunk.isEmpty() && !m_sendBuffer.isEmpty())
        CutChunk();
    if ((m_senderState == SendIdle || m_senderState == SendRetry) && !m_chunk.isEmpty())
        Post();
}

void THttpTunnel::CutChunk()
{
    m_chunk = m_sendBuffer.left(MaxChunk);
    m_sendBuffer.remove(0, m_chunk.size());
    m_body.close();
    m_body.setData("sequence=" + QByteArray::number(m_sequenceNumber) + "&body=" + P64Encode(m_chunk));
    m_body.open(QIODevice::ReadOnly);
}

void THttpTunnel::Post()
{
    switch (m_sendClient->State()) {
    case httpReady:
        m_postStarted.start();
        m_senderState = Sending;
        m_body.seek(0);
        try {
            m_sendClient->PostASync(FormContentType);
        } catch (const std::exception& e) {
            ReportException(e, "HttpTunnels, THttpTunnel.CheckForSend");
            RaiseDebugText("Unexpected Exception:  THttpTunnel.CheckForSend, " + ExceptionClassName(e) + ", " +
                           QString::fromUtf8(e.what()) + ", " + SendClientText());
            m_senderState = SendFailed;
            Close();
        }
        break;
    case httpDnsLookupDone:
    case httpWaitingHeader:
        break; // the chunk waits in m_chunk for a later wake-up
    default:
        RaiseDebugText("HTTP Not Ready on Write:  " + SendClientText() + ", State=" +
                       QString::number(m_sendClient->State()));
        m_senderState = SendFailed;
        Close();
        break;
    }
}

// Why the GET ended before the tunnel opened, when it knows better than the
// owner's own texts: a refused server, or a server never reached.
QString THttpTunnel::OpeningFailure() const
{
    const QString& refusal = m_receiveClient->TlsFailure();
    return refusal.isEmpty() ? m_receiveClient->TransportFailure() : refusal;
}

QString THttpTunnel::SendClientText() const
{
    return QString::number(m_sendClient->StatusCode()) + ", " + m_sendClient->ReasonPhrase();
}

void THttpTunnel::SendDone(int errCode)
{
    if (m_sendClient->State() != httpReady)
        return;
    m_senderState = SendIdle;
    // A refused server stays refused: retrying would only hide why.
    if (!m_sendClient->TlsFailure().isEmpty()) {
        ErrorText = m_sendClient->TlsFailure();
        RaiseDebugText(ErrorText);
        Close();
        return;
    }
    if (errCode == 0 && m_sendClient->StatusCode() == AcceptedStatus) {
        if (m_failureCount > 0)
            --m_failureCount;
        ++m_sequenceNumber;
        m_chunk.clear();
        m_wakeUp->RequestWakeUp();
        return;
    }
    ++m_failureCount;
    const QString details = SendClientText() + ", state: " + QString::number(m_sendClient->State());
    if (m_failureCount >= GiveUpFailures) {
        RaiseDebugText("ERROR sending data to server:  " + details);
        Close();
        return;
    }
    if (errCode != 0 || m_sendClient->StatusCode() != 0)
        RaiseDebugText("Error sending data to server:  " + details);
    m_senderState = SendRetry;
    m_wakeUp->RequestWakeUp();
}

bool THttpTunnel::WaitingToPost() const
{
    return m_state == Open && (m_senderState == SendIdle || m_senderState == SendRetry) && !m_chunk.isEmpty();
}

void THttpTunnel::CheckSendTimeout()
{
    if (m_senderState == Sending && m_postStarted.elapsed() > Settings().SendTimeout) {
        // Reports a failed SendDone: a retry like any other.
        GuardedCall(QStringLiteral("THttpTunnel.CheckSendTimeout"), [this] { m_sendClient->Abort(); });
        return;
    }
    // A chunk held back while the send client was busy must not wait for
    // the next Send to be woken.
    if (WaitingToPost())
        m_wakeUp->RequestWakeUp();
}

void THttpTunnel::Close()
{
    if (m_state == Closed)
        return;
    m_state = Closed;
    m_receiveClient->OnDocData = nullptr;
    m_receiveClient->OnRequestDone = nullptr;
    m_receiveClient->Abort();
    m_sendClient->OnRequestDone = nullptr;
    m_sendClient->Abort();
    m_senderState = SendFailed;
    RaiseSessionClosed();
}
