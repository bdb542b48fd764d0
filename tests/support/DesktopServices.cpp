#include "DesktopServices.h"
#include "TestEnvironment.h"
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <algorithm>

using TestEnvironment::WaitFor;

namespace DesktopServices {

namespace {

// Which Debian package brings each program the tests start.
const QList<std::pair<QString, QString>> PackageOfProgram = {
    {"dbus-daemon", "dbus-daemon"}, {"dbus-monitor", "dbus-bin"}, {"gdbus", "libglib2.0-bin"},
    {"Xvfb", "xvfb"}, {"dunst", "dunst"}, {"dunstctl", "dunst"},
    {"gnome-keyring-daemon", "gnome-keyring"}, {"secret-tool", "libsecret-tools"}};

} // namespace

QString MissingPackage(const QStringList& programs)
{
    for (const auto& [program, package] : PackageOfProgram)
        if (programs.contains(program) && QStandardPaths::findExecutable(program).isEmpty())
            return QStringLiteral("%1 is missing: install the Debian package %2 (tools/setup.sh asan does)")
                .arg(program, package);
    return QString();
}

Peer::Peer(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setProcessEnvironment(environment);
    m_process.start(program, arguments);
}

Peer::~Peer()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(3000))
        m_process.kill();
    m_process.waitForFinished(3000);
}

const QByteArray& Peer::Output()
{
    m_output += m_process.readAll();
    return m_output;
}

bool Peer::WaitForOutput(const QList<QByteArray>& texts, std::chrono::milliseconds timeout)
{
    return WaitFor([&] { return std::all_of(texts.begin(), texts.end(), [&](const QByteArray& text) { return Output().contains(text); }); },
                   timeout);
}

int Peer::WaitForExit(std::chrono::milliseconds timeout)
{
    if (!WaitFor([&] { return m_process.state() == QProcess::NotRunning; }, timeout))
        return -1;
    Output();
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

QString FirstLine(Peer& peer)
{
    return peer.WaitForOutput({"\n"}) ? QString::fromUtf8(peer.Output().split('\n').constFirst().trimmed()) : QString();
}

void PrivateSessionBus::SetUp()
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
    s_address = FirstLine(*m_daemon);
    qputenv("DBUS_SESSION_BUS_ADDRESS", s_address.toUtf8());
}

void PrivateSessionBus::TearDown() { m_daemon.reset(); }

bool DunstOnXvfb::Start()
{
    Display = std::make_unique<Peer>("Xvfb", QStringList{"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "800x600x24"});
    const QString displayNumber = FirstLine(*Display);
    if (displayNumber.isEmpty())
        return false;
    QFile(Home.filePath("dunstrc")).open(QIODevice::WriteOnly);
    Environment.insert("DISPLAY", ':' + displayNumber);
    for (const char* variable : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        Environment.insert(variable, Home.path());
    Dunst = std::make_unique<Peer>("dunst", QStringList{"-print", "-config", Home.filePath("dunstrc")}, Environment);
    const QDBusConnection bus = QDBusConnection::connectToBus(PrivateSessionBus::Address(), "watching for dunst");
    return WaitFor([&] { return bus.interface()->isServiceRegistered("org.freedesktop.Notifications").value(); });
}

QByteArray DunstOnXvfb::Output() const
{
    return (Display ? Display->Output() : QByteArray()) + (Dunst ? Dunst->Output() : QByteArray());
}

bool KeyringDaemon::Start()
{
    QDir(m_home.path()).mkdir("run");
    QFile::setPermissions(m_home.filePath("run"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* variable : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        environment.insert(variable, m_home.path());
    environment.insert("XDG_RUNTIME_DIR", m_home.filePath("run"));
    m_daemon = std::make_unique<Peer>(
        "sh", QStringList{"-c", "printf test-password | exec gnome-keyring-daemon --unlock --components=secrets --foreground"},
        environment);
    QDBusConnection bus = QDBusConnection::connectToBus(PrivateSessionBus::Address(), "keyring watcher");
    return WaitFor([&] { return bus.interface()->isServiceRegistered("org.freedesktop.secrets").value(); });
}

QByteArray SecretToolSearch(const QStringList& attributes)
{
    Peer search("secret-tool", QStringList{"search", "--all"} + attributes);
    search.WaitForExit();
    return search.Output();
}

} // namespace DesktopServices
