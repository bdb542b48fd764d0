#pragma once
// Desktop notifications as the shell sees them: a summary, a body and a
// default action the trader may invoke from the notification (the shell
// then links the symbol and raises the window). The shell uses this
// interface only, so that another system can put its own behind it; on
// Linux it is FreedesktopNotifier.h.
#include <QString>
#include <functional>
#include <memory>

enum class TNotificationEvent { ActionInvoked, Closed };
// Called with the action text given to Notify when the trader invoked the
// notification's default action, and when the notification went away.
using TNotificationHandler = std::function<void(const QString& action, TNotificationEvent event)>;

class TDesktopNotifier {
public:
    virtual ~TDesktopNotifier() = default;
    // Shows a notification; `action` comes back to the handler.
    virtual void Notify(const QString& summary, const QString& body, const QString& action) = 0;
};

// The notifier of the user's session; without a notification server it shows
// nothing and says so once in the debug log.
std::unique_ptr<TDesktopNotifier> MakeDesktopNotifier(TNotificationHandler handler);
