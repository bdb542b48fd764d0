#pragma once
// A sound player that records what would have sounded instead of playing.
#include "platform/gui/Sound.h"
#include <QStringList>
#include <functional>

class TFakeSoundPlayer : public TSoundPlayer {
public:
    void PlayWaveSync(const QString& fileName) override
    {
        Played << fileName;
        if (DuringPlay)
            DuringPlay();
    }
    void DefaultBeep() override { ++Beeps; }

    QStringList Played;
    int Beeps = 0;
    std::function<void()> DuringPlay;
};
