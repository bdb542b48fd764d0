// The TCP connection against a QTcpServer on 127.0.0.1, and one conversation
// over it end to end.
#include "ServerDrain.h"
#include "base/Assertions.h"
#include "Shared/SocketServerConnections.h"
#include "Shared/TalkWithServer.h"
#include "LocalProxy.h"
#include "TestEnvironment.h"
#include "WireTestKit.h"
#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>
#include <chrono>
#include <memory>

using TestEnvironment::WaitFor;

namespace {

struct EventCounts {
    int Connected = 0;
    int Closed = 0;
    int Data = 0;
};

class SocketTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0)); }

    std::unique_ptr<TSocketServerConnection> Make(const QString& host, const QString& port,
                                                  TConnectionSettings settings = {})
    {
        auto connection = std::make_unique<TSocketServerConnection>(host, port, std::move(settings));
        connection->OnSessionConnected = [this](TGenericServerConnection*) { ++counts.Connected; };
        connection->OnSessionClosed = [this](TGenericServerConnection*) { ++counts.Closed; };
        connection->OnDataAvailable = [this](TGenericServerConnection*) { ++counts.Data; };
        return connection;
    }
    std::unique_ptr<TSocketServerConnection> MakeToServer(TConnectionSettings settings = {})
    {
        return Make("127.0.0.1", QString::number(server.serverPort()), std::move(settings));
    }
    TConnectionSettings ToServer() const
    {
        TConnectionSettings settings;
        settings.Address = "127.0.0.1:" + QString::number(server.serverPort());
        return settings;
    }
    // Connects and waits until both ends are up; returns the server's end.
    QTcpSocket* Open(TSocketServerConnection& connection)
    {
        EXPECT_TRUE(connection.Connect());
        EXPECT_TRUE(WaitFor([&] { return counts.Connected == 1 && server.hasPendingConnections(); }));
        return server.nextPendingConnection();
    }

    QTcpServer server;
    EventCounts counts;
};

TEST_F(SocketTest, OpensSendsAndDrainsABurstInOneRead)
{
    auto connection = MakeToServer();
    EXPECT_EQ(connection->State(), TSocketServerConnection::NotConnected);
    QTcpSocket* peer = Open(*connection);
    ASSERT_NE(peer, nullptr);
    EXPECT_EQ(connection->State(), TSocketServerConnection::Connected);
    EXPECT_TRUE(connection->ReadAll().isEmpty()) << "nothing waiting yet";

    connection->Send("hello ");
    connection->Send("server");
    QByteArray atServer;
    ASSERT_TRUE(WaitFor([&] {
        atServer += peer->readAll();
        return atServer.size() >= 12;
    }));
    EXPECT_EQ(atServer, "hello server");

    QByteArray burst(10000, Qt::Uninitialized);
    for (int i = 0; i < burst.size(); ++i)
        burst[i] = static_cast<char>(i * 7);
    peer->write(burst);
    ASSERT_TRUE(WaitFor([&] { return connection->BytesWaiting() >= burst.size(); }));
    EXPECT_GE(counts.Data, 1);
    const QByteArray received = connection->ReadAll();
    EXPECT_EQ(received.size(), burst.size());
    EXPECT_EQ(received, burst);
    EXPECT_TRUE(connection->ReadAll().isEmpty());
    EXPECT_EQ(counts.Connected, 1);
    EXPECT_EQ(counts.Closed, 0);
}

// Flow control: what nobody reads stops at a megabyte in this process; the
// rest waits with the server, and none of it is lost.
TEST_F(SocketTest, UnreadBytesStopAtAMegabyteWhileTheServerIsHeldBack)
{
    auto connection = MakeToServer();
    QTcpSocket* peer = Open(*connection);
    ASSERT_NE(peer, nullptr);
    QByteArray sent(32 << 20, Qt::Uninitialized);
    for (qsizetype i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<char>(i * 13 + i / 4093);
    peer->write(sent);
    ASSERT_TRUE(WaitFor([&] { return connection->BytesWaiting() == 1 << 20; }));
    EXPECT_GT(peer->bytesToWrite(), 0);
    QByteArray received;
    ASSERT_TRUE(WaitFor([&] {
        received += connection->ReadAll();
        return received.size() == sent.size();
    }, std::chrono::seconds(60)));
    EXPECT_EQ(received, sent);
}

TEST_F(SocketTest, CloseTwiceReportsOnceAndLaterSendsAreDropped)
{
    auto connection = MakeToServer();
    QTcpSocket* peer = Open(*connection);
    ASSERT_NE(peer, nullptr);
    connection->Close();
    connection->Close();
    ASSERT_TRUE(WaitFor([&] { return counts.Closed >= 1; }));
    EXPECT_EQ(connection->State(), TSocketServerConnection::Closed);
    connection->Send("dropped");
    ASSERT_TRUE(WaitFor([&] { return peer->state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_TRUE(peer->readAll().isEmpty());
    connection.reset();
    EXPECT_EQ(counts.Closed, 1) << "destroying a closed connection raises nothing more";
}

TEST_F(SocketTest, ServerClosingEndsTheSessionOnce)
{
    auto connection = MakeToServer();
    QByteArray read;
    connection->OnDataAvailable = [&](TGenericServerConnection* sender) { read += sender->ReadAll(); };
    QTcpSocket* peer = Open(*connection);
    ASSERT_NE(peer, nullptr);
    peer->write("last words");
    peer->disconnectFromHost();
    ASSERT_TRUE(WaitFor([&] { return counts.Closed == 1; }));
    EXPECT_EQ(read, "last words") << "bytes sent just before the close are not lost";
    connection->Close();
    connection.reset();
    EXPECT_EQ(counts.Closed, 1);
    EXPECT_EQ(counts.Connected, 1);
}

TEST_F(SocketTest, RefusedConnectReportsClosedOnlyOnce)
{
    const QString port = QString::number(server.serverPort());
    server.close(); // nothing listens there any more
    auto connection = Make("127.0.0.1", port);
    EXPECT_TRUE(connection->Connect());
    ASSERT_TRUE(WaitFor([&] { return counts.Closed >= 1; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(counts.Closed, 1);
    EXPECT_EQ(counts.Connected, 0);
    EXPECT_EQ(connection->ErrorText, "Connection refused");
    connection.reset();
    EXPECT_EQ(counts.Closed, 1);
}

// Qt's close() would let the lookup and the connect run on and open the
// session afterwards; Close ends it within the call.
TEST_F(SocketTest, CloseWhileStillLookingUpEndsTheSessionAtOnce)
{
    auto connection = Make("localhost", QString::number(server.serverPort()));
    ASSERT_TRUE(connection->Connect());
    connection->Close();
    EXPECT_EQ(counts.Closed, 1);
    EXPECT_EQ(connection->State(), TSocketServerConnection::Closed);
    EXPECT_TRUE(connection->ErrorText.isEmpty()) << "ended by its owner, not failed";
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(counts.Connected, 0);
    connection.reset();
    EXPECT_EQ(counts.Closed, 1);
}

TEST_F(SocketTest, UnresolvableHostEndsWithDnsError)
{
    auto connection = Make("no-such-host.invalid", "9339");
    EXPECT_TRUE(connection->Connect()) << "the lookup runs without blocking";
    ASSERT_TRUE(WaitFor([&] { return counts.Closed >= 1; }, std::chrono::seconds(60)));
    EXPECT_EQ(connection->ErrorText, "DNS error");
    EXPECT_EQ(counts.Closed, 1);
    EXPECT_EQ(counts.Connected, 0);
}

TEST_F(SocketTest, ImmediateFailuresNameTheClassAndMessage)
{
    auto connection = Make("127.0.0.1", "not-a-port");
    int closedBeforeReturn = -1;
    connection->OnSessionClosed = [&](TGenericServerConnection*) { closedBeforeReturn = ++counts.Closed; };
    EXPECT_FALSE(connection->Connect());
    EXPECT_EQ(closedBeforeReturn, 1);
    EXPECT_EQ(connection->ErrorText, "TSocketServerConnection.Connect, ESocketException, invalid port \"not-a-port\"");
    EXPECT_EQ(connection->State(), TSocketServerConnection::NotConnected);
    connection.reset();
    EXPECT_EQ(counts.Closed, 2) << "a failed connect leaves the state open, so destruction reports again";
}

TEST_F(SocketTest, SocksRequestDoesNotSilentlyGoDirect)
{
    // A port where nothing listens: the negotiation with the proxy fails.
    QTcpServer closedProxy;
    ASSERT_TRUE(closedProxy.listen(QHostAddress::LocalHost, 0));
    const TConnectionSettings socks = LoopbackSocks(closedProxy.serverPort(), 5, "user", "pw");
    closedProxy.close();

    auto connection = MakeToServer(socks);
    EXPECT_TRUE(connection->Connect()) << connection->ErrorText.toStdString();
    ASSERT_TRUE(WaitFor([&] { return counts.Closed == 1; }));
    EXPECT_EQ(counts.Connected, 0);
    QCoreApplication::processEvents();
    EXPECT_FALSE(server.hasPendingConnections()) << "the target server was reached without the proxy";
}

TEST_F(SocketTest, MisuseIsAnAssertionFailure)
{
    auto connection = MakeToServer();
    try {
        connection->Send("too early");
        FAIL() << "expected an assertion failure";
    } catch (const EAssertionFailed& e) {
        EXPECT_STREQ(e.Unit(), "SocketServerConnections");
        EXPECT_EQ(e.Line(), 199);
    }
    EXPECT_TRUE(connection->Connect());
    try {
        connection->Connect();
        FAIL() << "expected an assertion failure";
    } catch (const EAssertionFailed& e) {
        EXPECT_EQ(e.Text(), "Assertion failure");
        EXPECT_STREQ(e.Unit(), "SocketServerConnections");
        EXPECT_EQ(e.Line(), 102);
    }
}

TEST_F(SocketTest, DestroyingAnOpenConnectionReportsTheEnd)
{
    auto connection = MakeToServer();
    QTcpSocket* peer = Open(*connection);
    ASSERT_NE(peer, nullptr);
    connection.reset();
    EXPECT_EQ(counts.Closed, 1);
    EXPECT_TRUE(WaitFor([&] { return peer->state() == QAbstractSocket::UnconnectedState; }));
}

TEST_F(SocketTest, HandlersMayCloseOrDestroyTheConnectionFromInsideTheDataEvent)
{
    auto closing = MakeToServer();
    closing->OnDataAvailable = [&](TGenericServerConnection* sender) {
        sender->ReadAll();
        sender->Close();
    };
    QTcpSocket* peer = Open(*closing);
    ASSERT_NE(peer, nullptr);
    peer->write("bad bytes");
    ASSERT_TRUE(WaitFor([&] { return counts.Closed == 1; }));

    counts = {};
    auto destroyed = MakeToServer();
    destroyed->OnDataAvailable = [&](TGenericServerConnection*) { destroyed.reset(); };
    QTcpSocket* peer2 = Open(*destroyed);
    ASSERT_NE(peer2, nullptr);
    peer2->write("x");
    ASSERT_TRUE(WaitFor([&] { return destroyed == nullptr; }));
    EXPECT_EQ(counts.Closed, 1);
    EXPECT_TRUE(WaitFor([&] { return peer2->state() == QAbstractSocket::UnconnectedState; }));
}

// The whole path: preamble and compressed messages out, frames back in.
TEST_F(SocketTest, ConversationRunsOverTheRealSocket)
{
    TTalkWithServer talk(ToServer());
    QByteArray answer;
    int answers = 0;
    talk.SendMessage(BuildMessage({"command", "ping", "response", '1'}), false,
                     [&](bool success, const QByteArray& text, const TMessageToServer&) {
                         EXPECT_TRUE(success);
                         answer = text;
                         ++answers;
                     });
    talk.Connect();
    ASSERT_TRUE(WaitFor([&] { return server.hasPendingConnections(); }));
    QTcpSocket* peer = server.nextPendingConnection();
    WireTestKit::ClientStreamDecoder decoder;
    QVector<TMessageToServer> messages;
    ASSERT_TRUE(WaitFor([&] {
        decoder.Feed(peer->readAll());
        messages += decoder.TakeMessages();
        return !messages.isEmpty();
    }));
    EXPECT_TRUE(decoder.PreambleSeen());
    EXPECT_EQ(WireTestKit::ValueOf(messages[0], "command"), "ping");
    const qint32 id = WireTestKit::ValueOf(messages[0], "message_id").toInt();
    ASSERT_EQ(id, 1);
    WireTestKit::ServerStreamEncoder encoder;
    peer->write(encoder.FrameBurst(id, "pong"));
    ASSERT_TRUE(WaitFor([&] { return answers == 1; }));
    EXPECT_EQ(answer, "pong");
    EXPECT_EQ(talk.State(), TTalkWithServer::Connected);
    peer->disconnectFromHost();
    ASSERT_TRUE(WaitFor([&] { return talk.State() == TTalkWithServer::Closed; }));
    EXPECT_EQ(talk.ErrorText(), "Unexpected disconnect from server.");
}

// A server that writes megabytes and closes: nothing it wrote is lost to the
// close, nothing comes twice or out of order, and the end is reported once.
TEST_F(SocketTest, AServerThatWritesMegabytesAndClosesIsDrainedInOrderThenEndsOnce)
{
    TTalkWithServer talk(ToServer());
    ServerDrain drain;
    ASSERT_TRUE(drain.Run(talk, server)) << drain.Summary().toStdString();
    EXPECT_TRUE(drain.EveryFrameThenOneError()) << drain.Summary().toStdString();
}

} // namespace
