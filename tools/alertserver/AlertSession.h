#pragma once
// One client conversation, independent of the pipe under it (a TCP socket or
// the HTTP tunnel): the plain preamble, the client's zlib stream of messages,
// the answers and alerts as frames in one zlib stream, and the faults that
// can be injected into it.
#include "ServerState.h"
#include "WireCodec.h"
#include <QObject>
#include <QSet>

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
};

} // namespace AlertServer
