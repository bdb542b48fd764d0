#include "Zembra/RecordAndReplay.h"
#include "Shared/AlertRecorder.h"
#include "Shared/AlertReplay.h"
#include "base/DebugLog.h"
#include "Zembra/MainConnectionUnit.h"
#include "platform/core/IniFile.h"
#include <QDir>
#include <QFileInfo>

QString ConfiguredRecordFolder(const QString& configFile)
{
    const QString folder =
        QString::fromLocal8Bit(TIniFile(configFile).ReadString("General", "record folder").trimmed());
    if (folder.isEmpty())
        return folder;
    return QDir::cleanPath(QFileInfo(configFile).absoluteDir().filePath(folder));
}

namespace {

std::unique_ptr<TAlertRecordingReader> OpenRecording(const QString& file, QString& error)
{
    auto reader = std::make_unique<TAlertRecordingReader>();
    if (reader->Open(file))
        return reader;
    error = QStringLiteral("Cannot replay: %1").arg(reader->Error());
    return nullptr;
}

} // namespace

QString ReplayFileProblem(const QString& file)
{
    QString error;
    OpenRecording(file, error);
    return error;
}

TRecordAndReplay::TRecordAndReplay(TMainConnection& connection) : m_connection(connection) {}

TRecordAndReplay::~TRecordAndReplay() = default;

bool TRecordAndReplay::Start(const TRecordAndReplayOptions& options, QString& error)
{
    if (!options.ReplayFile.isEmpty())
        return StartReplay(options, error);
    if (!options.RecordFile.isEmpty())
        StartRecorder(TAlertRecorder::IntoFile(options.RecordFile));
    if (!options.RecordFolder.isEmpty())
        StartRecorder(TAlertRecorder::IntoDayFiles(options.RecordFolder));
    return true;
}

void TRecordAndReplay::StartRecorder(std::unique_ptr<TAlertRecorder> recorder)
{
    TAlertRecorder* const raw = recorder.get();
    raw->OnProblem = [this](const QString& text) {
        m_recordingProblem = text;
        if (OnRecordingProblem)
            OnRecordingProblem(text);
    };
    // Opening may already have failed (a folder that is not there).
    if (!raw->Problem().isEmpty())
        m_recordingProblem = raw->Problem();
    m_recording.push_back(m_connection.RegisterAlertCallback([raw](const QByteArray& data) { raw->Record(data); }));
    m_recorders.push_back(std::move(recorder));
}

bool TRecordAndReplay::StartReplay(const TRecordAndReplayOptions& options, QString& error)
{
    auto reader = OpenRecording(options.ReplayFile, error);
    if (!reader)
        return false;
    m_replay = std::make_unique<TAlertReplay>(std::move(reader), options.ReplaySpeed);
    TMainConnection& connection = m_connection;
    m_replay->OnAlert = [&connection](const TRecordedAlert& alert) {
        connection.DeliverAlerts(true, alert.Payload(), TMessageToServer());
    };
    QObject::connect(m_replay.get(), &TAlertReplay::StatusChanged, m_replay.get(),
                     [&connection](const QString& text) { connection.SetOfflineStatus(text); });
    TAlertReplay* const replay = m_replay.get();
    QObject::connect(m_replay.get(), &TAlertReplay::ReachedEnd, m_replay.get(), [replay] {
        // A clean end is plain from the status; anything skipped is told.
        const TAlertRecordingReader& reader = replay->Reader();
        if (reader.MalformedLines() > 0 || !reader.EndNote().isEmpty())
            DebugOutput(replay->Summary());
    });
    connection.GoOffline();
    m_replay->Start();
    return true;
}
