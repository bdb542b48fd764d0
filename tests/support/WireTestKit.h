#pragma once
// Both ends of the wire, for tests. The client side of the system under test
// is checked with ClientStreamDecoder (what did the client send?) and fed with
// ServerStreamEncoder (frames as the server sends them). A server under test
// is driven the other way round with ClientStreamEncoder and
// ServerStreamDecoder.
//
//   ClientStreamDecoder sent;               ServerStreamEncoder server;
//   sent.Feed(bytesTheClientSent);          connection.Deliver(server.Burst(
//   for (auto& m : sent.TakeMessages())         Frame(1, "SESSION ID\r\n42")));
//       ValueOf(m, "command");
#include "Shared/WireMessages.h"
#include <QByteArray>
#include <QString>
#include <QVector>
#include <memory>

namespace WireTestKit {

QByteArray Int32(qint32 value);
// One server frame: id, payload length, payload.
QByteArray Frame(qint32 id, const QByteArray& payload);
// The uncompressed bytes of one client message: every pair as written
// (empty keys too, so tests can also build odd input), then the closing zero.
QByteArray ClientMessage(const TMessageToServer& pairs);
// The value of the first pair with this key, or a null QByteArray.
QByteArray ValueOf(const TMessageToServer& message, const QByteArray& key);

// One zlib stream (default level, zlib format), written in sync-flushed bursts.
class Deflater {
public:
    Deflater();
    ~Deflater();
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
    // Compresses the bytes and ends with a sync flush: the receiver can
    // inflate all of them from what this returns.
    QByteArray Burst(const QByteArray& plain);

private:
    struct Stream;
    std::unique_ptr<Stream> m_stream;
};

// One zlib stream inflated piece by piece; after an error it takes no more.
class Inflater {
public:
    Inflater();
    ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    QByteArray Feed(const QByteArray& compressed);
    const QString& Error() const { return m_error; }

private:
    struct Stream;
    std::unique_ptr<Stream> m_stream;
    QString m_error;
};

// The server's output as the client must receive it.
class ServerStreamEncoder {
public:
    QByteArray Burst(const QByteArray& frames) { return m_deflater.Burst(frames); }
    QByteArray FrameBurst(qint32 id, const QByteArray& payload) { return Burst(Frame(id, payload)); }

private:
    Deflater m_deflater;
};

// What a client sent: the preamble, then its zlib stream of messages. Feed
// it the bytes in any pieces; complete messages come out of TakeMessages.
class ClientStreamDecoder {
public:
    void Feed(const QByteArray& bytes);
    bool PreambleSeen() const { return m_preambleSeen; }
    // Empty while everything was well-formed.
    const QString& Error() const { return m_error; }
    QVector<TMessageToServer> TakeMessages();
    // Inflated bytes not yet forming a complete message.
    qsizetype PartialBytes() const { return m_plain.size(); }

private:
    void SplitMessages();

    bool m_preambleSeen = false;
    QByteArray m_plainText; // bytes before the zlib stream
    Inflater m_inflater;
    QByteArray m_plain;
    QVector<TMessageToServer> m_messages;
    QString m_error;
};

// A client's output, for driving a server under test.
class ClientStreamEncoder {
public:
    // The preamble, to be sent first and uncompressed.
    static QByteArray Start() { return QByteArray(Preamble); }
    QByteArray Messages(const QVector<TMessageToServer>& messages);

private:
    Deflater m_deflater;
};

struct ServerFrame {
    qint32 Id = 0;
    QByteArray Payload;
};

// A server's output: inflates and cuts frames.
class ServerStreamDecoder {
public:
    void Feed(const QByteArray& bytes);
    QVector<ServerFrame> TakeFrames();
    const QString& Error() const { return m_error; }

private:
    Inflater m_inflater;
    QByteArray m_plain;
    QVector<ServerFrame> m_frames;
    QString m_error;
};

} // namespace WireTestKit
