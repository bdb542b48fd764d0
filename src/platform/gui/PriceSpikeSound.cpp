#include "platform/gui/PriceSpikeSound.h"

TPriceSpikeSound& PriceSpikeSound()
{
    // Never destroyed: a grid may ask up to the very end of the process.
    static TPriceSpikeSound* const sound = new TPriceSpikeSound;
    return *sound;
}

void PlayPriceSpikeSound() { emit PriceSpikeSound().Requested(); }
