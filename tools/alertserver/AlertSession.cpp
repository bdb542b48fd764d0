#include "AlertSession.h"
#include "Logger.h"
#include <QStringList>
#include <QTimer>

namespace AlertServer {

namespace {
// A plain preamble line is a few dozen bytes; anything this long is not one.
constexpr qsizetype MaxPlainLine = 4096;
const QByteArray LineEnd("\r\n");
} // namespace

AlertSession::AlertSession(ServerState& state, int number, QObject* parent)
    : QObject(parent), State(state), SessionNumber(number)
{
    // Connected before any pipe, so the offset is current when the pipe writes.
    connect(this, &AlertSession::BytesReady, this, [this](const QByteArray& bytes) { BytesEmitted += bytes.size(); });
}

void AlertSession::Note(const QString& text) const
{
    Log(QStringLiteral("session %1: %2").arg(SessionNumber).arg(text));
}

void AlertSession::NoteReceived(const QByteArray& encoded) const
{
    if (State.LogMessages)
        Note(QStringLiteral("received %1").arg(QString::fromLatin1(encoded)));
}

void AlertSession::NoteFrame(qint32 id, const QByteArray& payload) const
{
    if (State.LogMessages)
        Note(QStringLiteral("sent %1 %2").arg(id).arg(QString::fromLatin1(UrlEncode(payload))));
}

void AlertSession::Receive(const QByteArray& bytes)
{
    if (Closed)
        return;
    QByteArray compressed = bytes;
    if (!InputCompressed) {
        PlainBuffer += bytes;
        if (!TakePreambleLines())
            return;
        compressed = PlainBuffer;
        PlainBuffer.clear();
    }
    if (!compressed.isEmpty())
        HandleCompressed(compressed);
    if (PendingAnswers.isEmpty() || Closed)
        return;
    // All answers to one client burst leave as one burst of ours.
    const QByteArray frames = PendingAnswers;
    PendingAnswers.clear();
    if (State.Faults.SlowMs > 0)
        QTimer::singleShot(State.Faults.SlowMs, this, [this, frames] { SendFrames(frames); });
    else
        SendFrames(frames);
}

bool AlertSession::TakePreambleLines()
{
    // 0x16 0x03 opens a TLS handshake record, never a preamble line: the
    // client expects TLS on this plain port, and an answer would never come.
    if (PlainBuffer.startsWith("\x16\x03")) {
        Close(QStringLiteral("a TLS handshake on a plain port (serve TLS with --tls-cert)"));
        return false;
    }
    while (!InputCompressed && !Closed) {
        const qsizetype end = PlainBuffer.indexOf(LineEnd);
        if (end < 0) {
            if (PlainBuffer.size() > MaxPlainLine)
                Close(QStringLiteral("plain command line too long"));
            return false;
        }
        const QByteArray line = PlainBuffer.left(end);
        PlainBuffer.remove(0, end + LineEnd.size());
        if (!HandlePlainCommand(line))
            return false;
    }
    return InputCompressed && !Closed;
}

bool AlertSession::HandlePlainCommand(const QByteArray& line)
{
    NoteReceived("plain " + UrlEncode(line));
    const auto pairs = ParseFormPairs(line);
    const QByteArray command = pairs.value("command");
    if (command != "set_output" && command != "set_input") {
        Note(QStringLiteral("ignoring plain command \"%1\"").arg(QString::fromLatin1(line)));
        return true;
    }
    if (pairs.value("mode") != "zlib") {
        Close(QStringLiteral("unsupported mode in \"%1\"").arg(QString::fromLatin1(line)));
        return false;
    }
    // Output is always compressed; set_output only confirms what the client expects.
    if (command == "set_input")
        InputCompressed = true;
    return true;
}

void AlertSession::HandleCompressed(const QByteArray& bytes)
{
    QByteArray plain;
    const bool intact = Inflater.Inflate(bytes, plain);
    Reader.Append(plain);
    QString error;
    while (!Closed) {
        const auto message = Reader.Next(error);
        if (!message)
            break;
        HandleMessage(*message);
    }
    if (!error.isEmpty())
        Close(QStringLiteral("malformed message: %1").arg(error));
    else if (!intact)
        Close(QStringLiteral("corrupt compressed input: %1").arg(Inflater.Error()));
}

void AlertSession::HandleMessage(const WireMessage& message)
{
    NoteReceived(EncodeFields(message.Fields));
    const QByteArray command = message.Value("command");
    if (command == "login") {
        HandleLogin(message);
    } else if (command == "ping") {
        HandlePing(message);
    } else if (command == "listen_for_alerts") {
        if (message.MessageId() == 0) {
            Note(QStringLiteral("listen_for_alerts without a message id ignored"));
            return;
        }
        ListenId = message.MessageId();
        Note(QStringLiteral("alerts go to id %1").arg(ListenId));
    } else if (command == "add_alert_category") {
        const QString category = QString::fromUtf8(message.Value("category"));
        Categories.insert(category);
        Note(QStringLiteral("subscribed to \"%1\"").arg(category));
        emit Subscribed(category);
    } else {
        Note(QStringLiteral("ignoring unknown message %1").arg(message.Describe()));
    }
}

void AlertSession::HandleLogin(const WireMessage& message)
{
    const QByteArray user = message.Value("username");
    LoginId = message.MessageId();
    LoggedIn = false;
    if (const auto refusal = State.RefusalFor(user, message.Value("password"))) {
        Note(QStringLiteral("login of \"%1\" refused: %2").arg(QString::fromUtf8(user), *refusal));
        Answer(LoginId, "STOP\r\n" + refusal->toUtf8());
        return;
    }
    bool resumed = false;
    const QByteArray requested = message.Value("session_id");
    SessionId = State.OpenSession(requested, user, resumed);
    LoggedIn = true;
    if (resumed)
        Note(QStringLiteral("\"%1\" resumed session %2").arg(QString::fromUtf8(user), QString::fromLatin1(SessionId)));
    else if (!requested.isEmpty())
        Note(QStringLiteral("\"%1\" asked for unknown session %2, got %3")
                 .arg(QString::fromUtf8(user), QString::fromLatin1(requested), QString::fromLatin1(SessionId)));
    else
        Note(QStringLiteral("\"%1\" logged in, session %2").arg(QString::fromUtf8(user), QString::fromLatin1(SessionId)));
    Answer(LoginId, "SESSION ID\r\n" + SessionId);
}

void AlertSession::HandlePing(const WireMessage& message)
{
    if (State.Faults.StallPings) {
        Note(QStringLiteral("ping %1 left unanswered (stall-pings)").arg(message.MessageId()));
        return;
    }
    if (message.MessageId() > 0)
        Answer(message.MessageId(), {});
}

void AlertSession::Answer(qint32 id, const QByteArray& payload)
{
    if (id <= 0)
        return;
    NoteFrame(id, payload);
    PendingAnswers += EncodeFrame(id, payload);
}

void AlertSession::SendFrames(const QByteArray& frames)
{
    if (!Closed)
        emit BytesReady(Deflater.Compress(frames));
}

bool AlertSession::Wants(const QString& category) const
{
    return !Closed && LoggedIn && ListenId > 0 && Categories.contains(category);
}

void AlertSession::SendAlert(const QString& category, const QByteArray& fieldLine)
{
    const QByteArray payload = category.toUtf8() + LineEnd + fieldLine;
    NoteFrame(ListenId, payload);
    if (Closed)
        return;
    SendFrames(EncodeFrame(ListenId, payload));
    ++AlertsSent[category];
    AlertsUnwritten.push_back({BytesEmitted, category});
}

void AlertSession::NoteBytesWritten(qint64 count)
{
    BytesWritten += count;
    while (!AlertsUnwritten.empty() && AlertsUnwritten.front().first <= BytesWritten)
        AlertsUnwritten.pop_front();
}

QString AlertSession::AlertCountsLine() const
{
    QMap<QString, qint64> unwritten;
    for (const QString& category : Categories)
        unwritten[category] = 0;
    for (auto it = AlertsSent.begin(); it != AlertsSent.end(); ++it)
        unwritten[it.key()] = 0;
    for (const auto& alert : AlertsUnwritten)
        ++unwritten[alert.second];
    QStringList sent;
    QStringList cut;
    for (auto it = unwritten.begin(); it != unwritten.end(); ++it) {
        sent << QStringLiteral("%1=%2").arg(it.key()).arg(AlertsSent.value(it.key()));
        cut << QStringLiteral("%1=%2").arg(it.key()).arg(it.value());
    }
    return QStringLiteral("alerts sent %1; unwritten %2").arg(sent.join(QLatin1Char(' ')), cut.join(QLatin1Char(' ')));
}

void AlertSession::SendStop(const QString& reason)
{
    if (Closed || LoginId == 0) {
        Note(QStringLiteral("no login to answer with STOP"));
        return;
    }
    Note(QStringLiteral("sending STOP: %1").arg(reason));
    LoggedIn = false;
    const QByteArray payload = "STOP\r\n" + reason.toUtf8();
    NoteFrame(LoginId, payload);
    SendFrames(EncodeFrame(LoginId, payload));
}

void AlertSession::SendCorruptBytes()
{
    if (Closed)
        return;
    Note(QStringLiteral("sending corrupt compressed bytes"));
    // Read as a deflate block header this is a final block of the reserved
    // type 3, and as a zlib header it fails the header check: invalid either way.
    emit BytesReady(QByteArray::fromHex("07ffffffffffffff"));
}

void AlertSession::SendFrameHeaderOnly(qint32 length)
{
    if (Closed)
        return;
    Note(QStringLiteral("sending a frame header with length %1").arg(length));
    SendFrames(EncodeInt32(ListenId > 0 ? ListenId : LoginId) + EncodeInt32(length));
}

void AlertSession::Drop(DropStyle how, const QString& why)
{
    if (Closed)
        return;
    // A payload that compresses poorly, so that half of its burst is truly half.
    QByteArray payload("cut\r\n");
    for (int i = 0; i < 200; ++i)
        payload += "n" + QByteArray::number(i) + '=' + QByteArray::number(i * 7919 % 10007) + '&';
    const QByteArray frame = EncodeFrame(ListenId > 0 ? ListenId : LoginId, payload);
    if (how == DropStyle::MidBurst) {
        const QByteArray burst = Deflater.Compress(frame);
        emit BytesReady(burst.left(burst.size() / 2));
    } else if (how == DropStyle::MidFrame) {
        emit BytesReady(Deflater.Compress(frame.left(frame.size() / 2)));
    }
    Close(why);
}

void AlertSession::Close(const QString& why)
{
    if (Closed)
        return;
    Closed = true;
    Note(QStringLiteral("closing: %1").arg(why));
    emit CloseRequested();
}

} // namespace AlertServer
