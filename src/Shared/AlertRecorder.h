#pragma once
// Records every alert text it is given into an alert recording (the format
// is in Shared/AlertRecording.h): into one file, or into one file per UTC
// day in a folder. Recording costs the receive path one line appended to a
// buffer; the buffer is compressed and written out on a timer, at least once
// a second, so that a crash loses at most the last moments.
//
// A file that already exists is appended to. One left cut short by a crash
// is first rewritten with its complete lines, since a recording whose middle
// is cut short could not be read past that point. That check reads the file
// through, on the event loop a bounded piece at a time; alerts wait in memory
// meanwhile. The file is locked while it is recorded into: a second recorder
// of the same file records nothing and says the file is in use.
//
// Any write error (disk full, folder gone) stops the recording of that file,
// is reported once through the debug log and OnProblem, and never raises.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QTimer;
class TGzipAppender;
class TRecordingRepair;

class TAlertRecorder {
public:
    // Milliseconds since the Unix epoch (UTC); tests bring their own.
    using TClock = std::function<qint64()>;

    // Records into this one file.
    static std::unique_ptr<TAlertRecorder> IntoFile(const QString& path, TClock clock = {});
    // Records into Folder/alerts-YYYY-MM-DD.tsv.gz, by each alert's UTC date.
    static std::unique_ptr<TAlertRecorder> IntoDayFiles(const QString& folder, TClock clock = {});
    ~TAlertRecorder();
    TAlertRecorder(const TAlertRecorder&) = delete;
    TAlertRecorder& operator=(const TAlertRecorder&) = delete;

    // One received alert text, stamped with the clock's time now.
    void Record(const QByteArray& payload);
    // Writes out what is buffered (the timer does this twice a second).
    void Flush();

    // The file alerts go to now.
    const QString& CurrentFile() const { return m_path; }
    // The file is still being checked before alerts are appended to it.
    bool Opening() const { return m_opening != nullptr; }
    // The last write error, empty while all is well.
    const QString& Problem() const { return m_problem; }
    // Called once per failed file, with the text the debug log got.
    std::function<void(const QString&)> OnProblem;
    // Alerts that could not be recorded (write errors, unrecordable categories).
    qint64 Lost() const { return m_lost; }

private:
    TAlertRecorder(QString file, QString folder, TClock clock);
    QString PathForDay(qint64 day) const;
    void SwitchToDay(qint64 day);
    void OpenForAppending();
    void ContinueOpening();
    void FinishOpening();
    void Fail(const QString& text);
    void NoteUnrecordable(const QString& why);
    void Close();

    const QString m_fixedFile;
    const QString m_folder;
    const TClock m_clock;
    QString m_path;
    qint64 m_day = 0;
    std::unique_ptr<TGzipAppender> m_writer;
    QByteArray m_buffer;
    bool m_failed = false;
    QString m_problem;
    qint64 m_lost = 0;
    QStringList m_unrecordableShown;
    std::unique_ptr<TRecordingRepair> m_opening;
    std::unique_ptr<QTimer> m_flushTimer;
    std::unique_ptr<QTimer> m_openingTimer;
};
