#pragma once
// A registration that ends when the object that stands for it goes: whoever
// keeps it (a window, a form) can no longer be called once it is destroyed,
// without guards of its own. Moving hands the registration on.
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <utility>

class [[nodiscard]] TSubscription {
public:
    TSubscription() = default;
    // Called once, when the subscription ends.
    explicit TSubscription(std::function<void()> cancel) : m_cancel(std::move(cancel)) {}
    ~TSubscription() { Cancel(); }
    TSubscription(TSubscription&& other) noexcept : m_cancel(std::exchange(other.m_cancel, nullptr)) {}
    TSubscription& operator=(TSubscription&& other) noexcept
    {
        if (this != &other) {
            Cancel();
            m_cancel = std::exchange(other.m_cancel, nullptr);
        }
        return *this;
    }
    TSubscription(const TSubscription&) = delete;
    TSubscription& operator=(const TSubscription&) = delete;

    void Cancel()
    {
        if (auto cancel = std::exchange(m_cancel, nullptr))
            cancel();
    }

private:
    std::function<void()> m_cancel;
};

// The observers of one event, each registered while its subscription lives.
// A subscription that outlives the list ends without effect.
class TObservers {
public:
    TSubscription Watch(std::function<void()> observer);
    // Calls every observer in the order they came, each behind GuardedCall
    // with the location: a faulty one is logged and the others still hear.
    // One that goes meanwhile is not called any more.
    void Notify(const QString& location) const;

private:
    struct TList {
        std::map<quint64, std::function<void()>> Observers;
        quint64 Next = 0;
    };
    std::shared_ptr<TList> m_list = std::make_shared<TList>();
};
