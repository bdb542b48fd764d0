#include "platform/gui/PriceSpikeSound.h"

namespace {
std::function<void()>& Handler()
{
    static std::function<void()> handler;
    return handler;
}
}

void SetPriceSpikeSoundHandler(std::function<void()> handler) { Handler() = std::move(handler); }

void PlayPriceSpikeSound()
{
    if (Handler())
        Handler()();
}
