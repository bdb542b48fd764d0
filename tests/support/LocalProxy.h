#pragma once
// A real proxy daemon from the system's packages (danted for SOCKS 5,
// tinyproxy for HTTP, stunnel4 as a TLS terminator), run by a test in the foreground on 127.0.0.1 with a
// free port and a configuration file in a temporary folder of its own; it
// stops when the object goes. Its log (the daemon's own output) shows which
// connections it carried.
//
//   LocalProxy socks(LocalProxy::Dante);
//   if (!socks.Installed()) GTEST_SKIP() << socks.Failure();
//   ASSERT_TRUE(socks.Start()) << socks.Failure();
#include "Shared/ConnectionSettings.h"
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <optional>
#include <chrono>
#include <memory>

class LocalProxy {
public:
    enum TKind { Dante, Tinyproxy, Stunnel };

    explicit LocalProxy(TKind kind);
    ~LocalProxy();
    LocalProxy(const LocalProxy&) = delete;
    LocalProxy& operator=(const LocalProxy&) = delete;

    // SOCKS only: offer the user-name method instead of none. The daemon
    // checks the pair against the system's accounts.
    bool RequireUsername = false;
    // Stunnel only: the plain port it forwards to, and its certificate and key.
    quint16 Target = 0;
    QString Certificate;
    QString Key;

    // False when the daemon's program is not on this machine (Failure says which).
    bool Installed();
    // Writes the configuration, starts the daemon and waits until it accepts
    // connections. False with Failure (and the daemon's output) when it
    // could not.
    bool Start();
    quint16 Port() const { return m_port; }
    const QString& Failure() const { return m_failure; }

    QByteArray Log();
    // Runs the event loop until the log holds Text.
    bool WaitForLog(const QByteArray& text, std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    QString ProgramName() const;
    QString PackageName() const;
    QByteArray Configuration() const;
    bool StartOnce(bool& portTaken);
    bool AcceptsConnections() const;
    void Stop();

    TKind m_kind;
    QString m_program;
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    QString m_failure;
    QByteArray m_log;
};

// Settings that go through a SOCKS proxy on 127.0.0.1 at this port.
inline TConnectionSettings LoopbackSocks(quint16 port, int level, const QString& user = {},
                                         const QString& password = {})
{
    TConnectionSettings settings;
    settings.SocksServer = QStringLiteral("127.0.0.1");
    settings.SocksPort = port;
    settings.SocksLevel = level;
    settings.SocksUser = user;
    settings.SocksPassword = password;
    return settings;
}
