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

// The longest line a recording holds, line feed not counted: the recorder
// writes none longer and the reader skips any longer one, so that what is
// recorded is read back. No alert comes near it; a "line" this long is a
// damaged or foreign file, and holding it would only eat memory.
constexpr qsizetype MaxRecordingLineBytes = 16 * 1024 * 1024;

// Appends the recording line (with its line feed) of one received alert
// text. False, nothing appended and Why set, when the category holds a tab
// or a line break (no line could carry it) or the line would be longer than
// MaxRecordingLineBytes.
bool AppendRecordingLine(QByteArray& out, qint64 receivedMs, const QByteArray& payload, QString* why = nullptr);

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
//
// A few kilobytes of gzip can hold gigabytes of text, so whoever reads on
// the event loop reads in steps: a step goes through at most StepBytes of
// text (inflated, or in lines skipped, each line counted as at least 256
// bytes) beyond one read chunk, and returns
// unset when it found nothing yet; Finished() tells that from the end.
class TAlertRecordingReader {
public:
    static constexpr qint64 StepBytes = 128 * 1024;

    TAlertRecordingReader();
    ~TAlertRecordingReader();
    TAlertRecordingReader(const TAlertRecordingReader&) = delete;
    TAlertRecordingReader& operator=(const TAlertRecordingReader&) = delete;

    // False, with Error() saying why, for a missing, empty or non-gzip file
    // and anything that is not a regular file.
    bool Open(const QString& path);
    // The same for a file already open as Fd (of a regular file), which the
    // reader takes over; Path names it in the texts.
    bool Open(const QString& path, int fd);
    const QString& Path() const { return m_path; }
    const QString& Error() const { return m_error; }

    // One step: the next complete line, malformed or not, or unset.
    std::optional<QByteArray> StepLine();
    // One step: the next well-formed alert (malformed lines are skipped and
    // counted), or unset.
    std::optional<TRecordedAlert> Step();
    // Every line has been handed out.
    bool Finished() const { return m_finished; }
    // The same without steps, for tools and tests: unset only at the end.
    std::optional<QByteArray> NextLine();
    std::optional<TRecordedAlert> Next();
    // Starts again at the first line (the counts start again too).
    bool Rewind();
    // Text inflated so far, in bytes.
    qint64 InflatedBytes() const { return m_inflated; }

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
    std::optional<QByteArray> ReadLine();
    void NoteMalformed(qint64 lineNumber, const QString& fault);
    void NoteOverlong(qint64 lineNumber);
    // Work done in the current step, in bytes of text, and whether it is used up.
    bool StepUsedUp() const { return m_stepWork >= StepBytes; }

    struct GzFile;
    std::unique_ptr<GzFile> m_file;
    QString m_path;
    QString m_error;
    QByteArray m_buffer;
    qsizetype m_bufferStart = 0;
    qsizetype m_searchFrom = 0;
    bool m_atEnd = false;
    bool m_finished = false;
    qint64 m_inflated = 0;
    qint64 m_stepWork = 0;
    bool m_skippingOverlong = false;
    bool m_damaged = false;
    qint64 m_lineNumber = 0;
    qint64 m_malformed = 0;
    QStringList m_malformedNotes;
    QString m_endNote;
};
