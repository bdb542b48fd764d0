// SOCKS 4, 4a and 5 for the TCP connection and SOCKS 5 and HTTP proxies for
// the tunnel, against a small proxy written here that records every
// handshake byte and then relays to a target on 127.0.0.1.
#include "HttpTunnelPeer.h"
#include "Shared/HttpTunnels.h"
#include "Shared/SocketServerConnections.h"
#include "LocalProxy.h"
#include "TestEnvironment.h"
#include "platform/core/Socks4Handshake.h"
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

using TestEnvironment::WaitFor;

namespace {

QByteArray Bytes(std::initializer_list<int> values)
{
    QByteArray bytes;
    for (int value : values)
        bytes.append(static_cast<char>(value));
    return bytes;
}

QByteArray BigEndianPort(quint16 port)
{
    char raw[2];
    qToBigEndian(port, raw);
    return QByteArray(raw, 2);
}

// One proxy on 127.0.0.1 that speaks SOCKS 4, 4a and 5 (no authentication
// or user name and password), records what each client sent during its
// handshake, and relays afterwards.
class TestSocksProxy : public QObject {
public:
    TestSocksProxy()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection())
                Adopt(socket);
        });
    }
    quint16 Port() const { return m_server.serverPort(); }

    // SOCKS 5: the user name and password it insists on (empty: none).
    QByteArray User;
    QByteArray Password;
    // Refuse the CONNECT itself (SOCKS 4 code 91, SOCKS 5 code 2).
    bool RefuseRequests = false;
    // Sent straight after a granted reply, in the same write: as if the
    // target had greeted at once.
    QByteArray AfterGrant;

    // Per client connection: every byte read before relaying began.
    QList<QByteArray> Handshakes;
    QByteArray Handshake() const { return Handshakes.value(0); }
    QByteArray RequestedHost; // the last target as a client named it
    quint16 RequestedPort = 0;
    int Relays = 0;

private:
    struct Session {
        int Index = 0;
        QByteArray Pending;
        int Socks5Phase = 0;
        bool CloseAfterReply = false;
        bool Relaying = false;
    };
    struct Step {
        qsizetype Used = 0;
        QByteArray Reply;
        bool Grant = false;
    };

    void Adopt(QTcpSocket* client)
    {
        client->setParent(this);
        Session session;
        session.Index = static_cast<int>(Handshakes.size());
        m_sessions.insert(client, session);
        Handshakes.append(QByteArray());
        connect(client, &QTcpSocket::readyRead, this, [this, client] { Read(client); });
    }

    void Read(QTcpSocket* client)
    {
        Session& session = m_sessions[client];
        if (session.Relaying)
            return;
        session.Pending += client->readAll();
        for (;;) {
            const std::optional<Step> step = session.Pending.startsWith('\x04') ? Socks4(session) : Socks5(session);
            if (!step)
                return;
            Handshakes[session.Index] += session.Pending.left(step->Used);
            session.Pending.remove(0, step->Used);
            if (step->Grant) {
                StartRelay(client, session, step->Reply);
                return;
            }
            client->write(step->Reply);
            if (session.CloseAfterReply) {
                client->disconnectFromHost();
                return;
            }
        }
    }

    std::optional<Step> Socks4(Session& session)
    {
        const QByteArray& in = session.Pending;
        const qsizetype userEnd = in.indexOf('\0', 8);
        if (in.size() < 9 || userEnd < 0)
            return std::nullopt;
        const quint32 ip = qFromBigEndian<quint32>(in.constData() + 4);
        qsizetype used = userEnd + 1;
        if (ip > 0 && ip < 256) { // SOCKS 4a: a name follows
            const qsizetype nameEnd = in.indexOf('\0', used);
            if (nameEnd < 0)
                return std::nullopt;
            RequestedHost = in.mid(used, nameEnd - used);
            used = nameEnd + 1;
        } else {
            RequestedHost = QHostAddress(ip).toString().toLatin1();
        }
        RequestedPort = qFromBigEndian<quint16>(in.constData() + 2);
        session.CloseAfterReply = RefuseRequests;
        return Step{used, Bytes({0, RefuseRequests ? 0x5B : 0x5A, 0, 0, 0, 0, 0, 0}), !RefuseRequests};
    }

    std::optional<Step> Socks5(Session& session)
    {
        const QByteArray& in = session.Pending;
        if (session.Socks5Phase == 0) { // greeting: version, method count, methods
            if (in.size() < 2 || in.size() < 2 + in[1])
                return std::nullopt;
            const QByteArray methods = in.mid(2, in[1]);
            const char wanted = User.isEmpty() ? 0x00 : 0x02;
            session.Socks5Phase = User.isEmpty() ? 2 : 1;
            session.CloseAfterReply = !methods.contains(wanted);
            return Step{2 + in[1], Bytes({5, session.CloseAfterReply ? 0xFF : wanted}), false};
        }
        if (session.Socks5Phase == 1) { // user name and password
            if (in.size() < 2)
                return std::nullopt;
            const int userLength = static_cast<quint8>(in[1]);
            if (in.size() < 3 + userLength)
                return std::nullopt;
            const int passwordLength = static_cast<quint8>(in[2 + userLength]);
            if (in.size() < 3 + userLength + passwordLength)
                return std::nullopt;
            const bool good = in.mid(2, userLength) == User && in.mid(3 + userLength, passwordLength) == Password;
            session.Socks5Phase = 2;
            session.CloseAfterReply = !good;
            return Step{3 + userLength + passwordLength, Bytes({1, good ? 0 : 1}), false};
        }
        // CONNECT request: version, command, reserved, address type, address, port
        if (in.size() < 5)
            return std::nullopt;
        const int type = in[3];
        const qsizetype addressSize = type == 1 ? 4 : type == 4 ? 16 : 1 + static_cast<quint8>(in[4]);
        if (in.size() < 4 + addressSize + 2)
            return std::nullopt;
        if (type == 1)
            RequestedHost = QHostAddress(qFromBigEndian<quint32>(in.constData() + 4)).toString().toLatin1();
        else if (type == 3)
            RequestedHost = in.mid(5, addressSize - 1);
        RequestedPort = qFromBigEndian<quint16>(in.constData() + 4 + addressSize);
        session.CloseAfterReply = RefuseRequests;
        return Step{4 + addressSize + 2, Bytes({5, RefuseRequests ? 2 : 0, 0, 1, 127, 0, 0, 1, 0, 0}), !RefuseRequests};
    }

    void StartRelay(QTcpSocket* client, Session& session, const QByteArray& grant)
    {
        session.Relaying = true;
        ++Relays;
        auto* target = new QTcpSocket(this);
        const QByteArray early = std::exchange(session.Pending, {});
        const QByteArray greeting = grant + AfterGrant;
        connect(target, &QTcpSocket::connected, client, [client, target, early, greeting] {
            client->write(greeting);
            target->write(early);
        });
        connect(client, &QTcpSocket::readyRead, target, [client, target] { target->write(client->readAll()); });
        connect(target, &QTcpSocket::readyRead, client, [client, target] { client->write(target->readAll()); });
        connect(client, &QTcpSocket::disconnected, target, &QTcpSocket::disconnectFromHost);
        connect(target, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
        target->connectToHost(QString::fromLatin1(RequestedHost), RequestedPort);
    }

    QTcpServer m_server;
    QHash<QTcpSocket*, Session> m_sessions;
};

struct Counts {
    int Connected = 0;
    int Closed = 0;
    QByteArray Received;
};

class SocksConnectionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(target.listen(QHostAddress::LocalHost, 0));
        targetHook = QObject::connect(&target, &QTcpServer::newConnection, [this] {
            accepted = target.nextPendingConnection();
            accepted->write(TargetGreeting);
        });
    }
    void TearDown() override { QObject::disconnect(targetHook); }

    // Through the test's proxy, unless the proxy is given.
    std::unique_ptr<TSocketServerConnection> Make(const QString& host, qint32 level, const QString& user = {},
                                                  const QString& password = {}, const QString& socksServer = {},
                                                  qint32 socksPort = 0)
    {
        TConnectionSettings settings;
        settings.SocksServer = socksServer.isEmpty() ? QStringLiteral("127.0.0.1") : socksServer;
        settings.SocksPort = socksPort != 0 ? socksPort : proxy.Port();
        settings.SocksLevel = level;
        settings.SocksUser = user;
        settings.SocksPassword = password;
        auto connection =
            std::make_unique<TSocketServerConnection>(host, QString::number(target.serverPort()), settings);
        connection->OnSessionConnected = [this](TGenericServerConnection*) { ++counts.Connected; };
        connection->OnSessionClosed = [this](TGenericServerConnection*) { ++counts.Closed; };
        connection->OnDataAvailable = [this](TGenericServerConnection* sender) {
            counts.Received += sender->ReadAll();
        };
        return connection;
    }
    // Connects, checks every byte the proxy was sent, then that both
    // directions carry bytes once it relays.
    void ExpectRelayedAfterHandshake(TSocketServerConnection& connection, const QByteArray& handshake)
    {
        ASSERT_TRUE(connection.Connect());
        ASSERT_TRUE(WaitFor([&] { return counts.Connected == 1; }));
        EXPECT_EQ(connection.State(), TSocketServerConnection::Connected);
        EXPECT_EQ(proxy.Handshake(), handshake);
        ExpectDataFlowsBothWays(connection);
    }
    void ExpectClosedWithoutConnecting(TSocketServerConnection& connection)
    {
        ASSERT_TRUE(connection.Connect());
        ASSERT_TRUE(WaitFor([&] { return counts.Closed == 1; }));
        EXPECT_EQ(counts.Connected, 0);
        EXPECT_EQ(connection.State(), TSocketServerConnection::Closed);
        EXPECT_FALSE(accepted) << "the target was never reached";
    }
    void ExpectDataFlowsBothWays(TSocketServerConnection& connection)
    {
        ASSERT_TRUE(WaitFor([&] { return counts.Received == TargetGreeting && accepted; }));
        connection.Send("from the client");
        ASSERT_TRUE(WaitFor([&] { return accepted->bytesAvailable() >= 15; }));
        EXPECT_EQ(accepted->readAll(), "from the client");
        accepted->write(" and back");
        ASSERT_TRUE(WaitFor([&] { return counts.Received.endsWith(" and back"); }));
        EXPECT_EQ(counts.Closed, 0);
    }

    const QByteArray TargetGreeting = "target speaks first";
    QTcpServer target;
    QPointer<QTcpSocket> accepted;
    QMetaObject::Connection targetHook;
    TestSocksProxy proxy;
    Counts counts;
};

// ---------------------------------------------------------------- SOCKS 4

TEST_F(SocksConnectionTest, Socks4SendsTheRequestWithTheUserCodeAndRelaysAfterTheGrant)
{
    auto connection = Make("127.0.0.1", 4, "alice");
    ExpectRelayedAfterHandshake(*connection, Bytes({4, 1}) + BigEndianPort(target.serverPort()) +
                                                 Bytes({127, 0, 0, 1}) + "alice" + Bytes({0}));
}

TEST_F(SocksConnectionTest, Socks4aSendsTheHostNameForTheProxyToResolve)
{
    auto connection = Make("localhost", 4);
    ExpectRelayedAfterHandshake(*connection, Bytes({4, 1}) + BigEndianPort(target.serverPort()) +
                                                 Bytes({0, 0, 0, 1, 0}) + "localhost" + Bytes({0}));
}

TEST_F(SocksConnectionTest, Socks4BytesRightBehindTheReplyAreNotSwallowed)
{
    proxy.AfterGrant = "early ";
    auto connection = Make("127.0.0.1", 4);
    ASSERT_TRUE(connection->Connect());
    ASSERT_TRUE(WaitFor([&] { return counts.Received == "early " + TargetGreeting; }));
    EXPECT_EQ(counts.Connected, 1);
}

TEST_F(SocksConnectionTest, Socks4RefusalClosesTheSessionWithAClearError)
{
    proxy.RefuseRequests = true;
    auto connection = Make("127.0.0.1", 4, "alice");
    ExpectClosedWithoutConnecting(*connection);
    EXPECT_EQ(connection->ErrorText, "SOCKS 4 proxy refused the connection (code 91: rejected or failed)");
    connection.reset();
    EXPECT_EQ(counts.Closed, 1);
}

// Refused later, or refused inside the connect call itself (the system will
// not dial a broadcast address): either way the session ends once, with why.
TEST_F(SocksConnectionTest, Socks4ProxyThatCannotBeReachedClosesTheSessionOnceWithTheReason)
{
    QTcpServer unused;
    ASSERT_TRUE(unused.listen(QHostAddress::LocalHost, 0));
    const QString deadPort = QString::number(unused.serverPort());
    unused.close();
    for (const QString& proxy : {"127.0.0.1:" + deadPort, QStringLiteral("255.255.255.255:1080")}) {
        counts = {};
        auto connection = Make("127.0.0.1", 4, {}, {}, proxy.section(':', 0, 0), proxy.section(':', 1).toInt());
        connection->Connect();
        WaitFor([&] { return counts.Closed > 1; }, std::chrono::seconds(1));
        EXPECT_EQ(counts.Closed, 1) << proxy.toStdString();
        EXPECT_EQ(counts.Connected, 0);
        EXPECT_TRUE(connection->ErrorText.startsWith("SOCKS 4 proxy " + proxy + " cannot be reached"))
            << connection->ErrorText.toStdString();
    }
}

TEST_F(SocksConnectionTest, Socks4ConnectionDestroyedWhileWaitingForTheReplyReportsClosedOnce)
{
    QTcpServer silent; // accepts and never answers
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    auto connection = Make("127.0.0.1", 4, "alice", {}, {}, silent.serverPort());
    ASSERT_TRUE(connection->Connect());
    QTcpSocket* proxySide = nullptr;
    ASSERT_TRUE(WaitFor([&] {
        if (!proxySide && silent.hasPendingConnections())
            proxySide = silent.nextPendingConnection();
        return proxySide && proxySide->bytesAvailable() == 14; // 8 + "alice" + 0
    }));
    connection.reset();
    EXPECT_EQ(counts.Closed, 1);
    EXPECT_EQ(counts.Connected, 0);
    EXPECT_TRUE(WaitFor([&] { return proxySide->state() == QAbstractSocket::UnconnectedState; }));
}

TEST(Socks4Handshake, BadPortsRefuseToStartAndTheConnectionFailsAtOnce)
{
    QTcpSocket socket;
    TSocks4Handshake handshake(socket);
    EXPECT_THROW(handshake.Start("127.0.0.1", 99999, "127.0.0.1", 80, {}), std::invalid_argument);
    EXPECT_EQ(handshake.Phase(), TSocks4Handshake::NotStarted);

    TSocketServerConnection connection("127.0.0.1", "80", LoopbackSocks(0, 4));
    int closed = 0;
    connection.OnSessionClosed = [&](TGenericServerConnection*) { ++closed; };
    EXPECT_FALSE(connection.Connect());
    EXPECT_EQ(closed, 1);
    EXPECT_TRUE(connection.ErrorText.contains("proxy port \"0\" is not a port number"))
        << connection.ErrorText.toStdString();
}

// ---------------------------------------------------------------- SOCKS 5

TEST_F(SocksConnectionTest, Socks5WithoutAuthenticationRelaysBothWays)
{
    auto connection = Make("127.0.0.1", 5);
    ExpectRelayedAfterHandshake(*connection, Bytes({5, 1, 0}) + Bytes({5, 1, 0, 1, 127, 0, 0, 1}) +
                                                 BigEndianPort(target.serverPort()));
}

TEST_F(SocksConnectionTest, Socks5UserCodeAuthenticationSendsUserAndPassword)
{
    proxy.User = "alice";
    proxy.Password = "secret";
    auto connection = Make("127.0.0.1", 5, "alice", "secret");
    ExpectRelayedAfterHandshake(*connection, Bytes({5, 1, 2}) + Bytes({1, 5}) + "alice" + Bytes({6}) + "secret" +
                                                 Bytes({5, 1, 0, 1, 127, 0, 0, 1}) +
                                                 BigEndianPort(target.serverPort()));
}

TEST_F(SocksConnectionTest, Socks5WrongPasswordClosesWithoutConnecting)
{
    proxy.User = "alice";
    proxy.Password = "secret";
    auto wrong = Make("127.0.0.1", 5, "alice", "guess");
    ExpectClosedWithoutConnecting(*wrong);
}

TEST_F(SocksConnectionTest, Socks5RefusedRequestClosesWithoutConnecting)
{
    proxy.RefuseRequests = true;
    auto connection = Make("127.0.0.1", 5);
    ExpectClosedWithoutConnecting(*connection);
}

TEST_F(SocksConnectionTest, UnknownSocksLevelFailsAtOnceInsteadOfGoingDirect)
{
    auto connection = Make("127.0.0.1", 6);
    EXPECT_FALSE(connection->Connect());
    EXPECT_EQ(counts.Closed, 1);
    EXPECT_TRUE(connection->ErrorText.contains("SOCKS level \"6\"")) << connection->ErrorText.toStdString();
}

// ---------------------------------------------------------------- the tunnel through proxies

struct TunnelEvents {
    int Connected = 0;
    int Closed = 0;
    QStringList DebugTexts;
};

std::unique_ptr<THttpTunnel> MakeTunnel(const QString& url, TunnelEvents& events, TConnectionSettings settings = {})
{
    settings.SendTimeout = 60000;
    auto tunnel = std::make_unique<THttpTunnel>(url, settings);
    tunnel->OnSessionConnected = [&events](TGenericServerConnection*) { ++events.Connected; };
    tunnel->OnSessionClosed = [&events](TGenericServerConnection*) { ++events.Closed; };
    tunnel->OnDebugText = [&events](TGenericServerConnection*, const QString& text) { events.DebugTexts << text; };
    return tunnel;
}

TEST(TunnelThroughProxies, Socks5CarriesTheGetAndThePostsWithUserCode)
{
    HttpTunnelPeer peer;
    TestSocksProxy proxy;
    proxy.User = "alice";
    proxy.Password = "secret";
    TunnelEvents events;
    auto tunnel = MakeTunnel(peer.Url(), events, LoopbackSocks(proxy.Port(), 5, "alice", "secret"));
    ASSERT_TRUE(tunnel->Connect());
    ASSERT_TRUE(WaitFor([&] { return events.Connected == 1; }));
    EXPECT_TRUE(proxy.Handshake().startsWith(Bytes({5, 1, 2, 1, 5}) + "alice" + Bytes({6}) + "secret"));
    EXPECT_EQ(proxy.RequestedHost, "127.0.0.1");
    EXPECT_EQ(proxy.RequestedPort, peer.Port());
    tunnel->Send("through socks");
    ASSERT_TRUE(WaitFor([&] { return tunnel->SequenceNumber() == 1; }));
    // The POST went on a connection of its own through the same proxy.
    ASSERT_GE(proxy.Relays, 2);
    EXPECT_EQ(proxy.Handshakes[1], proxy.Handshakes[0]);
    ASSERT_EQ(peer.Posts.size(), 1);
    EXPECT_EQ(peer.Posts[0].Target, "/post/t1");
}

TEST(TunnelThroughProxies, Socks4IsRefusedWithAClearTextRatherThanGoingDirect)
{
    HttpTunnelPeer peer;
    TunnelEvents events;
    auto tunnel = MakeTunnel(peer.Url(), events, LoopbackSocks(TConnectionSettings().SocksPort, 4));
    EXPECT_FALSE(tunnel->Connect());
    EXPECT_EQ(events.Closed, 1);
    const QString expected = "THttpTunnel.Connect, EHttpException, SOCKS 4 cannot carry HTTP requests; "
                             "use SOCKS 5 or an HTTP proxy, 0, ";
    EXPECT_EQ(tunnel->ErrorText, expected);
    EXPECT_EQ(events.DebugTexts, QStringList({expected}));
    EXPECT_TRUE(WaitFor([&] { return peer.Gets.isEmpty(); })) << "nothing went direct";
}

// A tunnel to a name only a proxy can reach, through the peer acting as the
// HTTP proxy that wants user "bob" with password "pa55".
std::unique_ptr<THttpTunnel> MakeProxiedTunnel(HttpTunnelPeer& proxy, const QString& password, TunnelEvents& events,
                                               TConnectionSettings settings = {})
{
    proxy.RequiredProxyAuthorization = "Basic " + QByteArray("bob:pa55").toBase64();
    proxy.PostAddress = "http://tunnel.invalid/post/t9";
    settings.Proxy = "127.0.0.1";
    settings.ProxyPort = proxy.Port();
    settings.ProxyUser = "bob";
    settings.ProxyPassword = password;
    return MakeTunnel("http://tunnel.invalid/stream", events, settings);
}

TEST(TunnelThroughProxies, HttpProxyGetsAbsoluteTargetsAndProxyAuthorization)
{
    HttpTunnelPeer proxy; // serves the tunnel itself, as the proxy would relay it
    TunnelEvents events;
    // The HTTP proxy wins.
    auto tunnel = MakeProxiedTunnel(proxy, "pa55", events, LoopbackSocks(1, 5));
    ASSERT_TRUE(tunnel->Connect());
    ASSERT_TRUE(WaitFor([&] { return events.Connected == 1; }));
    tunnel->Send("via the proxy");
    ASSERT_TRUE(WaitFor([&] { return tunnel->SequenceNumber() == 1; }));

    ASSERT_EQ(proxy.Gets.size(), 1);
    EXPECT_EQ(proxy.Gets[0].Target, "http://tunnel.invalid/stream");
    EXPECT_EQ(proxy.Gets[0].Header("proxy-authorization"), proxy.RequiredProxyAuthorization);
    ASSERT_EQ(proxy.Posts.size(), 1);
    EXPECT_EQ(proxy.Posts[0].Target, "http://tunnel.invalid/post/t9");
    EXPECT_EQ(proxy.Posts[0].Header("proxy-authorization"), proxy.RequiredProxyAuthorization);
    EXPECT_EQ(events.Closed, 0);
}

TEST(TunnelThroughProxies, HttpProxyRefusingTheCredentialsClosesTheTunnel)
{
    HttpTunnelPeer proxy;
    TunnelEvents events;
    auto tunnel = MakeProxiedTunnel(proxy, "wrong", events);
    ASSERT_TRUE(tunnel->Connect());
    ASSERT_TRUE(WaitFor([&] { return events.Closed == 1; }));
    EXPECT_EQ(events.Connected, 0);
    EXPECT_GE(proxy.ProxyChallenges, 1);
    EXPECT_TRUE(proxy.Gets.isEmpty());
}

} // namespace
