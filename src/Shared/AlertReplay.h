#pragma once
// Plays an alert recording back: hands each recorded alert to OnAlert at the
// recorded pace times Speed (0: as fast as the receiver takes them, a slice
// at a time so that the event loop keeps turning), with pause and resume.
// Reads the recording as it goes, never whole, and never for longer than a
// slice per pass of the event loop (a recording made to inflate to gigabytes
// included), from the pass after Start on. Malformed lines are skipped and
// counted.
//
// Needs Qt Core only: the client feeds its windows with it, the reference
// server its clients.
#include "Shared/AlertRecording.h"
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

class TAlertReplay : public QObject {
    Q_OBJECT
public:
    // Milliseconds on a clock that never goes back; only differences matter.
    using TMonotonicClock = std::function<qint64()>;

    // Takes an opened reader.
    TAlertReplay(std::unique_ptr<TAlertRecordingReader> reader, double speed, QObject* parent = nullptr);
    ~TAlertReplay() override;

    // The receiver of every alert, in the recorded order.
    std::function<void(const TRecordedAlert&)> OnAlert;
    // Start again at the first alert after the last one, instead of finishing.
    void SetLooping(bool loop) { m_looping = loop; }
    void SetClock(TMonotonicClock clock);

    void Start();
    void Pause();
    void Resume();
    bool Started() const { return m_started; }
    bool Paused() const { return m_paused; }
    bool Finished() const { return m_finished; }

    // Hands over the alerts that are due now, as many as a slice allows;
    // the timer calls it.
    void DeliverDue();

    qint64 Delivered() const { return m_delivered; }
    // Recorded time of the latest alert handed over (ms since the epoch, UTC).
    std::optional<qint64> LatestRecordedMs() const { return m_latestMs; }
    const TAlertRecordingReader& Reader() const { return *m_reader; }
    // "Replay: " and the local date and time of the latest alert, with
    // "(paused)" or "(end of recording)" when it applies.
    QString StatusText() const;
    // What the end of the recording was like: alerts, skipped lines, a cut-off end.
    QString Summary() const;

signals:
    // StatusText changed (at most once a recorded second while playing).
    void StatusChanged(const QString& text);
    void PausedChanged(bool paused);
    void ReachedEnd();

private:
    bool ReadAhead();
    void ScheduleNext();
    void EndOfRecording();
    void NoteStatus();

    std::unique_ptr<TAlertRecordingReader> m_reader;
    double m_speed;
    bool m_looping = false;
    TMonotonicClock m_clock;
    QTimer m_timer;
    bool m_started = false;
    bool m_paused = false;
    bool m_finished = false;
    // DeliverDue is on the stack (a receiver may turn the event loop).
    bool m_delivering = false;
    std::optional<TRecordedAlert> m_next;
    // When the next alert is due on the monotonic clock, and the recorded
    // time of the alert before it.
    double m_nextDue = 0;
    std::optional<qint64> m_previousRecordedMs;
    qint64 m_pausedAt = 0;
    qint64 m_delivered = 0;
    qint64 m_deliveredThisPass = 0;
    std::optional<qint64> m_latestMs;
    qint64 m_shownSecond = -2;
    int m_shownState = -1;
    QString m_status;
};
