#pragma once
// The sound layer: synchronous wave playback by file name and the default
// beep. The price-spike player plays through a TSoundPlayer it is given (main
// gives it a TQtSoundPlayer), so tests can hand it a fake that records what
// would have sounded.
#include <QString>

class TSoundPlayer {
public:
    virtual ~TSoundPlayer() = default;
    // Plays the wave file and returns true when it has finished. A file that
    // cannot be played returns false at once, with the reason in `problem`.
    virtual bool PlayWaveSync(const QString& fileName, QString& problem) = 0;
    virtual void DefaultBeep() = 0;

    // Plays the wave file, or beeps without one. A file that cannot be played
    // beeps instead, and the debug log says why: once, until the file plays
    // or fails for another reason, so a stream of spikes writes one line.
    void PlayWaveOrBeep(const QString& fileName);

private:
    QString m_reportedProblem;
};

// Plays through Qt Multimedia. "Synchronous" is kept by waiting in a local
// event loop that excludes user input: the caller does not continue until the
// sound has ended, and the user cannot click into the program meanwhile, but
// sockets and timers keep running (the audio backend reports its progress
// through the event loop too). Never call it from inside a paint event. The
// wait ends early when the application quits.
class TQtSoundPlayer : public TSoundPlayer {
public:
    bool PlayWaveSync(const QString& fileName, QString& problem) override;
    void DefaultBeep() override;

    // Upper bounds of the wait, so that a backend that never reports can not
    // hang the program.
    static constexpr int LoadTimeoutMs = 5000;
    static constexpr int PlayTimeoutMs = 60000;
};
