#include "Shared/AlertRecorder.h"
#include "Shared/AlertRecording.h"
#include "base/DebugLog.h"
#include "base/GuardedCall.h"
#include "Shared/GzipAppender.h"
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// What a crash can lose at most.
constexpr int FlushIntervalMs = 500;
// Written out sooner when this much has come in.
constexpr qsizetype FlushSize = 256 * 1024;
// A repair writes the kept lines out in pieces of about this size.
constexpr qsizetype RepairChunk = 1024 * 1024;

QString SystemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

} // namespace

QString TAlertRecorder::CopyCompleteLines(const QString& from, const QString& to)
{
    TAlertRecordingReader reader;
    if (!reader.Open(from))
        return reader.Error();
    QFile::remove(to); // a repair cut short earlier must not be appended to
    TGzipAppender out;
    if (!out.Open(to))
        return out.Error();
    QByteArray chunk;
    while (const std::optional<QByteArray> line = reader.NextLine()) {
        chunk += *line;
        chunk += '\n';
        if (chunk.size() >= RepairChunk) {
            if (!out.Write(chunk))
                return out.Error();
            chunk.truncate(0);
        }
    }
    if (!out.Write(chunk) || !out.Close())
        return out.Error();
    return QString();
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
    // Nothing may leave a destructor.
    GuardedCall(QStringLiteral("TAlertRecorder.Destroy"), [this] {
        Flush();
        Close();
    });
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
    if (AppendRecordingLine(m_buffer, now, payload)) {
        // A burst is compressed while its text is still in the cache, and
        // the buffer never grows large.
        if (m_buffer.size() >= FlushSize)
            Flush();
        return;
    }
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
    if (!m_writer->Write(m_buffer)) {
        Fail(QStringLiteral("cannot write to %1: %2").arg(m_path, m_writer->Error()));
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
            // The reader's text is a sentence of its own.
            Fail(QStringLiteral("%1 It is left as it is and nothing is recorded into it").arg(reader.Error()));
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
    auto writer = std::make_unique<TGzipAppender>();
    if (!writer->Open(m_path)) {
        Fail(QStringLiteral("cannot open %1: %2").arg(m_path, writer->Error()));
        return false;
    }
    m_writer = std::move(writer);
    return true;
}

bool TAlertRecorder::RepairCutOffFile(qint64 completeLines)
{
    const QString repaired = m_path + QStringLiteral(".repairing");
    const QString error = CopyCompleteLines(m_path, repaired);
    if (!error.isEmpty()) {
        QFile::remove(repaired);
        Fail(QStringLiteral("cannot repair %1, which was cut short: %2").arg(m_path, error));
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
        m_writer->Abandon();
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
    const QString error = m_writer->Error();
    m_writer.reset();
    if (!closed && !m_failed)
        Fail(QStringLiteral("cannot finish %1: %2").arg(m_path, error));
}
