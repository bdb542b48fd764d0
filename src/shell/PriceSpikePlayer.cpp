#include "shell/PriceSpikePlayer.h"
#include "platform/gui/Sound.h"
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QScopedValueRollback>
#include <QTimer>
#include <algorithm>

namespace {

// Runs the event loop for the time; false when the application is quitting.
bool RestInEventLoop(int milliseconds)
{
    // A local loop rather than processEvents: when the application quits (the
    // main window closed) it asks every running loop to end and no new one
    // starts, so the rest comes back without its wake-up.
    QEventLoop loop;
    QTimer wake;
    bool woke = false;
    wake.setSingleShot(true);
    QObject::connect(&wake, &QTimer::timeout, &loop, [&] {
        woke = true;
        loop.quit();
    });
    wake.start(milliseconds);
    loop.exec();
    return woke;
}

} // namespace

TPriceSpikePlayer::TPriceSpikePlayer(TSoundPlayer& sound, TTickSource ticks) : m_sound(sound), m_ticks(std::move(ticks))
{}

void TPriceSpikePlayer::PlaySpike(int delayMs, const QString& fileName)
{
    if (m_busy)
        return;
    const QScopedValueRollback busy(m_busy, true);
    if (delayMs > 0 && !Delay(static_cast<quint32>(delayMs)))
        return;
    m_sound.PlayWaveOrBeep(fileName);
}

void TPriceSpikePlayer::PlayNow(const QString& fileName)
{
    // A spike that comes while this sounds joins it.
    const QScopedValueRollback busy(m_busy, true);
    m_sound.PlayWaveOrBeep(fileName);
}

bool TPriceSpikePlayer::Delay(quint32 milliseconds)
{
    const quint32 start = m_ticks();
    for (;;) {
        // Unsigned 32-bit difference: right across the tick count's wrap.
        const quint32 elapsed = m_ticks() - start;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (elapsed >= milliseconds)
            return true;
        // Rest in the event loop a little instead of spinning.
        if (!RestInEventLoop(static_cast<int>(std::min<quint32>(milliseconds - elapsed, 10))))
            return false;
    }
}

quint32 TPriceSpikePlayer::MonotonicTick()
{
    QElapsedTimer clock;
    clock.start();
    return static_cast<quint32>(clock.msecsSinceReference());
}
