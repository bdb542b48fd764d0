#include "WireCodec.h"
#include <QtEndian>

namespace AlertServer {

namespace {
constexpr int ChunkSize = 4096;

QString ZlibMessage(const z_stream& stream, int code)
{
    if (stream.msg)
        return QString::fromLatin1(stream.msg);
    return QStringLiteral("zlib error %1").arg(code);
}
} // namespace

ZlibDeflater::ZlibDeflater()
{
    deflateInit(&Stream, Z_DEFAULT_COMPRESSION);
}

ZlibDeflater::~ZlibDeflater()
{
    deflateEnd(&Stream);
}

QByteArray ZlibDeflater::Compress(const QByteArray& data, int flush)
{
    QByteArray out;
    Stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    Stream.avail_in = static_cast<uInt>(data.size());
    char chunk[ChunkSize];
    do {
        Stream.next_out = reinterpret_cast<Bytef*>(chunk);
        Stream.avail_out = ChunkSize;
        deflate(&Stream, flush);
        out.append(chunk, ChunkSize - static_cast<int>(Stream.avail_out));
    } while (Stream.avail_out == 0);
    return out;
}

ZlibInflater::ZlibInflater()
{
    inflateInit(&Stream);
}

ZlibInflater::~ZlibInflater()
{
    inflateEnd(&Stream);
}

bool ZlibInflater::Inflate(const QByteArray& data, QByteArray& out)
{
    if (!ErrorText.isEmpty())
        return false;
    Stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    Stream.avail_in = static_cast<uInt>(data.size());
    char chunk[ChunkSize];
    int code = Z_OK;
    do {
        Stream.next_out = reinterpret_cast<Bytef*>(chunk);
        Stream.avail_out = ChunkSize;
        code = inflate(&Stream, Z_SYNC_FLUSH);
        out.append(chunk, ChunkSize - static_cast<int>(Stream.avail_out));
        if (code == Z_STREAM_END) {
            ErrorText = QStringLiteral("stream ended");
            return false;
        }
        if (code != Z_OK && code != Z_BUF_ERROR) {
            ErrorText = ZlibMessage(Stream, code);
            return false;
        }
    } while (Stream.avail_out == 0 || (Stream.avail_in > 0 && code != Z_BUF_ERROR));
    return true;
}

QByteArray WireMessage::Value(const QByteArray& key) const
{
    for (const auto& field : Fields)
        if (field.first == key)
            return field.second;
    return {};
}

qint32 WireMessage::MessageId() const
{
    bool ok = false;
    const qint32 id = Value("message_id").toInt(&ok);
    return ok && id > 0 ? id : 0;
}

QString WireMessage::Describe() const
{
    QStringList parts;
    for (const auto& field : Fields)
        parts << QStringLiteral("\"%1\" --> \"%2\"")
                     .arg(QString::fromLatin1(field.first), QString::fromLatin1(field.second));
    return QLatin1Char('(') + parts.join(QStringLiteral(", ")) + QLatin1Char(')');
}

std::optional<WireMessage> MessageReader::Next(QString& error)
{
    WireMessage message;
    qsizetype pos = 0;
    auto readLength = [&](qint32& length) {
        if (Buffer.size() - pos < 4)
            return false;
        length = qFromLittleEndian<qint32>(Buffer.constData() + pos);
        pos += 4;
        return true;
    };
    for (;;) {
        qint32 keyLength = 0;
        if (!readLength(keyLength))
            return std::nullopt;
        if (keyLength == 0)
            break;
        qint32 valueLength = 0;
        if (keyLength < 0 || keyLength > MaxStringLength) {
            error = QStringLiteral("invalid key length %1").arg(keyLength);
            return std::nullopt;
        }
        if (Buffer.size() - pos < keyLength)
            return std::nullopt;
        const QByteArray key = Buffer.mid(pos, keyLength);
        pos += keyLength;
        if (!readLength(valueLength))
            return std::nullopt;
        if (valueLength < 0 || valueLength > MaxStringLength) {
            error = QStringLiteral("invalid value length %1").arg(valueLength);
            return std::nullopt;
        }
        if (Buffer.size() - pos < valueLength)
            return std::nullopt;
        message.Fields.append({key, Buffer.mid(pos, valueLength)});
        pos += valueLength;
    }
    Buffer.remove(0, pos);
    return message;
}

QByteArray EncodeInt32(qint32 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian<qint32>(value, bytes.data());
    return bytes;
}

QByteArray EncodeFrame(qint32 id, const QByteArray& payload)
{
    return EncodeInt32(id) + EncodeInt32(static_cast<qint32>(payload.size())) + payload;
}

QByteArray UrlEncode(const QByteArray& text)
{
    return text.toPercentEncoding();
}

QByteArray EncodeFields(const QList<QPair<QByteArray, QByteArray>>& fields)
{
    QByteArray line;
    for (const auto& field : fields) {
        if (!line.isEmpty())
            line += '&';
        line += UrlEncode(field.first) + '=' + UrlEncode(field.second);
    }
    return line;
}

QHash<QByteArray, QByteArray> ParseFormPairs(const QByteArray& text)
{
    QHash<QByteArray, QByteArray> pairs;
    for (const QByteArray& piece : text.split('&')) {
        const qsizetype equals = piece.indexOf('=');
        if (equals > 0)
            pairs.insert(QByteArray::fromPercentEncoding(piece.left(equals)),
                         QByteArray::fromPercentEncoding(piece.mid(equals + 1)));
    }
    return pairs;
}

namespace {
int P64DigitValue(char c)
{
    if (c >= 'a' && c <= 'z')
        return c - 'a';
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '_')
        return 62;
    if (c == '-')
        return 63;
    return -1;
}
} // namespace

std::optional<QByteArray> P64Decode(const QByteArray& text)
{
    if (text.size() % 4 == 1)
        return std::nullopt;
    QByteArray out;
    out.reserve(text.size() * 3 / 4);
    quint32 bits = 0;
    int bitCount = 0;
    for (const char c : text) {
        const int value = P64DigitValue(c);
        if (value < 0)
            return std::nullopt;
        bits = (bits << 6) | static_cast<quint32>(value);
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            out.append(static_cast<char>((bits >> bitCount) & 0xFF));
        }
    }
    // Leftover bits of a short final group must be zero, as the encoder pads with zeros.
    if ((bits & ((1u << bitCount) - 1)) != 0)
        return std::nullopt;
    return out;
}

} // namespace AlertServer
