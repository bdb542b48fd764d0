#include "Shared/GzipAppender.h"
#include <cerrno>
#include <cstring>
#include <isa-l/igzip_lib.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Level = 1;
constexpr size_t OutputChunk = 64 * 1024;

QString SystemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

} // namespace

struct TGzipAppender::Stream {
    isal_zstream State{};
    std::vector<uint8_t> LevelBuffer = std::vector<uint8_t>(ISAL_DEF_LVL1_DEFAULT);
    std::vector<uint8_t> Output = std::vector<uint8_t>(OutputChunk);
};

TGzipAppender::TGzipAppender() = default;

TGzipAppender::~TGzipAppender()
{
    if (IsOpen())
        Close();
}

bool TGzipAppender::IsOpen() const { return m_fd >= 0; }

void TGzipAppender::Adopt(int fd)
{
    Abandon();
    m_fd = fd;
}

bool TGzipAppender::Write(const QByteArray& bytes)
{
    if (!IsOpen() || bytes.isEmpty())
        return IsOpen();
    if (!m_begun) {
        m_stream = std::make_unique<Stream>();
        isal_deflate_init(&m_stream->State);
        m_stream->State.level = Level;
        m_stream->State.level_buf = m_stream->LevelBuffer.data();
        m_stream->State.level_buf_size = uint32_t(m_stream->LevelBuffer.size());
        m_stream->State.gzip_flag = IGZIP_GZIP;
        m_begun = true;
    }
    return Compress(bytes.constData(), bytes.size(), false);
}

bool TGzipAppender::Compress(const char* data, qsizetype size, bool last)
{
    isal_zstream& state = m_stream->State;
    state.next_in = reinterpret_cast<uint8_t*>(const_cast<char*>(data));
    state.avail_in = uint32_t(size);
    state.flush = SYNC_FLUSH;
    state.end_of_stream = last ? 1 : 0;
    // Done once every byte is in and the output had room to spare (flushed),
    // and, at the end, once the trailer is out.
    for (;;) {
        state.next_out = m_stream->Output.data();
        state.avail_out = uint32_t(m_stream->Output.size());
        if (isal_deflate(&state) != COMP_OK) {
            m_error = QStringLiteral("compression failed");
            return false;
        }
        const qsizetype produced = qsizetype(m_stream->Output.size() - state.avail_out);
        if (!WriteOut(reinterpret_cast<const char*>(m_stream->Output.data()), produced))
            return false;
        const bool flushed = state.avail_in == 0 && state.avail_out > 0;
        if (flushed && (!last || state.internal_state.state == ZSTATE_END))
            return true;
    }
}

bool TGzipAppender::WriteOut(const char* data, qsizetype size)
{
    while (size > 0) {
        const ssize_t written = ::write(m_fd, data, size_t(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            m_error = SystemError(written < 0 ? errno : ENOSPC);
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

void TGzipAppender::Abandon()
{
    if (IsOpen())
        ::close(m_fd);
    m_fd = -1;
    m_begun = false;
    m_stream.reset();
}

bool TGzipAppender::Close()
{
    if (!IsOpen())
        return true;
    bool ok = true;
    if (m_begun)
        ok = Compress(nullptr, 0, true);
    if (::close(m_fd) != 0 && ok) {
        m_error = SystemError(errno);
        ok = false;
    }
    m_fd = -1;
    m_begun = false;
    m_stream.reset();
    return ok;
}
