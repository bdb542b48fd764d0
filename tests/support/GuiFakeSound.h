#pragma once
// A sound player that records what would have sounded instead of playing.
#include "platform/gui/Sound.h"
#include <QStringList>
#include <functional>

class TFakeSoundPlayer : public TSoundPlayer {
public:
    bool PlayWaveSync(const QString& fileName, QString& problem) override
    {
        Played << fileName;
        if (DuringPlay)
            DuringPlay();
        problem = Unplayable;
        return Unplayable.isEmpty();
    }
    void DefaultBeep() override { ++Beeps; }

    QStringList Played;
    int Beeps = 0;
    std::function<void()> DuringPlay;
    // Set: every file fails to play for this reason.
    QString Unplayable;
};
