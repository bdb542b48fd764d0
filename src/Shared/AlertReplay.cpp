#include "Shared/AlertReplay.h"
#include "base/GuardedCall.h"
#include <QDateTime>
#include <QElapsedTimer>
#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// At speed 0 alerts go out in slices of about this long, each followed by a
// turn of the event loop, so that windows repaint and buttons answer. A
// turn repaints every window once, however many alerts it got, so a longer
// slice plays faster; this one still answers a click within a blink.
constexpr qint64 SliceMs = 50;

qint64 ElapsedSinceStart()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

} // namespace

TAlertReplay::TAlertReplay(std::unique_ptr<TAlertRecordingReader> reader, double speed, QObject* parent)
    : QObject(parent), m_reader(std::move(reader)), m_speed(std::max(0.0, speed)), m_clock(ElapsedSinceStart)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this,
            [this] { GuardedCall(QStringLiteral("AlertReplay, TAlertReplay.DeliverDue"), [this] { DeliverDue(); }); });
}

TAlertReplay::~TAlertReplay() = default;

void TAlertReplay::SetClock(TMonotonicClock clock) { m_clock = clock ? std::move(clock) : ElapsedSinceStart; }

void TAlertReplay::Start()
{
    if (m_started)
        return;
    m_started = true;
    m_nextDue = double(m_clock());
    // The reading starts at the event loop's next pass: the windows show
    // first, however long the recording takes to give its first alert.
    ScheduleNext();
    NoteStatus();
}

void TAlertReplay::Pause()
{
    if (!m_started || m_paused || m_finished)
        return;
    m_paused = true;
    m_pausedAt = m_clock();
    m_timer.stop();
    NoteStatus();
    emit PausedChanged(true);
}

void TAlertReplay::Resume()
{
    if (!m_paused)
        return;
    m_paused = false;
    // The time spent paused does not count against the recorded pace.
    m_nextDue += double(m_clock() - m_pausedAt);
    ScheduleNext();
    NoteStatus();
    emit PausedChanged(false);
}

bool TAlertReplay::ReadAhead()
{
    m_next = m_reader->Step();
    if (!m_next && m_reader->Finished() && m_looping && m_deliveredThisPass > 0 && m_reader->Rewind()) {
        // The first alert of the next pass follows the last one at once.
        m_deliveredThisPass = 0;
        m_previousRecordedMs.reset();
        m_next = m_reader->Step();
    }
    if (!m_next)
        return false;
    if (m_previousRecordedMs && m_speed > 0) {
        // A recorded clock that went back plays on at once, not backwards.
        const qint64 gap = std::max<qint64>(0, m_next->ReceivedMs - *m_previousRecordedMs);
        m_nextDue += double(gap) / m_speed;
    }
    m_previousRecordedMs = m_next->ReceivedMs;
    return true;
}

void TAlertReplay::DeliverDue()
{
    if (!m_started || m_paused || m_finished || m_delivering)
        return;
    m_delivering = true;
    QElapsedTimer slice;
    slice.start();
    const double now = double(m_clock());
    // Reading is bounded by the slice as delivering is: a step of the reader
    // that finds no alert yet costs a bounded amount of text.
    while (!m_paused && slice.elapsed() < SliceMs) {
        if (!m_next && !ReadAhead()) {
            if (m_reader->Finished())
                break;
            continue;
        }
        if (m_nextDue > now)
            break;
        const TRecordedAlert alert = std::move(*m_next);
        m_next.reset();
        m_latestMs = alert.ReceivedMs;
        ++m_delivered;
        ++m_deliveredThisPass;
        if (OnAlert)
            GuardedCall(QStringLiteral("AlertReplay, OnAlert"), [&] { OnAlert(alert); });
    }
    m_delivering = false;
    if (!m_next && m_reader->Finished())
        EndOfRecording();
    else
        ScheduleNext();
    NoteStatus();
}

void TAlertReplay::ScheduleNext()
{
    if (m_paused || m_finished)
        return;
    // Without an alert read ahead, the reading goes on at the next pass.
    const double wait = m_next ? std::ceil(m_nextDue - double(m_clock())) : 0.0;
    m_timer.start(int(std::clamp(wait, 0.0, double(INT_MAX))));
}

void TAlertReplay::EndOfRecording()
{
    if (m_finished)
        return;
    m_finished = true;
    m_timer.stop();
    NoteStatus();
    emit ReachedEnd();
}

QString TAlertReplay::StatusText() const
{
    QString text = QStringLiteral("Replay: ");
    if (m_latestMs)
        text += QDateTime::fromMSecsSinceEpoch(*m_latestMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    else
        text += m_finished ? QStringLiteral("no alerts") : QStringLiteral("starting");
    if (m_finished) {
        const qint64 skipped = m_reader->MalformedLines();
        text += skipped > 0 ? QStringLiteral(" (end of recording; %1 malformed line%2 skipped)")
                                  .arg(skipped)
                                  .arg(skipped == 1 ? "" : "s")
                            : QStringLiteral(" (end of recording)");
    } else if (m_paused)
        text += QStringLiteral(" (paused)");
    return text;
}

void TAlertReplay::NoteStatus()
{
    // Formatting a date per alert would cost more than the alert; the text
    // only changes with the recorded second or the state.
    const qint64 second = m_latestMs ? *m_latestMs / 1000 : -1;
    const int state = (m_paused ? 1 : 0) | (m_finished ? 2 : 0) | (m_started ? 4 : 0);
    if (second == m_shownSecond && state == m_shownState)
        return;
    m_shownSecond = second;
    m_shownState = state;
    const QString text = StatusText();
    if (text == m_status)
        return;
    m_status = text;
    emit StatusChanged(m_status);
}

QString TAlertReplay::Summary() const
{
    QString text = QStringLiteral("Replay of %1: %2 alerts").arg(m_reader->Path()).arg(m_delivered);
    if (m_reader->MalformedLines() > 0)
        text += QStringLiteral("; %1 malformed lines skipped (%2)")
                    .arg(m_reader->MalformedLines())
                    .arg(m_reader->MalformedNotes().join(QStringLiteral("; ")));
    if (!m_reader->EndNote().isEmpty())
        text += QStringLiteral("; ") + m_reader->EndNote();
    return text + u'.';
}
