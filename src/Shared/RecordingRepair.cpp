#include "Shared/RecordingRepair.h"
#include "Shared/GzipAppender.h"
#include "platform/core/PrivateFiles.h"
#include <QFile>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A rewrite writes the kept lines out in pieces of about this size.
constexpr qsizetype CopyChunk = 1024 * 1024;

} // namespace

TRecordingRepair::TRecordingRepair(QString path, int fd)
    : m_path(std::move(path)), m_copyPath(m_path + QStringLiteral(".repairing")), m_original(fd)
{
    struct stat status {};
    if (::fstat(fd, &status) == 0 && status.st_size == 0) {
        Ready();
        return;
    }
    // A descriptor of its own for the reader, on the very file that is locked.
    if (!m_reader.Open(m_path, ::fcntl(fd, F_DUPFD_CLOEXEC, 0)))
        Refuse(QStringLiteral("%1 It is left as it is and nothing is recorded into it").arg(m_reader.Error()));
}

TRecordingRepair::~TRecordingRepair()
{
    if (m_copying && m_outcome != TOutcome::Ready) {
        m_writer.reset();
        QFile::remove(m_copyPath);
    }
    if (m_original >= 0)
        ::close(m_original);
}

TRecordingRepair::TOutcome TRecordingRepair::Step()
{
    if (m_outcome != TOutcome::Pending)
        return m_outcome;
    return m_copying ? Copy() : Check();
}

std::unique_ptr<TGzipAppender> TRecordingRepair::TakeWriter() { return std::move(m_writer); }

TRecordingRepair::TOutcome TRecordingRepair::Check()
{
    if (m_reader.StepLine() || !m_reader.Finished())
        return m_outcome;
    if (m_reader.Damaged())
        return Refuse(QStringLiteral("%1: %2; it is left as it is and nothing is recorded into it")
                          .arg(m_path, m_reader.EndNote()));
    return m_reader.EndedCleanly() ? Ready() : BeginCopy();
}

TRecordingRepair::TOutcome TRecordingRepair::BeginCopy()
{
    QString why;
    const int copy = CreateReplacementFile(m_copyPath, m_original, why);
    if (copy < 0)
        return Refuse(QStringLiteral("cannot repair %1, which was cut short: %2 %3").arg(m_path, m_copyPath, why));
    m_writer = std::make_unique<TGzipAppender>();
    m_writer->Adopt(copy);
    m_copying = true;
    if (!m_reader.Rewind())
        return CopyFailed(QStringLiteral("it cannot be read again"));
    return m_outcome;
}

TRecordingRepair::TOutcome TRecordingRepair::Copy()
{
    if (const std::optional<QByteArray> line = m_reader.StepLine()) {
        ++m_keptLines;
        m_chunk += *line;
        m_chunk += '\n';
        if (m_chunk.size() >= CopyChunk) {
            if (!m_writer->Write(m_chunk))
                return CopyFailed(m_writer->Error());
            m_chunk.truncate(0);
        }
        return m_outcome;
    }
    return m_reader.Finished() ? FinishCopy() : m_outcome;
}

TRecordingRepair::TOutcome TRecordingRepair::FinishCopy()
{
    if (!m_writer->Write(m_chunk))
        return CopyFailed(m_writer->Error());
    m_chunk.clear();
    QString why;
    if (!ReplaceBySyncedFile(m_writer->Descriptor(), m_copyPath, m_path, why))
        return CopyFailed(m_copyPath + u' ' + why);
    // The original is gone from the folder; its lock goes with its descriptor.
    ::close(m_original);
    m_original = -1;
    m_repaired = true;
    m_report = WhatWasKept();
    m_outcome = TOutcome::Ready;
    return m_outcome;
}

QString TRecordingRepair::WhatWasKept() const
{
    QString text = QStringLiteral("%1 was cut short (the client stopped abruptly); its %2 complete lines are kept "
                                  "and the recording goes on after them")
                       .arg(m_path)
                       .arg(m_keptLines);
    // Only a line over the length limit is skipped by the line reader.
    const qint64 dropped = m_reader.MalformedLines();
    if (dropped > 0)
        text += QStringLiteral("; %1 line%2 could not be kept (%3)")
                    .arg(dropped)
                    .arg(dropped == 1 ? "" : "s")
                    .arg(m_reader.MalformedNotes().join(QStringLiteral("; ")));
    return text + u'.';
}

TRecordingRepair::TOutcome TRecordingRepair::CopyFailed(const QString& error)
{
    m_writer->Abandon();
    m_writer.reset();
    QFile::remove(m_copyPath);
    m_copying = false;
    return Refuse(QStringLiteral("cannot repair %1, which was cut short: %2").arg(m_path, error));
}

TRecordingRepair::TOutcome TRecordingRepair::Ready()
{
    m_writer = std::make_unique<TGzipAppender>();
    m_writer->Adopt(m_original);
    m_original = -1;
    m_outcome = TOutcome::Ready;
    return m_outcome;
}

TRecordingRepair::TOutcome TRecordingRepair::Refuse(const QString& text)
{
    m_report = text;
    m_outcome = TOutcome::Refused;
    return m_outcome;
}
