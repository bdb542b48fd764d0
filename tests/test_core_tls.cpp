// TLS between the client and the reference server, with certificates made
// at test time: which servers are accepted (an authority from "tls ca file",
// "tls peer name", a pinned fingerprint) and which are refused, what the user
// is told, and that a refused server never receives the login; TLS through
// a real stunnel4 and through SOCKS (danted), and the https tunnel.
#include "HttpTunnelPeer.h"
#include "LocalProxy.h"
#include "ReferenceServer.h"
#include "ServerDrain.h"
#include "Shared/HttpTunnels.h"
#include "Shared/SocketServerConnections.h"
#include "Shared/TalkWithServer.h"
#include "TestCertificates.h"
#include "TestEnvironment.h"
#include "platform/core/CertificateProbe.h"
#include "platform/core/IniFile.h"
#include "platform/core/TlsPolicy.h"
#include <QFile>
#include <QSslKey>
#include <QSslServer>
#include <QTcpServer>
#include <gtest/gtest.h>
#include <memory>

#ifdef TAVISK_SERVER_BIN

using namespace ReferenceServerKit;
using namespace std::chrono_literals;
using TestEnvironment::WaitFor;

namespace {

TestCertificates* g_certificates = nullptr;

QString Cert(const char* file) { return g_certificates->Path(file); }
QByteArray CaFileKey() { return "tls ca file=" + Cert("ca.pem").toUtf8() + '\n'; }
// The status while the client tries again after a refusal with this reason.
QString Retrying(QString reason)
{
    reason.chop(reason.endsWith(u'.') ? 1 : 0);
    return reason + "; trying again";
}

QByteArray PinKey(const char* file) { return "tls fingerprint=" + g_certificates->OpensslFingerprint(Cert(file)) + '\n'; }

class TlsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static TestCertificates certificates;
        static const bool made = certificates.Make();
        g_certificates = made ? &certificates : nullptr;
        if (!made)
            std::fprintf(stderr, "%s\n", certificates.Failure().toUtf8().constData());
    }
    void SetUp() override
    {
        if (!g_certificates)
            GTEST_SKIP() << "no test certificates (is openssl installed?)";
    }
    void TearDown() override
    {
        Client.reset();
        Server.reset();
        TestEnvironment::RemoveIni();
    }

    // The reference server, serving TLS with the given certificate (none: plain).
    void StartServer(const char* certificate, QStringList more = {})
    {
        Server = std::make_unique<ReferenceServer>(TAVISK_SERVER_BIN);
        QStringList arguments{"--rate", "20"};
        if (certificate)
            arguments << "--tls-cert" << Cert(certificate) << "--tls-key" << Cert("server.key");
        ASSERT_TRUE(Server->Start(arguments + more));
    }
    void LogIn(const QByteArray& address, const QByteArray& keys)
    {
        Client = std::make_unique<ClientProbe>(address, keys);
        Client->Main->AddCategory("strike");
        Client->LogIn("trader", "pw");
    }
    void ExpectWorkingAndEncrypted()
    {
        ASSERT_TRUE(Client->WaitForStatus("Connected!", 20s)) << Client->Main->Status().toStdString();
        ASSERT_TRUE(Client->WaitForMoreAlerts(3));
        EXPECT_EQ(Client->Main->Encryption().Protocol, "TLS 1.3");
        EXPECT_TRUE(Client->Main->Encryption().Required);
        EXPECT_EQ(Server->ReceivedCommands("login").size(), 1);
    }
    // The reason is shown and stays while the client keeps trying; the
    // server never received a single message.
    void ExpectRefused(const QString& reason)
    {
        const QString status = Retrying(reason);
        ASSERT_TRUE(Client->WaitForStatus(status, 20s)) << Client->Main->Status().toStdString();
        ASSERT_TRUE(WaitFor([&] { return Client->Connections->Created >= 3; }, 10s));
        EXPECT_EQ(Client->Main->Status(), status);
        EXPECT_FALSE(Client->Statuses.contains("Connected!"));
        EXPECT_TRUE(Client->Main->Encryption().Protocol.isEmpty());
        EXPECT_TRUE(Server->Received().isEmpty()) << Describe(Server->Received()).toStdString();
        EXPECT_TRUE(Client->Alerts.empty());
    }

    std::unique_ptr<ReferenceServer> Server;
    std::unique_ptr<ClientProbe> Client;
};

struct AcceptedCase {
    const char* Name;
    const char* Certificate;
    QByteArray (*Keys)();
};

void PrintTo(const AcceptedCase& c, std::ostream* out) { *out << c.Name; }

class AcceptedServerTest : public TlsTest, public ::testing::WithParamInterface<AcceptedCase> {};

TEST_P(AcceptedServerTest, LogsInAndAlertsFlowEncrypted)
{
    ASSERT_NO_FATAL_FAILURE(StartServer(GetParam().Certificate));
    LogIn(Server->Address(), GetParam().Keys());
    ExpectWorkingAndEncrypted();
}

// Any of the TLS keys asks for TLS: "tls" itself is not needed, and may
// say so in words.
INSTANTIATE_TEST_SUITE_P(
    Tls, AcceptedServerTest,
    ::testing::Values(AcceptedCase{"TrustedThroughTheCaFile", "server.pem", [] { return "tls=Yes\n" + CaFileKey(); }},
                      AcceptedCase{"CertificateForThePeerName", "named.pem",
                                   [] { return CaFileKey() + "tls peer name=" + TestCertificates::NamedHost + '\n'; }},
                      AcceptedCase{"SelfSignedButPinned", "self.pem", [] { return PinKey("self.pem"); }},
                      // The pin stands in for the name as well as for the authority.
                      AcceptedCase{"PinnedButForAnotherName", "named.pem", [] { return PinKey("named.pem"); }}),
    [](const ::testing::TestParamInfo<AcceptedCase>& info) { return std::string(info.param.Name); });

struct RefusedCase {
    const char* Name;
    const char* Certificate;
    QByteArray (*Keys)();
    const char* Reason;
};

void PrintTo(const RefusedCase& c, std::ostream* out) { *out << c.Name; }

class RefusedServerTest : public TlsTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedServerTest, NeverGetsTheLoginAndTheUserSeesWhy)
{
    ASSERT_NO_FATAL_FAILURE(StartServer(GetParam().Certificate));
    LogIn(Server->Address(), "tls=1\n" + GetParam().Keys());
    ExpectRefused(GetParam().Reason);
}

INSTANTIATE_TEST_SUITE_P(
    Tls, RefusedServerTest,
    ::testing::Values(
        RefusedCase{"SelfSignedWithoutTheCa", "self.pem", [] { return QByteArray(); },
                    "The server's certificate is not trusted (self-signed or from an unknown authority)."},
        RefusedCase{"ForAnotherName", "named.pem", [] { return CaFileKey(); },
                    "The server's certificate is for another name (expected \"127.0.0.1\")."},
        RefusedCase{"Expired", "expired.pem", [] { return CaFileKey(); }, "The server's certificate has expired."},
        // The pin excuses the unknown authority, never the expiry beside it.
        RefusedCase{"PinnedButExpired", "expired.pem", [] { return PinKey("expired.pem"); },
                    "The server's certificate has expired."},
        RefusedCase{"SelfSignedNotThePinnedOne", "self.pem", [] { return PinKey("other.pem"); },
                    "The server's certificate does not match the configured fingerprint."},
        RefusedCase{"TrustedButNotThePinnedOne", "server.pem", [] { return CaFileKey() + PinKey("other.pem"); },
                    "The server's certificate does not match the configured fingerprint."}),
    [](const ::testing::TestParamInfo<RefusedCase>& info) { return std::string(info.param.Name); });

// A relative name is looked up beside the configuration file.
// "Show server certificate": what the server presents, in the form the
// fingerprint setting takes, trusted or not, and not a byte of a login.
TEST_F(TlsTest, TheCertificateProbeShowsThePresentedCertificateWithoutLoggingIn)
{
    ASSERT_NO_FATAL_FAILURE(StartServer("server.pem"));
    TCertificateProbe probe;
    const auto ask = [&](quint16 port, const QString& caFile) {
        std::optional<TPresentedCertificate> seen;
        probe.Start({"127.0.0.1", port, "localhost", QNetworkProxy(QNetworkProxy::NoProxy), caFile},
                    [&](const TPresentedCertificate& presented) { seen = presented; });
        return WaitFor([&] { return seen.has_value(); }, 20s) ? *seen
                                                             : TPresentedCertificate{"(no answer)", {}, {}, {}, {}, {}, {}};
    };
    const TPresentedCertificate untrusted = ask(Server->Port(), QString());
    ASSERT_EQ(untrusted.Error, "");
    EXPECT_EQ(untrusted.Subject, "CN=localhost");
    EXPECT_EQ(untrusted.Issuer, "CN=Tavisk Test CA");
    EXPECT_LT(untrusted.ValidFrom, QDateTime::currentDateTime());
    EXPECT_GT(untrusted.ValidUntil, QDateTime::currentDateTime().addDays(29));
    EXPECT_TRUE(g_certificates->OpensslFingerprint(Cert("server.pem")).endsWith("=" + untrusted.Fingerprint.toLatin1()))
        << untrusted.Fingerprint.toStdString();
    EXPECT_FALSE(untrusted.Doubts.isEmpty());
    const TPresentedCertificate verified = ask(Server->Port(), Cert("ca.pem"));
    EXPECT_EQ(verified.Fingerprint, untrusted.Fingerprint);
    EXPECT_TRUE(verified.Doubts.isEmpty()) << verified.Doubts.join("; ").toStdString();
    EXPECT_NE(ask(FreePortOutsideEphemeralRange(), QString()).Error, "");
    EXPECT_TRUE(Server->Received().isEmpty()) << Describe(Server->Received()).toStdString();
}

TEST_F(TlsTest, ACaFileThatCannotBeReadIsShownAndNothingIsSent)
{
    ASSERT_NO_FATAL_FAILURE(StartServer("server.pem"));
    LogIn(Server->Address(), "tls=1\ntls ca file=no-such.pem\n");
    ExpectRefused("The TLS certificate authority file \"" + TestEnvironment::WorkDir() +
                  "/no-such.pem\" cannot be read: No such file or directory");
}

// Windows keeps an inline "; comment" as part of the value: a value that
// says nothing clear is refused for what it is, never taken for "off".
TEST_F(TlsTest, ATlsValueNotUnderstoodIsShownAndNothingIsSent)
{
    ASSERT_NO_FATAL_FAILURE(StartServer("server.pem"));
    LogIn(Server->Address(), "tls=1 ; required\n" + CaFileKey());
    const QString held = "In [Connection] of Braxo.ini, tls: \"1 ; required\" is not understood: write 1, yes, "
                         "true or on for TLS (0, no, false or off without), and comments on lines of their own. "
                         "Not connecting until then.";
    ASSERT_TRUE(Client->WaitForStatus(held, 20s)) << Client->Main->Status().toStdString();
    // Said once and not retried: a setting that can never work waits for a change.
    EXPECT_FALSE(WaitFor([&] { return Client->Connections->Created > 0; }, 1500ms));
    EXPECT_EQ(Client->Statuses.count(held), 1);
    EXPECT_TRUE(Server->Received().isEmpty()) << Describe(Server->Received()).toStdString();
}

TEST_F(TlsTest, TlsClientAndPlainServerPartAtOnceWithAClearStatus)
{
    ASSERT_NO_FATAL_FAILURE(StartServer(nullptr));
    LogIn(Server->Address(), "tls=1\n");
    ExpectRefused("The server does not speak TLS: it closed the connection during the TLS handshake.");
    EXPECT_TRUE(Server->WaitForLog("a TLS handshake on a plain port"));
}

TEST_F(TlsTest, PlainClientAndTlsServerPartAtOnceWithAClearStatus)
{
    ASSERT_NO_FATAL_FAILURE(StartServer("server.pem"));
    LogIn(Server->Address(), "");
    const QString reason = "The server closed the connection without answering "
                           "(does it expect TLS?).";
    ASSERT_TRUE(Client->WaitForStatus(Retrying(reason), 20s)) << Client->Main->Status().toStdString();
    EXPECT_TRUE(Server->WaitForLog("TLS handshake with 127.0.0.1"));
    EXPECT_TRUE(Server->Received().isEmpty());
    EXPECT_FALSE(Client->Main->Encryption().Required);
}

// A server that accepts the connection and never answers the handshake.
TEST_F(TlsTest, SilentServerIsGivenUpAfterTheHandshakeTimeout)
{
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    TConnectionSettings settings;
    settings.Tls.Enabled = true;
    settings.Tls.HandshakeTimeoutMs = 200;
    TSocketServerConnection connection("127.0.0.1", QString::number(silent.serverPort()), settings);
    int connected = 0;
    int closed = 0;
    connection.OnSessionConnected = [&](TGenericServerConnection*) { ++connected; };
    connection.OnSessionClosed = [&](TGenericServerConnection*) { ++closed; };
    ASSERT_TRUE(connection.Connect());
    ASSERT_TRUE(WaitFor([&] { return closed == 1; }));
    EXPECT_EQ(connected, 0);
    EXPECT_EQ(connection.ErrorText, "The server does not speak TLS: it did not answer the TLS handshake.");
}

// The plain socket's drain, encrypted: the close comes after megabytes of
// TLS records, and none of them is lost to it.
TEST_F(TlsTest, AServerThatWritesMegabytesAndClosesIsDrainedInOrderThenEndsOnce)
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(QSslCertificate::fromPath(Cert("server.pem")).value(0));
    QFile key(Cert("server.key"));
    ASSERT_TRUE(key.open(QIODevice::ReadOnly));
    configuration.setPrivateKey(QSslKey(&key, QSsl::Ec));
    QSslServer server;
    server.setSslConfiguration(configuration);
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    TConnectionSettings settings;
    settings.Address = "127.0.0.1:" + QString::number(server.serverPort());
    settings.Tls.Enabled = true;
    settings.Tls.CaFile = Cert("ca.pem");
    TTalkWithServer talk(settings);
    ServerDrain drain;
    ASSERT_TRUE(drain.Run(talk, server)) << drain.Summary().toStdString();
    EXPECT_TRUE(drain.EveryFrameThenOneError()) << drain.Summary().toStdString();
}

TEST_F(TlsTest, AMalformedFingerprintFailsAtOnce)
{
    TConnectionSettings settings;
    settings.Tls.Enabled = true;
    settings.Tls.Fingerprint = "ab:cd";
    TSocketServerConnection connection("127.0.0.1", "1", settings);
    int closed = 0;
    connection.OnSessionClosed = [&](TGenericServerConnection*) { ++closed; };
    EXPECT_FALSE(connection.Connect());
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(connection.ErrorText,
              "The TLS fingerprint setting is not a SHA-256 fingerprint (64 hexadecimal digits, colons allowed).");
}

TEST_F(TlsTest, TlsTurnedOnRefusesAPlainHttpTunnel)
{
    TConnectionSettings settings;
    settings.Tls.Enabled = true;
    THttpTunnel tunnel("http://127.0.0.1:1/stream", settings);
    EXPECT_FALSE(tunnel.Connect());
    EXPECT_EQ(tunnel.State(), THttpTunnel::Closed);
    EXPECT_EQ(tunnel.ErrorText, "TLS is turned on, but the http tunnel url does not start with https://.");
}

// Settings that say nothing clear (the reader's Problem) never connect,
// whoever is handed them.
TEST(TlsSettings, SettingsWithAProblemAreRefusedByThePolicyAndTheTunnel)
{
    TConnectionSettings settings;
    settings.Tls.Enabled = true;
    settings.Tls.Problem = "The setting tls=2 is not understood.";
    EXPECT_THROW(TTlsPolicy{settings.Tls}, ETlsSettingsError);
    THttpTunnel tunnel("https://127.0.0.1:1/stream", settings);
    EXPECT_FALSE(tunnel.Connect());
    EXPECT_EQ(tunnel.ErrorText, settings.Tls.Problem);
}

TEST(TlsFingerprint, AcceptsHexWithOrWithoutColonsAndAsOpensslPrintsIt)
{
    const QString hex = "f374f2ec190192b27acafc8b3bf79ce39ea0192e14b3498516dfe9f2872428c2";
    EXPECT_EQ(TTlsPolicy::NormalizedFingerprint(hex.toUpper()), hex);
    EXPECT_EQ(TTlsPolicy::NormalizedFingerprint("sha256 Fingerprint=F3:74:F2:EC:19:01:92:B2:7A:CA:FC:8B:3B:F7:9C:E3:"
                                                "9E:A0:19:2E:14:B3:49:85:16:DF:E9:F2:87:24:28:C2"),
              hex);
    EXPECT_EQ(TTlsPolicy::NormalizedFingerprint(" " + hex + " "), hex);
    EXPECT_TRUE(TTlsPolicy::NormalizedFingerprint(hex.left(62)).isEmpty());
    EXPECT_TRUE(TTlsPolicy::NormalizedFingerprint(hex.left(62) + "zz").isEmpty());
}

// The plain reference server behind a real TLS terminator.
TEST_F(TlsTest, LogsInThroughStunnel)
{
    ASSERT_NO_FATAL_FAILURE(StartServer(nullptr));
    LocalProxy stunnel(LocalProxy::Stunnel);
    if (!stunnel.Installed())
        GTEST_SKIP() << stunnel.Failure().toStdString();
    stunnel.Target = Server->Port();
    stunnel.Certificate = Cert("server.pem");
    stunnel.Key = Cert("server.key");
    ASSERT_TRUE(stunnel.Start()) << stunnel.Failure().toStdString();
    LogIn("127.0.0.1:" + QByteArray::number(stunnel.Port()), "tls=1\n" + CaFileKey());
    ExpectWorkingAndEncrypted();
    EXPECT_TRUE(stunnel.WaitForLog("accepted connection from 127.0.0.1")) << stunnel.Log().toStdString();
}

class TlsThroughSocksTest : public TlsTest, public ::testing::WithParamInterface<int> {};

// The certificate is checked against the server, not the proxy: the
// handshake starts once the proxy has connected us.
TEST_P(TlsThroughSocksTest, LogsInThroughDante)
{
    ASSERT_NO_FATAL_FAILURE(StartServer("server.pem"));
    LocalProxy dante(LocalProxy::Dante);
    if (!dante.Installed())
        GTEST_SKIP() << dante.Failure().toStdString();
    ASSERT_TRUE(dante.Start()) << dante.Failure().toStdString();
    LogIn(Server->Address(), "tls=1\n" + CaFileKey() + "socks server=127.0.0.1\nsocks port=" +
                                 QByteArray::number(dante.Port()) + "\nsocks level=" + QByteArray::number(GetParam()) +
                                 '\n');
    ExpectWorkingAndEncrypted();
    EXPECT_TRUE(dante.WaitForLog(" 127.0.0.1." + QByteArray::number(Server->Port()) + '\n')) << dante.Log().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Tls, TlsThroughSocksTest, ::testing::Values(4, 5),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "Socks" + std::to_string(info.param);
                         });

class HttpsTunnelTest : public TlsTest {
protected:
    void LogInOverTunnel(const char* certificate, const QByteArray& keys)
    {
        const quint16 httpPort = FreePortOutsideEphemeralRange();
        ASSERT_NE(httpPort, 0);
        ASSERT_NO_FATAL_FAILURE(StartServer(certificate, {"--http-port", QString::number(httpPort)}));
        // The TCP address leads nowhere: only the tunnel can log in.
        LogIn("127.0.0.1:1", "http tunnel url=https://127.0.0.1:" + QByteArray::number(httpPort) + "/stream\n" + keys);
    }
};

TEST_F(HttpsTunnelTest, VerifiedByTheCaFile)
{
    ASSERT_NO_FATAL_FAILURE(LogInOverTunnel("server.pem", CaFileKey()));
    ExpectWorkingAndEncrypted();
}

TEST_F(HttpsTunnelTest, SelfSignedServerIsRefusedBeforeAnyPost)
{
    ASSERT_NO_FATAL_FAILURE(LogInOverTunnel("self.pem", {}));
    ExpectRefused("The server's certificate is not trusted (self-signed or from an unknown authority).");
}

// What Qt warns about while one lives.
class QtWarnings {
public:
    QtWarnings() : m_previous(qInstallMessageHandler(Capture)) { s_current = this; }
    ~QtWarnings()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }
    QStringList Lines;

private:
    static void Capture(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        if (s_current && type == QtWarningMsg)
            s_current->Lines << text;
        if (s_current && s_current->m_previous)
            s_current->m_previous(type, context, text);
    }
    static inline QtWarnings* s_current = nullptr;
    QtMessageHandler m_previous;
};

// The refusal comes from inside Qt's report that the handshake is done;
// nothing reads the aborted request afterwards.
TEST_F(HttpsTunnelTest, TrustedButNotThePinnedOneIsRefused)
{
    QtWarnings warnings;
    ASSERT_NO_FATAL_FAILURE(LogInOverTunnel("server.pem", CaFileKey() + PinKey("other.pem")));
    ExpectRefused("The server's certificate does not match the configured fingerprint.");
    EXPECT_FALSE(warnings.Lines.join('\n').contains("device not open")) << warnings.Lines.join('\n').toStdString();
}

// The POST address may lead to another server: its refusal is named as the
// GET's would be, not counted as failed POSTs.
TEST_F(HttpsTunnelTest, ARefusedPostServerClosesTheTunnelWithTheReason)
{
    const quint16 httpsPort = FreePortOutsideEphemeralRange();
    ASSERT_NE(httpsPort, 0);
    ASSERT_NO_FATAL_FAILURE(StartServer("self.pem", {"--http-port", QString::number(httpsPort)}));
    HttpTunnelPeer get;
    get.PostAddress = "https://127.0.0.1:" + QByteArray::number(httpsPort) + "/post/t1";
    TConnectionSettings settings;
    settings.SendTimeout = 60000;
    THttpTunnel tunnel(get.Url(), settings);
    int closed = 0;
    tunnel.OnSessionClosed = [&](TGenericServerConnection*) { ++closed; };
    ASSERT_TRUE(tunnel.Connect());
    ASSERT_TRUE(WaitFor([&] { return tunnel.State() == THttpTunnel::Open; }));
    tunnel.Send("login");
    ASSERT_TRUE(WaitFor([&] { return closed == 1; }, 20s));
    EXPECT_EQ(tunnel.ErrorText, "The server's certificate is not trusted (self-signed or from an unknown authority).");
}

} // namespace

#endif
