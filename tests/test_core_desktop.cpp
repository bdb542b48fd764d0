// The client's desktop services against the real ones from Debian, on a
// session bus of the test's own (never the user's): its D-Bus service as
// dbus-monitor and gdbus see it.
#include "platform/core/SessionBusService.h"
#include "TestEnvironment.h"
#include "base/DebugLog.h"
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

using TestEnvironment::WaitFor;
using namespace std::chrono_literals;

namespace {

// Which Debian package brings each program the tests start.
const QList<std::pair<QString, QString>> PackageOfProgram = {
    {"dbus-daemon", "dbus-daemon"}, {"dbus-monitor", "dbus-bin"}, {"gdbus", "libglib2.0-bin"}};

// Empty when every program is on this machine, else which package is missing.
QString MissingPackage(const QStringList& programs)
{
    for (const auto& [program, package] : PackageOfProgram)
        if (programs.contains(program) && QStandardPaths::findExecutable(program).isEmpty())
            return QStringLiteral("%1 is missing: install the Debian package %2 (tools/setup.sh asan does)")
                .arg(program, package);
    return QString();
}

#define TAV_SKIP_WITHOUT(...)                                                                                          \
    if (const QString missing = MissingPackage({__VA_ARGS__}); !missing.isEmpty())                                    \
    GTEST_SKIP() << missing.toStdString()

// A program the test runs beside it, with all it has written; stopped when
// the object goes.
class Peer {
public:
    Peer(const QString& program, const QStringList& arguments)
    {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(program, arguments);
    }
    ~Peer()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(3000);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    const QByteArray& Output()
    {
        m_output += m_process.readAll();
        return m_output;
    }
    // Runs the event loop (the client's side answers meanwhile) until the
    // output holds every text.
    bool WaitForOutput(const QList<QByteArray>& texts, std::chrono::milliseconds timeout = 10s)
    {
        return WaitFor([&] { return std::all_of(texts.begin(), texts.end(), [&](const QByteArray& text) { return Output().contains(text); }); },
                       timeout);
    }
    // The exit code once it has ended by itself, -1 if it does not.
    int WaitForExit(std::chrono::milliseconds timeout = 10s)
    {
        if (!WaitFor([&] { return m_process.state() == QProcess::NotRunning; }, timeout))
            return -1;
        Output();
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

private:
    QProcess m_process;
    QByteArray m_output;
};

// The test's own session bus, started once for the binary and made the
// session bus of this process and of every program it starts. Its
// configuration activates nothing: no service runs unless a test starts it.
class PrivateSessionBus : public ::testing::Environment {
public:
    static QString Address() { return s_address; }

    void SetUp() override
    {
        if (!MissingPackage({"dbus-daemon"}).isEmpty())
            return;
        const QString config = m_dir.filePath("bus.conf");
        QFile file(config);
        file.open(QIODevice::WriteOnly);
        file.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                   " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                   "<busconfig><type>session</type><listen>unix:dir=" + QFile::encodeName(m_dir.path()) +
                   "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" "
                   "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
        file.close();
        m_daemon = std::make_unique<Peer>("dbus-daemon", QStringList{"--config-file=" + config, "--print-address", "--nofork"});
        if (m_daemon->WaitForOutput({"\n"}))
            s_address = QString::fromUtf8(m_daemon->Output().split('\n').constFirst().trimmed());
        qputenv("DBUS_SESSION_BUS_ADDRESS", s_address.toUtf8());
    }
    void TearDown() override { m_daemon.reset(); }

private:
    static inline QString s_address;
    QTemporaryDir m_dir;
    std::unique_ptr<Peer> m_daemon;
};

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
