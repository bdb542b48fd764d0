#pragma once
// Integration tests against the reference alert server: the server as a child
// process (port picked by the system, every message it receives and every
// frame it sends logged), and a real TMainConnection of the test's own aimed
// at it over TCP, recording what its user would see.
//
//   ReferenceServer server(TAVISK_SERVER_BIN);
//   ASSERT_TRUE(server.Start({"--rate", "20"}));
//   ClientProbe client(server.Address());
//   client.Main->AddCategory("strike");
//   client.LogIn("trader", "pw");
//   ASSERT_TRUE(client.WaitForStatus("Connected!"));
//   ASSERT_TRUE(server.Control("drop now"));
#include "base/DebugLog.h"
#include "Zembra/MainConnectionUnit.h"
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVector>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include <ostream>

// Readable texts in failed assertions.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QByteArray& bytes, std::ostream* out) { *out << '"' << bytes.toStdString() << '"'; }

namespace ReferenceServerKit {

// One client message as the server decoded it, pairs in the order received.
struct ReceivedMessage {
    int Session = 0;
    TMessageToServer Pairs;
    QByteArray Value(const QByteArray& key) const;
};

// A message written out pair by pair, for comparisons.
TMessageToServer Pairs(std::initializer_list<std::pair<QByteArray, QByteArray>> pairs);
// One message a line, every value in full; readable in a failed assertion.
QByteArray Describe(const TMessageToServer& message);
QByteArray Describe(const QVector<TMessageToServer>& messages);
QByteArray Describe(const QVector<ReceivedMessage>& messages);

// One frame the server sent.
struct SentFrame {
    int Session = 0;
    qint32 Id = 0;
    QByteArray Payload;
};

class ReferenceServer {
public:
    explicit ReferenceServer(QString program) : m_program(std::move(program)) {}
    ~ReferenceServer();
    ReferenceServer(const ReferenceServer&) = delete;
    ReferenceServer& operator=(const ReferenceServer&) = delete;

    // Starts the server with message logging and the given options, on Port
    // (0: the system picks one). A port just given up by a killed server may
    // take a moment to become free, so a busy port is tried again for a while.
    // True once the server listens.
    bool Start(const QStringList& arguments = {}, quint16 port = 0);
    // Ends the process at once, as a crash or a power cut would.
    void Kill();
    // Asks the server to quit and waits for it.
    void Quit();

    quint16 Port() const { return m_port; }
    QByteArray Address() const;

    // Sends one control line; true when the server confirmed it with "ok: ".
    bool Control(const QByteArray& line);

    // Everything the server has logged so far.
    QByteArray Log();
    int CountLogLines(const QByteArray& text);
    // Runs the event loop until the log holds Text at least Count times.
    bool WaitForLog(const QByteArray& text, int count = 1,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // Plain preamble lines, client messages and frames, parsed from the log.
    QVector<QByteArray> PlainLines(int session);
    QVector<ReceivedMessage> Received();
    QVector<ReceivedMessage> Received(int session);
    QVector<ReceivedMessage> ReceivedCommands(const QByteArray& command);
    QVector<SentFrame> Sent(int session, qint32 id);

private:
    QByteArray NextStdoutLine(std::chrono::milliseconds timeout);
    void ReadLog();

    QString m_program;
    std::unique_ptr<QProcess> m_process;
    QByteArray m_log;
    quint16 m_port = 0;
};

// A free port below the system's range for outgoing connections. A client
// that keeps dialling a port where nothing listens can, once in many
// thousand attempts, be given that very port as its own and connect to
// itself; with a port outside that range this cannot happen.
quint16 FreePortOutsideEphemeralRange();

// Counts the server connections of the conversations it made and how many
// of them still exist; wraps the real transport the conversation would use.
struct ConnectionCounts {
    int Created = 0;
    int Alive = 0;
};

// A TMainConnection of the test's own with the
// server's address, recording statuses, alerts, why each conversation ended
// and the debug log. Further "[Connection]" keys (one "key=value" a line)
// stay in "Braxo.ini" for every conversation to read.
class ClientProbe {
public:
    // The dependencies' connection factory is the probe's own.
    explicit ClientProbe(const QByteArray& serverAddress, const QByteArray& connectionKeys = {},
                         TMainConnectionDependencies dependencies = {});
    ~ClientProbe();
    ClientProbe(const ClientProbe&) = delete;
    ClientProbe& operator=(const ClientProbe&) = delete;

    void LogIn(const QByteArray& user, const QByteArray& password);
    bool WaitForStatus(const QString& status, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    bool WaitForStatusChange(const std::function<bool(const QString&)>& accept,
                             std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Waits until Count more alerts than now have arrived.
    bool WaitForMoreAlerts(std::size_t count = 3, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Waits until a conversation made after the first CreatedBefore ones is connected.
    bool WaitForConnectedConversation(int createdBefore, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Sends a message the server ignores but logs, over the current
    // conversation, and waits for the log to show it: everything the client
    // sent before it is then in the log too.
    bool SyncWith(ReferenceServer& server);

    std::unique_ptr<TMainConnection> Main;
    QStringList Statuses;
    std::vector<QByteArray> Alerts;
    // ErrorText of each conversation whose connection closed, in order.
    QStringList EndedWith;
    QStringList DebugLines;
    std::shared_ptr<ConnectionCounts> Connections = std::make_shared<ConnectionCounts>();

private:
    std::unique_ptr<TDebugSinkScope> m_debugSink; // into DebugLines
    std::vector<TSubscription> m_watches; // statuses and alerts, from Main
};

} // namespace ReferenceServerKit
