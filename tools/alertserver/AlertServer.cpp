#include "AlertServer.h"
#include "Logger.h"
#include "TunnelEndpoint.h"
#include "Shared/AlertReplay.h"
#include <QTcpSocket>

namespace AlertServer {

namespace {
// Each category gets its own generator, derived from the seed and its name,
// so the alerts of one category do not depend on which others are running.
quint32 CategorySeed(quint32 seed, const QString& name)
{
    quint32 hash = 2166136261u;
    for (const char c : name.toUtf8()) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 16777619u;
    }
    return hash ^ seed;
}

std::optional<bool> ParseOnOff(const QString& word)
{
    if (word == QLatin1String("on"))
        return true;
    if (word == QLatin1String("off"))
        return false;
    return std::nullopt;
}

const char* const ControlHelp =
    "commands: drop [now|burst|frame], drop-preamble on|off, stall-pings on|off, corrupt, "
    "stop REASON, refuse REASON|off, slow-ms N, oversize, negative-length, fail-posts N, "
    "slow-posts-ms N, rate N, spikes on|off, alert CATEGORY FIELDLINE, status, quit";
} // namespace

AlertServerCore::AlertServerCore(const ServerOptions& options, QObject* parent)
    : QObject(parent), Options(options), SharedState(options),
      DropRandom(options.Seed ? *options.Seed : QRandomGenerator::global()->generate())
{
    const quint32 seed = options.Seed ? *options.Seed : QRandomGenerator::global()->generate();
    // A recording takes the synthetic market's place.
    const QList<CategoryConfig> categories = options.ReplayFile.isEmpty() ? options.Categories : QList<CategoryConfig>();
    for (const CategoryConfig& category : categories) {
        auto feed = std::make_unique<CategoryFeed>(category, CategorySeed(seed, category.Name));
        CategoryFeed* raw = feed.get();
        raw->Timer.setInterval(std::max(1, static_cast<int>(1000.0 / category.Rate)));
        connect(&raw->Timer, &QTimer::timeout, this, [this, raw] { PublishAlert(*raw); });
        Feeds.push_back(std::move(feed));
    }
    connect(&Listener, &QTcpServer::newConnection, this, &AlertServerCore::AcceptConnections);
    RandomDropTimer.setSingleShot(true);
    connect(&RandomDropTimer, &QTimer::timeout, this, [this] {
        DropAll(Options.DropHow, QStringLiteral("drop-every-ms"));
        ScheduleRandomDrop();
    });
}

AlertServerCore::~AlertServerCore() = default;

bool AlertServerCore::Listen(QString& error)
{
    if (!Options.TlsCertificateFile.isEmpty()) {
        ServerTls = LoadServerTls(Options.TlsCertificateFile, Options.TlsKeyFile, error);
        if (!ServerTls)
            return false;
        Listener.ServeTls(*ServerTls);
    }
    if (!Options.ReplayFile.isEmpty() && !OpenReplay(error))
        return false;
    if (!Listener.listen(Options.Host, Options.Port)) {
        error = QStringLiteral("cannot listen on %1:%2: %3")
                    .arg(Options.Host.toString())
                    .arg(Options.Port)
                    .arg(Listener.errorString());
        return false;
    }
    if (Options.HttpPort) {
        Tunnel = std::make_unique<TunnelEndpoint>(*this);
        if (!Tunnel->Listen(Options.Host, *Options.HttpPort, error))
            return false;
    }
    for (auto& feed : Feeds)
        feed->Timer.start();
    ScheduleRandomDrop();
    Log(QStringLiteral("listening on %1:%2%3")
            .arg(Options.Host.toString())
            .arg(Port())
            .arg(ServerTls ? QStringLiteral(" (TLS)") : QString()));
    return true;
}

std::optional<quint16> AlertServerCore::HttpPort() const
{
    if (!Tunnel)
        return std::nullopt;
    return Tunnel->Port();
}

AlertSession* AlertServerCore::CreateSession(QObject* parent)
{
    auto* session = new AlertSession(SharedState, ++SessionCounter, parent);
    Sessions.append(session);
    Sessions.removeIf([](const QPointer<AlertSession>& s) { return s.isNull(); });
    connect(session, &AlertSession::Subscribed, this, [this, session](const QString& category) {
        if (Replay) {
            StartReplaySoon();
            return;
        }
        if (std::none_of(Feeds.begin(), Feeds.end(), [&](const auto& feed) { return feed->Config.Name == category; }))
            Log(QStringLiteral("session %1: no category \"%2\" here; it will get no alerts")
                    .arg(session->Number())
                    .arg(category));
    });
    if (Options.DropAfterMs > 0)
        QTimer::singleShot(Options.DropAfterMs, session,
                           [this, session] { session->Drop(Options.DropHow, QStringLiteral("drop-after-ms")); });
    if (Options.CorruptAfterMs > 0)
        QTimer::singleShot(Options.CorruptAfterMs, session, [session] { session->SendCorruptBytes(); });
    return session;
}

void AlertServerCore::AcceptConnections()
{
    while (QTcpSocket* socket = Listener.nextPendingConnection())
        AttachSocket(socket);
}

void AlertServerCore::AttachSocket(QTcpSocket* socket)
{
    const QString peer = QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    if (SharedState.Faults.DropBeforePreamble) {
        Log(QStringLiteral("connection from %1 dropped before its preamble").arg(peer));
        socket->disconnectFromHost();
        return;
    }
    AlertSession* session = CreateSession(socket);
    Log(QStringLiteral("session %1: connection from %2").arg(session->Number()).arg(peer));
    connect(socket, &QTcpSocket::readyRead, session, [socket, session] { session->Receive(socket->readAll()); });
    connect(session, &AlertSession::BytesReady, socket, [socket](const QByteArray& bytes) { socket->write(bytes); });
    connect(session, &AlertSession::CloseRequested, socket, &QTcpSocket::disconnectFromHost, Qt::QueuedConnection);
    connect(socket, &QTcpSocket::bytesWritten, session, [session](qint64 count) { session->NoteBytesWritten(count); });
    connect(socket, &QTcpSocket::disconnected, session, [session] {
        Log(QStringLiteral("session %1: disconnected").arg(session->Number()));
        Log(QStringLiteral("session %1: %2").arg(session->Number()).arg(session->AlertCountsLine()));
    });
}

QList<AlertSession*> AlertServerCore::LiveSessions() const
{
    QList<AlertSession*> live;
    for (const auto& session : Sessions)
        if (session && !session->IsClosed())
            live.append(session);
    return live;
}

void AlertServerCore::PublishAlert(CategoryFeed& feed)
{
    QList<AlertSession*> receivers;
    for (AlertSession* session : LiveSessions())
        if (session->Wants(feed.Config.Name))
            receivers.append(session);
    // The market of a category only moves while someone listens, so a seeded
    // run gives a client the same alerts however long it took to connect.
    if (receivers.isEmpty())
        return;
    feed.Composer.SetSpikeStream(SharedState.Faults.SpikeStream);
    const QByteArray fieldLine = EncodeFields(feed.Composer.NextAlert());
    ++feed.Generated;
    for (AlertSession* session : receivers) {
        session->SendAlert(feed.Config.Name, fieldLine);
        ++feed.Sent;
    }
}

bool AlertServerCore::OpenReplay(QString& error)
{
    auto reader = std::make_unique<TAlertRecordingReader>();
    if (!reader->Open(Options.ReplayFile)) {
        error = QStringLiteral("cannot replay: %1").arg(reader->Error());
        return false;
    }
    Replay = std::make_unique<TAlertReplay>(std::move(reader), Options.ReplaySpeed);
    Replay->SetLooping(!Options.ReplayOnce);
    Replay->OnAlert = [this](const TRecordedAlert& alert) { PublishRecorded(alert); };
    connect(Replay.get(), &TAlertReplay::ReachedEnd, this, [this] {
        Log(QStringLiteral("replay: end of the recording; %1 recorded alerts no client was subscribed to; %2")
                .arg(ReplayUnheard)
                .arg(Replay->Summary()));
        if (Options.ReplayOnce)
            EndOnceWritten();
    });
    return true;
}

// A script that waits for a --replay-once server waits for its end: the
// sessions close once their last alert has gone out, then the server quits,
// or after a few seconds anyway should a client have stopped reading.
void AlertServerCore::EndOnceWritten()
{
    Log(QStringLiteral("replay: ending once every client has its alerts"));
    constexpr int LongestWaitMs = 5000;
    QTimer::singleShot(LongestWaitMs, this, &AlertServerCore::QuitRequested);
    const QList<AlertSession*> sessions = LiveSessions();
    if (sessions.isEmpty()) {
        emit QuitRequested();
        return;
    }
    auto open = std::make_shared<qsizetype>(sessions.size());
    for (AlertSession* session : sessions) {
        // The pipe closes once it has written what it holds, and takes the session with it.
        connect(session, &QObject::destroyed, this, [this, open] {
            if (--*open == 0)
                emit QuitRequested();
        });
        session->End(QStringLiteral("end of the recording (--replay-once)"));
    }
}

void AlertServerCore::StartReplaySoon()
{
    // Later in this turn of the event loop: the rest of the client's burst
    // (its other subscriptions) is handled first.
    QTimer::singleShot(0, this, [this] {
        if (Replay->Started())
            return;
        Log(QStringLiteral("replay: serving %1 at speed %2%3")
                .arg(Options.ReplayFile)
                .arg(Options.ReplaySpeed)
                .arg(Options.ReplayOnce ? QStringLiteral(", once") : QString()));
        Replay->Start();
    });
}

void AlertServerCore::PublishRecorded(const TRecordedAlert& alert)
{
    const QString category = QString::fromUtf8(alert.Category);
    qint64 receivers = 0;
    for (AlertSession* session : LiveSessions()) {
        if (!session->Wants(category))
            continue;
        session->SendAlert(category, alert.FieldLine);
        ++receivers;
    }
    if (receivers == 0)
        ++ReplayUnheard;
    ReplaySent[category] += receivers;
}

void AlertServerCore::DropAll(DropStyle how, const QString& why)
{
    for (AlertSession* session : LiveSessions())
        session->Drop(how, why);
}

void AlertServerCore::ScheduleRandomDrop()
{
    if (Options.DropEveryMs <= 0)
        return;
    const int jitter = Options.DropJitterMs > 0 ? DropRandom.bounded(-Options.DropJitterMs, Options.DropJitterMs + 1) : 0;
    RandomDropTimer.start(std::max(1, Options.DropEveryMs + jitter));
}

void AlertServerCore::SetRate(double rate)
{
    for (auto& feed : Feeds) {
        feed->Config.Rate = rate;
        feed->Timer.setInterval(std::max(1, static_cast<int>(1000.0 / rate)));
    }
}

QString AlertServerCore::ExecuteCommand(const QString& line)
{
    const QString trimmed = line.trimmed();
    const QString command = trimmed.section(QLatin1Char(' '), 0, 0);
    const QString argument = trimmed.section(QLatin1Char(' '), 1).trimmed();
    const QString ok = QStringLiteral("ok: ") + trimmed;
    // An "alert" line may be megabytes long: the log gets its head.
    Log(QStringLiteral("control: %1").arg(trimmed.size() > 200 ? trimmed.left(200) + QStringLiteral("...") : trimmed));
    auto switchCommand = [&](bool& target) {
        const auto value = ParseOnOff(argument);
        if (!value)
            return QStringLiteral("error: %1 needs on or off").arg(command);
        target = *value;
        return ok;
    };
    auto countCommand = [&](int& target) {
        bool valid = false;
        const int value = argument.toInt(&valid);
        if (!valid || value < 0)
            return QStringLiteral("error: %1 needs a number of 0 or more").arg(command);
        target = value;
        return ok;
    };
    FaultSwitches& faults = SharedState.Faults;
    if (command == QLatin1String("drop")) {
        const auto how = ParseDropStyle(argument.isEmpty() ? QStringLiteral("now") : argument);
        if (!how)
            return QStringLiteral("error: drop takes now, burst or frame");
        DropAll(*how, QStringLiteral("control drop"));
        return ok;
    }
    if (command == QLatin1String("drop-preamble"))
        return switchCommand(faults.DropBeforePreamble);
    if (command == QLatin1String("stall-pings"))
        return switchCommand(faults.StallPings);
    if (command == QLatin1String("slow-ms"))
        return countCommand(faults.SlowMs);
    if (command == QLatin1String("fail-posts"))
        return countCommand(faults.FailPosts);
    if (command == QLatin1String("slow-posts-ms"))
        return countCommand(faults.SlowPostsMs);
    if (command == QLatin1String("corrupt")) {
        for (AlertSession* session : LiveSessions())
            session->SendCorruptBytes();
        return ok;
    }
    if (command == QLatin1String("oversize") || command == QLatin1String("negative-length")) {
        const qint32 length = command == QLatin1String("oversize") ? std::numeric_limits<qint32>::max() : -1;
        for (AlertSession* session : LiveSessions())
            session->SendFrameHeaderOnly(length);
        return ok;
    }
    if (command == QLatin1String("stop")) {
        if (argument.isEmpty())
            return QStringLiteral("error: stop needs a reason");
        for (AlertSession* session : LiveSessions())
            session->SendStop(argument);
        return ok;
    }
    if (command == QLatin1String("refuse")) {
        if (argument.isEmpty())
            return QStringLiteral("error: refuse needs a reason or off");
        faults.RefuseReason = argument == QLatin1String("off") ? QString() : argument;
        return ok;
    }
    if (command == QLatin1String("rate")) {
        bool valid = false;
        const double rate = argument.toDouble(&valid);
        if (!valid || rate <= 0 || rate > 1000)
            return QStringLiteral("error: rate must be above 0 and at most 1000");
        SetRate(rate);
        return ok;
    }
    if (command == QLatin1String("spikes"))
        return switchCommand(faults.SpikeStream);
    if (command == QLatin1String("alert")) {
        const QString category = argument.section(QLatin1Char(' '), 0, 0);
        if (category.isEmpty())
            return QStringLiteral("error: alert needs a category and a field line");
        const QByteArray fieldLine = argument.section(QLatin1Char(' '), 1).toUtf8();
        int receivers = 0;
        for (AlertSession* session : LiveSessions())
            if (session->Wants(category)) {
                session->SendAlert(category, fieldLine);
                ++receivers;
            }
        return QStringLiteral("ok: alert %1 sent to %2 sessions").arg(category).arg(receivers);
    }
    if (command == QLatin1String("status"))
        return QStringLiteral("ok: %1 sessions; ").arg(LiveSessions().size()) + Summary();
    if (command == QLatin1String("quit")) {
        emit QuitRequested();
        return ok;
    }
    if (command == QLatin1String("help"))
        return QStringLiteral("ok: ") + QLatin1String(ControlHelp);
    return QStringLiteral("error: unknown command \"%1\"; %2").arg(trimmed, QLatin1String(ControlHelp));
}

QString AlertServerCore::Summary() const
{
    QStringList parts;
    for (const auto& feed : Feeds)
        parts << QStringLiteral("%1=%2").arg(feed->Config.Name).arg(feed->Sent);
    for (auto it = ReplaySent.cbegin(); it != ReplaySent.cend(); ++it)
        parts << QStringLiteral("%1=%2").arg(it.key()).arg(it.value());
    return QStringLiteral("alerts sent: ") + parts.join(QLatin1Char(' '));
}

} // namespace AlertServer
