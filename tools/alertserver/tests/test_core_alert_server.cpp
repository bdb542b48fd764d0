// Talks to the reference alert server as a client would: a plain preamble,
// a zlib stream of length-prefixed messages, and frames back in a zlib stream.
#include "TestEnvironment.h"
#include "WireTestKit.h"
#include "Shared/AlertRecorder.h"
#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpSocket>
#include <QUrlQuery>
#include <QtEndian>
#include <csignal>
#include <gtest/gtest.h>
#include <map>
#include <optional>

using TestEnvironment::WaitFor;
using namespace std::chrono_literals;

namespace {

using Fields = std::map<QByteArray, QByteArray>;

QByteArray WireString(const QByteArray& text)
{
    return WireTestKit::Int32(static_cast<qint32>(text.size())) + text;
}

// One client message: "message_id" first when Id is set, then the pairs, then a zero.
QByteArray ClientMessage(qint32 id, const QList<QByteArray>& keysAndValues)
{
    QByteArray bytes;
    if (id > 0)
        bytes += WireString("message_id") + WireString(QByteArray::number(id));
    for (const QByteArray& item : keysAndValues)
        bytes += WireString(item);
    return bytes + WireTestKit::Int32(0);
}

QByteArray Login(const QByteArray& user, const QByteArray& password, const QByteArray& sessionId = {})
{
    return ClientMessage(1, {"command", "login", "username", user, "password", password, "session_id", sessionId});
}
QByteArray Listen() { return ClientMessage(8, {"command", "listen_for_alerts"}); }
QByteArray Subscribe(const QByteArray& category)
{
    return ClientMessage(0, {"command", "add_alert_category", "category", category});
}
QByteArray Ping(qint32 id) { return ClientMessage(id, {"command", "ping", "response", "1"}); }

const QByteArray ClientPreamble("command=set_output&mode=zlib\r\ncommand=set_input&mode=zlib\r\n");

struct Frame {
    qint32 Id = 0;
    QByteArray Payload;
};

// Inflates the server's stream and cuts frames; remembers a broken stream.
class FrameReader {
public:
    void Feed(const QByteArray& bytes)
    {
        Plain += Stream.Feed(bytes);
        Broken = !Stream.Error().isEmpty();
    }
    std::optional<Frame> Take()
    {
        if (Plain.size() < 8)
            return std::nullopt;
        const qint32 length = HeaderLength();
        if (length < 0 || Plain.size() - 8 < length)
            return std::nullopt;
        Frame frame{qFromLittleEndian<qint32>(Plain.constData()), Plain.mid(8, length)};
        Plain.remove(0, 8 + length);
        return frame;
    }
    qint32 HeaderLength() const { return Plain.size() >= 8 ? qFromLittleEndian<qint32>(Plain.constData() + 4) : 0; }
    qsizetype Buffered() const { return Plain.size(); }
    bool Broken = false;

private:
    WireTestKit::Inflater Stream;
    QByteArray Plain;
};

class ServerProcess {
public:
    explicit ServerProcess(const QStringList& arguments)
    {
        Process.setProgram(QStringLiteral(TAVISK_SERVER_BIN));
        Process.setArguments(QStringList{"--port", "0"} + arguments);
        Process.setProcessChannelMode(QProcess::SeparateChannels);
        Process.start();
        const QByteArray first = NextLine();
        if (first.startsWith("listening on "))
            Port = static_cast<quint16>(first.mid(13).trimmed().toUInt());
        if (arguments.contains("--http-port")) {
            const QByteArray second = NextLine();
            if (second.startsWith("http listening on "))
                HttpPort = static_cast<quint16>(second.mid(18).trimmed().toUInt());
        }
    }
    ~ServerProcess()
    {
        if (Process.state() != QProcess::NotRunning) {
            Process.kill();
            Process.waitForFinished(5000);
        }
    }
    QByteArray NextLine(std::chrono::milliseconds timeout = 10s)
    {
        WaitFor([&] { return Process.canReadLine() || Process.state() == QProcess::NotRunning; }, timeout);
        return Process.readLine().trimmed();
    }
    // Waits until the server's log holds Text.
    bool WaitForLog(const QByteArray& text)
    {
        return WaitFor([&] {
            Log += Process.readAllStandardError();
            return Log.contains(text);
        });
    }
    // Sends a control line and returns the server's reply line.
    QByteArray Control(const QByteArray& line)
    {
        Process.write(line + '\n');
        return NextLine();
    }
    // Stops the server with SIGTERM and returns the rest of its standard output.
    QByteArray Terminate()
    {
        ::kill(static_cast<pid_t>(Process.processId()), SIGTERM);
        WaitFor([&] { return Process.state() == QProcess::NotRunning; }, 10s);
        return Process.readAllStandardOutput();
    }
    QProcess Process;
    QByteArray Log;
    quint16 Port = 0;
    quint16 HttpPort = 0;
};

class Client {
public:
    bool Connect(quint16 port)
    {
        QObject::connect(&Socket, &QTcpSocket::readyRead, [this] { Reader.Feed(Socket.readAll()); });
        // The server may close at once, so the connected state can be gone by the next look.
        QObject::connect(&Socket, &QTcpSocket::connected, [this] { WasConnected = true; });
        Socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        return WaitFor([&] { return WasConnected; });
    }
    void Start(const QList<QByteArray>& messages) { Socket.write(ClientPreamble + Burst(messages)); }
    void Send(const QList<QByteArray>& messages) { Socket.write(Burst(messages)); }
    std::optional<Frame> NextFrame(std::chrono::milliseconds timeout = 10s)
    {
        std::optional<Frame> frame;
        WaitFor([&] { return (frame = Reader.Take()).has_value() || Reader.Broken; }, timeout);
        return frame;
    }
    std::optional<Frame> NextFrameWithId(qint32 id)
    {
        for (;;) {
            auto frame = NextFrame();
            if (!frame || frame->Id == id)
                return frame;
        }
    }
    bool WaitClosed()
    {
        const bool closed = WaitFor([&] { return Socket.state() == QAbstractSocket::UnconnectedState; });
        Reader.Feed(Socket.readAll());
        return closed;
    }
    QTcpSocket Socket;
    FrameReader Reader;
    bool WasConnected = false;

private:
    QByteArray Burst(const QList<QByteArray>& messages) { return Out.Burst(messages.join()); }
    WireTestKit::Deflater Out;
};

struct Alert {
    QByteArray Category;
    Fields Values;
};

Alert ParseAlert(const QByteArray& payload)
{
    Alert alert;
    const qsizetype end = payload.indexOf("\r\n");
    alert.Category = payload.left(end);
    for (const QByteArray& piece : payload.mid(end + 2).split('&')) {
        const qsizetype equals = piece.indexOf('=');
        if (equals > 0)
            alert.Values[QByteArray::fromPercentEncoding(piece.left(equals))] =
                QByteArray::fromPercentEncoding(piece.mid(equals + 1));
    }
    return alert;
}

std::vector<Alert> CollectAlerts(Client& client, size_t count)
{
    std::vector<Alert> alerts;
    while (alerts.size() < count) {
        const auto frame = client.NextFrameWithId(8);
        if (!frame)
            break;
        alerts.push_back(ParseAlert(frame->Payload));
    }
    return alerts;
}

bool IsNumber(const QByteArray& text)
{
    bool ok = false;
    text.toDouble(&ok);
    return ok;
}

double Number(const Fields& fields, const QByteArray& key)
{
    const auto found = fields.find(key);
    return found == fields.end() ? -1e9 : found->second.toDouble();
}

// Logs in, listens and subscribes; returns the login answer.
QByteArray StartSession(Client& client, const QList<QByteArray>& categories, const QByteArray& password = "pw")
{
    QList<QByteArray> messages{Login("trader", password), Listen()};
    for (const QByteArray& category : categories)
        messages << Subscribe(category);
    client.Start(messages);
    const auto answer = client.NextFrameWithId(1);
    return answer ? answer->Payload : QByteArray("<no answer>");
}

} // namespace

TEST(AlertServer, LoginIsAnsweredWithASessionIdThatAReloginKeeps)
{
    ServerProcess server({"--seed", "3"});
    ASSERT_NE(server.Port, 0);
    Client first;
    ASSERT_TRUE(first.Connect(server.Port));
    first.Start({Login("trader", "pw"), Ping(7)});
    const auto login = first.NextFrame();
    ASSERT_TRUE(login);
    EXPECT_EQ(login->Id, 1);
    ASSERT_TRUE(login->Payload.startsWith("SESSION ID\r\n"));
    const QByteArray sessionId = login->Payload.mid(12);
    EXPECT_FALSE(sessionId.isEmpty());
    const auto pong = first.NextFrame();
    ASSERT_TRUE(pong);
    EXPECT_EQ(pong->Id, 7);

    Client again;
    ASSERT_TRUE(again.Connect(server.Port));
    again.Start({Login("trader", "pw", sessionId)});
    const auto relogin = again.NextFrame();
    ASSERT_TRUE(relogin);
    EXPECT_EQ(relogin->Payload, "SESSION ID\r\n" + sessionId);

    Client stranger;
    ASSERT_TRUE(stranger.Connect(server.Port));
    stranger.Start({Login("trader", "pw", "not-a-session")});
    const auto fresh = stranger.NextFrame();
    ASSERT_TRUE(fresh);
    EXPECT_TRUE(fresh->Payload.startsWith("SESSION ID\r\n"));
    EXPECT_NE(fresh->Payload, "SESSION ID\r\n" + sessionId);
}

TEST(AlertServer, PasswordAndUserFileRefuseWrongCredentialsWithStop)
{
    ServerProcess withPassword({"--password", "secret"});
    Client wrong;
    ASSERT_TRUE(wrong.Connect(withPassword.Port));
    EXPECT_EQ(StartSession(wrong, {}, "guess"), "STOP\r\nInvalid user name or password.");
    Client right;
    ASSERT_TRUE(right.Connect(withPassword.Port));
    EXPECT_TRUE(StartSession(right, {}, "secret").startsWith("SESSION ID\r\n"));
    EXPECT_EQ(withPassword.Control("refuse Closed today"), "ok: refuse Closed today");
    Client refused;
    ASSERT_TRUE(refused.Connect(withPassword.Port));
    EXPECT_EQ(StartSession(refused, {}, "secret"), "STOP\r\nClosed today");
    EXPECT_EQ(withPassword.Control("refuse off"), "ok: refuse off");
    Client welcome;
    ASSERT_TRUE(welcome.Connect(withPassword.Port));
    EXPECT_TRUE(StartSession(welcome, {}, "secret").startsWith("SESSION ID\r\n"));

    QFile users(QDir(TestEnvironment::WorkDir()).filePath("users.txt"));
    ASSERT_TRUE(users.open(QIODevice::WriteOnly));
    users.write("# name:password\ntrader:tr4de\n");
    users.close();
    ServerProcess withUsers({"--users", users.fileName()});
    Client unknown;
    ASSERT_TRUE(unknown.Connect(withUsers.Port));
    EXPECT_EQ(StartSession(unknown, {}, "pw"), "STOP\r\nInvalid user name or password.");
    Client listed;
    ASSERT_TRUE(listed.Connect(withUsers.Port));
    EXPECT_TRUE(StartSession(listed, {}, "tr4de").startsWith("SESSION ID\r\n"));
}

TEST(AlertServer, StreamsOnlySubscribedCategoriesWithTheFieldsOfTheirStyle)
{
    ServerProcess server({"--seed", "11", "--rate", "50"});
    Client client;
    ASSERT_TRUE(client.Connect(server.Port));
    const QList<QByteArray> subscribed{"strike", "bollinger", "pointslist", "simplelist", "ferrik", "dravel", "quent"};
    ASSERT_TRUE(StartSession(client, subscribed).startsWith("SESSION ID\r\n"));

    std::map<QByteArray, int> perCategory;
    bool sawSpike = false, sawAdd = false, sawDelete = false;
    QSet<QByteArray> inBand;
    // The seed fixes each category's sequence; enough of each shows spikes and deletes.
    std::vector<Alert> alerts;
    auto enoughOfEach = [&] {
        return std::all_of(subscribed.begin(), subscribed.end(), [&](const QByteArray& category) {
            return std::count_if(alerts.begin(), alerts.end(), [&](const Alert& a) { return a.Category == category; }) >= 25;
        });
    };
    while (!enoughOfEach() && alerts.size() < 2000) {
        const auto more = CollectAlerts(client, 1);
        if (more.empty())
            break;
        alerts.push_back(more.front());
    }
    for (const Alert& alert : alerts) {
        ASSERT_TRUE(subscribed.contains(alert.Category)) << alert.Category.constData();
        ++perCategory[alert.Category];
        const Fields& f = alert.Values;
        if (alert.Category == "strike" || alert.Category == "dravel") {
            EXPECT_FALSE(f.at("symbol").isEmpty());
            EXPECT_GT(Number(f, "last"), 0);
            EXPECT_GT(Number(f, "prev_close"), 0);
            // The strike list shows seconds; the simple lists a time as their
            // "Time" column is made for ("00:00").
            EXPECT_EQ(f.at("time").size(), alert.Category == "strike" ? 8 : 5);
        } else if (alert.Category == "bollinger") {
            const QByteArray action = f.at("action");
            ASSERT_TRUE(action == "add" || action == "delete");
            if (action == "add") {
                sawAdd = true;
                inBand.insert(f.at("symbol"));
                EXPECT_TRUE(IsNumber(f.at("dist_from_bb")));
                EXPECT_GT(Number(f, "last"), 0);
            } else {
                sawDelete = true;
                EXPECT_TRUE(inBand.remove(f.at("symbol"))) << "delete of a symbol never added";
            }
        } else if (alert.Category == "pointslist") {
            int rows = 0;
            while (f.count("symbol" + QByteArray::number(rows))) {
                const QByteArray n = QByteArray::number(rows++);
                EXPECT_TRUE(IsNumber(f.at("last" + n)) && IsNumber(f.at("change" + n)) && IsNumber(f.at("percent_vol" + n)));
            }
            EXPECT_GE(rows, 8);
        } else if (alert.Category == "simplelist") {
            EXPECT_TRUE(IsNumber(f.at("last")) && IsNumber(f.at("change")));
        } else if (alert.Category == "ferrik") {
            for (const char* key : {"change", "count", "volume", "bb", "rank", "rv"})
                EXPECT_TRUE(IsNumber(f.at(key))) << key;
            EXPECT_GE(Number(f, "rank"), 0.0);
            EXPECT_LE(Number(f, "rank"), 1.0);
            EXPECT_EQ(f.at("time").size(), 5);
        } else if (alert.Category == "quent") {
            int rows = 0;
            while (f.count("symbol" + QByteArray::number(rows))) {
                const QByteArray n = QByteArray::number(rows++);
                for (const char* key : {"price_spike", "vol_rate", "todays_range", "opening_range", "strength", "up_trend",
                                        "near_high", "near_low", "new_high", "new_low", "last", "change", "volume", "count"})
                    ASSERT_TRUE(IsNumber(f.at(key + n))) << key;
                EXPECT_GE(Number(f, "vol_rate" + n), 0.5);
                EXPECT_LE(Number(f, "vol_rate" + n), 3.5);
                EXPECT_GE(Number(f, "new_high" + n), 0.0);
                EXPECT_LE(Number(f, "new_low" + n), 1.0);
                sawSpike = sawSpike || Number(f, "price_spike" + n) >= 7;
            }
            EXPECT_GE(rows, 20);
            EXPECT_LE(rows, 60);
        }
        // The simple lists' "#" column is made for counts like "10", where a
        // symbol that keeps alerting stands out.
        if (alert.Category == "ferrik" || alert.Category == "dravel") {
            EXPECT_GE(Number(f, "count"), 1);
            EXPECT_LE(Number(f, "count"), 99);
        }
    }
    for (const QByteArray& category : subscribed)
        EXPECT_GT(perCategory[category], 0) << category.constData();
    EXPECT_TRUE(sawSpike);
    EXPECT_TRUE(sawAdd);
    EXPECT_TRUE(sawDelete);
}

TEST(AlertServer, CategoryFileReplacesTheBuiltInCategoriesAndBadFilesAreRefused)
{
    const QString path = QDir(TestEnvironment::WorkDir()).filePath("categories.txt");
    auto writeFile = [&](const QByteArray& text) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    };
    writeFile("# name style rate\nbig-movers quent 20\nstrikes strike\n");
    ServerProcess server({"--categories", path});
    Client client;
    ASSERT_TRUE(client.Connect(server.Port));
    ASSERT_TRUE(StartSession(client, {"big-movers", "quent"}).startsWith("SESSION ID\r\n"));
    for (const Alert& alert : CollectAlerts(client, 2)) {
        EXPECT_EQ(alert.Category, "big-movers");
        EXPECT_TRUE(alert.Values.count("symbol0"));
    }
    EXPECT_TRUE(server.WaitForLog("no category \"quent\" here"));

    writeFile("big-movers quent\nbroken nosuchstyle\n");
    QProcess refused;
    refused.start(QStringLiteral(TAVISK_SERVER_BIN), {"--port", "0", "--categories", path});
    ASSERT_TRUE(refused.waitForFinished(10000));
    EXPECT_EQ(refused.exitCode(), 2);
    EXPECT_TRUE(refused.readAllStandardError().contains("line 2"));
}

TEST(AlertServer, SameSeedRepeatsTheAlertsAndAnotherSeedDoesNot)
{
    auto firstAlerts = [](const char* seed) {
        ServerProcess server({"--seed", seed, "--rate", "20"});
        Client client;
        client.Connect(server.Port);
        StartSession(client, {"pointslist"});
        QList<QByteArray> payloads;
        while (payloads.size() < 3) {
            const auto frame = client.NextFrameWithId(8);
            if (!frame)
                break;
            payloads << frame->Payload;
        }
        return payloads;
    };
    const auto once = firstAlerts("42");
    ASSERT_EQ(once.size(), 3);
    EXPECT_EQ(firstAlerts("42"), once);
    EXPECT_NE(firstAlerts("43"), once);
}

TEST(AlertServer, ControlChannelStopsStallsDropsAndCorrupts)
{
    ServerProcess server({"--rate", "1"});
    Client client;
    ASSERT_TRUE(client.Connect(server.Port));
    ASSERT_TRUE(StartSession(client, {}).startsWith("SESSION ID\r\n"));

    EXPECT_EQ(server.Control("stop Closed for maintenance"), "ok: stop Closed for maintenance");
    const auto stop = client.NextFrame();
    ASSERT_TRUE(stop);
    EXPECT_EQ(stop->Id, 1);
    EXPECT_EQ(stop->Payload, "STOP\r\nClosed for maintenance");

    // Answers keep their order, so the answer to ping 6 proves ping 7 went unanswered.
    EXPECT_EQ(server.Control("stall-pings on"), "ok: stall-pings on");
    client.Send({Ping(7)});
    EXPECT_TRUE(server.WaitForLog("ping 7 left unanswered"));
    EXPECT_EQ(server.Control("stall-pings off"), "ok: stall-pings off");
    client.Send({Ping(6)});
    const auto pong = client.NextFrame();
    ASSERT_TRUE(pong);
    EXPECT_EQ(pong->Id, 6);

    EXPECT_EQ(server.Control("oversize"), "ok: oversize");
    WaitFor([&] { return client.Reader.Buffered() >= 8; });
    EXPECT_EQ(client.Reader.HeaderLength(), std::numeric_limits<qint32>::max());

    EXPECT_EQ(server.Control("corrupt"), "ok: corrupt");
    EXPECT_TRUE(WaitFor([&] { return client.Reader.Broken; }));

    EXPECT_EQ(server.Control("drop"), "ok: drop");
    EXPECT_TRUE(client.WaitClosed());
    EXPECT_TRUE(server.Control("bogus").startsWith("error: unknown command"));
}

TEST(AlertServer, DropsCutBeforeThePreambleInsideABurstOrInsideAFrame)
{
    ServerProcess server({});
    EXPECT_EQ(server.Control("drop-preamble on"), "ok: drop-preamble on");
    Client early;
    ASSERT_TRUE(early.Connect(server.Port));
    EXPECT_TRUE(early.WaitClosed());
    EXPECT_EQ(early.Reader.Buffered(), 0);
    EXPECT_EQ(server.Control("drop-preamble off"), "ok: drop-preamble off");

    Client midFrame;
    ASSERT_TRUE(midFrame.Connect(server.Port));
    ASSERT_TRUE(StartSession(midFrame, {}).startsWith("SESSION ID\r\n"));
    EXPECT_EQ(server.Control("drop frame"), "ok: drop frame");
    ASSERT_TRUE(midFrame.WaitClosed());
    EXPECT_FALSE(midFrame.Reader.Broken);
    EXPECT_FALSE(midFrame.Reader.Take());
    ASSERT_GE(midFrame.Reader.Buffered(), 8);
    EXPECT_GT(midFrame.Reader.HeaderLength(), midFrame.Reader.Buffered() - 8);

    ServerProcess planned({"--drop-after-ms", "200", "--drop-how", "frame"});
    Client doomed;
    ASSERT_TRUE(doomed.Connect(planned.Port));
    doomed.Start({Login("trader", "pw"), Listen()});
    ASSERT_TRUE(doomed.WaitClosed());
    while (doomed.Reader.Take()) {
        // whole frames that made it before the cut (the login answer, if it was in time)
    }
    ASSERT_GE(doomed.Reader.Buffered(), 8);
    EXPECT_GT(doomed.Reader.HeaderLength(), doomed.Reader.Buffered() - 8);

    Client midBurst;
    ASSERT_TRUE(midBurst.Connect(server.Port));
    ASSERT_TRUE(StartSession(midBurst, {}).startsWith("SESSION ID\r\n"));
    EXPECT_EQ(server.Control("drop burst"), "ok: drop burst");
    ASSERT_TRUE(midBurst.WaitClosed());
    EXPECT_FALSE(midBurst.Reader.Take());
}

TEST(AlertServer, MalformedClientInputClosesOnlyThatConnection)
{
    ServerProcess server({});
    Client garbage;
    ASSERT_TRUE(garbage.Connect(server.Port));
    garbage.Socket.write(ClientPreamble + QByteArray("this is not zlib at all"));
    EXPECT_TRUE(garbage.WaitClosed());

    Client negative;
    ASSERT_TRUE(negative.Connect(server.Port));
    negative.Start({WireTestKit::Int32(-5)});
    EXPECT_TRUE(negative.WaitClosed());

    Client wrongMode;
    ASSERT_TRUE(wrongMode.Connect(server.Port));
    wrongMode.Socket.write("command=set_output&mode=text\r\n");
    EXPECT_TRUE(wrongMode.WaitClosed());

    Client healthy;
    ASSERT_TRUE(healthy.Connect(server.Port));
    EXPECT_TRUE(StartSession(healthy, {}).startsWith("SESSION ID\r\n"));
}

TEST(AlertServer, TerminationAndDurationPrintTheAlertCounts)
{
    ServerProcess server({"--rate", "50"});
    Client client;
    ASSERT_TRUE(client.Connect(server.Port));
    StartSession(client, {"quent"});
    ASSERT_EQ(CollectAlerts(client, 3).size(), 3u);
    const QByteArray output = server.Terminate();
    EXPECT_EQ(server.Process.exitStatus(), QProcess::NormalExit);
    const qsizetype at = output.indexOf("quent=");
    ASSERT_GE(at, 0) << output.constData();
    EXPECT_GE(output.mid(at + 6).split(' ').first().trimmed().toInt(), 3);
    EXPECT_TRUE(output.contains("strike=0"));

    ServerProcess timed({"--duration", "1"});
    EXPECT_TRUE(WaitFor([&] { return timed.Process.state() == QProcess::NotRunning; }, 15s));
    EXPECT_TRUE(timed.Process.readAllStandardOutput().contains("alerts sent:"));
}

TEST(AlertServer, ReplayServesARecordingToItsSubscribersAgainAndAgainOrOnceAndThenEnds)
{
    const QString path = QDir(TestEnvironment::WorkDir()).filePath("served.tsv.gz");
    {
        qint64 now = 1'000'000;
        auto recorder = TAlertRecorder::IntoFile(path, [&now] { return now += 250; });
        recorder->Record("strike\r\nsymbol=A");
        recorder->Record("quent\r\nsymbol0=Q");
        recorder->Record("strike\r\nsymbol=B");
    }
    ServerProcess server({"--replay", path, "--speed", "0"});
    Client client;
    ASSERT_TRUE(client.Connect(server.Port));
    ASSERT_TRUE(StartSession(client, {"strike"}).startsWith("SESSION ID\r\n"));
    QByteArrayList symbols;
    for (const Alert& alert : CollectAlerts(client, 5)) {
        EXPECT_EQ(alert.Category, "strike");
        symbols << alert.Values.at("symbol");
    }
    EXPECT_EQ(symbols, QByteArrayList({"A", "B", "A", "B", "A"}));

    // Once: the client gets every alert, then the connection and the server end.
    ServerProcess once({"--replay", path, "--speed", "0", "--replay-once"});
    Client onceClient;
    ASSERT_TRUE(onceClient.Connect(once.Port));
    ASSERT_TRUE(StartSession(onceClient, {"strike"}).startsWith("SESSION ID\r\n"));
    ASSERT_TRUE(onceClient.WaitClosed());
    symbols.clear();
    while (const auto frame = onceClient.Reader.Take())
        if (frame->Id == 8)
            symbols << ParseAlert(frame->Payload).Values.at("symbol");
    EXPECT_EQ(symbols, QByteArrayList({"A", "B"}));
    EXPECT_TRUE(WaitFor([&] { return once.Process.state() == QProcess::NotRunning; }, 15s));
    EXPECT_EQ(once.Process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(once.Process.exitCode(), 0);

    // What is not a recording is refused at start, with the reason.
    const QString plain = QDir(TestEnvironment::WorkDir()).filePath("plain.tsv");
    QFile file(plain);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("1000\tstrike\tsymbol=A\n");
    file.close();
    QProcess refused;
    refused.start(QStringLiteral(TAVISK_SERVER_BIN), {"--port", "0", "--replay", plain});
    ASSERT_TRUE(refused.waitForFinished(10000));
    EXPECT_NE(refused.exitCode(), 0);
    EXPECT_TRUE(refused.readAllStandardError().contains("is not a gzip file"));
}

namespace {

QByteArray P64(const QByteArray& bytes)
{
    QByteArray text = bytes.toBase64(QByteArray::OmitTrailingEquals);
    for (char& c : text) {
        if (std::isalpha(static_cast<unsigned char>(c)))
            c = static_cast<char>(std::islower(static_cast<unsigned char>(c)) ? std::toupper(c) : std::tolower(c));
        else if (c == '+')
            c = '_';
        else if (c == '/')
            c = '-';
    }
    return text;
}

class TunnelClient {
public:
    bool Open(quint16 port)
    {
        Port = port;
        QObject::connect(&Stream, &QTcpSocket::readyRead, [this] { Received += Stream.readAll(); });
        Stream.connectToHost(QStringLiteral("127.0.0.1"), port);
        if (!WaitFor([&] { return Stream.state() == QAbstractSocket::ConnectedState; }))
            return false;
        Stream.write("GET /tunnel HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\n\r\n");
        // Header block, a greeting line, then the POST address line.
        if (!WaitFor([&] { return Received.count("\r\n") >= 2 + HeaderLines(); }))
            return false;
        const qsizetype bodyStart = Received.indexOf("\r\n\r\n") + 4;
        const QList<QByteArray> lines = Received.mid(bodyStart).split('\n');
        PostUrl = lines.value(1).trimmed();
        const qsizetype streamStart = bodyStart + lines.value(0).size() + 1 + lines.value(1).size() + 1;
        Reader.Feed(Received.mid(streamStart));
        QObject::disconnect(&Stream, &QTcpSocket::readyRead, nullptr, nullptr);
        QObject::connect(&Stream, &QTcpSocket::readyRead, [this] { Reader.Feed(Stream.readAll()); });
        return true;
    }
    // Returns the HTTP status of one POST.
    int Post(qint64 sequence, const QByteArray& bytes)
    {
        const QByteArray path = QUrl(QString::fromLatin1(PostUrl)).path().toLatin1();
        const QByteArray body = "sequence=" + QByteArray::number(sequence) + "&body=" + P64(bytes);
        QTcpSocket socket;
        QByteArray answer;
        QObject::connect(&socket, &QTcpSocket::readyRead, [&] { answer += socket.readAll(); });
        socket.connectToHost(QStringLiteral("127.0.0.1"), Port);
        socket.write("POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                     "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        WaitFor([&] { return answer.contains("\r\n\r\n"); });
        return answer.mid(9, 3).toInt();
    }
    std::optional<Frame> NextFrame()
    {
        std::optional<Frame> frame;
        WaitFor([&] { return (frame = Reader.Take()).has_value(); });
        return frame;
    }
    QTcpSocket Stream;
    QByteArray PostUrl;
    FrameReader Reader;
    WireTestKit::Deflater Out;

private:
    qsizetype HeaderLines() const { return Received.left(Received.indexOf("\r\n\r\n") + 4).count("\r\n"); }
    QByteArray Received;
    quint16 Port = 0;
};

} // namespace

TEST(AlertServer, TunnelFeedsPostsInSequenceOnceAndStreamsTheAnswers)
{
    ServerProcess server({"--http-port", "0"});
    ASSERT_NE(server.HttpPort, 0);
    TunnelClient tunnel;
    ASSERT_TRUE(tunnel.Open(server.HttpPort));
    EXPECT_TRUE(tunnel.PostUrl.startsWith("http://127.0.0.1:" + QByteArray::number(server.HttpPort) + "/"));

    const QByteArray first = ClientPreamble + tunnel.Out.Burst(Login("trader", "pw") + Ping(7));
    EXPECT_EQ(tunnel.Post(0, first.left(20)), 200);
    EXPECT_EQ(tunnel.Post(1, first.mid(20)), 200);
    EXPECT_EQ(tunnel.Post(1, first.mid(20)), 200); // a retry after a lost answer
    EXPECT_EQ(tunnel.Post(5, "never applied"), 409);
    EXPECT_EQ(server.Control("fail-posts 1"), "ok: fail-posts 1");
    const QByteArray second = tunnel.Out.Burst(Ping(6));
    EXPECT_EQ(tunnel.Post(2, second), 500);
    EXPECT_EQ(tunnel.Post(2, second), 200);

    QList<qint32> ids;
    while (ids.size() < 3) {
        const auto frame = tunnel.NextFrame();
        if (!frame)
            break;
        ids << frame->Id;
    }
    EXPECT_EQ(ids, (QList<qint32>{1, 7, 6}));
    EXPECT_FALSE(tunnel.Reader.Broken);

    EXPECT_EQ(server.Control("drop"), "ok: drop");
    EXPECT_TRUE(WaitFor([&] { return tunnel.Stream.state() == QAbstractSocket::UnconnectedState; }));
}

TEST(AlertServer, TunnelWorksWithAStandardHttpClient)
{
    ServerProcess server({"--http-port", "0"});
    QNetworkAccessManager http;
    QNetworkReply* stream =
        http.get(QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/tunnel").arg(server.HttpPort))));
    QByteArray received;
    QObject::connect(stream, &QNetworkReply::readyRead, [&] { received += stream->readAll(); });
    // The opening lines must arrive while the response is still running.
    ASSERT_TRUE(WaitFor([&] { return received.count("\r\n") >= 2; }));
    EXPECT_FALSE(stream->isFinished());
    const QList<QByteArray> lines = received.split('\n');
    const QUrl postUrl(QString::fromLatin1(lines.value(1).trimmed()));

    WireTestKit::Deflater out;
    QNetworkRequest post(postUrl);
    post.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
    QNetworkReply* answer =
        http.post(post, "sequence=0&body=" + P64(ClientPreamble + out.Burst(Login("trader", "pw"))));
    ASSERT_TRUE(WaitFor([&] { return answer->isFinished(); }));
    EXPECT_EQ(answer->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);

    FrameReader reader;
    reader.Feed(received.mid(lines.value(0).size() + lines.value(1).size() + 2));
    QObject::disconnect(stream, &QNetworkReply::readyRead, nullptr, nullptr);
    QObject::connect(stream, &QNetworkReply::readyRead, [&] { reader.Feed(stream->readAll()); });
    std::optional<Frame> login;
    EXPECT_TRUE(WaitFor([&] { return (login = reader.Take()).has_value(); }));
    ASSERT_TRUE(login);
    EXPECT_TRUE(login->Payload.startsWith("SESSION ID\r\n"));
    stream->abort();
    delete answer;
    delete stream;
}
