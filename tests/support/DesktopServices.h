#pragma once
// The desktop services from Debian that tests start for themselves, never
// the user's: a session bus of the test binary's own (register
// PrivateSessionBus as a global test environment), programs beside the test
// (Peer), dunst under Xvfb as the notification server on that bus, and
// gnome-keyring-daemon unlocked with a test password on it.
#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>

namespace DesktopServices {

// Empty when every program is on this machine, else which package is missing.
QString MissingPackage(const QStringList& programs);

// A program the test runs beside it, with all it has written; stopped when
// the object goes.
class Peer {
public:
    Peer(const QString& program, const QStringList& arguments,
         const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());
    ~Peer();
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    const QByteArray& Output();
    // Runs the event loop (the client's side answers meanwhile) until the
    // output holds every text.
    bool WaitForOutput(const QList<QByteArray>& texts, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // The exit code once it has ended by itself, -1 if it does not.
    int WaitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    QProcess m_process;
    QByteArray m_output;
};

// The first line a peer writes (the address, the display number), once written.
QString FirstLine(Peer& peer);

// The test's own session bus, started once for the binary and made the
// session bus of this process and of every program it starts. Its
// configuration activates nothing: no service runs unless a test starts it.
class PrivateSessionBus : public ::testing::Environment {
public:
    static QString Address() { return s_address; }
    void SetUp() override;
    void TearDown() override;

private:
    static inline QString s_address;
    QTemporaryDir m_dir;
    std::unique_ptr<Peer> m_daemon;
};

// gnome-keyring-daemon on the private bus, keeping its keyring in a home of
// its own, unlocked by a test password; stopped when the object goes.
class KeyringDaemon {
public:
    // True once org.freedesktop.secrets is on the bus.
    bool Start();
    QByteArray Output() { return m_daemon ? m_daemon->Output() : QByteArray(); }

private:
    QTemporaryDir m_home;
    std::unique_ptr<Peer> m_daemon;
};

// dunst on an Xvfb display of its own, with a temporary home and an empty
// configuration, serving org.freedesktop.Notifications on the private bus.
// It prints each notification (-print); dunstctl reaches it with Environment.
struct DunstOnXvfb {
    QTemporaryDir Home;
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
    std::unique_ptr<Peer> Display;
    std::unique_ptr<Peer> Dunst;

    // True once dunst holds the notifications name on the private bus.
    bool Start();
    // What the display and dunst wrote, to explain a failed start.
    QByteArray Output() const;
};

// What `secret-tool search --all` prints for the attributes.
QByteArray SecretToolSearch(const QStringList& attributes);

} // namespace DesktopServices

#define TAV_SKIP_WITHOUT(...)                                                                                          \
    if (const QString missing = DesktopServices::MissingPackage({__VA_ARGS__}); !missing.isEmpty())                   \
    GTEST_SKIP() << missing.toStdString()
