#pragma once
// The sound layer: synchronous wave playback by file name and the default
// beep. The main window plays through a TSoundPlayer it is given, so tests can
// hand it a fake that records what would have sounded.
#include <QString>

class TSoundPlayer {
public:
    virtual ~TSoundPlayer() = default;
    // Plays the wave file and returns when it has finished. A file that cannot
    // be played returns at once, silently.
    virtual void PlayWaveSync(const QString& fileName) = 0;
    virtual void DefaultBeep() = 0;
};

// Plays through Qt Multimedia. "Synchronous" is kept by waiting in a local
// event loop that excludes user input: the caller does not continue until the
// sound has ended, and the user cannot click into the program meanwhile, but
// sockets and timers keep running (the audio backend reports its progress
// through the event loop too). Never call it from inside a paint event.
class TQtSoundPlayer : public TSoundPlayer {
public:
    void PlayWaveSync(const QString& fileName) override;
    void DefaultBeep() override;

    // Upper bounds of the wait, so that a backend that never reports can not
    // hang the program.
    static constexpr int LoadTimeoutMs = 5000;
    static constexpr int PlayTimeoutMs = 60000;
};

// The process's player: a TQtSoundPlayer.
TSoundPlayer& DefaultSoundPlayer();
