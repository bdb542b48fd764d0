#pragma once
// How the full top-list grid asks for the price-spike sound without depending
// on the main window: the main window installs its PlayPriceSpikeSound at
// start-up, tests install a counter. The grid calls it only after painting has
// finished, never from inside a paint event.
#include <functional>

void SetPriceSpikeSoundHandler(std::function<void()> handler);
void PlayPriceSpikeSound();
