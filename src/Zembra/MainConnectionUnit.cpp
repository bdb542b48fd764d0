#include "Zembra/MainConnectionUnit.h"
#include "base/GuardedCall.h"
#include "Shared/WakeMeSoon.h"
#include "Shared/WireMessages.h"
#include "platform/core/HttpClient.h"
#include <QElapsedTimer>
#include <QLocale>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <deque>
#include <optional>
#include <vector>

namespace {

constexpr int TimerIntervalMs = 500;
constexpr qint64 PingIntervalMs = 4500;
constexpr int WatchdogTicks = 24; // a reset on the 25th tick with nothing heard from the server
// The login was answered but no ping yet: the client is past connecting.
constexpr char LoggedInStatus[] = "Logged in.";

// Ticks per second of the high-resolution counter behind QElapsedTimer; 0 when
// the platform offers none. QElapsedTimer reports nanoseconds on every clock.
qint64 PerformanceCounterFrequency()
{
    return QElapsedTimer::isMonotonic() ? 1'000'000'000 : 0;
}

// Lines end at CR LF, LF or CR; a final line break adds no empty line.
QList<QByteArray> SplitLines(const QByteArray& text)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    const qsizetype size = text.size();
    while (start < size) {
        qsizetype end = start;
        while (end < size && text[end] != '\r' && text[end] != '\n')
            ++end;
        lines.append(text.mid(start, end - start));
        if (end < size && text[end] == '\r' && end + 1 < size && text[end + 1] == '\n')
            ++end;
        start = end + 1;
    }
    return lines;
}

TMessageToServer PingMessage() { return BuildMessage({"command", "ping", "response", '1'}); }

} // namespace

// The alert receivers, and which of them each payload reaches. Shared with
// the subscriptions, which may outlive the connection.
struct TAlertReceivers {
    // Deques: a callback that registers another one during delivery must
    // not move the callbacks or routes being used. A receiver whose
    // subscription ended is empty; one being called is held by the delivery.
    std::deque<std::shared_ptr<const TAlertCallback>> Callbacks;
    // Which receivers (indices into Callbacks, in registration order) a
    // payload reaches: per category, and for any other first line. A new
    // receiver only ever goes to the end of a route, so a delivery that
    // walks a route by index is not disturbed by one registered meanwhile.
    struct TAlertRoute {
        QByteArray Category;
        std::vector<size_t> Receivers;
    };
    std::deque<TAlertRoute> CategoryRoutes;
    std::vector<size_t> OtherRoute;
    qsizetype LongestCategory = 0;
    void Add(std::optional<QByteArray> category, size_t index);
    const std::vector<size_t>& RouteOf(const QByteArray& payload) const;
};

struct TMainConnection::Impl {
    Impl(TMainConnection& owner, TConnectionSettingsSource settings, TMainConnectionDependencies dependencies);
    ~Impl();

    TMainConnection& Owner;
    const TConnectionSettingsSource Settings;
    const TMainConnectionDependencies Dependencies;
    // Every conversation's requests are numbered from one count.
    const std::shared_ptr<TRequestSerials> Serials = std::make_shared<TRequestSerials>();
    QByteArray UserName;
    QByteArray Password;
    QString ServerAddress;
    bool Stopped = false;
    bool Offline = false;
    QByteArray SessionId;
    std::unique_ptr<QTimer> Timer;
    int MissedTicks = 0;
    // The current conversation has had a ping answered: the session got through.
    bool PingAnswered = false;
    // The current conversation's pipe opened, and the server answered its login.
    bool Opened = false;
    bool LoginAnswered = false;
    // The status tells why the session was lost; it stays up while the
    // following attempts run, until one gets through or the user resets.
    bool ShowingFailure = false;
    // Why the settings of the conversation being made cannot work.
    QString SettingsProblem;
    // Set while the settings cannot work: what they were, so that a change
    // (or Login, or Reset) lets the client try again.
    std::optional<QByteArray> HeldSettings;
    QList<QByteArray> Categories; // sorted, each once
    std::unique_ptr<TTalkWithServer> Conversation;
    std::unique_ptr<TWakeMeSoon> WakeUp;
    qint64 CounterRate = 0;
    TRequestHandle LastPing;
    QDateTime NextPingTime;
    const std::shared_ptr<TAlertReceivers> Receivers = std::make_shared<TAlertReceivers>();
    TSubscription AddAlertReceiver(std::optional<QByteArray> category, TAlertCallback callback);
    QString Status;
    TObservers StatusObservers;
    TEncryption Encryption;
    TObservers EncryptionObservers;

    bool CredentialsPresent() const { return !UserName.isEmpty() && !Password.isEmpty(); }
    void SetCredential(QByteArray& stored, const QByteArray& text);
    void SetStatus(const QString& text);
    void SetFailureStatus(const QString& text);
    QString Target() const;
    QString TargetHost() const;
    void AttemptStarting();
    void ConversationConnected(const TTalkWithServer* from);
    void ConversationEnded(const TTalkWithServer* from);
    QString FailedAttemptStatus(const TTalkWithServer& talk) const;
    void SetEncryption(const TEncryption& encryption);
    bool HoldIfSettingsCannotWork();
    void ResetConnection();
    void Disconnect();
    void ConnectNow();
    void CreateConversation();
    void StartSession();
    void Tick();
    void TimerTick();
    void PingIfDue();
    void PingResponse(bool success);
    void FirstPingResponse(bool success);
    void LoginResponse(bool success, const QByteArray& response);
    void AddCategory(const QByteArray& category);

    // One function object per handler: every alert passes through it.
    template <typename Handler>
    TResponseCallback SessionHandler(Handler handler);
    static void LetGo(std::unique_ptr<TTalkWithServer> conversation);
};

TMainConnection::Impl::Impl(TMainConnection& owner, TConnectionSettingsSource settings,
                            TMainConnectionDependencies dependencies)
    : Owner(owner), Settings(std::move(settings)), Dependencies(std::move(dependencies))
{
    WakeUp = std::make_unique<TWakeMeSoon>();
    WakeUp->OnWakeUp = [this] { ConnectNow(); };
    Timer = std::make_unique<QTimer>();
    Timer->setInterval(TimerIntervalMs);
    QObject::connect(Timer.get(), &QTimer::timeout, Timer.get(), [this] { TimerTick(); });
    if (Dependencies.Timer)
        Timer->start();
    CounterRate = PerformanceCounterFrequency() / 500;
    const TConnectionSettings read = Settings.Read().Settings;
    ServerAddress = read.Address;
    // Before any conversation, the window can already tell whether the
    // password will only ever travel encrypted.
    Encryption.Required = read.EncryptionRequired();
}

TMainConnection::Impl::~Impl()
{
    // The conversation's farewell error responses reach our handlers, which
    // still need every member; so it goes first.
    Timer.reset();
    LetGo(std::move(Conversation));
}

// The session's own handlers (login, alerts, pings) listen only to the current
// conversation: one that has been let go may still answer with its farewell.
template <typename Handler>
TResponseCallback TMainConnection::Impl::SessionHandler(Handler handler)
{
    TTalkWithServer* const from = Conversation.get();
    return [this, from, handler = std::move(handler)](bool success, const QByteArray& response,
                                                      const TMessageToServer& message) {
        if (from != Conversation.get())
            return;
        // Whatever the server answers shows it alive: working through a
        // backlog, the client hears ping answers only behind the alerts
        // sent before them, and those keep arriving meanwhile.
        if (success)
            MissedTicks = 0;
        handler(success, response, message);
    };
}

// Destroys a conversation taken out of Conversation, deaf to its last events.
// It may be this very conversation's handler that runs now: the conversation
// itself keeps its internals until that handler has returned.
void TMainConnection::Impl::LetGo(std::unique_ptr<TTalkWithServer> conversation)
{
    if (!conversation)
        return;
    conversation->OnDisconnected = nullptr;
    conversation->OnResponse = nullptr;
    conversation.reset();
}

void TMainConnection::Impl::SetStatus(const QString& text)
{
    if (text == Status)
        return;
    Status = text;
    // A faulty status display must not disturb the session.
    StatusObservers.Notify(QStringLiteral("TMainConnection.OnStatusChange"));
}

void TMainConnection::Impl::SetFailureStatus(const QString& text)
{
    ShowingFailure = true;
    SetStatus(text);
}

// Where the conversations go: the tunnel's URL when there is one, else host and port.
QString TMainConnection::Impl::Target() const
{
    if (Conversation && Conversation->Settings().UsesHttpTunnel())
        return UrlForDisplay(Conversation->Settings().HttpTunnelUrl);
    return ServerAddress;
}

QString TMainConnection::Impl::TargetHost() const
{
    if (Conversation && Conversation->Settings().UsesHttpTunnel())
        return QUrl(Conversation->Settings().HttpTunnelUrl).host();
    const qsizetype colon = ServerAddress.lastIndexOf(':');
    return colon < 0 ? ServerAddress : ServerAddress.left(colon);
}

// Only sessions the user asked for are reported; a failure shown earlier
// stays up instead of flickering with every new attempt.
void TMainConnection::Impl::AttemptStarting()
{
    if (CredentialsPresent() && !Stopped && !ShowingFailure)
        SetStatus("Connecting to " + Target() + "...");
}

void TMainConnection::Impl::ConversationConnected(const TTalkWithServer* from)
{
    if (from != Conversation.get() || !Conversation->Connection())
        return;
    Opened = true;
    SetEncryption({Encryption.Required, Conversation->Connection()->EncryptionProtocol()});
}

void TMainConnection::Impl::ConversationEnded(const TTalkWithServer* from)
{
    if (from != Conversation.get())
        return;
    SetEncryption({Encryption.Required, QString()});
    // After a STOP the server's reason stays; without credentials nothing was asked for.
    if (CredentialsPresent() && !Stopped)
        SetFailureStatus(FailedAttemptStatus(*from));
}

// The one road from a lost or failed conversation to the status line. Every
// transport states its reason as the connection's ErrorText (a refused
// connect, a failed lookup, a rejected certificate, a proxy's refusal); the
// conversation adopts it as its own ErrorText, and reports its own reason
// otherwise. The next attempt starts at the next tick.
QString TMainConnection::Impl::FailedAttemptStatus(const TTalkWithServer& talk) const
{
    QString reason = talk.ErrorText().trimmed();
    while (reason.endsWith('.'))
        reason.chop(1);
    // A reason the pipe itself gave (a rejected certificate, a server that
    // closed without a word) already says what happened.
    const bool pipeSaidWhy = talk.Connection() && !talk.Connection()->ErrorText.isEmpty();
    if (reason == "DNS error")
        reason = "Cannot find the server " + TargetHost() + " (DNS error)";
    else if (reason.isEmpty())
        reason = "Cannot reach " + Target();
    else if (Opened && !LoginAnswered && !PingAnswered && !pipeSaidWhy)
        reason = (talk.ReceivedInvalidData() ? "Invalid answer to the login (" : "No answer to the login (") + reason +
                 ")";
    return reason + "; trying again";
}

void TMainConnection::Impl::SetEncryption(const TEncryption& encryption)
{
    if (encryption.Required == Encryption.Required && encryption.Protocol == Encryption.Protocol)
        return;
    Encryption = encryption;
    EncryptionObservers.Notify(QStringLiteral("TMainConnection.OnEncryptionChange"));
}

// Such settings are said once, on the status line, and no conversation is
// made until they change or the trader asks again.
bool TMainConnection::Impl::HoldIfSettingsCannotWork()
{
    if (SettingsProblem.isEmpty())
        return false;
    const QString why = SettingsProblem + " Not connecting until then.";
    HeldSettings = Settings.Snapshot();
    LetGo(std::move(Conversation));
    SetEncryption({Encryption.Required, QString()});
    SetFailureStatus(why);
    return true;
}

void TMainConnection::Impl::SetCredential(QByteArray& stored, const QByteArray& text)
{
    if (text == stored && !Stopped && !HeldSettings)
        return;
    stored = text;
    ResetConnection();
}

void TMainConnection::Impl::ResetConnection()
{
    if (Offline)
        return;
    MissedTicks = 0;
    Disconnect();
    WakeUp->RequestWakeUp();
    Stopped = false;
    SessionId.clear();
    ShowingFailure = false;
    HeldSettings.reset();
    SetStatus(QString());
}

void TMainConnection::Impl::Disconnect()
{
    if (!Conversation)
        return;
    // Taken out first: the status handler may call back into us.
    std::unique_ptr<TTalkWithServer> conversation = std::move(Conversation);
    SetEncryption({Encryption.Required, QString()});
    SetFailureStatus("Disconnected.");
    LetGo(std::move(conversation));
}

void TMainConnection::Impl::ConnectNow()
{
    if (Offline || HeldSettings)
        return;
    if (!Conversation) {
        CreateConversation();
        if (HoldIfSettingsCannotWork())
            return;
    }
    // A conversation already dialling is still NotConnected; a second Connect
    // would be a programming error, so only the first one is made.
    if (Conversation->State() == TTalkWithServer::NotConnected && !Conversation->Connection()) {
        AttemptStarting();
        Conversation->Connect();
    }
}

void TMainConnection::Impl::CreateConversation()
{
    NextPingTime = Dependencies.Clock().addMSecs(PingIntervalMs);
    // The replacement of a session that got through gets the watchdog's full
    // 12.5 s, whatever its predecessor used up. Attempts that never get through
    // keep counting, so an outage still reaches the watchdog and is shown.
    if (PingAnswered)
        MissedTicks = 0;
    PingAnswered = false;
    Opened = false;
    LoginAnswered = false;
    // Read for each conversation, so that a changed address takes effect
    // with the next one (Reset Connection) and not only at the next start.
    TConnectionSettingsRead read = Settings.Read();
    SettingsProblem = read.Problem;
    ServerAddress = read.Settings.Address;
    const bool encryptionRequired = read.Settings.EncryptionRequired();
    Conversation = std::make_unique<TTalkWithServer>(std::move(read.Settings), Serials);
    const TTalkWithServer* const made = Conversation.get();
    Conversation->OnConnected = [this, made] { ConversationConnected(made); };
    Conversation->OnDisconnected = [this, made] { ConversationEnded(made); };
    Conversation->OnDebugText = [](const QString&) {};
    SetEncryption({encryptionRequired, QString()});
    if (Dependencies.ConnectionFactory)
        Conversation->ConnectionFactory = Dependencies.ConnectionFactory;
    StartSession();
}

void TMainConnection::Impl::StartSession()
{
    if (!CredentialsPresent() || Stopped)
        return;
    TTalkWithServer& talk = *Conversation;
    talk.SendMessage(BuildMessage({"command", "login", "username", UserName, "password", Password,
                                   "session_id", SessionId}),
                     true, SessionHandler([this](bool success, const QByteArray& response, const TMessageToServer&) {
                         LoginResponse(success, response);
                     }));
    talk.SendMessage(BuildMessage({"command", "listen_for_alerts"}), true,
                     SessionHandler([this](bool success, const QByteArray& response, const TMessageToServer& message) {
                         Owner.DeliverAlerts(success, response, message);
                     }));
    for (const QByteArray& category : Categories)
        talk.SendMessage(BuildMessage({"command", "add_alert_category", "category", category}), false, {});
    talk.SendMessage(PingMessage(), false,
                     SessionHandler([this](bool success, const QByteArray&, const TMessageToServer&) {
                         FirstPingResponse(success);
                     }));
}

void TMainConnection::Impl::TimerTick()
{
    GuardedCall(QStringLiteral("MainConnectionUnit, TMainConnection.Tick"), [this] { Tick(); });
}

void TMainConnection::Impl::Tick()
{
    if (Offline)
        return;
    if (Conversation && Conversation->State() == TTalkWithServer::Closed) {
        LetGo(std::move(Conversation));
        if (CredentialsPresent() && !Stopped)
            WakeUp->RequestWakeUp();
    }
    if (HeldSettings) {
        if (*HeldSettings == Settings.Snapshot())
            return;
        HeldSettings.reset();
        ShowingFailure = false;
        WakeUp->RequestWakeUp();
    }
    if (Stopped || !CredentialsPresent())
        return;
    PingIfDue();
    if (++MissedTicks > WatchdogTicks) {
        MissedTicks = 0;
        Disconnect();
        WakeUp->RequestWakeUp();
    }
}

void TMainConnection::Impl::PingIfDue()
{
    if (!Conversation || CounterRate <= 0)
        return;
    const QDateTime now = Dependencies.Clock();
    if (NextPingTime > now.addMSecs(PingIntervalMs)) {
        // The clock was set back: without this, pings would pause until it
        // caught up and the watchdog would tear down a healthy session.
        NextPingTime = now.addMSecs(PingIntervalMs);
    }
    if (!(now > NextPingTime))
        return;
    Conversation->CancelResponse(LastPing);
    LastPing = Owner.SendRequest(PingMessage(), SessionHandler([this](bool success, const QByteArray&,
                                                                      const TMessageToServer&) {
                                     PingResponse(success);
                                 }));
    NextPingTime = now.addMSecs(PingIntervalMs);
}

// After a STOP the server's reason stays on the status line, whatever
// answers still arrive on that conversation.
void TMainConnection::Impl::PingResponse(bool success)
{
    if (!success || Stopped)
        return;
    MissedTicks = 0;
    PingAnswered = true;
    ShowingFailure = false;
    SetStatus("Working:  " + QLocale::system().toString(Dependencies.Clock().time(), QLocale::LongFormat));
}

void TMainConnection::Impl::FirstPingResponse(bool success)
{
    if (!success || Stopped)
        return;
    PingAnswered = true;
    ShowingFailure = false;
    SetStatus("Connected!");
}

void TMainConnection::Impl::LoginResponse(bool success, const QByteArray& response)
{
    if (!success)
        return;
    LoginAnswered = true;
    // A malformed login answer changes nothing.
    GuardedCall(QStringLiteral("TMainConnection.LoginResponse"), [&] {
        const QList<QByteArray> lines = SplitLines(response);
        if (lines.isEmpty())
            return;
        if (lines[0] == "STOP") {
            Stopped = true;
            if (lines.size() > 1)
                SetStatus(QString::fromLocal8Bit(lines[1]));
        } else if (lines[0] == "SESSION ID") {
            if (lines.size() > 1)
                SessionId = lines[1];
            // Alerts may flow while the first ping is still unanswered; the
            // status must not keep claiming that the client is connecting,
            // nor that the attempt before this one failed.
            if (!PingAnswered) {
                ShowingFailure = false;
                SetStatus(LoggedInStatus);
            }
        }
    });
}

void TMainConnection::Impl::AddCategory(const QByteArray& category)
{
    if (category.isEmpty())
        return;
    const auto at = std::lower_bound(Categories.begin(), Categories.end(), category);
    if (at != Categories.end() && *at == category)
        return;
    Categories.insert(at, category);
}

// ---------------------------------------------------------------------------

TMainConnection::TMainConnection(TConnectionSettingsSource settings, TMainConnectionDependencies dependencies)
    : d(std::make_unique<Impl>(*this, std::move(settings), std::move(dependencies)))
{
}

TMainConnection::~TMainConnection() = default;

void TMainConnection::AddCategory(const QByteArray& category) { d->AddCategory(category); }

TSubscription TMainConnection::Impl::AddAlertReceiver(std::optional<QByteArray> category, TAlertCallback callback)
{
    const size_t index = Receivers->Callbacks.size();
    Receivers->Callbacks.push_back(std::make_shared<const TAlertCallback>(std::move(callback)));
    Receivers->Add(std::move(category), index);
    return TSubscription([receivers = std::weak_ptr<TAlertReceivers>(Receivers), index] {
        if (const std::shared_ptr<TAlertReceivers> alive = receivers.lock())
            alive->Callbacks[index].reset();
    });
}

void TAlertReceivers::Add(std::optional<QByteArray> category, size_t index)
{
    if (!category) {
        for (TAlertRoute& route : CategoryRoutes)
            route.Receivers.push_back(index);
        OtherRoute.push_back(index);
        return;
    }
    // A first line never holds a line break: such a category receives nothing.
    if (category->contains("\r\n"))
        return;
    for (TAlertRoute& route : CategoryRoutes) {
        if (route.Category == *category) {
            route.Receivers.push_back(index);
            return;
        }
    }
    // A new category starts with every receiver of all payloads.
    LongestCategory = std::max(LongestCategory, category->size());
    CategoryRoutes.push_back({*category, OtherRoute});
    CategoryRoutes.back().Receivers.push_back(index);
}

const std::vector<size_t>& TAlertReceivers::RouteOf(const QByteArray& payload) const
{
    // The first line, looked for no further than the longest category
    // reaches: a longer one belongs to no category.
    const qsizetype window = std::min(payload.size(), LongestCategory + 2);
    qsizetype lineLength = window == payload.size() ? payload.size() : -1;
    for (qsizetype at = 0; at + 1 < window; ++at) {
        if (payload[at] == '\r' && payload[at + 1] == '\n') {
            lineLength = at;
            break;
        }
    }
    if (lineLength < 0)
        return OtherRoute;
    const QByteArrayView line(payload.constData(), lineLength);
    for (const TAlertRoute& route : CategoryRoutes)
        if (route.Category.size() == lineLength && line == route.Category)
            return route.Receivers;
    return OtherRoute;
}

TSubscription TMainConnection::RegisterAlertCallback(TAlertCallback callback)
{
    return d->AddAlertReceiver(std::nullopt, std::move(callback));
}

TSubscription TMainConnection::RegisterAlertCallback(const QByteArray& category, TAlertCallback callback)
{
    return d->AddAlertReceiver(category, std::move(callback));
}

void TMainConnection::SetUserName(const QByteArray& userName) { d->SetCredential(d->UserName, userName); }

void TMainConnection::SetPassword(const QByteArray& password) { d->SetCredential(d->Password, password); }

void TMainConnection::ResetConnection() { d->ResetConnection(); }

void TMainConnection::ReloadServerAddress() { d->ServerAddress = d->Settings.Read().Settings.Address; }

TConnectionSettingsRead TMainConnection::ReadSettings() const { return d->Settings.Read(); }

const QString& TMainConnection::Status() const { return d->Status; }

TSubscription TMainConnection::WatchStatus(std::function<void()> observer)
{
    return d->StatusObservers.Watch(std::move(observer));
}

const TEncryption& TMainConnection::Encryption() const { return d->Encryption; }

TSubscription TMainConnection::WatchEncryption(std::function<void()> observer)
{
    return d->EncryptionObservers.Watch(std::move(observer));
}

void TMainConnection::DeliverAlerts(bool success, const QByteArray& response, const TMessageToServer&)
{
    if (!success)
        return;
    // Callbacks registered during this delivery wait for the next alert.
    const TAlertReceivers& receivers = *d->Receivers;
    const std::vector<size_t>& route = receivers.RouteOf(response);
    const std::size_t count = route.size();
    for (std::size_t i = 0; i < count; ++i) {
        // Held while it runs: it may end its own subscription.
        const std::shared_ptr<const TAlertCallback> callback = receivers.Callbacks[route[i]];
        if (!callback || !*callback)
            continue;
        // One faulty receiver must not keep the alert from the others.
        GuardedCall([] { return QStringLiteral("TMainConnection.DeliverAlerts"); }, [&] { (*callback)(response); });
    }
}

TRequestHandle TMainConnection::SendRequest(const TMessageToServer& message, TResponseCallback callback)
{
    if (d->Offline) {
        // No server to ask: refused at once, as a lost connection would be.
        if (callback)
            callback(false, QByteArray(), message);
        return {};
    }
    if (!d->Conversation) {
        d->CreateConversation();
        d->WakeUp->RequestWakeUp();
    }
    return d->Conversation->SendMessage(message, false, std::move(callback));
}

void TMainConnection::GoOffline()
{
    d->Offline = true;
    d->Timer->stop();
    d->Disconnect();
}

bool TMainConnection::Offline() const { return d->Offline; }

void TMainConnection::SetOfflineStatus(const QString& text)
{
    if (d->Offline)
        d->SetStatus(text);
}

const QString& TMainConnection::ServerAddress() const { return d->ServerAddress; }

bool TMainConnection::Stopped() const { return d->Stopped; }

const QByteArray& TMainConnection::SessionId() const { return d->SessionId; }

TTalkWithServer* TMainConnection::Conversation() const { return d->Conversation.get(); }

void TMainConnection::SetCounterRate(qint64 rate) { d->CounterRate = rate; }

qint64 TMainConnection::CounterRate() const { return d->CounterRate; }

void TMainConnection::Tick() { d->Tick(); }

int TMainConnection::MissedTicks() const { return d->MissedTicks; }
