#pragma once
// The price-spike sound: the wait the fake data form asks for, then the
// trader's wave file or the beep. One sound at a time: spikes that come while
// one waits or sounds join it. Without that, every spike during the wait
// would start a wait of its own inside it, and their sounds would pile up.
#include <QString>
#include <QtGlobal>
#include <functional>

class TSoundPlayer;

class TPriceSpikePlayer {
public:
    // The 32-bit millisecond tick count the wait measures with; it wraps.
    using TTickSource = std::function<quint32()>;

    explicit TPriceSpikePlayer(TSoundPlayer& sound, TTickSource ticks = MonotonicTick);

    // Waits delayMs (none when 0 or less), then plays the file or beeps.
    // Nothing sounds when the application quits during the wait.
    void PlaySpike(int delayMs, const QString& fileName);
    // Plays the file or beeps at once (the "Select Sound" trial).
    void PlayNow(const QString& fileName);
    // Waits, handling events; false when it was cut short because the
    // application is quitting.
    bool Delay(quint32 milliseconds);

    // The system's millisecond tick count, from a monotonic clock.
    static quint32 MonotonicTick();

private:
    TSoundPlayer& m_sound;
    TTickSource m_ticks;
    bool m_busy = false; // a spike waits or a sound plays
};
