// The client's desktop services against the real ones from Debian, on a
// session bus of the test's own (never the user's): its D-Bus service as
// dbus-monitor and gdbus see it, its notifications as dunst shows them under
// Xvfb, its passwords as gnome-keyring-daemon and secret-tool keep them; and
// the rule that coalesces notifications.
#include "platform/core/FreedesktopNotifier.h"
#include "platform/core/NotificationCoalescer.h"
#include "platform/core/SecretServiceKeyring.h"
#include "platform/core/SessionBusService.h"
#include "DesktopServices.h"
#include "TestEnvironment.h"
#include "base/DebugLog.h"
#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

using TestEnvironment::WaitFor;
using namespace DesktopServices;
using namespace std::chrono_literals;

namespace {

const auto* const g_privateBus = ::testing::AddGlobalTestEnvironment(new PrivateSessionBus);

// A connection of its own to the private bus, as a second client would have.
QDBusConnection Connection(const QString& name)
{
    return QDBusConnection::connectToBus(PrivateSessionBus::Address(), name);
}

// The debug log's notes while it lives.
struct NotesSeen {
    QStringList Lines;
    TDebugSinkScope Scope{[this](const QString& line) { Lines << line; }, [this](const QString& line) { Lines << line; }};
    qsizetype Count(const QString& text) const { return Lines.filter(text).size(); }
};

QStringList BusCall(const QString& method, const QStringList& arguments)
{
    return QStringList{"call", "--address", PrivateSessionBus::Address(), "--dest", DesktopBusName,
                       "--object-path", DesktopBusPath, "--method", method} + arguments;
}

} // namespace

TEST(DesktopBus, OtherProgramsSeeLinksAndStatusAndRaiseWindowsAndASecondClientGoesOnWithoutTheName)
{
    TAV_SKIP_WITHOUT("dbus-daemon", "dbus-monitor", "gdbus");
    QStringList raised;
    TSessionBusService service([&](const QString& title) { raised << title; return title == "Strike"; },
                               Connection("first client"));
    ASSERT_TRUE(WaitFor([&] { return service.OwnsName(); }));

    Peer monitor("dbus-monitor", {"--address", PrivateSessionBus::Address(), "type='signal',path='/com/velmora/TaviskAlerts'"});
    ASSERT_TRUE(monitor.WaitForOutput({"member=NameLost"})) << monitor.Output().toStdString(); // it monitors now
    service.AnnounceLink("NVL", "Strike");
    service.SetStatus("Connected!");
    EXPECT_TRUE(monitor.WaitForOutput({"interface=com.velmora.TaviskAlerts1; member=SymbolLinked\n   string \"NVL\"\n"
                                       "   string \"Strike\"",
                                       "member=PropertiesChanged\n   string \"com.velmora.TaviskAlerts1\"",
                                       "string \"Status\"\n         variant             string \"Connected!\""}))
        << monitor.Output().toStdString();

    Peer show("gdbus", BusCall("com.velmora.TaviskAlerts1.ShowWindow", {"Strike"}));
    EXPECT_EQ(show.WaitForExit(), 0) << show.Output().toStdString();
    EXPECT_EQ(raised, QStringList{"Strike"});
    Peer missing("gdbus", BusCall("com.velmora.TaviskAlerts1.ShowWindow", {"Nowhere"}));
    EXPECT_NE(missing.WaitForExit(), 0);
    EXPECT_TRUE(missing.Output().contains("com.velmora.TaviskAlerts1.Error.NoSuchWindow: No window is titled \"Nowhere\"."))
        << missing.Output().toStdString();
    Peer status("gdbus", BusCall("org.freedesktop.DBus.Properties.Get", {"com.velmora.TaviskAlerts1", "Status"}));
    EXPECT_EQ(status.WaitForExit(), 0);
    EXPECT_EQ(status.Output(), "(<'Connected!'>,)\n");

    // A second client of the same user, and one without any bus: each works
    // on and says why once.
    NotesSeen notes;
    TSessionBusService second(nullptr, Connection("second client"));
    TSessionBusService unconnected(nullptr, QDBusConnection::connectToBus("unix:path=/nonexistent/bus", "no bus"));
    unconnected.AnnounceLink("NVL", "Strike");
    unconnected.SetStatus("Connected!");
    EXPECT_TRUE(WaitFor([&] { return notes.Count("holds the name com.velmora.TaviskAlerts") == 1; }));
    EXPECT_FALSE(second.OwnsName());
    EXPECT_EQ(notes.Count("D-Bus: no session bus"), 1) << notes.Lines.join('\n').toStdString();
    EXPECT_TRUE(service.OwnsName());
}

TEST(DesktopNotifications, DunstShowsTheNotificationAndItsDefaultActionComesBackWithoutAServerNothingBreaks)
{
    TAV_SKIP_WITHOUT("dbus-daemon", "Xvfb", "dunst", "dunstctl");
    QStringList events;
    const auto handler = [&](const QString& action, TNotificationEvent event) {
        events << action + (event == TNotificationEvent::ActionInvoked ? " invoked" : " closed");
    };
    {
        NotesSeen notes;
        QDBusConnection bus = Connection("before the server");
        TFreedesktopNotifier unserved(handler, bus);
        unserved.Notify("Strike: 1 new alert", "latest NVL 123.40", "Strike NVL");
        unserved.Notify("Strike: 2 new alerts", "latest NVL 123.50", "Strike NVL");
        ASSERT_TRUE(WaitFor([&] { return notes.Count("Desktop notifications: none can be shown") > 0; }));
        // Answers come in order: once this one is in, both refusals are too.
        bus.call(QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId"));
        QCoreApplication::processEvents();
        EXPECT_EQ(notes.Count("Desktop notifications: none can be shown"), 1) << notes.Lines.join('\n').toStdString();
    }

    DunstOnXvfb dunstSession;
    ASSERT_TRUE(dunstSession.Start()) << dunstSession.Output().toStdString();
    Peer& dunst = *dunstSession.Dunst;
    const QProcessEnvironment& environment = dunstSession.Environment;
    QDBusConnection bus = Connection("notifying client");
    ASSERT_TRUE(WaitFor([&] { return bus.interface()->isServiceRegistered("org.freedesktop.Notifications").value(); }))
        << dunst.Output().toStdString();

    TFreedesktopNotifier notifier(handler, bus);
    notifier.Notify("Strike: 12 new alerts", "latest NVL 123.40", "Strike NVL");
    ASSERT_TRUE(dunst.WaitForOutput({"summary: 'Strike: 12 new alerts'", "body: 'latest NVL 123.40'",
                                     "\"default\": \"Show\""}))
        << dunst.Output().toStdString();
    Peer invoke("dunstctl", {"action", "0"}, environment);
    EXPECT_EQ(invoke.WaitForExit(), 0) << invoke.Output().toStdString();
    EXPECT_TRUE(WaitFor([&] { return events.size() == 1; })) << events.join(", ").toStdString();
    Peer close("dunstctl", {"close"}, environment);
    EXPECT_EQ(close.WaitForExit(), 0) << close.Output().toStdString();
    EXPECT_TRUE(WaitFor([&] { return events.size() == 2; }));
    EXPECT_EQ(events.join(", "), "Strike NVL invoked, Strike NVL closed");
}

namespace {

// The keyring's answer, once it has come.
TKeyringAnswer Answered(const std::function<void(TKeyringCallback)>& call)
{
    std::optional<TKeyringAnswer> answer;
    call([&](const TKeyringAnswer& given) { answer = given; });
    return WaitFor([&] { return answer.has_value(); }, 20s) ? *answer : TKeyringAnswer{"(no answer)", false, {}};
}

} // namespace

TEST(Keyring, APasswordIsStoredReadBackByANewObjectAndDeletedAsSecretToolSees)
{
    TAV_SKIP_WITHOUT("dbus-daemon", "gnome-keyring-daemon", "secret-tool");
    const QString server = "127.0.0.1:9339";
    const QStringList entry = {"server", KeyringService, "user", "trader@" + server};
    {
        TSecretServiceKeyring keyring;
        EXPECT_EQ(Answered([&](TKeyringCallback done) { keyring.CheckAvailable(done); }).Error,
                  "The password cannot be remembered: no Secret Service (such as GNOME Keyring or KWallet) runs in "
                  "this desktop session.");
    }

    KeyringDaemon daemon;
    ASSERT_TRUE(daemon.Start()) << daemon.Output().toStdString();

    {
        TSecretServiceKeyring keyring;
        EXPECT_EQ(Answered([&](TKeyringCallback done) { keyring.CheckAvailable(done); }).Error, "");
        EXPECT_EQ(Answered([&](TKeyringCallback done) { keyring.Store(server, "trader", "s3cret pw", done); }).Error, "");
    }
    const QByteArray stored = SecretToolSearch(entry);
    EXPECT_TRUE(stored.contains("secret = s3cret pw")) << stored.toStdString();

    TSecretServiceKeyring restarted;
    const TKeyringAnswer read = Answered([&](TKeyringCallback done) { restarted.Read(server, "trader", done); });
    EXPECT_EQ(read.Error, "");
    EXPECT_TRUE(read.Found);
    EXPECT_EQ(read.Password, "s3cret pw");
    EXPECT_EQ(Answered([&](TKeyringCallback done) { restarted.Delete(server, "trader", done); }).Error, "");
    const QByteArray deleted = SecretToolSearch(entry);
    EXPECT_FALSE(deleted.contains("secret =")) << deleted.toStdString();
    const TKeyringAnswer gone = Answered([&](TKeyringCallback done) { restarted.Read(server, "trader", done); });
    EXPECT_EQ(gone.Error, "");
    EXPECT_FALSE(gone.Found);
}

TEST(NotificationCoalescer, OneNoticePerWindowPerIntervalCountingWhatCameMeanwhile)
{
    TNotificationCoalescer coalescer(5000);
    const std::optional<TNotice> first = coalescer.Add("Strike", "AAA", "1.00", 1000);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->Summary, "Strike: 1 new alert");
    EXPECT_EQ(first->Body, "latest AAA 1.00");
    for (int i = 0; i < 11; ++i)
        EXPECT_FALSE(coalescer.Add("Strike", "NVL", "123.40", 1000 + 100 * i));
    EXPECT_FALSE(coalescer.Add("Strike", "NVL", "123.40", 5999));
    EXPECT_TRUE(coalescer.Add("Bollinger", "BBB", "2.00", 1500)) << "another window is not held back";

    EXPECT_TRUE(coalescer.Due(5999).isEmpty());
    EXPECT_TRUE(coalescer.AnyWaiting());
    const QList<TNotice> due = coalescer.Due(6000);
    ASSERT_EQ(due.size(), 1);
    EXPECT_EQ(due[0].Window, "Strike");
    EXPECT_EQ(due[0].Symbol, "NVL");
    EXPECT_EQ(due[0].Summary, "Strike: 12 new alerts");
    EXPECT_EQ(due[0].Body, "latest NVL 123.40");

    // The counted notice starts an interval of its own; a spike is named.
    EXPECT_FALSE(coalescer.Add("Strike", "XYZ", "", 8000, true));
    EXPECT_TRUE(coalescer.Due(10999).isEmpty());
    const QList<TNotice> spike = coalescer.Due(11000);
    ASSERT_EQ(spike.size(), 1);
    EXPECT_EQ(spike[0].Summary, "Strike: price spike in XYZ, 1 new alert");
    EXPECT_EQ(spike[0].Body, "latest XYZ");
    EXPECT_FALSE(coalescer.AnyWaiting());
    EXPECT_TRUE(coalescer.Due(100000).isEmpty());
    // Alerts that came together count as many.
    const std::optional<TNotice> together = coalescer.Add("Strike", "AAA", "1.00", 100000, false, 3);
    ASSERT_TRUE(together);
    EXPECT_EQ(together->Summary, "Strike: 3 new alerts");
}
