// The reference server's per-connection alert counts, which the soak run
// compares with what the client received: they must tell exactly how many
// alerts each connection carried, per category, and none may be left out.
#include "ReferenceServer.h"
#include "TestEnvironment.h"
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <optional>

#ifdef TAVISK_SERVER_BIN

using namespace ReferenceServerKit;
using namespace std::chrono_literals;
using TestEnvironment::WaitFor;

namespace {

using TCounts = std::map<QByteArray, int>;

struct TCountLine {
    TCounts Sent;
    TCounts Unwritten;
};

TCounts ParseCounts(const QByteArray& text)
{
    TCounts counts;
    for (const QByteArray& item : text.split(' ')) {
        const qsizetype equals = item.indexOf('=');
        if (equals > 0)
            counts[item.left(equals)] = item.mid(equals + 1).toInt();
    }
    return counts;
}

// The count line of one session, or nothing when the log has none.
std::optional<TCountLine> CountLine(ReferenceServer& server, int session)
{
    const QRegularExpression pattern(QStringLiteral("session %1: alerts sent ([^;\\n]*); unwritten ([^\\n]*)").arg(session));
    const QRegularExpressionMatch match = pattern.match(QString::fromUtf8(server.Log()));
    if (!match.hasMatch())
        return std::nullopt;
    return TCountLine{ParseCounts(match.captured(1).toUtf8()), ParseCounts(match.captured(2).toUtf8())};
}

TCounts CountByCategory(const std::vector<QByteArray>& alerts)
{
    TCounts counts;
    for (const QByteArray& alert : alerts)
        ++counts[alert.left(alert.indexOf("\r\n"))];
    return counts;
}

class AlertAccountingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Server.Start({"--rate", "200", "--seed", "5"}));
        Probe = std::make_unique<ClientProbe>(Server.Address());
    }

    // Logs in with the given categories and waits for a few alerts.
    void Connect(std::initializer_list<QByteArray> categories)
    {
        for (const QByteArray& category : categories)
            Client().Main->AddCategory(category);
        Client().LogIn("trader", "pw");
        ASSERT_TRUE(Client().WaitForStatus("Connected!"));
        ASSERT_TRUE(Client().WaitForMoreAlerts(40));
    }

    ReferenceServer Server{TAVISK_SERVER_BIN};
    // Made once the server listens: it takes the server's address.
    std::unique_ptr<ClientProbe> Probe;
    ClientProbe& Client() { return *Probe; }
};

TEST_F(AlertAccountingTest, CountsOfAClosedConnectionMatchWhatTheClientReceived)
{
    ASSERT_NO_FATAL_FAILURE(Connect({"strike", "ferrik"}));
    // STOP follows every alert of the connection and ends the client's
    // session without a reconnection; the drop then closes the connection.
    ASSERT_TRUE(Server.Control("stop end of test"));
    ASSERT_TRUE(WaitFor([&] { return Client().Main->Stopped(); }, 10s));
    ASSERT_TRUE(Server.Control("drop now"));
    ASSERT_TRUE(Server.WaitForLog("session 1: alerts sent"));

    const std::optional<TCountLine> line = CountLine(Server, 1);
    ASSERT_TRUE(line.has_value());
    const TCounts received = CountByCategory(Client().Alerts);
    EXPECT_EQ(line->Sent, received);
    EXPECT_GT(line->Sent.at("strike"), 0);
    EXPECT_GT(line->Sent.at("ferrik"), 0);
    // A drop closes gracefully: everything queued was handed over first.
    EXPECT_EQ(line->Unwritten, (TCounts{{"ferrik", 0}, {"strike", 0}}));
}

TEST_F(AlertAccountingTest, EachConnectionIsCountedOnItsOwnAndSubscribedCategoriesAppearWithoutAlerts)
{
    ASSERT_NO_FATAL_FAILURE(Connect({"strike", "no-such-category"}));
    const int createdBefore = Client().Connections->Created;
    ASSERT_TRUE(Server.Control("drop now"));
    ASSERT_TRUE(Client().WaitForConnectedConversation(createdBefore));
    ASSERT_TRUE(Client().WaitForMoreAlerts(20));
    ASSERT_TRUE(Server.Control("stop end of test"));
    ASSERT_TRUE(WaitFor([&] { return Client().Main->Stopped(); }, 10s));
    ASSERT_TRUE(Server.Control("drop now"));
    ASSERT_TRUE(Server.WaitForLog("session 2: alerts sent"));

    const std::optional<TCountLine> first = CountLine(Server, 1);
    const std::optional<TCountLine> second = CountLine(Server, 2);
    ASSERT_TRUE(first.has_value() && second.has_value());
    EXPECT_EQ(first->Sent.at("no-such-category"), 0);
    EXPECT_GT(first->Sent.at("strike"), 0);
    EXPECT_GT(second->Sent.at("strike"), 0);
    EXPECT_EQ(first->Sent.at("strike") + second->Sent.at("strike"), int(Client().Alerts.size()));
}

} // namespace

#endif
