#include "Shared/AlertRecorder.h"
#include "Shared/AlertRecording.h"
#include "Shared/DebugLog.h"
#include "Shared/GuardedCall.h"
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <zlib.h>

namespace {

// The issue of a crash: at most this much of the stream is lost.
constexpr int FlushIntervalMs = 500;
// Level 1: recording must cost the receive path little, and alert text
// compresses well even so.
constexpr char AppendMode[] = "ab1";
constexpr char RewriteMode[] = "wb1";

QString SystemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

QString ZlibError(gzFile file)
{
    int code = Z_OK;
    const char* text = gzerror(file, &code);
    // zlib's text for a failed write names the file and says nothing more
    // than errno does.
    if (code == Z_ERRNO)
        return SystemError(errno);
    return QString::fromLocal8Bit(text);
}

} // namespace

struct TAlertRecorder::GzWriter {
    explicit GzWriter(gzFile file) : Handle(file) {}
    ~GzWriter()
    {
        if (Handle)
            gzclose(Handle);
    }
    // Ends the gzip member; false when its last bytes could not be written.
    bool Close()
    {
        const int result = gzclose(Handle);
        Handle = nullptr;
        return result == Z_OK;
    }
    gzFile Handle;
};

bool TAlertRecorder::CopyCompleteLines(const QString& from, const QString& to)
{
    TAlertRecordingReader reader;
    if (!reader.Open(from))
        return false;
    gzFile out = gzopen(QFile::encodeName(to).constData(), RewriteMode);
    if (!out)
        return false;
    GzWriter writer(out);
    bool written = true;
    while (written) {
        const std::optional<QByteArray> line = reader.NextLine();
        if (!line)
            break;
        written = gzwrite(out, line->constData(), unsigned(line->size())) == int(line->size()) &&
                  gzputc(out, '\n') == '\n';
    }
    const bool closed = writer.Close();
    return written && closed;
}

std::unique_ptr<TAlertRecorder> TAlertRecorder::IntoFile(const QString& path, TClock clock)
{
    return std::unique_ptr<TAlertRecorder>(new TAlertRecorder(path, QString(), std::move(clock)));
}

std::unique_ptr<TAlertRecorder> TAlertRecorder::IntoDayFiles(const QString& folder, TClock clock)
{
    return std::unique_ptr<TAlertRecorder>(new TAlertRecorder(QString(), folder, std::move(clock)));
}

TAlertRecorder::TAlertRecorder(QString file, QString folder, TClock clock)
    : m_fixedFile(std::move(file)), m_folder(std::move(folder)),
      m_clock(clock ? std::move(clock) : [] { return QDateTime::currentMSecsSinceEpoch(); })
{
    m_flushTimer = std::make_unique<QTimer>();
    m_flushTimer->setInterval(FlushIntervalMs);
    QObject::connect(m_flushTimer.get(), &QTimer::timeout, m_flushTimer.get(),
                     [this] { GuardedCall(QStringLiteral("AlertRecorder, TAlertRecorder.Flush"), [this] { Flush(); }); });
    m_flushTimer->start();
    // Opened now, not at the first alert: a wrong folder shows at start, and
    // checking a file left by a crash does not hold up an alert.
    m_day = UtcDayNumber(m_clock());
    m_path = PathForDay(m_day);
    OpenForAppending();
}

TAlertRecorder::~TAlertRecorder()
{
    try {
        Flush();
        Close();
    } catch (...) {
        // Nothing may leave a destructor; the log has had what went wrong.
    }
}

QString TAlertRecorder::PathForDay(qint64 day) const
{
    if (!m_fixedFile.isEmpty())
        return m_fixedFile;
    constexpr qint64 MsPerDay = 86'400'000;
    return QDir(m_folder).filePath(DayFileName(day * MsPerDay));
}

void TAlertRecorder::Record(const QByteArray& payload)
{
    const qint64 now = m_clock();
    if (m_fixedFile.isEmpty()) {
        const qint64 day = UtcDayNumber(now);
        if (day != m_day)
            SwitchToDay(day);
    }
    if (m_failed) {
        ++m_lost;
        return;
    }
    if (AppendRecordingLine(m_buffer, now, payload))
        return;
    ++m_lost;
    if (!m_categoryProblemShown) {
        m_categoryProblemShown = true;
        DebugOutput(QStringLiteral("Recording: an alert whose category holds a tab or a line break cannot be "
                                   "recorded; such alerts are left out of %1.")
                        .arg(m_path));
    }
}

void TAlertRecorder::Flush()
{
    if (m_failed || m_buffer.isEmpty() || !m_writer)
        return;
    gzFile file = m_writer->Handle;
    if (gzwrite(file, m_buffer.constData(), static_cast<unsigned>(m_buffer.size())) != int(m_buffer.size()) ||
        gzflush(file, Z_SYNC_FLUSH) != Z_OK) {
        Fail(QStringLiteral("cannot write to %1: %2").arg(m_path, ZlibError(file)));
        return;
    }
    // Keeps the buffer's memory for the next round.
    m_buffer.truncate(0);
}

void TAlertRecorder::SwitchToDay(qint64 day)
{
    // Alerts of the day that ended go to that day's file first.
    Flush();
    Close();
    m_day = day;
    m_path = PathForDay(day);
    m_failed = false;
    m_problem.clear();
    OpenForAppending();
}

bool TAlertRecorder::OpenForAppending()
{
    const QFileInfo info(m_path);
    // Only a regular file can be checked; a pipe or a device is written as it is.
    if (info.isFile() && info.size() > 0) {
        TAlertRecordingReader reader;
        if (!reader.Open(m_path)) {
            Fail(QStringLiteral("%1 is left as it is and nothing is recorded into it").arg(reader.Error()));
            return false;
        }
        qint64 lines = 0;
        while (reader.NextLine())
            ++lines;
        if (reader.Damaged()) {
            Fail(QStringLiteral("%1: %2; it is left as it is and nothing is recorded into it")
                     .arg(m_path, reader.EndNote()));
            return false;
        }
        if (!reader.EndedCleanly() && !RepairCutOffFile(lines))
            return false;
    }
    gzFile file = gzopen(QFile::encodeName(m_path).constData(), AppendMode);
    if (!file) {
        Fail(QStringLiteral("cannot open %1: %2").arg(m_path, SystemError(errno)));
        return false;
    }
    m_writer = std::make_unique<GzWriter>(file);
    return true;
}

bool TAlertRecorder::RepairCutOffFile(qint64 completeLines)
{
    const QString repaired = m_path + QStringLiteral(".repairing");
    if (!CopyCompleteLines(m_path, repaired)) {
        const int error = errno;
        QFile::remove(repaired);
        Fail(QStringLiteral("cannot repair %1, which was cut short: %2").arg(m_path, SystemError(error)));
        return false;
    }
    // rename() replaces the file in one step: a crash now leaves either one.
    if (std::rename(QFile::encodeName(repaired).constData(), QFile::encodeName(m_path).constData()) != 0) {
        const int error = errno;
        QFile::remove(repaired);
        Fail(QStringLiteral("cannot replace %1 by its repaired copy: %2").arg(m_path, SystemError(error)));
        return false;
    }
    DebugOutput(QStringLiteral("Recording: %1 was cut short (the client stopped abruptly); its %2 complete lines "
                               "are kept and the recording goes on after them.")
                    .arg(m_path)
                    .arg(completeLines));
    return true;
}

void TAlertRecorder::Fail(const QString& text)
{
    m_failed = true;
    m_lost += std::count(m_buffer.cbegin(), m_buffer.cend(), '\n');
    m_buffer.clear();
    if (m_writer) {
        // The file is left as far as it got; closing may fail again, unheard.
        m_writer->Close();
        m_writer.reset();
    }
    m_problem = text;
    DebugOutput(QStringLiteral("Recording stopped: %1. Alerts still reach the windows.").arg(text));
    if (OnProblem)
        GuardedCall(QStringLiteral("AlertRecorder, OnProblem"), [this] { OnProblem(m_problem); });
}

void TAlertRecorder::Close()
{
    if (!m_writer)
        return;
    const bool closed = m_writer->Close();
    m_writer.reset();
    if (!closed && !m_failed)
        Fail(QStringLiteral("cannot finish %1: %2").arg(m_path, SystemError(errno)));
}
