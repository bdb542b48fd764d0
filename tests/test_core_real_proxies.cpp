// Whole conversations with the reference server through real proxy daemons
// run on 127.0.0.1: the HTTP tunnel through tinyproxy and through danted
// (SOCKS 5), and the TCP connection through danted. Each proxy's own log
// shows that the traffic went through it and not around it.
#include "LocalProxy.h"
#include "ReferenceServer.h"
#include "Shared/HttpTunnels.h"
#include "Shared/SocketServerConnections.h"
#include "Shared/TalkWithServer.h"
#include "TestEnvironment.h"
#include <QList>
#include <gtest/gtest.h>
#include <memory>

#ifdef TAVISK_SERVER_BIN

using ReferenceServerKit::ReferenceServer;
using TestEnvironment::WaitFor;
using namespace std::chrono_literals;

namespace {

// The requests the main connection makes, on a conversation of the test's
// own with the test's settings, with what came back.
struct LoggedInConversation {
    explicit LoggedInConversation(const TConnectionSettings& settings) : Talk(settings)
    {
        TTalkWithServer& talk = Talk;
        talk.OnDisconnected = [this] { ++Disconnects; };
        talk.SendMessage(BuildMessage({"command", "login", "username", "trader", "password", "pw", "session_id", ""}),
                         true, [this](bool ok, const QByteArray& response, const TMessageToServer&) {
                             if (ok)
                                 Login = response;
                         });
        talk.SendMessage(BuildMessage({"command", "listen_for_alerts"}), true,
                         [this](bool ok, const QByteArray& response, const TMessageToServer&) {
                             if (ok)
                                 Alerts << response;
                         });
        talk.SendMessage(BuildMessage({"command", "add_alert_category", "category", "strike"}), false, {});
        talk.SendMessage(BuildMessage({"command", "ping", "response", "1"}), false,
                         [this](bool ok, const QByteArray&, const TMessageToServer&) { Pinged = ok; });
    }

    // Logged in, pinged and several strike alerts received, nothing else.
    void ExpectWorking()
    {
        ASSERT_TRUE(WaitFor([&] { return (Alerts.size() >= 3 && Pinged) || Disconnects > 0; }, 30s))
            << "login: " << Login.toStdString() << ", alerts: " << Alerts.size() << ", error: "
            << Talk.ErrorText().toStdString();
        EXPECT_EQ(Disconnects, 0) << Talk.ErrorText().toStdString();
        EXPECT_TRUE(Login.startsWith("SESSION ID\r\n")) << Login.toStdString();
        EXPECT_GE(Alerts.size(), 3);
        for (const QByteArray& alert : Alerts)
            EXPECT_TRUE(alert.startsWith("strike\r\n")) << alert.toStdString();
    }

    QByteArray Login;
    QList<QByteArray> Alerts;
    bool Pinged = false;
    int Disconnects = 0;
    // Last, so that it goes first: its last callbacks still find the fields above.
    TTalkWithServer Talk;
};

class RealProxyTest : public ::testing::Test {
protected:
    void StartServer(bool withTunnel)
    {
        QStringList arguments{"--rate", "20", "--seed", "3"};
        if (withTunnel) {
            tunnelPort = ReferenceServerKit::FreePortOutsideEphemeralRange();
            ASSERT_NE(tunnelPort, 0);
            arguments << "--http-port" << QString::number(tunnelPort);
        }
        ASSERT_TRUE(server.Start(arguments));
    }
    // Null when the test is to end here. Only a missing program is a reason
    // to skip; a daemon that is there but does not come up is a failure.
    LocalProxy* StartProxy(LocalProxy::TKind kind, bool requireUsername = false)
    {
        runningProxy = std::make_unique<LocalProxy>(kind);
        runningProxy->RequireUsername = requireUsername;
        if (!runningProxy->Installed()) {
            Skip(runningProxy->Failure());
            return nullptr;
        }
        if (!runningProxy->Start()) {
            ADD_FAILURE() << runningProxy->Failure().toStdString();
            return nullptr;
        }
        return runningProxy.get();
    }
    static void Skip(const QString& why) { GTEST_SKIP() << why.toStdString(); }
    // Connects and checks that the conversation made the kind of connection asked for.
    template <typename Connection>
    bool ConnectOver()
    {
        Connect();
        TTalkWithServer& talk = conversation->Talk;
        const bool right = dynamic_cast<Connection*>(talk.Connection()) != nullptr;
        EXPECT_TRUE(right) << "the conversation made another kind of connection";
        return right;
    }
    // The conversation, with the settings as the test made them.
    void Connect()
    {
        conversation = std::make_unique<LoggedInConversation>(settings);
        conversation->Talk.Connect();
    }
    void UseTcpServer()
    {
        StartServer(false);
        settings.Address = QString::fromLatin1(server.Address());
    }
    void UseTunnel()
    {
        StartServer(true);
        settings.HttpTunnelUrl = TunnelUrl();
        settings.SendTimeout = 30000;
        settings.Address = "127.0.0.1:1"; // leads nowhere: only the tunnel can log in
    }
    void UseSocks(const LocalProxy& socks)
    {
        settings.SocksServer = "127.0.0.1";
        settings.SocksPort = socks.Port();
        settings.SocksLevel = 5;
    }
    QString TunnelUrl() const { return QStringLiteral("http://127.0.0.1:%1/stream").arg(tunnelPort); }
    // danted ends the line of a carried connection with the target as host.port.
    QByteArray DanteTarget(quint16 port) const { return " 127.0.0.1." + QByteArray::number(port) + '\n'; }

    ReferenceServer server{QStringLiteral(TAVISK_SERVER_BIN)};
    quint16 tunnelPort = 0;
    TConnectionSettings settings;
    std::unique_ptr<LoggedInConversation> conversation;
    std::unique_ptr<LocalProxy> runningProxy;
};

TEST_F(RealProxyTest, TunnelLogsInAndStreamsAlertsThroughTinyproxy)
{
    LocalProxy* const proxy = StartProxy(LocalProxy::Tinyproxy);
    if (proxy == nullptr)
        return;
    ASSERT_NO_FATAL_FAILURE(UseTunnel());
    settings.Proxy = "127.0.0.1";
    settings.ProxyPort = proxy->Port();
    ASSERT_TRUE(ConnectOver<THttpTunnel>());
    conversation->ExpectWorking();

    const QByteArray base = "http://127.0.0.1:" + QByteArray::number(tunnelPort);
    EXPECT_TRUE(proxy->WaitForLog("GET " + base + "/stream ")) << proxy->Log().toStdString();
    EXPECT_TRUE(proxy->WaitForLog("POST " + base + "/post/")) << proxy->Log().toStdString();
}

TEST_F(RealProxyTest, TunnelLogsInAndStreamsAlertsThroughDante)
{
    LocalProxy* const proxy = StartProxy(LocalProxy::Dante);
    if (proxy == nullptr)
        return;
    ASSERT_NO_FATAL_FAILURE(UseTunnel());
    UseSocks(*proxy);
    ASSERT_TRUE(ConnectOver<THttpTunnel>());
    conversation->ExpectWorking();
    EXPECT_TRUE(proxy->WaitForLog(DanteTarget(tunnelPort))) << proxy->Log().toStdString();
}

TEST_F(RealProxyTest, TcpConversationRunsThroughDante)
{
    LocalProxy* const proxy = StartProxy(LocalProxy::Dante);
    if (proxy == nullptr)
        return;
    ASSERT_NO_FATAL_FAILURE(UseTcpServer());
    UseSocks(*proxy);
    ASSERT_TRUE(ConnectOver<TSocketServerConnection>());
    conversation->ExpectWorking();
    EXPECT_TRUE(proxy->WaitForLog(DanteTarget(server.Port()))) << proxy->Log().toStdString();

    // The end of the proxied connection still reaches the conversation.
    ASSERT_TRUE(server.Control("drop"));
    ASSERT_TRUE(WaitFor([&] { return conversation->Talk.State() == TTalkWithServer::Closed; }, 20s));
    EXPECT_EQ(conversation->Disconnects, 1);
}

// danted checks user names against the machine's accounts, which a test
// must not change, so a pair it accepts cannot be set up here; what can be
// shown is that the client offers the pair, that a refusal ends the attempt
// and that nothing then goes around the proxy.
TEST_F(RealProxyTest, RefusedSocksCredentialsCloseWithoutReachingTheServer)
{
    LocalProxy* const proxy = StartProxy(LocalProxy::Dante, true);
    if (proxy == nullptr)
        return;
    ASSERT_NO_FATAL_FAILURE(UseTcpServer());
    UseSocks(*proxy);
    settings.SocksUser = "tavisk-no-such-user";
    settings.SocksPassword = "wrong";
    Connect();
    ASSERT_TRUE(WaitFor([&] { return conversation->Disconnects == 1; }, 20s));
    EXPECT_TRUE(conversation->Login.isEmpty());
    EXPECT_FALSE(proxy->Log().contains(DanteTarget(server.Port()))) << proxy->Log().toStdString();
    EXPECT_EQ(server.CountLogLines("session 1:"), 0) << server.Log().toStdString();
    // The refusal names the user: the client did offer the pair it was given.
    EXPECT_TRUE(proxy->WaitForLog("tavisk-no-such-user")) << proxy->Log().toStdString();
}

} // namespace

#endif
