// One row per fault of the server or the network, each against the reference
// server over real TCP with the client's own 500 ms timer running: what the
// user is shown, and that the client recovers by itself (a new session logs
// in and alerts flow again) without being restarted.
#include "ReferenceServer.h"
#include "TestEnvironment.h"
#include <QDateTime>
#include <QSet>
#include <gtest/gtest.h>
#include <algorithm>

#ifdef TAVISK_SERVER_BIN

using namespace ReferenceServerKit;
using namespace std::chrono_literals;
using TestEnvironment::WaitFor;

namespace {

const QString UnexpectedDisconnect = "Unexpected disconnect from server.";
const QString Refused = "Connection refused";
const QString ClosedUnanswered = "The server closed the connection without answering "
                                 "(does it expect TLS?).";
// What the user sees while the client tries again after such an end.
const QString LostStatus = "Unexpected disconnect from server; trying again";
const QString RefusedStatus = "Connection refused; trying again";
const QString ClosedUnansweredStatus = "The server closed the connection without answering "
                                       "(does it expect TLS?); trying again";

bool StartsWith(const QStringList& lines, const QString& prefix)
{
    return std::any_of(lines.begin(), lines.end(), [&](const QString& line) { return line.startsWith(prefix); });
}

class FaultMatrixTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Server = std::make_unique<ReferenceServer>(TAVISK_SERVER_BIN);
        ASSERT_TRUE(Server->Start({"--rate", "20"}, InitialPort()));
        Client = std::make_unique<ClientProbe>(Server->Address());
        Client->Main->AddCategory("strike");
        Client->LogIn("trader", "pw");
        ASSERT_TRUE(Client->WaitForStatus("Connected!"));
        ASSERT_TRUE(Client->WaitForMoreAlerts(3));
        SessionId = Client->Main->SessionId();
        ASSERT_FALSE(SessionId.isEmpty());
        ASSERT_TRUE(Client->SyncWith(*Server));
        ASSERT_EQ(Server->ReceivedCommands("login").size(), 1);
        MarkFault();
    }
    virtual quint16 InitialPort() const { return 0; }
    void TearDown() override
    {
        Client.reset();
        Server.reset();
    }

    // Everything after this belongs to the fault and the recovery from it.
    void MarkFault()
    {
        LoginsBefore = Server->ReceivedCommands("login").size();
        EndedBefore = Client->EndedWith.size();
        StatusesBefore = Client->Statuses.size();
        CreatedBefore = Client->Connections->Created;
    }
    QStringList EndedSinceFault() const { return Client->EndedWith.mid(EndedBefore); }
    QStringList StatusesSinceFault() const { return Client->Statuses.mid(StatusesBefore); }

    // A new conversation logs in on a new server session and the alerts of
    // that session reach the callbacks, unchanged and in order.
    void ExpectRecovery(const QByteArray& expectedSessionId)
    {
        ASSERT_TRUE(WaitFor([&] { return Server->ReceivedCommands("login").size() > LoginsBefore; }, 15s));
        const ReceivedMessage login = Server->ReceivedCommands("login").last();
        EXPECT_EQ(login.Value("session_id"), expectedSessionId);
        EXPECT_GT(Client->Connections->Created, CreatedBefore);
        ASSERT_TRUE(WaitFor([&] { return Server->Sent(login.Session, 8).size() >= 3; }, 15s));
        const QVector<SentFrame> fresh = Server->Sent(login.Session, 8);
        ASSERT_TRUE(WaitFor([&] {
            return std::find(Client->Alerts.begin(), Client->Alerts.end(), fresh[2].Payload) != Client->Alerts.end();
        }));
        const auto first = std::find(Client->Alerts.begin(), Client->Alerts.end(), fresh[0].Payload);
        ASSERT_NE(first, Client->Alerts.end());
        ASSERT_GE(Client->Alerts.end() - first, 3);
        EXPECT_EQ(first[1], fresh[1].Payload);
        EXPECT_EQ(first[2], fresh[2].Payload);
        // Nothing piles up: the old conversations are gone.
        EXPECT_EQ(Client->Connections->Alive, 1);
    }

    // Sends the control command and returns once the conversation ended with
    // Reason, which the user was then shown.
    void InjectAndExpectEnd(const QByteArray& control, const QString& reason, const QString& status)
    {
        ASSERT_TRUE(Server->Control(control));
        ASSERT_TRUE(WaitFor([&] { return !EndedSinceFault().isEmpty(); }));
        EXPECT_EQ(EndedSinceFault().first(), reason);
        EXPECT_EQ(StatusesSinceFault().value(0), status);
    }

    // Network and server failures are no programming errors: none reaches the debug log.
    void ExpectNothingReported() const
    {
        EXPECT_TRUE(Client->DebugLines.isEmpty()) << Client->DebugLines.join('\n').toStdString();
    }

    // A frame the server cut in half never reaches a window, whole or in part.
    void ExpectNoCutFrameDelivered() const
    {
        for (const QByteArray& alert : Client->Alerts)
            EXPECT_FALSE(alert.startsWith("cut\r\n"));
    }

    std::unique_ptr<ReferenceServer> Server;
    std::unique_ptr<ClientProbe> Client;
    QByteArray SessionId;
    qsizetype LoginsBefore = 0;
    qsizetype EndedBefore = 0;
    qsizetype StatusesBefore = 0;
    int CreatedBefore = 0;
};

// The client will dial a port where nothing listens, again and again.
class FaultMatrixOnFixedPortTest : public FaultMatrixTest {
protected:
    quint16 InitialPort() const override { return FreePortOutsideEphemeralRange(); }
};

// Every attempt is let in and closed unread: the session that was dropped
// ends with "Unexpected disconnect from server.", each attempt after it with
// the server closing without an answer, which the status shows and keeps
// (a TLS server meeting a plain client does the same); once the server reads
// preambles again, "Connected!".
TEST_F(FaultMatrixTest, DropBeforeThePreambleIsRead)
{
    ASSERT_TRUE(Server->Control("drop-preamble on"));
    ASSERT_TRUE(Server->Control("drop now"));
    ASSERT_TRUE(Client->WaitForStatus(ClosedUnansweredStatus, 30s));
    ASSERT_TRUE(WaitFor([&] { return Server->CountLogLines("dropped before its preamble") >= 3; }, 10s));
    ASSERT_GE(EndedSinceFault().size(), 3);
    EXPECT_EQ(EndedSinceFault().first(), UnexpectedDisconnect);
    for (const QString& reason : EndedSinceFault().mid(1))
        EXPECT_EQ(reason, ClosedUnanswered);
    EXPECT_EQ(StatusesSinceFault().value(0), LostStatus);
    EXPECT_EQ(Client->Main->Status(), ClosedUnansweredStatus);
    EXPECT_LE(Client->Connections->Alive, 1);

    ASSERT_TRUE(Server->Control("drop-preamble off"));
    ExpectRecovery(SessionId);
    EXPECT_TRUE(Client->WaitForStatus("Connected!"));
    ExpectNothingReported();
}

// Half of a compressed burst, then the end: "Unexpected disconnect from server."
TEST_F(FaultMatrixTest, DropInsideABurst)
{
    InjectAndExpectEnd("drop burst", UnexpectedDisconnect, LostStatus);
    ExpectRecovery(SessionId);
    ExpectNoCutFrameDelivered();
    ExpectNothingReported();
}

// A complete burst holding half a frame, then the end: "Unexpected disconnect from server."
TEST_F(FaultMatrixTest, DropInsideAFrame)
{
    InjectAndExpectEnd("drop frame", UnexpectedDisconnect, LostStatus);
    ExpectRecovery(SessionId);
    ExpectNoCutFrameDelivered();
    ExpectNothingReported();
}

// A plain drop of a logged-in session: "Unexpected disconnect from server.";
// the new login asks for the same session, and the server resumes it.
TEST_F(FaultMatrixTest, DropAfterLogin)
{
    InjectAndExpectEnd("drop now", UnexpectedDisconnect, LostStatus);
    ExpectRecovery(SessionId);
    EXPECT_TRUE(Server->WaitForLog("resumed session " + SessionId));
    EXPECT_EQ(Client->Main->SessionId(), SessionId);
    ExpectNothingReported();
}

// Pings stay unanswered and alerts come too seldom to speak for the server:
// on the 25th tick the user sees "Disconnected."; once pings are answered
// again the status comes back. (Alerts alone keep a session alive: a server
// working through a backlog answers pings late.)
TEST_F(FaultMatrixTest, ServerFallsSilent)
{
    ASSERT_TRUE(Server->Control("stall-pings on"));
    ASSERT_TRUE(Server->Control("rate 0.01"));
    ASSERT_TRUE(Client->WaitForStatusChange([](const QString& s) { return s == "Disconnected."; }, 30s));
    ASSERT_TRUE(Server->Control("rate 20"));
    ASSERT_TRUE(Server->Control("stall-pings off"));
    ExpectRecovery(SessionId);
    EXPECT_TRUE(Client->WaitForStatusChange(
        [](const QString& s) { return s == "Connected!" || s.startsWith("Working:  "); }, 15s));
    // Torn down by the watchdog, not by the server: no conversation reported an end.
    EXPECT_TRUE(EndedSinceFault().isEmpty()) << EndedSinceFault().join('|').toStdString();
    ExpectNothingReported();
}

// Bytes no inflater accepts: the conversation ends with "Invalid data from
// server: data error" and the debug log shows the zlib error.
TEST_F(FaultMatrixTest, CorruptCompressedBytes)
{
    InjectAndExpectEnd("corrupt", "Invalid data from server: data error",
                       "Invalid data from server: data error; trying again");
    EXPECT_TRUE(StartsWith(Client->DebugLines, "Class=EZlibError, Message=data error, Location=TalkWithServer, "
                                               "TTalkWithServer.ServerConnectionDataAvailable"))
        << Client->DebugLines.join('\n').toStdString();
    ExpectRecovery(SessionId);
}

// A frame header announcing 2 GB: refused at once, not waited for:
// "Invalid data from server: invalid frame length 2147483647".
TEST_F(FaultMatrixTest, OversizedFrame)
{
    InjectAndExpectEnd("oversize", "Invalid data from server: invalid frame length 2147483647",
                       "Invalid data from server: invalid frame length 2147483647; trying again");
    EXPECT_TRUE(StartsWith(Client->DebugLines, "Class=EInvalidFrame"));
    ExpectRecovery(SessionId);
}

// A negative frame length: "Invalid data from server: invalid frame length -1".
TEST_F(FaultMatrixTest, NegativeFrameLength)
{
    InjectAndExpectEnd("negative-length", "Invalid data from server: invalid frame length -1",
                       "Invalid data from server: invalid frame length -1; trying again");
    EXPECT_TRUE(StartsWith(Client->DebugLines, "Class=EInvalidFrame"));
    ExpectRecovery(SessionId);
}

// STOP: the user sees the server's reason; the client stays away until the
// user logs in again (same name and password), which starts a fresh session.
TEST_F(FaultMatrixTest, ServerAnswersStop)
{
    ASSERT_TRUE(Server->Control("stop Closed for maintenance"));
    ASSERT_TRUE(Client->WaitForStatus("Closed for maintenance"));
    EXPECT_TRUE(Client->Main->Stopped());
    // Six of the client's own ticks after the connection ended it has not tried again.
    ASSERT_TRUE(Server->Control("drop now"));
    ASSERT_TRUE(WaitFor([&] { return !EndedSinceFault().isEmpty(); }));
    EXPECT_FALSE(WaitFor([&] { return Client->Connections->Created > CreatedBefore; }, 3s));
    EXPECT_EQ(Client->Main->Status(), "Closed for maintenance");

    Client->LogIn("trader", "pw");
    ExpectRecovery("");
    EXPECT_TRUE(Client->WaitForStatus("Connected!"));
    ExpectNothingReported();
}

// The server dies and a new one starts on the same port: the old session
// ends with "Unexpected disconnect from server.", attempts in between with
// "Connection refused" (and the user is told so), and the client logs in to
// the new server by itself, offering the session id the old one gave.
TEST_F(FaultMatrixOnFixedPortTest, ServerRestartsOnTheSamePort)
{
    const quint16 port = Server->Port();
    Server->Kill();
    ASSERT_TRUE(WaitFor([&] { return EndedSinceFault().size() >= 3; }));
    EXPECT_EQ(EndedSinceFault().first(), UnexpectedDisconnect);
    EXPECT_EQ(EndedSinceFault().last(), Refused);
    EXPECT_EQ(StatusesSinceFault(), QStringList({LostStatus, RefusedStatus}));
    EXPECT_LE(Client->Connections->Alive, 1);

    Server = std::make_unique<ReferenceServer>(TAVISK_SERVER_BIN);
    ASSERT_TRUE(Server->Start({"--rate", "20"}, port));
    LoginsBefore = 0;
    ExpectRecovery(SessionId);
    EXPECT_TRUE(Server->WaitForLog("asked for unknown session " + SessionId));
    EXPECT_TRUE(WaitFor([&] { return Client->Main->SessionId() != SessionId && !Client->Main->SessionId().isEmpty(); }));
    ExpectNothingReported();
}

// Every kind of drop, one after the other: each time a new session logs in
// and its alerts arrive; in the end every alert any window was given is one
// the server sent whole.
TEST_F(FaultMatrixTest, RepeatedDropsOfEveryKind)
{
    for (const char* how : {"now", "burst", "frame", "frame", "burst", "now"}) {
        MarkFault();
        ASSERT_TRUE(Server->Control(QByteArray("drop ") + how));
        ExpectRecovery(SessionId);
    }
    ASSERT_TRUE(WaitFor([&] {
        qsizetype sent = 0;
        for (const ReceivedMessage& login : Server->ReceivedCommands("login"))
            sent += Server->Sent(login.Session, 8).size();
        return sent >= static_cast<qsizetype>(Client->Alerts.size());
    }));
    QSet<QByteArray> whole;
    for (const ReceivedMessage& login : Server->ReceivedCommands("login"))
        for (const SentFrame& frame : Server->Sent(login.Session, 8))
            whole.insert(frame.Payload);
    for (const QByteArray& alert : Client->Alerts)
        EXPECT_TRUE(whole.contains(alert)) << alert.left(80).toStdString();
    ExpectNoCutFrameDelivered();
    ExpectNothingReported();
}

// A server that drops every connection at odd moments (right after the
// accept, during the login, between alerts, inside bursts and frames) for a
// while and is then replaced by a well-behaved one on the same port: every
// alert a window was given is one the server sent whole, nothing reaches the
// debug log, and the client settles on a working session by itself.
TEST_F(FaultMatrixOnFixedPortTest, DropsAtRandomMomentsForAWhile)
{
    QSet<QByteArray> whole;
    const auto collectWholeAlerts = [&] {
        for (const ReceivedMessage& login : Server->ReceivedCommands("login"))
            for (const SentFrame& frame : Server->Sent(login.Session, 8))
                whole.insert(frame.Payload);
    };
    const quint16 port = Server->Port();
    Server->Kill();
    collectWholeAlerts();
    Server = std::make_unique<ReferenceServer>(TAVISK_SERVER_BIN);
    ASSERT_TRUE(Server->Start({"--rate", "20", "--seed", "5", "--drop-every-ms", "300", "--drop-jitter-ms", "250",
                               "--drop-how", "frame"},
                              port));
    ASSERT_TRUE(Server->WaitForLog("closing: drop-every-ms", 12, 20s));
    Server->Kill();
    collectWholeAlerts();
    const std::size_t alertsDuringDrops = Client->Alerts.size();
    for (std::size_t i = 0; i < alertsDuringDrops; ++i)
        EXPECT_TRUE(whole.contains(Client->Alerts[i])) << Client->Alerts[i].left(80).toStdString();
    ExpectNoCutFrameDelivered();

    const QByteArray lastSessionId = Client->Main->SessionId();
    Server = std::make_unique<ReferenceServer>(TAVISK_SERVER_BIN);
    ASSERT_TRUE(Server->Start({"--rate", "20"}, port));
    LoginsBefore = 0;
    ExpectRecovery(lastSessionId);
    ExpectNothingReported();
}

// No server at all: one attempt per tick, each ending with "Connection
// refused", nothing accumulates, and the user is told so from the first
// attempt on, without flicker (the watchdog finds no conversation to tear
// down); the first tick after a server appears logs in.
TEST(FaultMatrixStepped, RefusedConnectionsAreRetriedEveryTickWithoutGrowingAnything)
{
    const quint16 port = FreePortOutsideEphemeralRange();
    ASSERT_NE(port, 0);

    const QByteArray address = "127.0.0.1:" + QByteArray::number(port);
    TMainConnectionDependencies stepped;
    stepped.Timer = false;
    ClientProbe client(address, {}, stepped);
    client.Main->AddCategory("strike");
    client.LogIn("trader", "pw");
    ASSERT_TRUE(WaitFor([&] { return client.EndedWith.size() == 1; }));
    constexpr int Ticks = 30;
    for (int tick = 1; tick <= Ticks; ++tick) {
        client.Main->Tick();
        ASSERT_TRUE(WaitFor([&] { return client.EndedWith.size() == tick + 1; })) << tick;
        EXPECT_EQ(client.Connections->Created, tick + 1);
        EXPECT_EQ(client.Connections->Alive, 1);
        EXPECT_EQ(client.Main->MissedTicks(), tick % 25) << tick;
        EXPECT_EQ(client.Statuses, QStringList({"Connecting to " + address + "...", RefusedStatus})) << tick;
    }
    for (const QString& reason : client.EndedWith)
        EXPECT_EQ(reason, Refused);
    EXPECT_TRUE(client.DebugLines.isEmpty()) << client.DebugLines.join('\n').toStdString();

    ReferenceServer server(TAVISK_SERVER_BIN);
    ASSERT_TRUE(server.Start({"--rate", "20"}, port));
    client.Main->Tick();
    ASSERT_TRUE(client.WaitForStatus("Connected!"));
    ASSERT_TRUE(client.WaitForMoreAlerts(3));
    EXPECT_EQ(client.Connections->Created, Ticks + 2);
}

// A working session whose server vanishes: the user is told at once, not
// left with a "Connected!" that is no longer true, and is told why each
// attempt fails for as long as the outage lasts.
TEST(FaultMatrixStepped, AnOutageIsShownAtOnceAndForAsLongAsItLasts)
{
    auto server = std::make_unique<ReferenceServer>(TAVISK_SERVER_BIN);
    ASSERT_TRUE(server->Start({"--rate", "20"}, FreePortOutsideEphemeralRange()));
    const quint16 port = server->Port();
    QDateTime now(QDate(2026, 12, 7), QTime(10, 0, 0));
    TMainConnectionDependencies stepped;
    stepped.Timer = false;
    stepped.Clock = [&] { return now; };
    ClientProbe client(server->Address(), {}, stepped);
    client.Main->AddCategory("strike");
    client.LogIn("trader", "pw");
    ASSERT_TRUE(client.WaitForStatus("Connected!"));

    server->Kill();
    ASSERT_TRUE(WaitFor([&] { return client.EndedWith.size() == 1; }));
    EXPECT_EQ(client.EndedWith[0], UnexpectedDisconnect);
    EXPECT_EQ(client.Main->Status(), LostStatus);
    for (int tick = 1; tick <= 26; ++tick) {
        now = now.addMSecs(500);
        client.Main->Tick();
        ASSERT_TRUE(WaitFor([&] { return client.EndedWith.size() == tick + 1; })) << tick;
        EXPECT_EQ(client.EndedWith.last(), Refused);
        EXPECT_EQ(client.Main->Status(), RefusedStatus) << tick;
    }

    server = std::make_unique<ReferenceServer>(TAVISK_SERVER_BIN);
    ASSERT_TRUE(server->Start({"--rate", "20"}, port));
    client.Main->Tick();
    ASSERT_TRUE(client.WaitForStatus("Connected!"));
    ASSERT_TRUE(client.WaitForMoreAlerts(3));
}

} // namespace

#endif
