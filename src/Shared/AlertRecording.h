#pragma once
// Alert recordings: a gzip file of text lines, one alert a line, written by
// TAlertRecorder and read back for a replay. A line is the receive time in
// milliseconds since the Unix epoch (UTC), a tab, the alert's category, a
// tab, and the alert's field line as it arrived (see docs/recording.md).
//
// Needs Qt Core and zlib only: the reference alert server reads recordings
// with this very unit.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

struct TRecordedAlert {
    qint64 ReceivedMs = 0;
    QByteArray Category;
    QByteArray FieldLine;
    // The alert text as a receiver gets it: category, CR LF, field line.
    QByteArray Payload() const;
};

// Appends the recording line (with its line feed) of one received alert
// text. False, and nothing appended, when the category holds a tab or a line
// break: no line could carry it.
bool AppendRecordingLine(QByteArray& out, qint64 receivedMs, const QByteArray& payload);

// One line without its line feed. Unset, with Why set, when it is not a
// recording line.
std::optional<TRecordedAlert> ParseRecordingLine(const QByteArray& line, QString* why = nullptr);

// "alerts-YYYY-MM-DD.tsv.gz" for the UTC date of the moment.
QString DayFileName(qint64 msSinceEpoch);
// The UTC day of a moment, counted from the epoch.
qint64 UtcDayNumber(qint64 msSinceEpoch);

// Reads a recording line by line without loading it whole. Tolerates what a
// crash leaves behind: an incomplete last line and a gzip member cut short
// are left out with a note; a damaged member ends the reading at the damage.
class TAlertRecordingReader {
public:
    TAlertRecordingReader();
    ~TAlertRecordingReader();
    TAlertRecordingReader(const TAlertRecordingReader&) = delete;
    TAlertRecordingReader& operator=(const TAlertRecordingReader&) = delete;

    // False, with Error() saying why, for a missing, empty or non-gzip file.
    bool Open(const QString& path);
    const QString& Path() const { return m_path; }
    const QString& Error() const { return m_error; }

    // The next complete line, malformed or not; unset at the end.
    std::optional<QByteArray> NextLine();
    // The next well-formed alert; malformed lines are skipped and counted.
    std::optional<TRecordedAlert> Next();
    // Starts again at the first line (the counts start again too).
    bool Rewind();

    qint64 LinesRead() const { return m_lineNumber; }
    qint64 MalformedLines() const { return m_malformed; }
    // The first few malformed lines, each named by its number and the fault.
    const QStringList& MalformedNotes() const { return m_malformedNotes; }
    // Once the end is reached: empty for a cleanly ended file, else what was
    // wrong with its end (cut short, damaged) and what was left out.
    const QString& EndNote() const { return m_endNote; }
    bool EndedCleanly() const { return m_atEnd && m_endNote.isEmpty(); }
    // The compressed data is damaged (not merely cut short).
    bool Damaged() const { return m_damaged; }

private:
    bool FillBuffer();
    void FinishAtEnd(int zlibError, const char* zlibMessage);

    struct GzFile;
    std::unique_ptr<GzFile> m_file;
    QString m_path;
    QString m_error;
    QByteArray m_buffer;
    qsizetype m_bufferStart = 0;
    bool m_atEnd = false;
    bool m_skippingOverlong = false;
    bool m_damaged = false;
    qint64 m_lineNumber = 0;
    qint64 m_malformed = 0;
    QStringList m_malformedNotes;
    QString m_endNote;
};
