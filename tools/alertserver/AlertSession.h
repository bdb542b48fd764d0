#pragma once
// One client conversation, independent of the pipe under it (a TCP socket or
// the HTTP tunnel): the plain preamble, the client's zlib stream of messages,
// the answers and alerts as frames in one zlib stream, and the faults that
// can be injected into it.
#include "ServerState.h"
#include "WireCodec.h"
#include <QMap>
#include <QObject>
#include <QSet>
#include <deque>

namespace AlertServer {

class AlertSession : public QObject {
    Q_OBJECT
public:
    AlertSession(ServerState& state, int number, QObject* parent = nullptr);
    int Number() const { return SessionNumber; }
    bool IsClosed() const { return Closed; }

    void Receive(const QByteArray& bytes);
    // True when the client listens for alerts and subscribed to this category.
    bool Wants(const QString& category) const;
    void SendAlert(const QString& category, const QByteArray& fieldLine);

    void SendStop(const QString& reason);
    void SendCorruptBytes();
    void SendFrameHeaderOnly(qint32 length);
    void Drop(DropStyle how, const QString& why);
    // Closes in order: what was sent is still written before the pipe closes.
    void End(const QString& why) { Close(why); }

    // The pipe reports the bytes it handed to the system; an alert counts as
    // written once its last byte has been handed over.
    void NoteBytesWritten(qint64 count);
    // "alerts sent strike=N ...; unwritten strike=M ...": what this connection
    // was sent, and how much of it never left because the connection closed.
    QString AlertCountsLine() const;

signals:
    void BytesReady(const QByteArray& bytes);
    void Subscribed(const QString& category);
    // The pipe must close; emitted once.
    void CloseRequested();

private:
    bool TakePreambleLines();
    bool HandlePlainCommand(const QByteArray& line);
    void HandleCompressed(const QByteArray& bytes);
    void HandleMessage(const WireMessage& message);
    void HandleLogin(const WireMessage& message);
    void HandlePing(const WireMessage& message);
    void Answer(qint32 id, const QByteArray& payload);
    void SendFrames(const QByteArray& frames);
    void Close(const QString& why);
    void Note(const QString& text) const;
    // With --log-messages: one line per message received and per frame sent,
    // keys, values and payloads percent-encoded so that each stays on one line.
    void NoteReceived(const QByteArray& encoded) const;
    void NoteFrame(qint32 id, const QByteArray& payload) const;

    ServerState& State;
    int SessionNumber;
    bool Closed = false;
    bool InputCompressed = false;
    bool LoggedIn = false;
    QByteArray PlainBuffer;
    ZlibInflater Inflater;
    ZlibDeflater Deflater;
    MessageReader Reader;
    QByteArray PendingAnswers;
    qint32 LoginId = 0;
    qint32 ListenId = 0;
    QByteArray SessionId;
    QSet<QString> Categories;
    QMap<QString, qint64> AlertsSent;
    qint64 BytesEmitted = 0;
    qint64 BytesWritten = 0;
    // Category and end offset in the output of every alert not yet written.
    std::deque<QPair<qint64, QString>> AlertsUnwritten;
};

} // namespace AlertServer
