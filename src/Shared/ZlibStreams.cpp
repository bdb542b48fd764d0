#include "Shared/ZlibStreams.h"

namespace {
constexpr qsizetype ZlibPieceSize = 4096;

// Runs bytes through a zlib stream in pieces of at most 4096 output bytes.
template <typename Step>
void PumpZlib(z_stream& stream, const QByteArray& input, QByteArray& output, Step step)
{
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.constData()));
    stream.avail_in = static_cast<uInt>(input.size());
    char piece[ZlibPieceSize];
    for (;;) {
        stream.next_out = reinterpret_cast<Bytef*>(piece);
        stream.avail_out = static_cast<uInt>(ZlibPieceSize);
        const int result = step();
        output.append(piece, ZlibPieceSize - stream.avail_out);
        if (result == Z_STREAM_END || result == Z_BUF_ERROR)
            break;
        if (result != Z_OK)
            throw EZlibError(result);
        if (stream.avail_out != 0 && stream.avail_in == 0)
            break;
    }
    stream.next_in = nullptr;
    stream.avail_in = 0;
}
}

EZlibError::EZlibError(int code) : std::runtime_error(zError(code)) {}

TCompressor::TCompressor()
{
    const int result =
        deflateInit2(&m_stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    if (result != Z_OK)
        throw EZlibError(result);
}

TCompressor::~TCompressor()
{
    deflateEnd(&m_stream);
}

void TCompressor::Write(const QByteArray& input, int flush, QByteArray& output)
{
    PumpZlib(m_stream, input, output, [&] { return deflate(&m_stream, flush); });
}

TDecompressor::TDecompressor()
{
    const int result = inflateInit(&m_stream);
    if (result != Z_OK)
        throw EZlibError(result);
}

TDecompressor::~TDecompressor()
{
    inflateEnd(&m_stream);
}

void TDecompressor::Take(const QByteArray& input)
{
    if (m_stopped || input.isEmpty())
        return;
    if (m_inputPos == m_input.size()) {
        m_input = input;
    } else {
        m_input.remove(0, m_inputPos);
        m_input.append(input);
    }
    m_inputPos = 0;
}

void TDecompressor::Inflate(QByteArray& output, qsizetype room)
{
    if (!HasWork())
        return;
    const qsizetype start = output.size();
    output.resize(start + room);
    m_stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(m_input.constData() + m_inputPos));
    m_stream.avail_in = static_cast<uInt>(m_input.size() - m_inputPos);
    m_stream.next_out = reinterpret_cast<Bytef*>(output.data() + start);
    m_stream.avail_out = static_cast<uInt>(room);
    int result = inflate(&m_stream, Z_SYNC_FLUSH);
    m_inputPos = m_input.size() - m_stream.avail_in;
    output.resize(start + room - m_stream.avail_out);
    m_moreOutput = m_stream.avail_out == 0 && result == Z_OK;
    m_stream.next_in = nullptr;
    m_stream.avail_in = 0;
    if (m_inputPos == m_input.size()) {
        m_input.clear();
        m_inputPos = 0;
    }
    // This protocol has no preset dictionary.
    if (result == Z_NEED_DICT)
        result = Z_DATA_ERROR;
    if (result == Z_STREAM_END)
        m_stopped = true;
    else if (result != Z_OK && result != Z_BUF_ERROR) {
        m_stopped = true;
        throw EZlibError(result);
    }
}
