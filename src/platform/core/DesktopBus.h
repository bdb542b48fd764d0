#pragma once
// The client on the desktop's message bus, as the shell sees it: other
// programs follow the symbols the trader links and the status line, and may
// bring an alert window forward. The shell uses this interface only, so that
// another system can put its own channel behind it; on Linux it is the D-Bus
// service of SessionBusService.h.
#include <QString>
#include <functional>
#include <memory>

class TDesktopBus {
public:
    // Raises the window with this title; false when no window has it.
    using TShowWindow = std::function<bool(const QString& title)>;

    virtual ~TDesktopBus() = default;
    // The trader linked the symbol from the window with this title.
    virtual void AnnounceLink(const QString& symbol, const QString& window) = 0;
    // The status line now reads `status`.
    virtual void SetStatus(const QString& status) = 0;
};

// The service on the user's session bus; it works (announcing nothing) when
// there is no bus or another client holds the name.
std::unique_ptr<TDesktopBus> MakeDesktopBus(TDesktopBus::TShowWindow showWindow);
