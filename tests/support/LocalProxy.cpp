#include "LocalProxy.h"
#include "ReferenceServer.h"
#include "TestEnvironment.h"
#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTcpSocket>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

using namespace std::chrono_literals;
using TestEnvironment::WaitFor;

namespace {

constexpr int StartAttempts = 3;

// A daemon started by root drops to this account for its work, as its
// packaging intends; an ordinary user cannot switch accounts and must not ask to.
struct UnprivilegedAccount {
    QByteArray User;
    QByteArray Group;
};

std::optional<UnprivilegedAccount> AccountToDropTo()
{
    if (geteuid() != 0)
        return std::nullopt;
    const passwd* user = getpwnam("nobody");
    if (user == nullptr)
        return std::nullopt;
    const group* primary = getgrgid(user->pw_gid);
    return UnprivilegedAccount{user->pw_name, primary != nullptr ? QByteArray(primary->gr_name) : QByteArray()};
}

} // namespace

LocalProxy::LocalProxy(TKind kind) : m_kind(kind) {}

LocalProxy::~LocalProxy() { Stop(); }

QString LocalProxy::ProgramName() const
{
    return m_kind == Dante ? "danted" : m_kind == Tinyproxy ? "tinyproxy" : "stunnel4";
}

QString LocalProxy::PackageName() const
{
    return m_kind == Dante ? "dante-server" : m_kind == Tinyproxy ? "tinyproxy" : "stunnel4";
}

bool LocalProxy::Installed()
{
    // Daemons live in sbin, which an ordinary user's PATH may leave out.
    m_program = QStandardPaths::findExecutable(ProgramName());
    if (m_program.isEmpty())
        m_program = QStandardPaths::findExecutable(ProgramName(), {"/usr/sbin", "/usr/local/sbin", "/sbin"});
    if (m_program.isEmpty())
        m_failure = ProgramName() + " is not installed (package " + PackageName() + "; tools/setup.sh installs it)";
    return !m_program.isEmpty();
}

QByteArray LocalProxy::Configuration() const
{
    const QByteArray port = QByteArray::number(m_port);
    const std::optional<UnprivilegedAccount> account = AccountToDropTo();
    QByteArray text;
    if (m_kind == Dante) {
        text = "logoutput: stderr\n"
               "internal: 127.0.0.1 port = " + port + "\n"
               "external: 127.0.0.1\n"
               "clientmethod: none\n"
               "socksmethod: " + QByteArray(RequireUsername ? "username" : "none") + "\n";
        if (account)
            text += "user.privileged: root\nuser.unprivileged: " + account->User + "\n";
        text += "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 log: error }\n"
                "socks pass { from: 127.0.0.0/8 to: 127.0.0.0/8 log: connect disconnect error }\n";
    } else if (m_kind == Stunnel) {
        // In the foreground it logs to stderr; "pid =" writes no pid file.
        text = "foreground = yes\npid =\ndebug = 5\n[alerts]\naccept = 127.0.0.1:" + port +
               "\nconnect = 127.0.0.1:" + QByteArray::number(Target) + "\ncert = " + Certificate.toUtf8() +
               "\nkey = " + Key.toUtf8() + "\n";
    } else {
        text = "Port " + port + "\nListen 127.0.0.1\nTimeout 600\nAllow 127.0.0.1\nMaxClients 20\nLogLevel Connect\n";
        if (account)
            text += "User " + account->User + "\nGroup " + account->Group + "\n";
    }
    return text;
}

bool LocalProxy::Start()
{
    if (m_program.isEmpty() && !Installed())
        return false;
    if (!m_dir.isValid()) {
        m_failure = "no temporary folder for the configuration";
        return false;
    }
    // A port found free can be taken by someone else before the daemon binds
    // it; then the daemon exits and another port is tried.
    for (int attempt = 0; attempt < StartAttempts; ++attempt) {
        bool portTaken = false;
        if (StartOnce(portTaken))
            return true;
        if (!portTaken)
            return false;
    }
    return false;
}

bool LocalProxy::StartOnce(bool& portTaken)
{
    Stop();
    m_log.clear();
    m_port = ReferenceServerKit::FreePortOutsideEphemeralRange();
    const QString configPath = m_dir.filePath(ProgramName() + ".conf");
    QFile config(configPath);
    if (m_port == 0 || !config.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        config.write(Configuration()) < 0) {
        m_failure = "cannot write " + configPath;
        return false;
    }
    config.close();

    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setProgram(m_program);
    // Both stay in the foreground: danted unless told to detach, tinyproxy with -d.
    if (m_kind == Dante)
        m_process->setArguments({"-f", configPath, "-p", m_dir.filePath("danted.pid")});
    else if (m_kind == Tinyproxy)
        m_process->setArguments({"-d", "-c", configPath});
    else
        m_process->setArguments({configPath});
    m_process->start();
    if (!m_process->waitForStarted(10000)) {
        m_failure = m_program + " cannot be run here: " + m_process->errorString();
        return false;
    }
    const QDeadlineTimer deadline(15s);
    while (!deadline.hasExpired()) {
        if (AcceptsConnections())
            return true;
        if (m_process->state() == QProcess::NotRunning)
            break;
        WaitFor([] { return false; }, 100ms);
    }
    const QByteArray output = Log();
    portTaken = output.contains("in use");
    m_failure = m_program + " did not accept connections on port " + QString::number(m_port) + "; its output:\n" +
                QString::fromUtf8(output);
    Stop();
    return false;
}

bool LocalProxy::AcceptsConnections() const
{
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, m_port);
    WaitFor([&probe] { return probe.state() == QAbstractSocket::ConnectedState ||
                              probe.state() == QAbstractSocket::UnconnectedState; },
            2s);
    const bool connected = probe.state() == QAbstractSocket::ConnectedState;
    probe.abort();
    return connected;
}

void LocalProxy::Stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate(); // danted's main process also ends its helpers
        if (!m_process->waitForFinished(5000)) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
    }
    Log();
    m_process.reset();
}

QByteArray LocalProxy::Log()
{
    if (m_process)
        m_log += m_process->readAll();
    return m_log;
}

bool LocalProxy::WaitForLog(const QByteArray& text, std::chrono::milliseconds timeout)
{
    return WaitFor([&] { return Log().contains(text); }, timeout);
}
