#pragma once
// Runs one piece of work behind a guard: whatever it raises is logged with the
// location and goes no further. Used where an error must not leave an event
// handler (Qt is not exception-safe) or stop later deliveries. The location
// may be a function that composes the text, so that a hot path pays for it
// only when something was raised.
#include "base/DebugLog.h"
#include <QString>
#include <exception>
#include <type_traits>

template <typename Location, typename Work>
void GuardedCall(const Location& location, Work&& work)
{
    const auto text = [&]() -> QString {
        if constexpr (std::is_invocable_v<const Location&>)
            return location();
        else
            return location;
    };
    try {
        work();
    } catch (const std::exception& e) {
        ReportException(e, text());
    } catch (...) {
        DebugOutput("Class=unknown, Message=, Location=" + text());
    }
}
