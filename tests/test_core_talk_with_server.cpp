// The conversation over a scripted connection: request table, the outgoing
// compressed bursts, frame delivery, failures and destruction.
#include "ScriptedServerConnection.h"
#include "base/Assertions.h"
#include "base/DebugLog.h"
#include "Shared/HttpTunnels.h"
#include "Shared/ServerConnectionFactory.h"
#include "Shared/SocketServerConnections.h"
#include "Shared/TalkWithServer.h"
#include "LocalProxy.h"
#include "TestEnvironment.h"
#include "WireTestKit.h"
#include <QCoreApplication>
#include <QRandomGenerator>
#include <QStringList>
#include <gtest/gtest.h>
#include <deque>
#include <stdexcept>

using namespace WireTestKit;

namespace {

struct Response {
    bool Success;
    QByteArray Text;
    TMessageToServer Message;
};

void DeliverPosted()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::sendPostedEvents();
}

TMessageToServer Ping() { return BuildMessage({"command", "ping", "response", '1'}); }
TMessageToServer Command(const char* name) { return BuildMessage({"command", name}); }

class TalkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sink = std::make_unique<TDebugSinkScope>([this](const QString& line) { log.append(line); });
        TConnectionSettings settings;
        settings.Address = "alerts.example:9339";
        talk = std::make_unique<TTalkWithServer>(settings);
        talk->ConnectionFactory = ScriptedServerConnection::FactoryInto(&connection);
    }
    void TearDown() override
    {
        if (talk) {
            talk->OnConnected = nullptr;
            talk->OnDisconnected = nullptr;
            talk->OnResponse = nullptr;
            talk->OnDebugText = nullptr;
        }
        talk.reset();
        DeliverPosted();
        sink.reset();
    }

    void Open()
    {
        talk->Connect();
        connection->ReportConnected();
    }

    // Response lists that outlive the conversation (its destruction still
    // answers whatever waits).
    QVector<Response>& Box() { return boxes.emplace_back(); }

    TResponseCallback Record(QVector<Response>& into)
    {
        return [&into](bool success, const QByteArray& text, const TMessageToServer& message) {
            into.append(Response{success, text, message});
        };
    }

    // Messages the client has sent since the last call (after the wake-up).
    QVector<TMessageToServer> SentMessages()
    {
        DeliverPosted();
        const QVector<QByteArray>& sends = connection->Sends();
        for (; consumedSends < sends.size(); ++consumedSends)
            decoder.Feed(sends[consumedSends]);
        EXPECT_EQ(decoder.Error(), "");
        return decoder.TakeMessages();
    }

    std::unique_ptr<TDebugSinkScope> sink;
    std::unique_ptr<TTalkWithServer> talk;
    ScriptedServerConnection* connection = nullptr;
    ServerStreamEncoder server;
    ClientStreamDecoder decoder;
    qsizetype consumedSends = 0;
    QStringList log;
    std::deque<QVector<Response>> boxes;
};

TEST_F(TalkTest, StartsUnconnectedWithThePreambleQueued)
{
    EXPECT_EQ(talk->State(), TTalkWithServer::NotConnected);
    EXPECT_EQ(talk->ErrorText(), "Unable to connect to server.");
    EXPECT_EQ(talk->Connection(), nullptr);
    talk->Connect();
    EXPECT_EQ(talk->ErrorText(), "Error in server connection.");
    EXPECT_EQ(connection->ConnectCalls, 1);
    EXPECT_TRUE(connection->Sends().isEmpty());
    connection->ReportConnected();
    ASSERT_EQ(connection->Sends().size(), 1);
    EXPECT_EQ(connection->Sends()[0], QByteArray(Preamble));
    EXPECT_EQ(talk->State(), TTalkWithServer::Connected);
    EXPECT_EQ(talk->ErrorText(), "Unexpected disconnect from server.");
}

TEST_F(TalkTest, IdsTakeTheHighestFreeSlotAndTheTableDoubles)
{
    Open();
    auto& responses = Box();
    QVector<qint32> ids;
    QVector<qint64> serials;
    for (int i = 0; i < 16; ++i) {
        const TRequestHandle handle = talk->SendMessage(Ping(), false, Record(responses));
        ids.append(handle.Id);
        serials.append(handle.Serial);
    }
    EXPECT_EQ(ids, (QVector<qint32>{1, 8, 7, 6, 5, 4, 3, 2, 9, 16, 15, 14, 13, 12, 11, 10}));
    EXPECT_EQ(talk->RequestTableLength(), 16);
    for (int i = 1; i < serials.size(); ++i)
        EXPECT_EQ(serials[i], serials[i - 1] + 1) << "one process-wide counter, one step per request";

    // Answering frees non-persistent slots; the freed slot with the highest index goes first.
    connection->Deliver(server.Burst(Frame(3, "a") + Frame(7, "b")));
    EXPECT_EQ(talk->SendMessage(Ping(), false, Record(responses)).Id, 7);
    EXPECT_EQ(talk->SendMessage(Ping(), false, Record(responses)).Id, 3);
    EXPECT_EQ(talk->SendMessage(Ping(), false, Record(responses)).Id, 17);
    EXPECT_EQ(talk->RequestTableLength(), 32);
}

TEST_F(TalkTest, FireAndForgetHasNoIdAndNoSlot)
{
    Open();
    const TRequestHandle handle = talk->SendMessage(Command("note"), false, nullptr);
    EXPECT_EQ(handle.Id, 0);
    EXPECT_EQ(handle.Serial, 0);
    EXPECT_EQ(talk->RequestTableLength(), 0);
    const auto sent = SentMessages();
    ASSERT_EQ(sent.size(), 1);
    ASSERT_EQ(sent[0].size(), 1);
    EXPECT_EQ(sent[0][0].Key, "command");
    EXPECT_EQ(sent[0][0].Value, "note");
}

TEST_F(TalkTest, MessageBytesMatchTheWireForm)
{
    Open();
    auto& responses = Box();
    for (int i = 0; i < 6; ++i) // ids 1, 8, 7, 6, 5, 4
        talk->SendMessage(Command("fill"), false, Record(responses));
    DeliverPosted();
    Inflater inflater;
    const QByteArray stream = connection->AllSent().mid(qsizetype(sizeof Preamble) - 1);
    const qsizetype before = inflater.Feed(stream).size();
    const qsizetype sendsBefore = connection->Sends().size();

    EXPECT_EQ(talk->SendMessage(Ping(), false, Record(responses)).Id, 3);
    DeliverPosted();
    QByteArray later;
    for (qsizetype i = sendsBefore; i < connection->Sends().size(); ++i)
        later += connection->Sends()[i];
    const QByteArray plain = inflater.Feed(later);
    ASSERT_GT(before, 0);
    const QByteArray expected = QByteArray::fromHex("0A000000") + "message_id" + QByteArray::fromHex("01000000") +
                                "3" + QByteArray::fromHex("07000000") + "command" + QByteArray::fromHex("04000000") +
                                "ping" + QByteArray::fromHex("08000000") + "response" +
                                QByteArray::fromHex("01000000") + "1" + QByteArray::fromHex("00000000");
    EXPECT_EQ(plain.toHex(), expected.toHex());
}

TEST_F(TalkTest, EmptyKeysAreSkippedAndEmptyValuesWrittenAsZeroLength)
{
    Open();
    talk->SendMessage(BuildMessage({"", "ignored", "key", ""}), false, nullptr);
    DeliverPosted();
    Inflater inflater;
    const QByteArray plain = inflater.Feed(connection->AllSent().mid(qsizetype(sizeof Preamble) - 1));
    EXPECT_EQ(plain.toHex(), (Int32(3) + "key" + Int32(0) + Int32(0)).toHex());
}

TEST_F(TalkTest, MessagesBeforeConnectLeaveInOrderInOneSendAfterThePreamble)
{
    auto& responses = Box();
    talk->SendMessage(Command("login"), true, Record(responses));
    talk->SendMessage(Command("listen_for_alerts"), true, Record(responses));
    DeliverPosted(); // the first burst is flushed while still unconnected
    talk->SendMessage(Ping(), false, Record(responses));
    DeliverPosted();
    int connectedCalls = 0;
    qsizetype sendsWhenConnectedRaised = -1;
    talk->OnConnected = [&] {
        ++connectedCalls;
        sendsWhenConnectedRaised = connection->Sends().size();
    };
    talk->Connect();
    EXPECT_TRUE(connection->Sends().isEmpty());
    connection->ReportConnected();
    EXPECT_EQ(connectedCalls, 1);
    ASSERT_EQ(connection->Sends().size(), 1);
    EXPECT_EQ(sendsWhenConnectedRaised, 1) << "the queued output goes out before OnConnected";
    EXPECT_TRUE(connection->Sends()[0].startsWith(Preamble));
    const auto sent = SentMessages();
    ASSERT_EQ(sent.size(), 3);
    EXPECT_EQ(ValueOf(sent[0], "command"), "login");
    EXPECT_EQ(ValueOf(sent[0], "message_id"), "1");
    EXPECT_EQ(ValueOf(sent[1], "command"), "listen_for_alerts");
    EXPECT_EQ(ValueOf(sent[1], "message_id"), "8");
    EXPECT_EQ(ValueOf(sent[2], "command"), "ping");
    EXPECT_EQ(connection->Sends().size(), 1) << "nothing more was waiting";
}

TEST_F(TalkTest, OneSyncFlushedBurstPerPassOfTheLoop)
{
    Open();
    const qsizetype afterPreamble = connection->Sends().size();
    talk->SendMessage(Command("one"), false, nullptr);
    talk->SendMessage(Command("two"), false, nullptr);
    talk->SendMessage(Command("three"), false, nullptr);
    EXPECT_EQ(connection->Sends().size(), afterPreamble) << "nothing leaves inside SendMessage";
    DeliverPosted();
    ASSERT_EQ(connection->Sends().size(), afterPreamble + 1);
    const QByteArray burst = connection->Sends().last();
    EXPECT_TRUE(burst.endsWith(QByteArray::fromHex("0000ffff"))) << "a sync flush ends the burst";
    const auto sent = SentMessages();
    ASSERT_EQ(sent.size(), 3);
    EXPECT_EQ(decoder.PartialBytes(), 0) << "every message of the burst can be inflated at once";
    EXPECT_EQ(ValueOf(sent[2], "command"), "three");
}

TEST_F(TalkTest, LargeOutputLeavesEarlyOnceFiveThousandBytesPileUp)
{
    Open();
    const qsizetype afterPreamble = connection->Sends().size();
    QRandomGenerator random(7);
    QByteArray noise(30000, Qt::Uninitialized);
    for (char& c : noise)
        c = static_cast<char>(random.bounded(256));
    talk->SendMessage(BuildMessage({"command", "blob", "data", noise}), false, nullptr);
    const qsizetype early = connection->Sends().size() - afterPreamble;
    EXPECT_GE(early, 1) << "incompressible output must not wait for the wake-up";
    for (qsizetype i = afterPreamble; i < connection->Sends().size(); ++i)
        EXPECT_GE(connection->Sends()[i].size(), 5000);
    const auto sent = SentMessages();
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(ValueOf(sent[0], "data"), noise);
}

class ReceiveTest : public TalkTest {
protected:
    void SetUp() override
    {
        TalkTest::SetUp();
        Open();
    }
};

TEST_F(ReceiveTest, FrameSplitAcrossReadsIsDeliveredOnceWhenComplete)
{
    auto& responses = Box();
    const qint32 id = talk->SendMessage(Ping(), false, Record(responses)).Id;
    const QByteArray compressed = server.Burst(Frame(id, "pong text"));
    connection->Deliver(compressed.left(5));
    connection->Deliver(compressed.mid(5, 6));
    EXPECT_TRUE(responses.isEmpty());
    connection->Deliver(compressed.mid(11));
    ASSERT_EQ(responses.size(), 1);
    EXPECT_TRUE(responses[0].Success);
    EXPECT_EQ(responses[0].Text, "pong text");
    EXPECT_EQ(DescribeMessage(responses[0].Message), DescribeMessage(Ping()));
}

TEST_F(ReceiveTest, FrameHeaderSplitInPlainBytesWaitsForTheRest)
{
    auto& responses = Box();
    const qint32 id = talk->SendMessage(Ping(), false, Record(responses)).Id;
    const QByteArray frame = Frame(id, "abc");
    connection->Deliver(server.Burst(frame.left(6)));
    connection->Deliver(server.Burst(frame.mid(6, 4)));
    EXPECT_TRUE(responses.isEmpty());
    connection->Deliver(server.Burst(frame.mid(10)));
    ASSERT_EQ(responses.size(), 1);
    EXPECT_EQ(responses[0].Text, "abc");
}

TEST_F(ReceiveTest, FramesInOneReadAreDeliveredInOrderAndEmptyPayloadIsASuccess)
{
    auto& first = Box();
    auto& second = Box();
    auto& third = Box();
    const qint32 a = talk->SendMessage(Command("a"), false, Record(first)).Id;
    const qint32 b = talk->SendMessage(Command("b"), false, Record(second)).Id;
    const qint32 c = talk->SendMessage(Command("c"), false, Record(third)).Id;
    QStringList order;
    talk->OnResponse = [&](bool, const QByteArray& text, const TMessageToServer&) { order.append(text); };
    // The last frame is a bare header: the read ends exactly where it does.
    connection->Deliver(server.Burst(Frame(b, "") + Frame(a, "first") + Frame(c, "")));
    ASSERT_EQ(first.size(), 1);
    ASSERT_EQ(second.size(), 1);
    EXPECT_TRUE(second[0].Success);
    EXPECT_TRUE(second[0].Text.isEmpty());
    ASSERT_EQ(third.size(), 1);
    EXPECT_TRUE(third[0].Success);
    EXPECT_EQ(order, (QStringList{"", "first", ""}));
}

// Forty alerts in one read, sixteen per pass of the event loop.
class BacklogTest : public ReceiveTest {
protected:
    void SetUp() override
    {
        ReceiveTest::SetUp();
        talk->ReceivePass = {16, 0};
        alerts = &Box();
        id = talk->SendMessage(Command("listen"), true, Record(*alerts)).Id;
        QByteArray frames;
        for (int i = 0; i < 40; ++i)
            frames += Frame(id, "alert " + QByteArray::number(i));
        connection->Deliver(server.Burst(frames));
    }
    void ExpectInOrder(qsizetype count) const
    {
        for (qsizetype i = 0; i < count; ++i)
            EXPECT_EQ((*alerts)[i].Text, "alert " + QByteArray::number(i));
    }
    QVector<Response>* alerts = nullptr;
    qint32 id = 0;
};

TEST_F(BacklogTest, AReadLongerThanAPassWaitsForTheNextPassAndThePipeIsNotReadMeanwhile)
{
    EXPECT_EQ(alerts->size(), 16);
    const int reads = connection->ReadAllCalls;
    connection->Deliver(server.Burst(Frame(id, "later")));
    EXPECT_EQ(connection->ReadAllCalls, reads);
    EXPECT_EQ(alerts->size(), 16);
    DeliverPosted();
    ASSERT_EQ(alerts->size(), 41);
    ExpectInOrder(40);
    EXPECT_EQ(alerts->last().Text, "later");
    EXPECT_EQ(connection->ReadAllCalls, reads + 1);
}

TEST_F(BacklogTest, APipeThatEndsWhileABacklogWaitsDeliversItBeforeFailingTheRequests)
{
    connection->ReportClosed();
    ASSERT_EQ(alerts->size(), 41);
    ExpectInOrder(40);
    EXPECT_FALSE(alerts->last().Success);
    DeliverPosted();
    EXPECT_EQ(alerts->size(), 41);
}

TEST_F(ReceiveTest, UnknownAndCancelledIdsAreDroppedAndTheNextFrameStillArrives)
{
    auto& cancelled = Box();
    auto& kept = Box();
    const TRequestHandle gone = talk->SendMessage(Command("a"), false, Record(cancelled));
    const TRequestHandle stays = talk->SendMessage(Command("b"), false, Record(kept));
    talk->CancelResponse(TRequestHandle{gone.Id, gone.Serial + 1000}); // stale serial: no effect
    talk->CancelResponse(gone);
    const TRequestHandle next = talk->SendMessage(Command("c"), false, Record(kept));
    EXPECT_NE(next.Id, gone.Id) << "a cancelled request keeps its slot until answered";
    connection->Deliver(server.Burst(Frame(gone.Id, "x") + Frame(0, "y") + Frame(-4, "z") + Frame(99, "w") +
                                     Frame(stays.Id, "delivered")));
    EXPECT_TRUE(cancelled.isEmpty());
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(kept[0].Text, "delivered");
    // Seven free slots now (the answer freed the cancelled one): the table does not grow.
    qint32 last = 0;
    for (int i = 0; i < 7; ++i)
        last = talk->SendMessage(Command("d"), false, Record(kept)).Id;
    EXPECT_EQ(last, gone.Id);
    EXPECT_EQ(talk->RequestTableLength(), 8);
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(ReceiveTest, PersistentRequestsKeepTheirSlotOneShotRequestsDoNot)
{
    auto& stream = Box();
    auto& once = Box();
    auto& later = Box();
    const qint32 persistent = talk->SendMessage(Command("listen_for_alerts"), true, Record(stream)).Id;
    const TRequestHandle answered = talk->SendMessage(Ping(), false, Record(once));
    const qint32 oneShot = answered.Id;
    connection->Deliver(server.Burst(Frame(persistent, "1") + Frame(oneShot, "pong") + Frame(persistent, "2")));
    connection->Deliver(server.Burst(Frame(oneShot, "again") + Frame(persistent, "3")));
    ASSERT_EQ(stream.size(), 3);
    EXPECT_EQ(stream[2].Text, "3");
    ASSERT_EQ(once.size(), 1);
    EXPECT_EQ(once[0].Text, "pong");
    // The freed id given to a new request receives the next frame with that id.
    EXPECT_EQ(talk->SendMessage(Ping(), false, Record(later)).Id, oneShot);
    talk->CancelResponse(answered); // a stale handle: its serial is not the new request's
    connection->Deliver(server.Burst(Frame(oneShot, "new owner")));
    ASSERT_EQ(later.size(), 1);
    EXPECT_EQ(later[0].Text, "new owner");
}

TEST_F(ReceiveTest, CallbackErrorsAreLoggedWithTheMessageAndDeliveryContinues)
{
    auto& kept = Box();
    const qint32 bad = talk->SendMessage(Ping(), false, [](bool, const QByteArray&, const TMessageToServer&) {
        throw std::runtime_error("callback broke");
    }).Id;
    const qint32 good = talk->SendMessage(Command("b"), false, Record(kept)).Id;
    connection->Deliver(server.Burst(Frame(bad, "x") + Frame(good, "y")));
    ASSERT_EQ(log.size(), 1);
    EXPECT_EQ(log[0], R"(Class=std::runtime_error, Message=callback broke, Location=TTalkWithServer.SendGoodResponse, ("command" --> "ping", "response" --> "1"))");
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(kept[0].Text, "y");
}

TEST_F(ReceiveTest, CallbacksMaySendFromInsideADelivery)
{
    auto& second = Box();
    const qint32 id = talk->SendMessage(Ping(), false, [&](bool, const QByteArray&, const TMessageToServer&) {
        talk->SendMessage(Command("follow_up"), false, Record(second));
    }).Id;
    SentMessages();
    connection->Deliver(server.Burst(Frame(id, "pong")));
    const auto sent = SentMessages();
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(ValueOf(sent[0], "command"), "follow_up");
}

TEST_F(ReceiveTest, OnResponseSeesGoodResponsesAndOneShotErrorsOnly)
{
    auto& observed = Box();
    auto& ignored = Box();
    talk->OnResponse = [&](bool success, const QByteArray& text, const TMessageToServer& message) {
        observed.append(Response{success, text, message});
    };
    const qint32 id = talk->SendMessage(Ping(), false, Record(ignored)).Id;
    talk->SendMessage(Command("listen_for_alerts"), true, Record(ignored));
    talk->SendMessage(Command("login"), false, Record(ignored));
    connection->Deliver(server.Burst(Frame(id, "pong")));
    connection->ReportClosed();
    ASSERT_EQ(observed.size(), 2) << "the persistent request's error response is not observed";
    EXPECT_TRUE(observed[0].Success);
    EXPECT_FALSE(observed[1].Success);
    EXPECT_EQ(ValueOf(observed[1].Message, "command"), "login");
}

class CorruptInputTest : public ReceiveTest {
protected:
    void ExpectEndedBy(const QString& errorText, const QString& logClass)
    {
        EXPECT_EQ(talk->State(), TTalkWithServer::Closed);
        EXPECT_EQ(talk->ErrorText(), errorText);
        EXPECT_EQ(connection->CloseCalls, 1);
        ASSERT_EQ(log.size(), 1);
        EXPECT_EQ(log[0], "Class=" + logClass + ", Message=" + errorText.mid(26) +
                              ", Location=TalkWithServer, TTalkWithServer.ServerConnectionDataAvailable");
        ASSERT_EQ(waiting.size(), 2) << "every waiting request gets one error response";
        for (const Response& r : waiting) {
            EXPECT_FALSE(r.Success);
            EXPECT_TRUE(r.Text.isEmpty());
        }
    }
    void SendTwo()
    {
        login = talk->SendMessage(Command("login"), true, Record(waiting)).Id;
        ping = talk->SendMessage(Ping(), false, Record(waiting)).Id;
    }
    QVector<Response>& waiting = Box();
    qint32 login = 0;
    qint32 ping = 0;
};

TEST_F(CorruptInputTest, BrokenCompressedStreamEndsTheConversation)
{
    SendTwo();
    connection->Deliver("this is not a zlib stream at all");
    ExpectEndedBy("Invalid data from server: data error", "EZlibError");
    connection->Deliver(server.Burst(Frame(login, "late")));
    EXPECT_EQ(waiting.size(), 2) << "nothing is decoded after the first error";
    EXPECT_EQ(log.size(), 1);
}

TEST_F(CorruptInputTest, FramesBufferedWithTheErrorAreDropped)
{
    SendTwo();
    QByteArray compressed = server.Burst(Frame(login, "ok") + Frame(ping, "lost"));
    compressed += "garbage after a good frame";
    connection->Deliver(compressed);
    ExpectEndedBy("Invalid data from server: data error", "EZlibError");
    EXPECT_EQ(waiting.size(), 2) << "no good response once the input proved corrupt";
}

TEST_F(CorruptInputTest, NegativeFrameLengthIsCorruptInput)
{
    SendTwo();
    connection->Deliver(server.Burst(Int32(login) + Int32(-5) + "xxxxxxxxxxxx" + Frame(ping, "after")));
    ExpectEndedBy("Invalid data from server: invalid frame length -5", "EInvalidFrame");
}

TEST_F(CorruptInputTest, HugeFrameLengthIsNotBufferedWithoutBound)
{
    SendTwo();
    connection->Deliver(server.Burst(Int32(login) + Int32(0x7fffffff) + "partial"));
    ExpectEndedBy("Invalid data from server: invalid frame length 2147483647", "EInvalidFrame");
}

TEST_F(CorruptInputTest, ConnectionReadErrorIsReportedTheSameWay)
{
    SendTwo();
    connection->FailReadAllWith("socket broke");
    connection->Deliver("");
    ExpectEndedBy("Invalid data from server: socket broke", "std::runtime_error");
}

TEST_F(TalkTest, ClosedOrEmptyRequestsAreRefusedInsideTheCall)
{
    Open();
    auto& refused = Box();
    const TRequestHandle empty = talk->SendMessage(BuildMessage({"", "x"}), false, Record(refused));
    EXPECT_EQ(empty.Id, 0);
    ASSERT_EQ(refused.size(), 1);
    EXPECT_FALSE(refused[0].Success);
    connection->ReportClosed();
    const qsizetype sendsBefore = connection->Sends().size();
    const TRequestHandle late = talk->SendMessage(Ping(), false, Record(refused));
    EXPECT_EQ(late.Id, 0);
    EXPECT_EQ(late.Serial, 0);
    ASSERT_EQ(refused.size(), 2);
    EXPECT_FALSE(refused[1].Success);
    talk->SendMessage(Ping(), false, nullptr);
    DeliverPosted();
    EXPECT_EQ(connection->Sends().size(), sendsBefore);
}

TEST_F(TalkTest, ServerCloseFailsEveryWaitingRequestOnceInIndexOrder)
{
    Open();
    QVector<qint32> failedIds;
    int disconnected = 0;
    talk->OnDisconnected = [&] { ++disconnected; };
    auto recordId = [&](qint32 tag) {
        return [&failedIds, tag](bool success, const QByteArray&, const TMessageToServer&) {
            EXPECT_FALSE(success);
            failedIds.append(tag);
        };
    };
    talk->SendMessage(Command("login"), true, recordId(1)); // id 1
    talk->SendMessage(Command("listen"), true, recordId(8)); // id 8
    talk->SendMessage(Ping(), false, recordId(7)); // id 7
    connection->ReportClosed();
    EXPECT_EQ(failedIds, (QVector<qint32>{1, 7, 8}));
    EXPECT_EQ(disconnected, 1);
    EXPECT_EQ(talk->RequestTableLength(), 0);
    EXPECT_EQ(talk->ErrorText(), "Unexpected disconnect from server.");
    connection->ReportConnected(); // a late report changes nothing
    EXPECT_EQ(talk->State(), TTalkWithServer::Closed);
    talk.reset();
    EXPECT_EQ(disconnected, 1) << "a second close report is harmless";
    EXPECT_EQ(failedIds.size(), 3);
}

TEST_F(TalkTest, ErrorResponseFailuresAreLoggedPerRequest)
{
    Open();
    auto& later = Box();
    talk->SendMessage(Command("a"), false, [](bool, const QByteArray&, const TMessageToServer&) {
        throw std::runtime_error("refused badly");
    });
    talk->SendMessage(Command("b"), false, Record(later));
    connection->ReportClosed();
    ASSERT_EQ(log.size(), 1);
    EXPECT_EQ(log[0], R"(Class=std::runtime_error, Message=refused badly, Location=TTalkWithServer.SendErrorResponse, ("command" --> "a"))");
    EXPECT_EQ(later.size(), 1);
}

TEST_F(TalkTest, ImmediateConnectFailureTakesTheConnectionsText)
{
    talk->ConnectionFactory = [this](TTalkWithServer& owner) {
        auto made = ScriptedServerConnection::FactoryInto(&connection)(owner);
        static_cast<ScriptedServerConnection*>(made.get())->FailConnectWith("TSocketServerConnection.Connect, X, y");
        return made;
    };
    auto& waiting = Box();
    int disconnected = 0;
    talk->OnDisconnected = [&] { ++disconnected; };
    talk->SendMessage(Command("login"), true, Record(waiting));
    talk->Connect();
    EXPECT_EQ(talk->State(), TTalkWithServer::Closed);
    EXPECT_EQ(talk->ErrorText(), "TSocketServerConnection.Connect, X, y");
    EXPECT_EQ(disconnected, 1);
    ASSERT_EQ(waiting.size(), 1);
    EXPECT_FALSE(waiting[0].Success);
}

TEST_F(TalkTest, ConnectionEndingBeforeItOpensKeepsItsReason)
{
    talk->Connect();
    connection->ErrorText = "DNS error";
    connection->ReportClosed();
    EXPECT_EQ(talk->State(), TTalkWithServer::Closed);
    EXPECT_EQ(talk->ErrorText(), "DNS error");
}

TEST_F(TalkTest, ConnectingTwiceIsAnAssertionFailure)
{
    talk->Connect();
    try {
        talk->Connect();
        FAIL() << "expected an assertion failure";
    } catch (const EAssertionFailed& e) {
        EXPECT_EQ(e.Text(), "Assertion failure");
        EXPECT_STREQ(e.Unit(), "Shared/TalkWithServer");
        EXPECT_EQ(e.Line(), 555);
    }
    EXPECT_EQ(connection->ConnectCalls, 1);
}

TEST_F(TalkTest, DebugTextIsPassedOn)
{
    QStringList texts;
    talk->OnDebugText = [&](const QString& text) { texts.append(text); };
    talk->Connect();
    connection->OnDebugText(connection, "tunnel says hello");
    EXPECT_EQ(texts, QStringList{"tunnel says hello"});
}

TEST_F(TalkTest, DestructionFailsWaitingRequestsAndFreesTheConnection)
{
    Open();
    auto& waiting = Box();
    talk->SendMessage(Command("listen_for_alerts"), true, Record(waiting));
    const std::shared_ptr<bool> destroyed = connection->Destroyed;
    talk.reset();
    ASSERT_EQ(waiting.size(), 1);
    EXPECT_FALSE(waiting[0].Success);
    EXPECT_TRUE(*destroyed);
}

TEST_F(TalkTest, DestructionFromInsideItsOwnHandlerWaitsUntilTheHandlerReturns)
{
    Open();
    auto& others = Box();
    int disconnected = 0;
    talk->OnDisconnected = [&] { ++disconnected; };
    const qint32 id = talk->SendMessage(Ping(), false, [&](bool, const QByteArray&, const TMessageToServer&) {
        talk.reset(); // the owner tears the conversation down from a response
    }).Id;
    talk->SendMessage(Command("other"), false, Record(others));
    ScriptedServerConnection* const pipe = connection;
    const std::shared_ptr<bool> destroyed = pipe->Destroyed;
    pipe->Deliver(server.Burst(Frame(id, "pong") + Frame(id + 1, "not delivered")));
    EXPECT_EQ(disconnected, 1);
    ASSERT_EQ(others.size(), 1);
    EXPECT_FALSE(others[0].Success);
    EXPECT_FALSE(*destroyed) << "the connection is still inside its own event";
    EXPECT_EQ(pipe->CloseCalls, 1);
    DeliverPosted();
    EXPECT_TRUE(*destroyed);
}

TEST(ServerConnectionFactory, SplitsTheAddressAtTheFirstColon)
{
    EXPECT_EQ(SplitServerAddress("alerts.example:9339").Host, "alerts.example");
    EXPECT_EQ(SplitServerAddress("alerts.example:9339").Port, "9339");
    EXPECT_EQ(SplitServerAddress("alerts.example").Port, "8888");
    EXPECT_EQ(SplitServerAddress("alerts.example").Host, "alerts.example");
    EXPECT_EQ(SplitServerAddress("a:b:c").Host, "a");
    EXPECT_EQ(SplitServerAddress("a:b:c").Port, "b:c");
    EXPECT_EQ(SplitServerAddress(":1").Host, "");
}

TEST(ServerConnectionFactory, TunnelRequestFailsCleanlyInsteadOfGoingDirect)
{
    // Nothing listens at either address: the tunnel's GET fails and the
    // conversation ends without falling back to the TCP address.
    TConnectionSettings settings;
    settings.HttpTunnelUrl = "http://127.0.0.1:1/stream";
    settings.Address = "127.0.0.1:1";
    TTalkWithServer talk(settings);
    talk.Connect();
    auto* tunnel = dynamic_cast<THttpTunnel*>(talk.Connection());
    ASSERT_NE(tunnel, nullptr) << "the factory made another kind of connection";
    EXPECT_EQ(tunnel->Url, "http://127.0.0.1:1/stream");
    EXPECT_EQ(tunnel->ReceiveClient().URL, "http://127.0.0.1:1/stream");
    EXPECT_TRUE(TestEnvironment::WaitFor([&] { return talk.State() == TTalkWithServer::Closed; }));
}

TEST(ServerConnectionFactory, TheConnectionIsGivenTheConversationsSettingsAsTheyAre)
{
    TConnectionSettings settings = LoopbackSocks(1, 5, "user");
    settings.Address = "127.0.0.1:1";
    settings.Proxy = "proxy.example";
    settings.SendTimeout = 2500;
    TTalkWithServer talk(settings);
    talk.Connect();
    ASSERT_NE(dynamic_cast<TSocketServerConnection*>(talk.Connection()), nullptr);
    EXPECT_TRUE(talk.Connection()->Settings() == settings);
    EXPECT_TRUE(TestEnvironment::WaitFor([&] { return talk.State() == TTalkWithServer::Closed; }));
}

} // namespace
