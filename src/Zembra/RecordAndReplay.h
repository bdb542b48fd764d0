#pragma once
// Recording and replay for the whole process. Recording: one recorder per
// destination the command line and the configuration name, each one more
// alert receiver of the main connection, so it gets every alert text
// unchanged. Replay: the main connection goes offline and the recording is
// fed through DeliverAlerts, the entry point the server's alerts take, so
// the windows cannot tell the difference. Widget-free.
#include "base/Subscription.h"
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class TAlertRecorder;
class TAlertReplay;
class TMainConnection;

struct TRecordAndReplayOptions {
    QString RecordFile;   // every alert into this file
    QString RecordFolder; // every alert into this folder's day files
    QString ReplayFile;   // alerts from this recording instead of a server
    double ReplaySpeed = 1;
};

// [General] "record folder" of the configuration file, a relative folder
// taken from the configuration file's own folder; empty when not set.
QString ConfiguredRecordFolder(const QString& configFile);

// Why the recording cannot be replayed ("Cannot replay: " and the reason);
// empty when it opens. Start-up asks before any window opens.
QString ReplayFileProblem(const QString& file);

class TRecordAndReplay {
public:
    explicit TRecordAndReplay(TMainConnection& connection);
    ~TRecordAndReplay();
    TRecordAndReplay(const TRecordAndReplay&) = delete;
    TRecordAndReplay& operator=(const TRecordAndReplay&) = delete;

    // Starts what the options ask for; a replay is never recorded. False,
    // with Error saying why and nothing started, when the recording to
    // replay cannot be read. A recorder's write error is not fatal.
    bool Start(const TRecordAndReplayOptions& options, QString& error);

    TAlertReplay* Replay() const { return m_replay.get(); }
    const std::vector<std::unique_ptr<TAlertRecorder>>& Recorders() const { return m_recorders; }
    // The latest recording problem (already in the debug log); empty if none.
    const QString& RecordingProblem() const { return m_recordingProblem; }
    std::function<void(const QString&)> OnRecordingProblem;

private:
    void StartRecorder(std::unique_ptr<TAlertRecorder> recorder);
    bool StartReplay(const TRecordAndReplayOptions& options, QString& error);

    TMainConnection& m_connection;
    std::vector<std::unique_ptr<TAlertRecorder>> m_recorders;
    std::unique_ptr<TAlertReplay> m_replay;
    QString m_recordingProblem;
    // The recorders' alert receivers, ended before the recorders go.
    std::vector<TSubscription> m_recording;
};
