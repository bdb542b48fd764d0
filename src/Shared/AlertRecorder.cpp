#include "Shared/AlertRecorder.h"
#include "Shared/AlertRecording.h"
#include "base/DebugLog.h"
#include "base/GuardedCall.h"
#include "Shared/GzipAppender.h"
#include "Shared/RecordingRepair.h"
#include "platform/core/PrivateFiles.h"
#include <QDateTime>
#include <QDir>
#include <QTimer>
#include <algorithm>

namespace {

// What a crash can lose at most.
constexpr int FlushIntervalMs = 500;
// Written out sooner when this much has come in.
constexpr qsizetype FlushSize = 256 * 1024;
// A pass of the event loop checks at most this much of a file that is
// opened (steps of the reader, text inflated), so that the windows answer
// however the file is made.
constexpr int OpeningStepsPerPass = 4096;
constexpr qint64 OpeningBytesPerPass = 1024 * 1024;

} // namespace

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
    m_openingTimer = std::make_unique<QTimer>();
    m_openingTimer->setSingleShot(true);
    m_openingTimer->setInterval(0);
    QObject::connect(m_openingTimer.get(), &QTimer::timeout, m_openingTimer.get(), [this] {
        GuardedCall(QStringLiteral("AlertRecorder, TAlertRecorder.ContinueOpening"), [this] { ContinueOpening(); });
    });
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
    QString why;
    if (AppendRecordingLine(m_buffer, now, payload, &why)) {
        // A burst is compressed while its text is still in the cache, and
        // the buffer never grows large.
        if (m_buffer.size() >= FlushSize)
            Flush();
        return;
    }
    ++m_lost;
    NoteUnrecordable(why);
}

void TAlertRecorder::NoteUnrecordable(const QString& why)
{
    if (m_unrecordableShown.contains(why))
        return;
    m_unrecordableShown << why;
    DebugOutput(QStringLiteral("Recording: an alert cannot be recorded: %1; such alerts are left out of %2.")
                    .arg(why, m_path));
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

void TAlertRecorder::OpenForAppending()
{
    QString why;
    const int fd = OpenPrivateFileForAppending(m_path, why);
    if (fd < 0) {
        Fail(QStringLiteral("%1 %2; nothing is recorded into it").arg(m_path, why));
        return;
    }
    m_opening = std::make_unique<TRecordingRepair>(m_path, fd);
    // A small file is ready at once; a large one goes on at the next passes.
    ContinueOpening();
}

void TAlertRecorder::ContinueOpening()
{
    if (!m_opening)
        return;
    const qint64 inflatedBefore = m_opening->InflatedBytes();
    for (int step = 0; step < OpeningStepsPerPass; ++step) {
        if (m_opening->Step() != TRecordingRepair::TOutcome::Pending) {
            FinishOpening();
            return;
        }
        if (m_opening->InflatedBytes() - inflatedBefore >= OpeningBytesPerPass)
            break;
    }
    m_openingTimer->start();
}

void TAlertRecorder::FinishOpening()
{
    const std::unique_ptr<TRecordingRepair> opening = std::move(m_opening);
    if (opening->Outcome() == TRecordingRepair::TOutcome::Refused) {
        Fail(opening->Report());
        return;
    }
    if (opening->Repaired())
        DebugOutput(QStringLiteral("Recording: ") + opening->Report());
    m_writer = opening->TakeWriter();
    // What came in while the file was checked.
    Flush();
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
    if (m_opening) {
        m_openingTimer->stop();
        m_opening.reset();
        const qint64 waiting = std::count(m_buffer.cbegin(), m_buffer.cend(), '\n');
        m_lost += waiting;
        m_buffer.clear();
        DebugOutput(QStringLiteral("Recording: %1 was still being checked when its recording ended; the %2 alerts "
                                   "received meanwhile are not recorded.")
                        .arg(m_path)
                        .arg(waiting));
    }
    if (!m_writer)
        return;
    const bool closed = m_writer->Close();
    const QString error = m_writer->Error();
    m_writer.reset();
    if (!closed && !m_failed)
        Fail(QStringLiteral("cannot finish %1: %2").arg(m_path, error));
}
