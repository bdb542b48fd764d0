#include "Shared/AlertRecording.h"
#include <QDateTime>
#include <QFile>
#include <charconv>
#include <cstring>
#include <zlib.h>

namespace {

constexpr qint64 MsPerDay = 86'400'000;
constexpr int ReadChunk = 64 * 1024;
// No alert comes near this; a "line" this long is a damaged or foreign file,
// and holding it would only eat memory.
constexpr qsizetype MaxLineBytes = 16 * 1024 * 1024;
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

bool AppendRecordingLine(QByteArray& out, qint64 receivedMs, const QByteArray& payload)
{
    const char* const begin = payload.constData();
    const char* const end = begin + payload.size();
    const char* const categoryEnd = FindLineBreak(begin, end);
    if (HoldsTabOrLineBreak(begin, categoryEnd))
        return false;
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

struct TAlertRecordingReader::GzFile {
    explicit GzFile(gzFile file) : Handle(file) {}
    ~GzFile() { gzclose(Handle); }
    gzFile Handle;
};

TAlertRecordingReader::TAlertRecordingReader() = default;

TAlertRecordingReader::~TAlertRecordingReader() = default;

bool TAlertRecordingReader::Open(const QString& path)
{
    m_file.reset();
    m_path = path;
    m_error.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = QStringLiteral("%1 cannot be opened: %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray magic = file.read(2);
    if (magic.isEmpty()) {
        m_error = QStringLiteral("%1 is empty: it holds no alerts.").arg(path);
        return false;
    }
    // zlib would read a plain file as it is; an alert recording is always gzip.
    if (magic != QByteArray("\x1f\x8b", 2)) {
        m_error = QStringLiteral("%1 is not a gzip file, so it is not an alert recording.").arg(path);
        return false;
    }
    file.close();
    gzFile handle = gzopen(QFile::encodeName(path).constData(), "rb");
    if (!handle) {
        m_error = QStringLiteral("%1 cannot be opened for reading.").arg(path);
        return false;
    }
    gzbuffer(handle, 128 * 1024);
    m_file = std::make_unique<GzFile>(handle);
    return Rewind();
}

bool TAlertRecordingReader::Rewind()
{
    if (!m_file || gzrewind(m_file->Handle) != 0)
        return false;
    m_buffer.clear();
    m_bufferStart = 0;
    m_atEnd = false;
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
    if (m_atEnd || !m_file)
        return false;
    m_buffer.remove(0, m_bufferStart);
    m_bufferStart = 0;
    const qsizetype had = m_buffer.size();
    m_buffer.resize(had + ReadChunk);
    const int got = gzread(m_file->Handle, m_buffer.data() + had, ReadChunk);
    m_buffer.resize(had + std::max(got, 0));
    if (got > 0)
        return true;
    int error = Z_OK;
    const char* message = gzerror(m_file->Handle, &error);
    FinishAtEnd(error, message);
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

std::optional<QByteArray> TAlertRecordingReader::NextLine()
{
    for (;;) {
        const qsizetype lineEnd = m_buffer.indexOf('\n', m_bufferStart);
        if (lineEnd >= 0) {
            const qsizetype start = m_bufferStart;
            m_bufferStart = lineEnd + 1;
            ++m_lineNumber;
            if (!m_skippingOverlong)
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
            return std::nullopt;
        }
        if (pending > MaxLineBytes && !m_skippingOverlong) {
            // Counted as malformed once its end is found (or the file ends).
            m_skippingOverlong = true;
            ++m_malformed;
            if (m_malformedNotes.size() < MaxMalformedNotes)
                m_malformedNotes << QStringLiteral("line %1: longer than %2 bytes").arg(m_lineNumber + 1).arg(MaxLineBytes);
        }
        if (m_skippingOverlong)
            m_bufferStart = m_buffer.size();
        FillBuffer();
    }
}

std::optional<TRecordedAlert> TAlertRecordingReader::Next()
{
    while (const std::optional<QByteArray> line = NextLine()) {
        QString why;
        if (std::optional<TRecordedAlert> alert = ParseRecordingLine(*line, &why))
            return alert;
        ++m_malformed;
        if (m_malformedNotes.size() < MaxMalformedNotes)
            m_malformedNotes << QStringLiteral("line %1: %2").arg(m_lineNumber).arg(why);
    }
    return std::nullopt;
}
