#include "ReferenceServer.h"
#include "LocalMainConnection.h"
#include "base/DebugLog.h"
#include "Shared/ServerConnectionFactory.h"
#include "TestEnvironment.h"
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTcpServer>
#include <QRegularExpression>
#include <QStringList>

namespace ReferenceServerKit {

using namespace std::chrono_literals;
using TestEnvironment::WaitFor;

namespace {

// "HH:mm:ss.zzz session 3: received message_id=1&command=login&..."
const QRegularExpression SessionLine(QStringLiteral("^\\S+ session (\\d+): (\\S+) (.*)$"));

struct SessionLogLine {
    int Session = 0;
    QString Verb;
    QByteArray Rest;
};

QVector<SessionLogLine> SessionLines(const QByteArray& log)
{
    QVector<SessionLogLine> lines;
    for (const QByteArray& raw : log.split('\n')) {
        const QRegularExpressionMatch match = SessionLine.match(QString::fromUtf8(raw));
        if (match.hasMatch())
            lines.append({match.captured(1).toInt(), match.captured(2), match.captured(3).toUtf8()});
    }
    return lines;
}

TMessageToServer DecodePairs(const QByteArray& encoded)
{
    TMessageToServer pairs;
    for (const QByteArray& piece : encoded.split('&')) {
        const qsizetype equals = piece.indexOf('=');
        pairs.append({QByteArray::fromPercentEncoding(piece.left(equals)),
                      QByteArray::fromPercentEncoding(equals < 0 ? QByteArray() : piece.mid(equals + 1))});
    }
    return pairs;
}

// The conversation's real transport, counted: made by the conversation's
// connection factory, gone when the conversation that owns it is gone.
class CountedConnection final : public TGenericServerConnection {
public:
    CountedConnection(std::unique_ptr<TGenericServerConnection> inner, std::shared_ptr<ConnectionCounts> counts)
        : TGenericServerConnection(inner->Settings()), m_counts(std::move(counts)), m_inner(std::move(inner))
    {
        ++m_counts->Created;
        ++m_counts->Alive;
        m_inner->OnSessionClosed = [this](TGenericServerConnection* inner) {
            ErrorText = inner->ErrorText;
            RaiseSessionClosed();
        };
        m_inner->OnSessionConnected = [this](TGenericServerConnection*) { RaiseSessionConnected(); };
        m_inner->OnDataAvailable = [this](TGenericServerConnection*) { RaiseDataAvailable(); };
        m_inner->OnDebugText = [this](TGenericServerConnection*, const QString& text) { RaiseDebugText(text); };
    }
    ~CountedConnection() override
    {
        // The inner connection may still report its end while it goes.
        m_inner.reset();
        --m_counts->Alive;
    }

    bool Connect() override
    {
        const bool started = m_inner->Connect();
        ErrorText = m_inner->ErrorText;
        return started;
    }
    QString EncryptionProtocol() const override { return m_inner->EncryptionProtocol(); }
    void Send(const QByteArray& data) override { m_inner->Send(data); }
    void Close() override { m_inner->Close(); }
    QByteArray ReadAll() override { return m_inner->ReadAll(); }

private:
    std::shared_ptr<ConnectionCounts> m_counts;
    std::unique_ptr<TGenericServerConnection> m_inner;
};

} // namespace

QByteArray ReceivedMessage::Value(const QByteArray& key) const
{
    for (const TMessageField& field : Pairs)
        if (field.Key == key)
            return field.Value;
    return {};
}

TMessageToServer Pairs(std::initializer_list<std::pair<QByteArray, QByteArray>> pairs)
{
    TMessageToServer message;
    for (const auto& [key, value] : pairs)
        message.append(TMessageField{key, value});
    return message;
}

// Every value in full: unlike the client's log form, passwords are shown.
QByteArray Describe(const TMessageToServer& message)
{
    QByteArrayList pairs;
    for (const TMessageField& field : message)
        pairs.append('"' + field.Key + "\" --> \"" + field.Value + '"');
    return '(' + pairs.join(", ") + ')';
}

QByteArray Describe(const QVector<TMessageToServer>& messages)
{
    QByteArray text;
    for (const TMessageToServer& message : messages)
        text += Describe(message) + '\n';
    return text;
}

QByteArray Describe(const QVector<ReceivedMessage>& messages)
{
    QVector<TMessageToServer> pairs;
    for (const ReceivedMessage& message : messages)
        pairs.append(message.Pairs);
    return Describe(pairs);
}

// ---------------------------------------------------------------------------

ReferenceServer::~ReferenceServer() { Quit(); }

bool ReferenceServer::Start(const QStringList& arguments, quint16 port)
{
    const QDeadlineTimer deadline(15s);
    for (;;) {
        m_process = std::make_unique<QProcess>();
        m_process->setProgram(m_program);
        m_process->setArguments(QStringList{"--port", QString::number(port), "--log-messages"} + arguments);
        m_process->setProcessChannelMode(QProcess::SeparateChannels);
        m_process->start();
        const QByteArray first = NextStdoutLine(20s);
        if (first.startsWith("listening on ")) {
            m_port = static_cast<quint16>(first.mid(13).trimmed().toUInt());
            return m_port != 0;
        }
        m_process->waitForFinished(5000);
        m_log.clear();
        const bool portBusy = Log().contains("cannot listen");
        if (port == 0 || !portBusy || deadline.hasExpired())
            return false;
        WaitFor([] { return false; }, 100ms);
    }
}

void ReferenceServer::Kill()
{
    if (!m_process || m_process->state() == QProcess::NotRunning)
        return;
    ReadLog();
    m_process->kill();
    m_process->waitForFinished(10000);
}

void ReferenceServer::Quit()
{
    if (!m_process || m_process->state() == QProcess::NotRunning)
        return;
    m_process->write("quit\n");
    if (!m_process->waitForFinished(10000)) {
        m_process->kill();
        m_process->waitForFinished(5000);
    }
}

QByteArray ReferenceServer::Address() const { return "127.0.0.1:" + QByteArray::number(m_port); }

QByteArray ReferenceServer::NextStdoutLine(std::chrono::milliseconds timeout)
{
    WaitFor([&] { return m_process->canReadLine() || m_process->state() == QProcess::NotRunning; }, timeout);
    return m_process->readLine().trimmed();
}

bool ReferenceServer::Control(const QByteArray& line)
{
    if (!m_process || m_process->state() != QProcess::Running)
        return false;
    // Commands are answered one line each, in order.
    m_process->write(line + '\n');
    return NextStdoutLine(10s).startsWith("ok: ");
}

void ReferenceServer::ReadLog()
{
    if (m_process)
        m_log += m_process->readAllStandardError();
}

QByteArray ReferenceServer::Log()
{
    ReadLog();
    return m_log;
}

int ReferenceServer::CountLogLines(const QByteArray& text)
{
    int count = 0;
    for (const QByteArray& line : Log().split('\n'))
        count += line.contains(text) ? 1 : 0;
    return count;
}

bool ReferenceServer::WaitForLog(const QByteArray& text, int count, std::chrono::milliseconds timeout)
{
    return WaitFor([&] { return CountLogLines(text) >= count; }, timeout);
}

QVector<QByteArray> ReferenceServer::PlainLines(int session)
{
    QVector<QByteArray> lines;
    for (const SessionLogLine& line : SessionLines(Log()))
        if (line.Session == session && line.Verb == "received" && line.Rest.startsWith("plain "))
            lines.append(QByteArray::fromPercentEncoding(line.Rest.mid(6)));
    return lines;
}

QVector<ReceivedMessage> ReferenceServer::Received()
{
    QVector<ReceivedMessage> messages;
    for (const SessionLogLine& line : SessionLines(Log()))
        if (line.Verb == "received" && !line.Rest.startsWith("plain "))
            messages.append({line.Session, DecodePairs(line.Rest)});
    return messages;
}

QVector<ReceivedMessage> ReferenceServer::Received(int session)
{
    QVector<ReceivedMessage> messages = Received();
    messages.removeIf([session](const ReceivedMessage& m) { return m.Session != session; });
    return messages;
}

QVector<ReceivedMessage> ReferenceServer::ReceivedCommands(const QByteArray& command)
{
    QVector<ReceivedMessage> messages = Received();
    messages.removeIf([&command](const ReceivedMessage& m) { return m.Value("command") != command; });
    return messages;
}

QVector<SentFrame> ReferenceServer::Sent(int session, qint32 id)
{
    QVector<SentFrame> frames;
    for (const SessionLogLine& line : SessionLines(Log())) {
        if (line.Session != session || line.Verb != "sent")
            continue;
        const qsizetype space = line.Rest.indexOf(' ');
        const qint32 frameId = line.Rest.left(space).toInt();
        if (frameId == id)
            frames.append({session, frameId, QByteArray::fromPercentEncoding(line.Rest.mid(space + 1))});
    }
    return frames;
}

quint16 FreePortOutsideEphemeralRange()
{
    quint16 lowest = 32768;
    QFile range(QStringLiteral("/proc/sys/net/ipv4/ip_local_port_range"));
    if (range.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> bounds = range.readAll().simplified().split(' ');
        if (const uint low = bounds.value(0).toUInt(); low > 2048 && low <= 65535)
            lowest = static_cast<quint16>(low);
    }
    // Start at a pseudo-random place so that test binaries running side by
    // side rarely try the same ports.
    const quint16 first = static_cast<quint16>(1024 + QCoreApplication::applicationPid() % (lowest - 1024));
    for (quint32 i = 0; i < static_cast<quint32>(lowest - 1024); ++i) {
        const quint16 port = static_cast<quint16>(1024 + (first - 1024 + i) % (lowest - 1024));
        QTcpServer probe;
        if (probe.listen(QHostAddress::LocalHost, port))
            return port;
    }
    return 0;
}

// ---------------------------------------------------------------------------

ClientProbe::ClientProbe(const QByteArray& serverAddress, const QByteArray& connectionKeys,
                         TMainConnectionDependencies dependencies)
{
    // Every new conversation reads its address and keys from "Braxo.ini",
    // which therefore lasts as long as the probe.
    TestEnvironment::WriteIni("[Connection]\naddress=" + serverAddress + "\n" + connectionKeys);
    dependencies.ConnectionFactory = [this, counts = Connections](TTalkWithServer& talk) {
        // The conversation's ErrorText is final once it reports its end.
        auto previous = talk.OnDisconnected;
        talk.OnDisconnected = [this, &talk, previous] {
            EndedWith.append(talk.ErrorText());
            if (previous)
                previous();
        };
        return std::unique_ptr<TGenericServerConnection>(
            std::make_unique<CountedConnection>(CreateServerConnection(talk.Settings()), counts));
    };
    Main = std::make_unique<TMainConnection>(TestIniSettings(), std::move(dependencies));
    m_watches.push_back(Main->WatchStatus([this] { Statuses.append(Main->Status()); }));
    m_watches.push_back(Main->RegisterAlertCallback([this](const QByteArray& data) { Alerts.push_back(data); }));
    m_debugSink = std::make_unique<TDebugSinkScope>([this](const QString& line) { DebugLines.append(line); });
}

ClientProbe::~ClientProbe()
{
    Main.reset();
    m_debugSink.reset();
    TestEnvironment::RemoveIni();
}

void ClientProbe::LogIn(const QByteArray& user, const QByteArray& password)
{
    Main->SetUserName(user);
    Main->SetPassword(password);
}

bool ClientProbe::WaitForStatus(const QString& status, std::chrono::milliseconds timeout)
{
    return WaitFor([&] { return Main->Status() == status; }, timeout);
}

bool ClientProbe::WaitForStatusChange(const std::function<bool(const QString&)>& accept,
                                      std::chrono::milliseconds timeout)
{
    const qsizetype seen = Statuses.size();
    return WaitFor(
        [&] {
            for (qsizetype i = seen; i < Statuses.size(); ++i)
                if (accept(Statuses[i]))
                    return true;
            return false;
        },
        timeout);
}

bool ClientProbe::WaitForMoreAlerts(std::size_t count, std::chrono::milliseconds timeout)
{
    const std::size_t target = Alerts.size() + count;
    return WaitFor([&] { return Alerts.size() >= target; }, timeout);
}

bool ClientProbe::SyncWith(ReferenceServer& server)
{
    static int markers = 0;
    const QByteArray marker = "marker-" + QByteArray::number(++markers) + '.';
    if (!Main->Conversation())
        return false;
    Main->SendRequest(BuildMessage({"command", marker}), {});
    return server.WaitForLog("command=" + marker);
}

bool ClientProbe::WaitForConnectedConversation(int createdBefore, std::chrono::milliseconds timeout)
{
    return WaitFor(
        [&] {
            return Connections->Created > createdBefore && Main->Conversation() &&
                   Main->Conversation()->State() == TTalkWithServer::Connected;
        },
        timeout);
}

} // namespace ReferenceServerKit
