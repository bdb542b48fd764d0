// The main connection against the reference server over real TCP on
// 127.0.0.1: what the server receives, what the user sees, and how sessions
// start, keep alive, end and start again.
#include "ReferenceServer.h"
#include "TestEnvironment.h"
#include "Shared/WireMessages.h"
#include <QDateTime>
#include <QLocale>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

#ifdef TAVISK_SERVER_BIN

using namespace ReferenceServerKit;
using namespace std::chrono_literals;
using TestEnvironment::WaitFor;

namespace {

const TMessageToServer FirstPing = Pairs({{"message_id", "7"}, {"command", "ping"}, {"response", "1"}});

TMessageToServer Login(const QByteArray& sessionId)
{
    return Pairs({{"message_id", "1"},
                  {"command", "login"},
                  {"username", "trader"},
                  {"password", "pw"},
                  {"session_id", sessionId}});
}

QString WorkingAt(const QDateTime& time)
{
    return "Working:  " + QLocale::system().toString(time.time(), QLocale::LongFormat);
}

// A client whose clock and ticks the test drives: the server and the sockets
// stay real, only the 500 ms timer and the local clock are in the test's hand.
struct SteppedClient {
    explicit SteppedClient(const QByteArray& address) : Probe(address, {}, Stepped()) {}
    TMainConnectionDependencies Stepped()
    {
        TMainConnectionDependencies stepped;
        stepped.Timer = false;
        stepped.Clock = [this] { return Now; };
        return stepped;
    }
    void Tick()
    {
        Now = Now.addMSecs(500);
        Probe.Main->Tick();
    }
    QDateTime Now{QDate(2026, 12, 7), QTime(10, 0, 0)}; // outlives the client that reads it
    ClientProbe Probe;
};

// A server, a stepped client subscribed to "strike", logged in and connected.
class SteppedSession : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Server.Start({"--rate", "20"}));
        Stepped = std::make_unique<SteppedClient>(Server.Address());
        Client().Main->AddCategory("strike");
        Client().LogIn("trader", "pw");
        ASSERT_TRUE(Client().WaitForStatus("Connected!"));
        ASSERT_TRUE(WaitFor([&] { return !Client().Main->SessionId().isEmpty(); }));
    }
    ClientProbe& Client() { return Stepped->Probe; }
    QString Connecting() const { return "Connecting to " + Server.Address() + "..."; }

    ReferenceServer Server{TAVISK_SERVER_BIN};
    std::unique_ptr<SteppedClient> Stepped;
};

QVector<ReceivedMessage> Only(QVector<ReceivedMessage> messages, const QByteArray& command)
{
    messages.removeIf([&](const ReceivedMessage& m) { return m.Value("command") != command; });
    return messages;
}

} // namespace

TEST(SessionWithServer, LoginSubscribesEachCategoryOnceInOrderThenPingsAndReportsWorking)
{
    ReferenceServer server(TAVISK_SERVER_BIN);
    ASSERT_TRUE(server.Start({"--rate", "5"}));
    ClientProbe client(server.Address());
    for (const char* category : {"symbol", "bollinger", "strike", "bollinger", ""})
        client.Main->AddCategory(category);
    const QDateTime started = QDateTime::currentDateTime();
    client.LogIn("trader", "pw");

    ASSERT_TRUE(client.WaitForStatus("Connected!"));
    ASSERT_TRUE(server.WaitForLog("received message_id=7&command=ping"));
    EXPECT_EQ(server.PlainLines(1), QVector<QByteArray>({"command=set_output&mode=zlib", "command=set_input&mode=zlib"}));
    const QVector<TMessageToServer> expected = {
        Login(""),
        Pairs({{"message_id", "8"}, {"command", "listen_for_alerts"}}),
        Pairs({{"command", "add_alert_category"}, {"category", "bollinger"}}),
        Pairs({{"command", "add_alert_category"}, {"category", "strike"}}),
        Pairs({{"command", "add_alert_category"}, {"category", "symbol"}}),
        FirstPing,
    };
    EXPECT_EQ(Describe(server.Received(1)), Describe(expected));

    ASSERT_TRUE(WaitFor([&] { return server.Sent(1, 1).size() == 1; }));
    const QVector<SentFrame> loginAnswers = server.Sent(1, 1);
    ASSERT_EQ(loginAnswers.size(), 1);
    EXPECT_EQ("SESSION ID\r\n" + client.Main->SessionId(), loginAnswers[0].Payload);
    EXPECT_EQ(client.Statuses,
              QStringList({"Connecting to " + server.Address() + "...", "Logged in.", "Connected!"}));

    // The real 500 ms timer and the real clock: the next ping goes out about
    // 4.5 s after the login, again with id 7, and its answer stamps the time.
    ASSERT_TRUE(client.WaitForStatusChange([](const QString& s) { return s.startsWith("Working:  "); }, 20s));
    const QDateTime answered = QDateTime::currentDateTime();
    const QString working = client.Statuses.last();
    bool stampedInTime = false;
    for (QDateTime t = started.addSecs(-1); t <= answered.addSecs(1) && !stampedInTime; t = t.addSecs(1))
        stampedInTime = working == WorkingAt(t);
    EXPECT_TRUE(stampedInTime) << working.toStdString();
    ASSERT_TRUE(client.SyncWith(server));
    const QVector<ReceivedMessage> pings = Only(server.Received(1), "ping");
    ASSERT_GE(pings.size(), 2);
    for (const ReceivedMessage& ping : pings)
        EXPECT_EQ(Describe(ping.Pairs), Describe(FirstPing));
}

TEST_F(SteppedSession, PingsKeepTheirRhythmAndTheTwentyFifthSilentTickStartsANewConversation)
{
    ReferenceServer& server = Server;
    SteppedClient& stepped = *Stepped;
    ClientProbe& client = Client();

    // Nine ticks bring the clock to exactly 4.5 s, which is not yet later
    // than the ping time; the tenth sends the ping. A ping sent too early
    // would reach the server before the awaited one and show in the count.
    for (int round = 1; round <= 2; ++round) {
        for (int i = 0; i < 10; ++i)
            stepped.Tick();
        ASSERT_TRUE(client.WaitForStatus(WorkingAt(stepped.Now))) << round;
        ASSERT_TRUE(client.SyncWith(server));
        EXPECT_EQ(Only(server.Received(1), "ping").size(), round + 1);
        EXPECT_EQ(client.Main->MissedTicks(), 0);
    }
    for (const ReceivedMessage& ping : Only(server.Received(1), "ping"))
        EXPECT_EQ(ping.Value("message_id"), "7");

    // Silence: the server keeps the connection but answers no ping and
    // sends no alert (an alert shows it alive as well as an answer does).
    ASSERT_TRUE(server.Control("stall-pings on"));
    ASSERT_TRUE(server.Control("rate 0.01"));
    ASSERT_TRUE(WaitFor([&] { return client.Alerts.size() >= size_t(server.Sent(1, 8).size()); }));
    const int created = client.Connections->Created;
    for (int i = 0; i < 24; ++i)
        stepped.Tick();
    ASSERT_TRUE(server.WaitForLog("left unanswered (stall-pings)", 2));
    EXPECT_EQ(client.Main->MissedTicks(), 24);
    EXPECT_NE(client.Main->Status(), "Disconnected.");
    EXPECT_EQ(client.Connections->Created, created);

    stepped.Tick();
    EXPECT_EQ(client.Main->Status(), "Disconnected.");
    EXPECT_EQ(client.Main->MissedTicks(), 0);
    ASSERT_TRUE(client.WaitForConnectedConversation(created));
    ASSERT_TRUE(server.WaitForLog("resumed session"));
    const QVector<ReceivedMessage> logins = server.ReceivedCommands("login");
    ASSERT_EQ(logins.size(), 2);
    EXPECT_EQ(Describe(logins[1].Pairs), Describe(Login(client.Main->SessionId())));
    // The replacement's login is answered though its first ping is stalled
    // too: the status says what is true, no longer the loss before it.
    ASSERT_TRUE(client.WaitForStatus("Logged in."));
}

TEST(SessionWithServer, EveryAlertReachesEveryCallbackUnchangedInRegistrationOrder)
{
    ReferenceServer server(TAVISK_SERVER_BIN);
    ASSERT_TRUE(server.Start({"--rate", "20"}));
    ClientProbe client(server.Address());
    std::vector<std::pair<char, QByteArray>> calls;
    const TSubscription receivers[] = {
        client.Main->RegisterAlertCallback([&](const QByteArray& data) { calls.emplace_back('A', data); }),
        client.Main->RegisterAlertCallback([&](const QByteArray&) { throw std::runtime_error("faulty window"); }),
        client.Main->RegisterAlertCallback([&](const QByteArray& data) { calls.emplace_back('C', data); })};
    client.Main->AddCategory("strike");
    client.Main->AddCategory("quent");
    client.LogIn("trader", "pw");

    ASSERT_TRUE(client.WaitForMoreAlerts(12, 20s));
    // The server logs each frame before it sends it; its log may just lag behind.
    ASSERT_TRUE(WaitFor([&] { return server.Sent(1, 8).size() >= static_cast<qsizetype>(client.Alerts.size()); }));
    const QVector<SentFrame> sent = server.Sent(1, 8);
    for (std::size_t i = 0; i < client.Alerts.size(); ++i) {
        EXPECT_EQ(client.Alerts[i], sent[static_cast<qsizetype>(i)].Payload) << i;
        ASSERT_LT(2 * i + 1, calls.size());
        EXPECT_EQ(calls[2 * i], std::make_pair('A', client.Alerts[i])) << i;
        EXPECT_EQ(calls[2 * i + 1], std::make_pair('C', client.Alerts[i])) << i;
    }
    EXPECT_EQ(calls.size(), 2 * client.Alerts.size());
    const bool bothCategories =
        std::any_of(client.Alerts.begin(), client.Alerts.end(), [](const QByteArray& a) { return a.startsWith("quent\r\n"); }) &&
        std::any_of(client.Alerts.begin(), client.Alerts.end(), [](const QByteArray& a) { return a.startsWith("strike\r\n"); });
    EXPECT_TRUE(bothCategories);
    // A receiver's error goes no further than one debug-log line per alert.
    EXPECT_EQ(client.DebugLines.size(), static_cast<qsizetype>(client.Alerts.size()));
    for (const QString& line : client.DebugLines)
        EXPECT_TRUE(line.contains("faulty window")) << line.toStdString();
}

TEST_F(SteppedSession, ADroppedConnectionLogsInAgainAtTheNextTickWithTheStoredSessionId)
{
    ReferenceServer& server = Server;
    ClientProbe& client = Client();
    const QByteArray sessionId = client.Main->SessionId();

    ASSERT_TRUE(server.Control("drop now"));
    ASSERT_TRUE(WaitFor([&] { return client.EndedWith.size() == 1; }));
    EXPECT_EQ(client.EndedWith[0], "Unexpected disconnect from server.");
    EXPECT_EQ(client.Connections->Created, 1);
    const std::size_t alertsBefore = client.Alerts.size();

    // The timer fires every 500 ms; one tick is all it takes.
    Stepped->Tick();
    ASSERT_TRUE(server.WaitForLog("resumed session " + sessionId));
    EXPECT_EQ(client.Connections->Created, 2);
    const QVector<ReceivedMessage> logins = server.ReceivedCommands("login");
    ASSERT_EQ(logins.size(), 2);
    EXPECT_EQ(Describe(logins[1].Pairs), Describe(Login(sessionId)));
    EXPECT_EQ(client.Main->SessionId(), sessionId);
    // Alerts flow again, now from the new session.
    ASSERT_TRUE(client.WaitForMoreAlerts(3));
    const auto freshAlerts = static_cast<qsizetype>(client.Alerts.size() - alertsBefore);
    ASSERT_TRUE(WaitFor([&] { return server.Sent(logins[1].Session, 8).size() >= freshAlerts; }));
    const QVector<SentFrame> fresh = server.Sent(logins[1].Session, 8);
    for (std::size_t i = alertsBefore; i < client.Alerts.size(); ++i)
        EXPECT_EQ(client.Alerts[i], fresh[static_cast<qsizetype>(i - alertsBefore)].Payload) << i;
    ASSERT_TRUE(client.WaitForStatus("Connected!"));
    EXPECT_EQ(client.Statuses, QStringList({Connecting(), "Logged in.", "Connected!",
                                            "Unexpected disconnect from server; trying again", "Logged in.",
                                            "Connected!"}));
}

TEST_F(SteppedSession, StopEndsPingsAndWatchdogShowsTheReasonAndTheSameCredentialsStartAfresh)
{
    ReferenceServer& server = Server;
    SteppedClient& stepped = *Stepped;
    ClientProbe& client = Client();

    ASSERT_TRUE(server.Control("stop Closed for maintenance"));
    ASSERT_TRUE(WaitFor([&] { return client.Main->Stopped(); }));
    EXPECT_EQ(client.Main->Status(), "Closed for maintenance");

    // 20 s of ticks: neither a ping nor the watchdog, and the open
    // conversation is left alone.
    TTalkWithServer* const stopped = client.Main->Conversation();
    for (int i = 0; i < 40; ++i)
        stepped.Tick();
    EXPECT_EQ(client.Main->MissedTicks(), 0);
    EXPECT_EQ(client.Main->Conversation(), stopped);
    EXPECT_EQ(client.Main->Status(), "Closed for maintenance");
    ASSERT_TRUE(client.SyncWith(server));
    EXPECT_EQ(Only(server.Received(1), "ping").size(), 1) << "only the one sent with the login";
    EXPECT_EQ(client.Connections->Created, 1);

    // Login pressed again with the very same name and password.
    client.LogIn("trader", "pw");
    EXPECT_FALSE(client.Main->Stopped());
    ASSERT_TRUE(client.WaitForStatus("Connected!"));
    const QVector<ReceivedMessage> logins = server.ReceivedCommands("login");
    ASSERT_EQ(logins.size(), 2);
    EXPECT_NE(logins[1].Session, logins[0].Session);
    EXPECT_EQ(Describe(logins[1].Pairs), Describe(Login("")));
    EXPECT_EQ(client.Connections->Created, 2);
    EXPECT_EQ(client.Statuses, QStringList({Connecting(), "Logged in.", "Connected!", "Closed for maintenance",
                                            "Disconnected.", "", Connecting(), "Logged in.", "Connected!"}));
    ASSERT_TRUE(client.WaitForMoreAlerts(3));
}

TEST(SessionWithServer, WithoutAPasswordTheConnectionCarriesOnlyThePreambleAndIsNotReplaced)
{
    ReferenceServer server(TAVISK_SERVER_BIN);
    ASSERT_TRUE(server.Start());
    SteppedClient stepped(server.Address());
    ClientProbe& client = stepped.Probe;
    client.Main->AddCategory("strike");
    client.Main->SetUserName("trader");

    ASSERT_TRUE(WaitFor([&] { return server.PlainLines(1).size() == 2; }));
    for (int i = 0; i < 30; ++i)
        stepped.Tick();
    EXPECT_EQ(client.Main->MissedTicks(), 0);
    ASSERT_TRUE(client.SyncWith(server));
    const QVector<ReceivedMessage> received = server.Received(1);
    ASSERT_EQ(received.size(), 1) << Describe(received).toStdString();
    EXPECT_TRUE(received[0].Value("command").startsWith("marker-"));
    EXPECT_TRUE(client.Statuses.isEmpty());

    // When that connection ends, nothing takes its place.
    ASSERT_TRUE(server.Control("drop now"));
    ASSERT_TRUE(WaitFor([&] { return client.EndedWith.size() == 1; }));
    for (int i = 0; i < 4; ++i)
        stepped.Tick();
    EXPECT_EQ(client.Main->Conversation(), nullptr);
    EXPECT_EQ(client.Connections->Created, 1);
    EXPECT_EQ(client.Connections->Alive, 0);
}

#endif
