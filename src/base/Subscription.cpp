#include "base/Subscription.h"
#include "base/GuardedCall.h"
#include <vector>

TSubscription TObservers::Watch(std::function<void()> observer)
{
    const quint64 key = m_list->Next++;
    m_list->Observers.emplace(key, std::move(observer));
    return TSubscription([list = std::weak_ptr<TList>(m_list), key] {
        if (const std::shared_ptr<TList> alive = list.lock())
            alive->Observers.erase(key);
    });
}

void TObservers::Notify(const QString& location) const
{
    // The list may change while an observer runs: each is looked up again,
    // and called through a copy of its own.
    std::vector<quint64> keys;
    for (const auto& entry : m_list->Observers)
        keys.push_back(entry.first);
    const std::shared_ptr<TList> list = m_list;
    for (const quint64 key : keys) {
        const auto found = list->Observers.find(key);
        if (found == list->Observers.end())
            continue;
        const std::function<void()> observer = found->second;
        GuardedCall(location, observer);
    }
}
