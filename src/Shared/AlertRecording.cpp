#include "Shared/AlertRecording.h"
#include "platform/core/PrivateFiles.h"
#include <QDateTime>
#include <QFile>
#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

constexpr qint64 MsPerDay = 86'400'000;
constexpr int ReadChunk = 64 * 1024;
constexpr size_t InputChunk = 128 * 1024;
// What a line costs a reading step at least, whatever its length: handing
// out a line costs more than its bytes, and a run of empty lines must use a
// step up as surely as a long one.
constexpr qint64 MinLineWork = 256;
// Malformed lines named one by one; the rest are only counted.
constexpr int MaxMalformedNotes = 5;
// Digits of a millisecond count that cannot overflow 64 bits.
constexpr qsizetype MaxTimeDigits = 18;

const QByteArray LineBreak("\r\n");

// The first CR LF from Begin on, or End: memchr is many times faster than a
// general search on the long field lines of a top list.
const char* FindLineBreak(const char* begin, const char* end)
{
    for (const char* at = begin; at < end;) {
        const auto* cr = static_cast<const char*>(std::memchr(at, '\r', size_t(end - at)));
        if (!cr || cr + 1 >= end)
            return end;
        if (cr[1] == '\n')
            return cr;
        at = cr + 1;
    }
    return end;
}

bool HoldsTabOrLineBreak(const char* begin, const char* end)
{
    const size_t length = size_t(end - begin);
    return std::memchr(begin, '\t', length) || std::memchr(begin, '\n', length) || std::memchr(begin, '\r', length);
}

// The field line never holds a raw tab or line break when the server keeps
// to its percent-encoding. Should one arrive, it is written encoded: the
// alert windows decode "%09" to the same byte, so they see the same fields.
void AppendFieldLine(QByteArray& out, const char* begin, const char* end)
{
    if (!HoldsTabOrLineBreak(begin, end)) {
        out.append(begin, end - begin);
        return;
    }
    const char* run = begin;
    for (const char* at = begin; at != end; ++at) {
        const char c = *at;
        if (c != '\t' && c != '\r' && c != '\n')
            continue;
        out.append(run, at - run);
        out.append(c == '\t' ? "%09" : c == '\r' ? "%0D" : "%0A", 3);
        run = at + 1;
    }
    out.append(run, end - run);
}

std::optional<qint64> ParseMilliseconds(const QByteArray& text)
{
    if (text.isEmpty() || text.size() > MaxTimeDigits)
        return std::nullopt;
    qint64 value = 0;
    const auto [end, error] = std::from_chars(text.constData(), text.constData() + text.size(), value);
    if (error != std::errc() || end != text.constData() + text.size() || value < 0)
        return std::nullopt;
    return value;
}

} // namespace

QByteArray TRecordedAlert::Payload() const { return Category + LineBreak + FieldLine; }

bool AppendRecordingLine(QByteArray& out, qint64 receivedMs, const QByteArray& payload, QString* why)
{
    const char* const begin = payload.constData();
    const char* const end = begin + payload.size();
    const char* const categoryEnd = FindLineBreak(begin, end);
    if (HoldsTabOrLineBreak(begin, categoryEnd)) {
        if (why)
            *why = QStringLiteral("its category holds a tab or a line break");
        return false;
    }
    const qsizetype lineStart = out.size();
    // The field line ends at the next CR LF; the windows ignore what follows.
    const char* const fields = categoryEnd == end ? end : categoryEnd + 2;
    const char* const fieldsEnd = FindLineBreak(fields, end);

    char digits[24];
    const auto written = std::to_chars(digits, digits + sizeof digits, receivedMs);
    out.append(digits, written.ptr - digits);
    out.append('\t');
    out.append(begin, categoryEnd - begin);
    out.append('\t');
    AppendFieldLine(out, fields, fieldsEnd);
    // Measured once written: encoding a raw tab or line break lengthens it.
    if (out.size() - lineStart > MaxRecordingLineBytes) {
        out.truncate(lineStart);
        if (why)
            *why = QStringLiteral("its line would be longer than %1 bytes").arg(MaxRecordingLineBytes);
        return false;
    }
    out.append('\n');
    return true;
}

std::optional<TRecordedAlert> ParseRecordingLine(const QByteArray& rawLine, QString* why)
{
    const auto fail = [why](const char* text) -> std::optional<TRecordedAlert> {
        if (why)
            *why = QString::fromLatin1(text);
        return std::nullopt;
    };
    // A recording passed through a Windows editor ends its lines with CR LF.
    const QByteArray line = rawLine.endsWith('\r') ? rawLine.chopped(1) : rawLine;
    const qsizetype firstTab = line.indexOf('\t');
    if (firstTab < 0)
        return fail("no tab; expected the time, the category and the field line separated by tabs");
    const qsizetype secondTab = line.indexOf('\t', firstTab + 1);
    if (secondTab < 0)
        return fail("one tab only; expected the time, the category and the field line separated by tabs");
    if (line.indexOf('\t', secondTab + 1) >= 0)
        return fail("more than two tabs; a field line holds no tab");
    const auto received = ParseMilliseconds(line.left(firstTab));
    if (!received)
        return fail("the time is not a number of milliseconds");
    TRecordedAlert alert;
    alert.ReceivedMs = *received;
    alert.Category = line.mid(firstTab + 1, secondTab - firstTab - 1);
    alert.FieldLine = line.mid(secondTab + 1);
    return alert;
}

qint64 UtcDayNumber(qint64 msSinceEpoch)
{
    // Floor division: moments before the epoch belong to earlier days.
    return msSinceEpoch >= 0 ? msSinceEpoch / MsPerDay : -((-msSinceEpoch + MsPerDay - 1) / MsPerDay);
}

QString DayFileName(qint64 msSinceEpoch)
{
    const QDate date = QDateTime::fromMSecsSinceEpoch(msSinceEpoch, Qt::UTC).date();
    return QStringLiteral("alerts-%1.tsv.gz").arg(date.toString(QStringLiteral("yyyy-MM-dd")));
}

// ---------------------------------------------------------------------------

// The gzip members of a file one after the other, inflated with zlib's
// stream calls. Its file calls take whatever follows the last member and is
// not gzip (zeros left by a crash, say) for the end of the file: a recorder
// would append where no reader ever looks.
struct TAlertRecordingReader::GzFile {
    explicit GzFile(int fd) : Fd(fd) { inflateInit2(&Stream, 15 + 16); }
    ~GzFile()
    {
        inflateEnd(&Stream);
        ::close(Fd);
    }
    bool Rewind()
    {
        if (::lseek(Fd, 0, SEEK_SET) != 0 || inflateReset(&Stream) != Z_OK)
            return false;
        Stream.avail_in = 0;
        BetweenMembers = false;
        Ended = false;
        Error = Z_OK;
        Message.clear();
        return true;
    }
    // Up to Size bytes of text; 0 once the file is read, see EndResult.
    int Read(char* out, int size);
    // Z_OK when the last member ended, Z_BUF_ERROR when the file ends inside
    // one, else the error that stopped the reading.
    int EndResult() const { return Error != Z_OK ? Error : BetweenMembers ? Z_OK : Z_BUF_ERROR; }

    const int Fd;
    z_stream Stream{};
    std::vector<Bytef> Input = std::vector<Bytef>(InputChunk);
    bool BetweenMembers = false;
    bool Ended = false;
    int Error = Z_OK;
    QByteArray Message;
};

int TAlertRecordingReader::GzFile::Read(char* out, int size)
{
    Stream.next_out = reinterpret_cast<Bytef*>(out);
    Stream.avail_out = uInt(size);
    while (Stream.avail_out > 0 && !Ended && Error == Z_OK) {
        if (Stream.avail_in == 0) {
            ssize_t got = 0;
            do
                got = ::read(Fd, Input.data(), Input.size());
            while (got < 0 && errno == EINTR);
            if (got <= 0) {
                if (got < 0) {
                    Error = Z_ERRNO;
                    Message = std::strerror(errno);
                }
                Ended = true;
                break;
            }
            Stream.next_in = Input.data();
            Stream.avail_in = uInt(got);
        }
        BetweenMembers = false;
        const int status = inflate(&Stream, Z_NO_FLUSH);
        if (status == Z_STREAM_END) {
            inflateReset(&Stream);
            BetweenMembers = true;
        } else if (status != Z_OK && status != Z_BUF_ERROR) {
            Error = status;
            Message = Stream.msg ? Stream.msg : "inflate failed";
        }
    }
    return size - int(Stream.avail_out);
}

TAlertRecordingReader::TAlertRecordingReader() = default;

TAlertRecordingReader::~TAlertRecordingReader() = default;

bool TAlertRecordingReader::Open(const QString& path)
{
    QString why;
    const int fd = OpenRegularFileForReading(path, why);
    if (fd < 0) {
        m_file.reset();
        m_path = path;
        m_error = QStringLiteral("%1 %2.").arg(path, why);
        return false;
    }
    return Open(path, fd);
}

bool TAlertRecordingReader::Open(const QString& path, int fd)
{
    m_file.reset();
    m_path = path;
    m_error.clear();
    char magic[2];
    const ssize_t got = ::pread(fd, magic, sizeof magic, 0);
    if (got <= 0) {
        m_error = got == 0 ? QStringLiteral("%1 is empty: it holds no alerts.").arg(path)
                           : QStringLiteral("%1 cannot be read.").arg(path);
        ::close(fd);
        return false;
    }
    // zlib would read a plain file as it is; an alert recording is always gzip.
    if (got < 2 || magic[0] != '\x1f' || magic[1] != '\x8b') {
        m_error = QStringLiteral("%1 is not a gzip file, so it is not an alert recording.").arg(path);
        ::close(fd);
        return false;
    }
    m_file = std::make_unique<GzFile>(fd);
    return Rewind();
}

bool TAlertRecordingReader::Rewind()
{
    if (!m_file || !m_file->Rewind())
        return false;
    m_buffer.clear();
    m_bufferStart = 0;
    m_searchFrom = 0;
    m_atEnd = false;
    m_finished = false;
    m_skippingOverlong = false;
    m_damaged = false;
    m_lineNumber = 0;
    m_malformed = 0;
    m_malformedNotes.clear();
    m_endNote.clear();
    return true;
}

bool TAlertRecordingReader::FillBuffer()
{
    // A reader whose file could not be opened is at its end at once.
    if (!m_file)
        m_atEnd = true;
    if (m_atEnd)
        return false;
    m_buffer.remove(0, m_bufferStart);
    m_bufferStart = 0;
    const qsizetype had = m_buffer.size();
    m_searchFrom = had;
    m_buffer.resize(had + ReadChunk);
    const int got = m_file->Read(m_buffer.data() + had, ReadChunk);
    m_buffer.resize(had + std::max(got, 0));
    if (got > 0) {
        m_inflated += got;
        m_stepWork += got;
        return true;
    }
    FinishAtEnd(m_file->EndResult(), m_file->Message.constData());
    return false;
}

void TAlertRecordingReader::FinishAtEnd(int zlibError, const char* zlibMessage)
{
    m_atEnd = true;
    if (zlibError == Z_OK)
        return;
    if (zlibError == Z_BUF_ERROR) {
        m_endNote = QStringLiteral("the file ends in the middle of its compressed data (the recording stopped "
                                   "abruptly); everything up to its last complete line is read");
        return;
    }
    m_damaged = true;
    m_endNote = QStringLiteral("the compressed data is damaged after line %1 (%2); the rest of the file is left out")
                    .arg(m_lineNumber)
                    .arg(QString::fromLocal8Bit(zlibMessage));
}

std::optional<QByteArray> TAlertRecordingReader::StepLine()
{
    m_stepWork = 0;
    return ReadLine();
}

std::optional<QByteArray> TAlertRecordingReader::ReadLine()
{
    while (!m_finished) {
        // The bytes before SearchFrom hold no line feed: a long line is not
        // searched again with every read.
        const qsizetype lineEnd = m_buffer.indexOf('\n', std::max(m_bufferStart, m_searchFrom));
        if (lineEnd >= 0) {
            const qsizetype start = m_bufferStart;
            m_bufferStart = lineEnd + 1;
            m_stepWork += std::max<qint64>(lineEnd + 1 - start, MinLineWork);
            ++m_lineNumber;
            // A line that came whole in one read is measured here.
            if (!m_skippingOverlong && lineEnd - start > MaxRecordingLineBytes)
                NoteOverlong(m_lineNumber);
            else if (!m_skippingOverlong)
                return m_buffer.mid(start, lineEnd - start);
            m_skippingOverlong = false;
            continue;
        }
        const qsizetype pending = m_buffer.size() - m_bufferStart;
        if (m_atEnd) {
            if (pending > 0 || m_skippingOverlong) {
                const QString torn = QStringLiteral("its last line is incomplete and is left out");
                m_endNote = m_endNote.isEmpty() ? torn : m_endNote + QStringLiteral("; ") + torn;
                m_bufferStart = m_buffer.size();
                m_skippingOverlong = false;
            }
            m_finished = true;
            break;
        }
        if (pending > MaxRecordingLineBytes && !m_skippingOverlong) {
            // Skipped up to its end (or the end of the file).
            m_skippingOverlong = true;
            NoteOverlong(m_lineNumber + 1);
        }
        if (m_skippingOverlong)
            m_bufferStart = m_buffer.size();
        if (StepUsedUp())
            break;
        FillBuffer();
    }
    return std::nullopt;
}

std::optional<TRecordedAlert> TAlertRecordingReader::Step()
{
    m_stepWork = 0;
    // A run of short malformed lines uses the step up as surely as inflating.
    while (const std::optional<QByteArray> line = ReadLine()) {
        if (std::optional<TRecordedAlert> alert = ParseRecordingLine(*line))
            return alert;
        // The fault is put in words only for the few lines that are named.
        QString why;
        if (m_malformedNotes.size() < MaxMalformedNotes)
            ParseRecordingLine(*line, &why);
        NoteMalformed(m_lineNumber, why);
        if (StepUsedUp())
            break;
    }
    return std::nullopt;
}

std::optional<QByteArray> TAlertRecordingReader::NextLine()
{
    while (!m_finished)
        if (std::optional<QByteArray> line = StepLine())
            return line;
    return std::nullopt;
}

std::optional<TRecordedAlert> TAlertRecordingReader::Next()
{
    while (!m_finished)
        if (std::optional<TRecordedAlert> alert = Step())
            return alert;
    return std::nullopt;
}

void TAlertRecordingReader::NoteOverlong(qint64 lineNumber)
{
    NoteMalformed(lineNumber, QStringLiteral("longer than %1 bytes").arg(MaxRecordingLineBytes));
}

void TAlertRecordingReader::NoteMalformed(qint64 lineNumber, const QString& fault)
{
    ++m_malformed;
    if (m_malformedNotes.size() < MaxMalformedNotes)
        m_malformedNotes << QStringLiteral("line %1: %2").arg(lineNumber).arg(fault);
}
