#pragma once
// Asks for one call of OnWakeUp on the next turn of the event loop. Requests
// made before then collapse into one call; a request made from inside OnWakeUp
// leads to one more call later, never to a nested one.
#include <QObject>
#include <functional>
#include <memory>

class TWakeMeSoon {
public:
    TWakeMeSoon();
    ~TWakeMeSoon();
    TWakeMeSoon(const TWakeMeSoon&) = delete;
    TWakeMeSoon& operator=(const TWakeMeSoon&) = delete;

    std::function<void()> OnWakeUp;

    void RequestWakeUp();
    bool Pending() const { return m_pending; }

    // The posted event's type: the first user-defined message.
    static constexpr int WakeUpEventType = 1025 + 1000; // QEvent::User (1000) + 1025

private:
    class Receiver;
    friend class Receiver;
    void WndPrc();

    bool m_pending = false;
    std::unique_ptr<QObject> m_receiver;
};
