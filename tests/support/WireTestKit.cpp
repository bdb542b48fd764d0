#include "WireTestKit.h"
#include <QtEndian>
#include <zlib.h>

namespace WireTestKit {

namespace {
qint32 ReadInt32(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<qint32>(bytes.constData() + at);
}

QByteArray WireString(const QByteArray& text) { return Int32(static_cast<qint32>(text.size())) + text; }
}

QByteArray Int32(qint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    return QByteArray(bytes, 4);
}

QByteArray Frame(qint32 id, const QByteArray& payload)
{
    return Int32(id) + Int32(static_cast<qint32>(payload.size())) + payload;
}

QByteArray ClientMessage(const TMessageToServer& pairs)
{
    QByteArray bytes;
    for (const TMessageField& field : pairs)
        bytes += WireString(field.Key) + WireString(field.Value);
    return bytes + Int32(0);
}

QByteArray ValueOf(const TMessageToServer& message, const QByteArray& key)
{
    for (const TMessageField& field : message)
        if (field.Key == key)
            return field.Value;
    return {};
}

struct Deflater::Stream {
    z_stream z{};
};

Deflater::Deflater() : m_stream(std::make_unique<Stream>())
{
    deflateInit(&m_stream->z, Z_DEFAULT_COMPRESSION);
}

Deflater::~Deflater() { deflateEnd(&m_stream->z); }

QByteArray Deflater::Burst(const QByteArray& plain)
{
    z_stream& z = m_stream->z;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.constData()));
    z.avail_in = static_cast<uInt>(plain.size());
    QByteArray out;
    char piece[4096];
    do {
        z.next_out = reinterpret_cast<Bytef*>(piece);
        z.avail_out = sizeof piece;
        deflate(&z, Z_SYNC_FLUSH);
        out.append(piece, static_cast<qsizetype>(sizeof piece - z.avail_out));
    } while (z.avail_out == 0);
    return out;
}

struct Inflater::Stream {
    z_stream z{};
};

Inflater::Inflater() : m_stream(std::make_unique<Stream>()) { inflateInit(&m_stream->z); }

Inflater::~Inflater() { inflateEnd(&m_stream->z); }

QByteArray Inflater::Feed(const QByteArray& compressed)
{
    QByteArray out;
    if (!m_error.isEmpty() || compressed.isEmpty())
        return out;
    z_stream& z = m_stream->z;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.constData()));
    z.avail_in = static_cast<uInt>(compressed.size());
    char piece[4096];
    for (;;) {
        z.next_out = reinterpret_cast<Bytef*>(piece);
        z.avail_out = sizeof piece;
        const int result = inflate(&z, Z_SYNC_FLUSH);
        out.append(piece, static_cast<qsizetype>(sizeof piece - z.avail_out));
        if (result != Z_OK && result != Z_BUF_ERROR && result != Z_STREAM_END) {
            m_error = QString::fromLatin1(z.msg ? z.msg : zError(result));
            break;
        }
        if (result != Z_OK || (z.avail_in == 0 && z.avail_out != 0))
            break;
    }
    return out;
}

void ClientStreamDecoder::Feed(const QByteArray& bytes)
{
    QByteArray rest = bytes;
    if (!m_preambleSeen) {
        const QByteArray preamble(Preamble);
        const qsizetype wanted = preamble.size() - m_plainText.size();
        m_plainText += rest.left(wanted);
        rest = rest.mid(wanted);
        if (!preamble.startsWith(m_plainText)) {
            m_error = "the stream does not begin with the preamble";
            return;
        }
        m_preambleSeen = m_plainText.size() == preamble.size();
    }
    if (!m_error.isEmpty() || rest.isEmpty())
        return;
    m_plain += m_inflater.Feed(rest);
    if (!m_inflater.Error().isEmpty())
        m_error = "inflate: " + m_inflater.Error();
    SplitMessages();
}

// A message is wire strings (length, bytes) alternating key and value until
// a zero key length.
void ClientStreamDecoder::SplitMessages()
{
    for (;;) {
        TMessageToServer message;
        qsizetype at = 0;
        bool complete = false;
        while (at + 4 <= m_plain.size()) {
            const qint32 keyLength = ReadInt32(m_plain, at);
            if (keyLength == 0) {
                at += 4;
                complete = true;
                break;
            }
            if (keyLength < 0) {
                m_error = "negative key length";
                return;
            }
            if (at + 4 + keyLength + 4 > m_plain.size())
                break;
            const QByteArray key = m_plain.mid(at + 4, keyLength);
            const qsizetype valueAt = at + 4 + keyLength;
            const qint32 valueLength = ReadInt32(m_plain, valueAt);
            if (valueLength < 0) {
                m_error = "negative value length";
                return;
            }
            if (valueAt + 4 + valueLength > m_plain.size())
                break;
            message.append(TMessageField{key, m_plain.mid(valueAt + 4, valueLength)});
            at = valueAt + 4 + valueLength;
        }
        if (!complete)
            return;
        m_messages.append(message);
        m_plain.remove(0, at);
    }
}

QVector<TMessageToServer> ClientStreamDecoder::TakeMessages()
{
    QVector<TMessageToServer> taken;
    taken.swap(m_messages);
    return taken;
}

QByteArray ClientStreamEncoder::Messages(const QVector<TMessageToServer>& messages)
{
    QByteArray plain;
    for (const TMessageToServer& message : messages)
        plain += ClientMessage(message);
    return m_deflater.Burst(plain);
}

void ServerStreamDecoder::Feed(const QByteArray& bytes)
{
    m_plain += m_inflater.Feed(bytes);
    if (!m_inflater.Error().isEmpty())
        m_error = "inflate: " + m_inflater.Error();
    while (m_error.isEmpty() && m_plain.size() >= 8) {
        const qint32 length = ReadInt32(m_plain, 4);
        if (length < 0) {
            m_error = "negative frame length";
            return;
        }
        if (m_plain.size() - 8 < length)
            return;
        m_frames.append(ServerFrame{ReadInt32(m_plain, 0), m_plain.mid(8, length)});
        m_plain.remove(0, 8 + length);
    }
}

QVector<ServerFrame> ServerStreamDecoder::TakeFrames()
{
    QVector<ServerFrame> taken;
    taken.swap(m_frames);
    return taken;
}

} // namespace WireTestKit
