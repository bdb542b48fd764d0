// The HTTP tunnel against a scripted tunnel peer (opening lines, chunking,
// retries, time-outs, the life cycle) and against the reference server (a
// whole conversation, the main connection configured by "Braxo.ini").
#include "HttpTunnelPeer.h"
#include "LocalMainConnection.h"
#include "ReferenceServer.h"
#include "ScriptedServerConnection.h"
#include "base/Assertions.h"
#include "base/DebugLog.h"
#include "Shared/HttpTunnels.h"
#include "Shared/P64.h"
#include "Shared/TalkWithServer.h"
#include "TestEnvironment.h"
#include "Zembra/MainConnectionUnit.h"
#include <QCoreApplication>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpServer>
#include <gtest/gtest.h>
#include <memory>

using TestEnvironment::WaitFor;
using namespace std::chrono_literals;

namespace {

const QString ErrorText500 = "Error sending data to server:  500, Internal Server Error, state: 0";

QByteArray Pattern(qsizetype size, int seed = 0)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 31 + seed * 7 + i / 251) & 0xFF);
    return bytes;
}

QByteArray PostBody(qint64 sequence, const QByteArray& chunk)
{
    return "sequence=" + QByteArray::number(sequence) + "&body=" + P64Encode(chunk);
}

// Runs the event loop until every event posted before this call has been handled.
bool EventsPostedSoFarHandled()
{
    bool reached = false;
    QMetaObject::invokeMethod(QCoreApplication::instance(), [&reached] { reached = true; }, Qt::QueuedConnection);
    return WaitFor([&reached] { return reached; });
}

class TunnelTest : public ::testing::Test {
protected:
    std::unique_ptr<THttpTunnel> Make(const QString& url, qint32 sendTimeout = 60000)
    {
        TConnectionSettings settings;
        settings.SendTimeout = sendTimeout;
        auto tunnel = std::make_unique<THttpTunnel>(url, settings);
        tunnel->OnSessionConnected = [this](TGenericServerConnection*) { Order << "connected"; };
        tunnel->OnSessionClosed = [this](TGenericServerConnection*) { Order << "closed"; };
        tunnel->OnDataAvailable = [this](TGenericServerConnection* sender) {
            Order << "data";
            Received += sender->ReadAll();
        };
        tunnel->OnDebugText = [this](TGenericServerConnection*, const QString& text) { DebugTexts << text; };
        return tunnel;
    }
    std::unique_ptr<THttpTunnel> Open(qint32 sendTimeout = 60000)
    {
        auto tunnel = Make(peer.Url(), sendTimeout);
        EXPECT_TRUE(tunnel->Connect());
        EXPECT_TRUE(WaitFor([&] { return tunnel->State() == THttpTunnel::Open; }));
        return tunnel;
    }
    int Count(const QString& event) const { return static_cast<int>(Order.count(event)); }

    HttpTunnelPeer peer;
    QStringList Order;
    QByteArray Received;
    QStringList DebugTexts;
};

// ---------------------------------------------------------------- opening

TEST_F(TunnelTest, OpeningInOnePieceSetsThePostAddressThenAnnouncesConnectedAndTheBytesAfterIt)
{
    peer.OpeningPieces = {"WELCOME\r\n" + peer.PostAddress + "\r\nWXYZ"};
    auto tunnel = Make(peer.Url());
    EXPECT_EQ(tunnel->State(), THttpTunnel::Idle);
    ASSERT_TRUE(tunnel->Connect());
    EXPECT_EQ(tunnel->State(), THttpTunnel::Opening);
    ASSERT_TRUE(WaitFor([&] { return Count("data") == 1; }));
    EXPECT_EQ(Order, QStringList({"connected", "data"}));
    EXPECT_EQ(tunnel->SendClient().URL, QString::fromLatin1(peer.PostAddress));
    EXPECT_EQ(Received, "WXYZ");
    EXPECT_TRUE(tunnel->ReadAll().isEmpty());
    ASSERT_EQ(peer.Gets.size(), 1);
    EXPECT_EQ(peer.Gets[0].Method, "GET");
    EXPECT_EQ(peer.Gets[0].Target, "/tunnel");
}

TEST_F(TunnelTest, OpeningLinesArrivingByteByByteAnnounceNothingUntilTheSecondLineEnds)
{
    peer.OpeningPieces = {QByteArray()}; // headers only; the test feeds the body itself
    auto tunnel = Make(peer.Url());
    ASSERT_TRUE(tunnel->Connect());
    ASSERT_TRUE(WaitFor([&] { return peer.Gets.size() == 1; }));

    const QByteArray opening = "GREETING LINE\r\nhttp://example.invalid/post/7\r\n";
    for (char byte : opening.chopped(1)) {
        tunnel->ReceiveData(QByteArray(1, byte));
        EXPECT_TRUE(tunnel->ReadAll().isEmpty());
    }
    EXPECT_TRUE(Order.isEmpty());
    EXPECT_EQ(tunnel->State(), THttpTunnel::Opening);

    tunnel->ReceiveData("\n");
    EXPECT_EQ(Order, QStringList({"connected"})) << "no data event for an empty rest";
    EXPECT_EQ(tunnel->SendClient().URL, "http://example.invalid/post/7");
    tunnel->ReceiveData("Q");
    EXPECT_EQ(Order, QStringList({"connected", "data"}));
    EXPECT_EQ(Received, "Q");
}

TEST_F(TunnelTest, OpeningLinesSplitAcrossNetworkReadsAndLineEnds)
{
    const QByteArray address = peer.PostAddress;
    peer.OpeningPieces = {"GRE", "ET\r", "\n" + address.left(9), address.mid(9) + "\r", "\nxy", "z"};
    auto tunnel = Make(peer.Url());
    ASSERT_TRUE(tunnel->Connect());
    ASSERT_TRUE(WaitFor([&] { return Received == "xyz"; }));
    EXPECT_EQ(Count("connected"), 1);
    EXPECT_EQ(tunnel->SendClient().URL, QString::fromLatin1(address));
}

// ---------------------------------------------------------------- sending

TEST_F(TunnelTest, SendCutsChunksOf6000BytesNumberedFromZeroOnePostAtATime)
{
    auto tunnel = Open();
    peer.PostStatuses = {0}; // the first answer waits for the test
    const QByteArray data = Pattern(13000);
    tunnel->Send(data.left(5000));
    tunnel->Send(data.mid(5000));

    ASSERT_TRUE(WaitFor([&] { return peer.Posts.size() == 1; }));
    ASSERT_TRUE(EventsPostedSoFarHandled());
    EXPECT_EQ(peer.Posts.size(), 1) << "the second chunk went out before the first was accepted";
    EXPECT_EQ(peer.Posts[0].Method, "POST");
    EXPECT_EQ(peer.Posts[0].Target, "/post/t1");
    EXPECT_EQ(peer.Posts[0].Header("content-type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(peer.Posts[0].Body, PostBody(0, data.left(6000)));
    // The second chunk is not even cut while the first is unanswered.
    EXPECT_EQ(tunnel->SenderState(), THttpTunnel::Sending);
    EXPECT_EQ(tunnel->ChunkInFlight().size(), 6000);
    EXPECT_EQ(tunnel->SendBufferSize(), 7000);

    peer.AnswerHeld(200);
    ASSERT_TRUE(WaitFor([&] { return tunnel->SequenceNumber() == 3; }));
    ASSERT_EQ(peer.Posts.size(), 3);
    EXPECT_EQ(peer.Posts[1].Body, PostBody(1, data.mid(6000, 6000)));
    EXPECT_EQ(peer.Posts[2].Body, PostBody(2, data.mid(12000)));
    EXPECT_EQ(HttpTunnelPeer::EncodedDataOf(peer.Posts[1]).size(), 8000);
    EXPECT_EQ(tunnel->SenderState(), THttpTunnel::SendIdle);
    EXPECT_TRUE(tunnel->ChunkInFlight().isEmpty());
    EXPECT_EQ(tunnel->FailureCount(), 0);
    EXPECT_TRUE(DebugTexts.isEmpty()) << DebugTexts.join('\n').toStdString();
}

// A success pays back one failure and does not reset the count: three
// failures, a success and two more failures close the tunnel.
TEST_F(TunnelTest, FailedPostsAreRetriedWithTheSameNumberUntilTheFourthUnpaidFailure)
{
    auto tunnel = Open();
    peer.PostStatuses = {500, 500, 500, 200, 500, 500};
    const QByteArray data = Pattern(7000, 3);
    tunnel->Send(data);

    ASSERT_TRUE(WaitFor([&] { return Count("closed") == 1; }));
    ASSERT_EQ(peer.Posts.size(), 6);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(peer.Posts[i].Body, PostBody(0, data.left(6000))) << "post " << i;
    for (int i = 4; i < 6; ++i)
        EXPECT_EQ(peer.Posts[i].Body, PostBody(1, data.mid(6000))) << "post " << i;
    EXPECT_EQ(DebugTexts, QStringList({ErrorText500, ErrorText500, ErrorText500, ErrorText500,
                                       "ERROR sending data to server:  500, Internal Server Error, state: 0"}));
    EXPECT_EQ(tunnel->FailureCount(), 4);
    EXPECT_EQ(tunnel->SequenceNumber(), 1);
    EXPECT_EQ(tunnel->State(), THttpTunnel::Closed);
    EXPECT_EQ(tunnel->SenderState(), THttpTunnel::SendFailed);
    EXPECT_EQ(Count("closed"), 1);
}

TEST_F(TunnelTest, FourthFailureInARowClosesTheTunnelWithoutAFifthPost)
{
    auto tunnel = Open();
    peer.PostStatuses = {500, 500, 500, 500, 200};
    tunnel->Send("never accepted");

    ASSERT_TRUE(WaitFor([&] { return Count("closed") == 1; }));
    ASSERT_TRUE(EventsPostedSoFarHandled());
    ASSERT_EQ(peer.Posts.size(), 4);
    for (const PeerRequest& post : peer.Posts)
        EXPECT_EQ(post.Body, PostBody(0, "never accepted"));
    EXPECT_EQ(DebugTexts, QStringList({ErrorText500, ErrorText500, ErrorText500,
                                       "ERROR sending data to server:  500, Internal Server Error, state: 0"}));
    EXPECT_EQ(tunnel->SequenceNumber(), 0);
    EXPECT_EQ(tunnel->State(), THttpTunnel::Closed);
}

TEST_F(TunnelTest, PostOutstandingPastTheSendTimeoutIsAbortedAndSentAgain)
{
    // The first POST is held back past the deadline; the retry is answered
    // at once, well within it.
    auto tunnel = Open(1000);
    peer.PostStatuses = {0};
    tunnel->Send("hello through the tunnel");

    ASSERT_TRUE(WaitFor([&] { return tunnel->SequenceNumber() == 1; }));
    EXPECT_EQ(DebugTexts, QStringList({"Error sending data to server:  0, , state: 0"}));
    ASSERT_EQ(peer.Posts.size(), 2);
    EXPECT_EQ(peer.Posts[0].Body, PostBody(0, "hello through the tunnel"));
    EXPECT_EQ(peer.Posts[1].Body, peer.Posts[0].Body);
    EXPECT_EQ(tunnel->FailureCount(), 0) << "the success paid the time-out back";
    EXPECT_EQ(Count("closed"), 0);
}

// The send client is kept busy by a request of the test's own, so the chunk
// cut by the next wake-up cannot go out; later data must neither overwrite
// it nor take its number.
TEST_F(TunnelTest, ChunkCutWhileTheSendClientIsBusyIsKeptAndSentBeforeLaterData)
{
    auto tunnel = Open();
    peer.PostStatuses = {0, 200, 200};
    tunnel->SendClient().PostASync("text/plain");
    ASSERT_TRUE(WaitFor([&] {
        const THttpState state = tunnel->SendClient().State();
        return peer.Posts.size() == 1 && (state == httpDnsLookupDone || state == httpWaitingHeader);
    }));

    const QByteArray first = Pattern(6000, 1);
    const QByteArray later = "later bytes";
    tunnel->Send(first);
    ASSERT_TRUE(EventsPostedSoFarHandled());
    EXPECT_EQ(tunnel->ChunkInFlight(), first);
    EXPECT_EQ(tunnel->SenderState(), THttpTunnel::SendIdle);
    tunnel->Send(later);
    ASSERT_TRUE(EventsPostedSoFarHandled());
    EXPECT_EQ(tunnel->ChunkInFlight(), first);
    EXPECT_EQ(tunnel->SendBufferSize(), later.size());

    peer.AnswerHeld(500); // the busy request ends; it counts as a failed post
    ASSERT_TRUE(WaitFor([&] { return tunnel->SequenceNumber() == 2; }));
    ASSERT_EQ(peer.Posts.size(), 3);
    EXPECT_EQ(peer.Posts[1].Body, PostBody(0, first));
    EXPECT_EQ(peer.Posts[2].Body, PostBody(1, later));
    EXPECT_EQ(DebugTexts, QStringList({ErrorText500}));
}

// ---------------------------------------------------------------- life cycle

TEST_F(TunnelTest, EndOfTheGetClosesOnceAndLeavesTheLastBytesReadable)
{
    auto tunnel = Open();
    tunnel->OnDataAvailable = nullptr; // leave the bytes waiting
    peer.Push("last words");
    peer.EndStream();
    ASSERT_TRUE(WaitFor([&] { return Count("closed") == 1; }));
    EXPECT_EQ(tunnel->State(), THttpTunnel::Closed);
    EXPECT_EQ(tunnel->ReadAll(), "last words");
    tunnel->Send("dropped"); // no assertion after the end
    EXPECT_EQ(tunnel->SendBufferSize(), 0);
    tunnel->Close();
    tunnel.reset();
    EXPECT_EQ(Count("closed"), 1);
}

// Flow control: while the conversation does not read, the tunnel stops
// taking the GET's body past a megabyte; the rest waits with the server.
TEST_F(TunnelTest, AnUnreadStreamStopsPastAMegabyteAndLosesNothing)
{
    auto tunnel = Open();
    tunnel->OnDataAvailable = nullptr; // the owner reads later
    const QByteArray sent = Pattern(16 << 20);
    peer.Push(sent);
    ASSERT_TRUE(WaitFor([&] { return tunnel->ReceiveClient().ReceivePaused(); }));
    ASSERT_TRUE(EventsPostedSoFarHandled());
    QByteArray received = tunnel->ReadAll();
    EXPECT_GE(received.size(), 1 << 20);
    EXPECT_LE(received.size(), 2 << 20);
    ASSERT_TRUE(WaitFor([&] {
        received += tunnel->ReadAll();
        return received.size() >= sent.size();
    }, 60s));
    EXPECT_EQ(received, sent);
}

TEST_F(TunnelTest, CloseTwiceOrDestroyingAnOpenTunnelRaisesClosedOnceAndAbortsBothRequests)
{
    auto tunnel = Open();
    peer.PostStatuses = {0};
    tunnel->Send("pending");
    ASSERT_TRUE(WaitFor([&] { return peer.HeldCount() == 1; }));
    tunnel->Close();
    tunnel->Close();
    EXPECT_EQ(Count("closed"), 1);
    EXPECT_EQ(tunnel->SenderState(), THttpTunnel::SendFailed);
    EXPECT_EQ(tunnel->ReceiveClient().State(), httpReady);
    EXPECT_EQ(tunnel->SendClient().State(), httpReady);
    EXPECT_TRUE(DebugTexts.isEmpty()) << "the aborted POST is not reported as a failure";
    EXPECT_TRUE(WaitFor([&] { return !peer.StreamOpen(); })) << "the GET was given up";
    tunnel.reset();
    EXPECT_EQ(Count("closed"), 1);

    Order.clear();
    auto other = Open();
    other.reset();
    EXPECT_EQ(Order, QStringList({"connected", "closed"}));
}

TEST_F(TunnelTest, MisuseRaisesAssertionsWithTheUnitAndLine)
{
    auto tunnel = Make(peer.Url());
    const auto expectAssertion = [](const std::function<void()>& call, int line) {
        try {
            call();
            ADD_FAILURE() << "no assertion failure";
        } catch (const EAssertionFailed& e) {
            EXPECT_EQ(e.Text(), "Assertion failure");
            EXPECT_STREQ(e.Unit(), "HttpTunnels");
            EXPECT_EQ(e.Line(), line);
        }
    };
    expectAssertion([&] { tunnel->Send("early"); }, 301);
    ASSERT_TRUE(tunnel->Connect());
    expectAssertion([&] { tunnel->Send("still opening"); }, 301);
    expectAssertion([&] { tunnel->Connect(); }, 221);
}

TEST_F(TunnelTest, ConnectThatCannotStartFailsAtOnceWithTheReason)
{
    auto tunnel = Make("no url at all");
    EXPECT_FALSE(tunnel->Connect());
    EXPECT_EQ(tunnel->ErrorText, "THttpTunnel.Connect, EHttpException, invalid URL \"no url at all\", 0, ");
    EXPECT_EQ(Order, QStringList({"closed"}));
    EXPECT_EQ(DebugTexts, QStringList({tunnel->ErrorText}));
    EXPECT_EQ(tunnel->State(), THttpTunnel::Closed);
    tunnel.reset();
    EXPECT_EQ(Count("closed"), 1);
}

// A GET that never reached the server says why, in the words the TCP
// connection uses.
TEST_F(TunnelTest, AGetThatCannotReachTheServerClosesWithTheReason)
{
    QTcpServer unused;
    ASSERT_TRUE(unused.listen(QHostAddress::LocalHost, 0));
    const QString refused = "http://127.0.0.1:" + QString::number(unused.serverPort()) + "/stream";
    unused.close();
    for (const auto& [url, reason] : {std::pair<QString, QString>{refused, "Connection refused"},
                                      {"http://no-such-host.invalid/stream", "DNS error"}}) {
        Order.clear();
        auto tunnel = Make(url);
        ASSERT_TRUE(tunnel->Connect());
        ASSERT_TRUE(WaitFor([&] { return Count("closed") == 1; }, 20s));
        EXPECT_EQ(tunnel->ErrorText, reason);
    }
}

TEST_F(TunnelTest, UnusablePostAddressIsLoggedReportedAndClosesTheTunnel)
{
    QStringList logged;
    auto debugSink = std::make_unique<TDebugSinkScope>([&logged](const QString& line) { logged << line; });
    peer.PostAddress = "not a url";
    auto tunnel = Open();
    tunnel->Send("x");
    EXPECT_TRUE(WaitFor([&] { return Count("closed") == 1; }));
    debugSink.reset();
    EXPECT_EQ(DebugTexts, QStringList({"Unexpected Exception:  THttpTunnel.CheckForSend, EHttpException, "
                                       "invalid URL \"not a url\", 0, "}));
    EXPECT_EQ(logged, QStringList({"Class=EHttpException, Message=invalid URL \"not a url\", "
                                   "Location=HttpTunnels, THttpTunnel.CheckForSend"}));
    EXPECT_EQ(tunnel->SenderState(), THttpTunnel::SendFailed);
}

TEST(HttpTunnelProxySettings, HttpProxyWinsOverSocksAndNeitherClearsBoth)
{
    THttpClient client;
    client.Proxy = "stale";
    client.SocksServer = "stale";
    TConnectionSettings settings;
    THttpTunnel("http://example.invalid/", settings).ApplyProxy(client);
    EXPECT_TRUE(client.Proxy.isEmpty());
    EXPECT_TRUE(client.SocksServer.isEmpty());

    settings.SocksServer = "socks.example";
    settings.SocksLevel = 5;
    settings.SocksUser = "alice";
    settings.SocksPassword = "secret";
    THttpTunnel("http://example.invalid/", settings).ApplyProxy(client);
    EXPECT_EQ(client.SocksServer, "socks.example");
    EXPECT_EQ(client.SocksPort, 1080);
    EXPECT_EQ(client.SocksLevel, 5);
    EXPECT_EQ(client.SocksUsercode, "alice");
    EXPECT_EQ(client.SocksPassword, "secret");
    EXPECT_EQ(client.SocksAuthentication, socksAuthenticateUsercode);

    settings.Proxy = "proxy.example";
    settings.ProxyPort = 3128;
    settings.ProxyUser = "bob";
    settings.ProxyPassword = "pw";
    THttpTunnel("http://example.invalid/", settings).ApplyProxy(client);
    EXPECT_EQ(client.Proxy, "proxy.example");
    EXPECT_EQ(client.ProxyPort, 3128);
    EXPECT_EQ(client.ProxyUsername, "bob");
    EXPECT_EQ(client.ProxyPassword, "pw");
    EXPECT_TRUE(client.SocksServer.isEmpty());
    EXPECT_TRUE(client.SocksUsercode.isEmpty());
    EXPECT_EQ(client.SocksAuthentication, socksNoAuthentication);
}

// ---------------------------------------------------------------- settings from "Braxo.ini"

// The settings are read for each new conversation and handed on, as they
// are, to its connection.
TEST(TunnelConnectionSettings, BraxoIniKeysReachEveryNewConversationAndItsConnection)
{
    TestEnvironment::WriteIni("[Connection]\nhttp tunnel url=http://tunnel.example/stream\nsocks server=socks.example\n"
                              "socks port=1080\nsocks level=4\nsocks user=alice\nsocks password=s3\n"
                              "proxy=proxy.example\nproxy port=3128\nproxy user=bob\nproxy password=p4\n"
                              "send timeout=2500\n");
    const TConnectionSettings written = ReadConnectionSettings("Braxo.ini").Settings;
    ScriptedServerConnection* connection = nullptr;
    TMainConnectionDependencies hooks;
    hooks.Timer = false;
    hooks.ConnectionFactory = ScriptedServerConnection::FactoryInto(&connection);
    TMainConnection main(TestIniSettings(), hooks);
    main.SetUserName("trader");
    main.SetPassword("pw");
    ASSERT_TRUE(WaitFor([&] { return connection != nullptr; }));
    EXPECT_TRUE(main.Conversation()->Settings() == written);
    EXPECT_TRUE(connection->Settings() == written);

    TestEnvironment::WriteIni("[Connection]\naddress=127.0.0.1:9\n");
    main.ResetConnection();
    ASSERT_TRUE(WaitFor([&] { return main.Conversation() && main.Conversation()->Connection() == connection; }));
    TestEnvironment::RemoveIni();
    EXPECT_EQ(connection->Settings().Address, "127.0.0.1:9");
    EXPECT_FALSE(connection->Settings().UsesHttpTunnel());
}

// ---------------------------------------------------------------- reference server

#ifdef TAVISK_SERVER_BIN
class ReferenceServer {
public:
    ReferenceServer()
    {
        m_process.start(QStringLiteral(TAVISK_SERVER_BIN),
                        {"--port", "0", "--http-port", "0", "--rate", "20", "--seed", "5"});
        TcpPort = ReadPort("listening on ");
        HttpPort = ReadPort("http listening on ");
    }
    ~ReferenceServer()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    QByteArray Control(const QByteArray& command)
    {
        m_process.write(command + '\n');
        WaitFor([&] { return m_process.canReadLine(); }, 10s);
        return m_process.readLine().trimmed();
    }
    QString TunnelUrl() const { return QStringLiteral("http://127.0.0.1:%1/stream").arg(HttpPort); }
    quint16 TcpPort = 0;
    quint16 HttpPort = 0;

private:
    quint16 ReadPort(const QByteArray& prefix)
    {
        WaitFor([&] { return m_process.canReadLine(); }, 20s);
        const QByteArray line = m_process.readLine().trimmed();
        return line.startsWith(prefix) ? static_cast<quint16>(line.mid(prefix.size()).toUInt()) : 0;
    }
    QProcess m_process;
};

TEST(HttpTunnelWithServer, ConversationLogsInAndReceivesAlertsDespiteFailedPosts)
{
    ReferenceServer server;
    ASSERT_NE(server.HttpPort, 0);
    ASSERT_TRUE(server.Control("fail-posts 2").startsWith("ok"));

    TConnectionSettings settings;
    settings.HttpTunnelUrl = server.TunnelUrl();
    TTalkWithServer talk(settings);
    QStringList debugTexts;
    int disconnects = 0;
    talk.OnDebugText = [&](const QString& text) { debugTexts << text; };
    talk.OnDisconnected = [&] { ++disconnects; };
    QByteArray login;
    QList<QByteArray> alerts;
    bool pinged = false;
    talk.SendMessage(BuildMessage({"command", "login", "username", "trader", "password", "pw", "session_id", ""}), true,
                     [&](bool ok, const QByteArray& response, const TMessageToServer&) {
                         if (ok)
                             login = response;
                     });
    talk.SendMessage(BuildMessage({"command", "listen_for_alerts"}), true,
                     [&](bool ok, const QByteArray& response, const TMessageToServer&) {
                         if (ok)
                             alerts << response;
                     });
    talk.SendMessage(BuildMessage({"command", "add_alert_category", "category", "strike"}), false, {});
    talk.SendMessage(BuildMessage({"command", "ping", "response", "1"}), false,
                     [&](bool ok, const QByteArray&, const TMessageToServer&) { pinged = ok; });
    talk.Connect();
    ASSERT_NE(dynamic_cast<THttpTunnel*>(talk.Connection()), nullptr);

    ASSERT_TRUE(WaitFor([&] { return alerts.size() >= 3 && pinged; }, 30s));
    EXPECT_TRUE(login.startsWith("SESSION ID\r\n")) << login.toStdString();
    for (const QByteArray& alert : alerts)
        EXPECT_TRUE(alert.startsWith("strike\r\n")) << alert.toStdString();
    EXPECT_EQ(debugTexts, QStringList({ErrorText500, ErrorText500}));

    // Several chunks' worth in one burst (hex of random bytes hardly
    // compresses) still arrives whole and in order.
    QList<QByteArray> answers;
    QRandomGenerator random(11);
    for (int i = 0; i < 400; ++i) {
        QByteArray padding(64, Qt::Uninitialized);
        random.fillRange(reinterpret_cast<quint32*>(padding.data()), padding.size() / 4);
        talk.SendMessage(BuildMessage({"command", "ping", "response", "1", "padding", padding.toHex()}), false,
                         [&answers, i](bool ok, const QByteArray&, const TMessageToServer&) {
                             if (ok)
                                 answers << QByteArray::number(i);
                         });
    }
    ASSERT_TRUE(WaitFor([&] { return answers.size() == 400; }, 30s));
    QList<QByteArray> inOrder;
    for (int i = 0; i < 400; ++i)
        inOrder << QByteArray::number(i);
    EXPECT_EQ(answers, inOrder);
    EXPECT_GT(static_cast<THttpTunnel*>(talk.Connection())->SequenceNumber(), 4);

    ASSERT_TRUE(server.Control("drop").startsWith("ok"));
    ASSERT_TRUE(WaitFor([&] { return talk.State() == TTalkWithServer::Closed; }, 20s));
    EXPECT_EQ(disconnects, 1);
}

TEST(HttpTunnelWithServer, MainConnectionUsesTheTunnelNamedInBraxoIni)
{
    ReferenceServer server;
    ASSERT_NE(server.HttpPort, 0);
    // The TCP address leads nowhere: only the tunnel can log in.
    TestEnvironment::WriteIni("[Connection]\naddress=127.0.0.1:1\nhttp tunnel url=" + server.TunnelUrl().toUtf8() +
                              "\n");
    TMainConnection main(TestIniSettings());
    QStringList statuses;
    const TSubscription statusWatch = main.WatchStatus([&] { statuses << main.Status(); });
    int alerts = 0;
    const TSubscription receiver =
        main.RegisterAlertCallback([&](const QByteArray& data) { alerts += data.startsWith("bollinger\r\n") ? 1 : 0; });
    main.AddCategory("bollinger");
    main.SetUserName("trader");
    main.SetPassword("pw");
    const bool working = WaitFor([&] { return statuses.contains("Connected!") && alerts >= 2; }, 30s);
    TestEnvironment::RemoveIni();
    ASSERT_TRUE(working);
    EXPECT_EQ(statuses.value(0), "Connecting to " + server.TunnelUrl() + "...");
    ASSERT_NE(main.Conversation(), nullptr);
    EXPECT_NE(dynamic_cast<THttpTunnel*>(main.Conversation()->Connection()), nullptr);
    EXPECT_FALSE(main.SessionId().isEmpty());
}
// Every POST is answered late, though well within the send timeout the
// configuration gives by default: none may be aborted, so the first
// conversation logs in and stays.
TEST(HttpTunnelWithServer, SlowPostsWithinTheDefaultSendTimeoutAreNotAborted)
{
    ReferenceServerKit::ReferenceServer server(QStringLiteral(TAVISK_SERVER_BIN));
    const quint16 tunnelPort = ReferenceServerKit::FreePortOutsideEphemeralRange();
    ASSERT_TRUE(server.Start({"--http-port", QString::number(tunnelPort), "--slow-posts-ms", "450", "--rate", "20"}));
    ReferenceServerKit::ClientProbe client("127.0.0.1:1");
    TestEnvironment::WriteIni("[Connection]\naddress=127.0.0.1:1\nhttp tunnel url=http://127.0.0.1:" +
                              QByteArray::number(tunnelPort) + "/stream\n");
    client.Main->AddCategory("strike");
    client.LogIn("trader", "pw");
    const bool connected = client.WaitForStatus("Connected!", 30s);
    TestEnvironment::RemoveIni();
    ASSERT_TRUE(connected) << client.EndedWith.join('\n').toStdString();
    ASSERT_TRUE(client.WaitForMoreAlerts(3, 30s));
    ASSERT_NE(client.Main->Conversation(), nullptr);
    EXPECT_EQ(client.Main->Conversation()->Settings().SendTimeout, 30000);
    EXPECT_EQ(client.Connections->Created, 1);
    EXPECT_TRUE(client.EndedWith.isEmpty()) << client.EndedWith.join('\n').toStdString();
}
#endif

} // namespace
