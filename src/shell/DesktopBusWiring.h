#pragma once
// What the desktop bus follows of the client: every link the trader makes
// and the main window's status line, each while its subscription lives.
#include "base/Subscription.h"

class TDesktopBus;
class TMainForm;
class TSymbolLinks;

// Each link goes out on the bus with the title of the window it came from.
TSubscription AnnounceLinksOnBus(TSymbolLinks& links, TDesktopBus& bus);
// The bus's Status reads what the status line reads, from now on.
TSubscription ShowStatusOnBus(TMainForm& mainForm, TDesktopBus& bus);
