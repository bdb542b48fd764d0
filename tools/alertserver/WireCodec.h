#pragma once
// Byte-level pieces of the alert protocol, server side: the two zlib streams,
// the client's length-prefixed messages, the server's frames, URL encoding of
// alert fields and the tunnel's base64 variant.
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <optional>
#include <zlib.h>

namespace AlertServer {

// One zlib (RFC 1950) output stream; every call ends with a sync flush so the
// peer can inflate everything written so far.
class ZlibDeflater {
public:
    ZlibDeflater();
    ~ZlibDeflater();
    ZlibDeflater(const ZlibDeflater&) = delete;
    ZlibDeflater& operator=(const ZlibDeflater&) = delete;
    QByteArray Compress(const QByteArray& data, int flush = Z_SYNC_FLUSH);

private:
    z_stream Stream{};
};

// The client's zlib stream. After the first error it stays failed.
class ZlibInflater {
public:
    ZlibInflater();
    ~ZlibInflater();
    ZlibInflater(const ZlibInflater&) = delete;
    ZlibInflater& operator=(const ZlibInflater&) = delete;
    // Appends the inflated bytes to Out; false (with Error set) on corrupt input.
    bool Inflate(const QByteArray& data, QByteArray& out);
    QString Error() const { return ErrorText; }

private:
    z_stream Stream{};
    QString ErrorText;
};

struct WireMessage {
    QList<QPair<QByteArray, QByteArray>> Fields;
    QByteArray Value(const QByteArray& key) const;
    // 0 when the message carries no (valid) "message_id".
    qint32 MessageId() const;
    QString Describe() const;
};

// Cuts complete messages (wire strings ended by a zero length) out of the
// inflated client stream; partial messages wait for more bytes.
class MessageReader {
public:
    static constexpr qint32 MaxStringLength = 1 << 20;
    void Append(const QByteArray& bytes) { Buffer.append(bytes); }
    // nullopt when no complete message is waiting; sets Error on a length that
    // cannot be valid, after which the stream must be abandoned.
    std::optional<WireMessage> Next(QString& error);

private:
    QByteArray Buffer;
};

QByteArray EncodeInt32(qint32 value);
QByteArray EncodeFrame(qint32 id, const QByteArray& payload);
// Percent-encodes everything except unreserved characters, so "&", "=", "%",
// "+" and spaces survive the client's field splitting.
QByteArray UrlEncode(const QByteArray& text);
// Builds "key=value&key=value" with both sides encoded.
QByteArray EncodeFields(const QList<QPair<QByteArray, QByteArray>>& fields);
// Splits "key=value&key=value" (a plain command line, a form body) into
// percent-decoded pairs; pieces without "=" or with an empty key are skipped.
QHash<QByteArray, QByteArray> ParseFormPairs(const QByteArray& text);
// Base64 with letter case swapped, "_" for "+", "-" for "/", no padding.
std::optional<QByteArray> P64Decode(const QByteArray& text);

} // namespace AlertServer
