#pragma once
// What start-up owns and lends to the forms, alert windows and grids, made
// afresh for each test that needs them: the configuration in use ("Braxo.ini"
// in the test's working directory), a sound player that only records, the
// price-spike player on a clock the test may drive, the exclude list and the
// grids' emitters (connect to them with a context object of the test's own),
// and the keyring, on the test's session bus (see gui_main.cpp).
#include "GuiFakeSound.h"
#include "Zembra/AlertWindowUnit.h"
#include "Zembra/ExcludeList.h"
#include "platform/core/ConfigLocation.h"
#include "platform/core/IniFile.h"
#include "platform/gui/AlertNotices.h"
#include "platform/core/PasswordKeyring.h"
#include "platform/gui/PriceSpikeSound.h"
#include "platform/gui/SymbolLink.h"
#include "shell/MainFormUnit.h"
#include "shell/PriceSpikePlayer.h"
#include <functional>

struct GuiTestParts {
    TConfigInUse Config{QString::fromLatin1(ConfigFileName)};
    TFakeSoundPlayer Sound;
    // Unset: the real clock.
    std::function<quint32()> Ticks;
    TPriceSpikePlayer SpikePlayer{Sound, [this] { return Ticks ? Ticks() : TPriceSpikePlayer::MonotonicTick(); }};
    TSymbolSet ExcludeList = NewExcludeList();
    TSymbolLinks SymbolLinks;
    TPriceSpikeSound PriceSpikeSound;
    TAlertNotices Notices;
    std::unique_ptr<TPasswordKeyring> Keyring = MakePasswordKeyring();

    TAlertWindowParts AlertWindowParts(TMainConnection& alertSource)
    {
        return {alertSource, ExcludeList, SymbolLinks, PriceSpikeSound, Notices};
    }
    TMainFormParts MainFormParts() { return {Config, SpikePlayer, ExcludeList, SymbolLinks, PriceSpikeSound, Notices, *Keyring}; }
};
