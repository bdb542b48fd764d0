#pragma once
// The two zlib streams of a conversation with the alert server: what the
// client sends is deflated into one, what the server sends is inflated from
// the other, a bounded step at a time so that a flood waits compressed.
#include <QByteArray>
#include <stdexcept>
#include <zlib.h>

// Raised inside the receive path and caught there; its name and message
// reach the debug log and the conversation's ErrorText.
class EZlibError : public std::runtime_error {
public:
    explicit EZlibError(int code); // zlib's own text for the code
};

class TCompressor {
public:
    TCompressor();
    ~TCompressor();
    TCompressor(const TCompressor&) = delete;
    TCompressor& operator=(const TCompressor&) = delete;

    // `flush` is zlib's: Z_NO_FLUSH keeps bytes back, Z_SYNC_FLUSH hands
    // everything so far to the server.
    void Write(const QByteArray& input, int flush, QByteArray& output);

private:
    z_stream m_stream{};
};

class TDecompressor {
public:
    TDecompressor();
    ~TDecompressor();
    TDecompressor(const TDecompressor&) = delete;
    TDecompressor& operator=(const TDecompressor&) = delete;

    // Keeps bytes of the server's stream to inflate later. After its first
    // error (or the end of the server's stream) it ignores everything.
    void Take(const QByteArray& input);
    // Input is waiting, or the last step filled its room and more may follow.
    bool HasWork() const { return !m_stopped && (m_inputPos < m_input.size() || m_moreOutput); }
    // Inflates kept input until `output` has grown by `room` bytes or the
    // input is used up; the rest waits for the next step.
    void Inflate(QByteArray& output, qsizetype room);
    void Stop() { m_stopped = true; }

private:
    z_stream m_stream{};
    bool m_stopped = false;
    QByteArray m_input;
    qsizetype m_inputPos = 0;
    bool m_moreOutput = false;
};
