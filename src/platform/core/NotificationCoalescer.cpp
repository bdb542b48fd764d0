#include "platform/core/NotificationCoalescer.h"
#include <algorithm>

bool TNotificationCoalescer::Quiet(const TWindowState& state, qint64 nowMs) const
{
    return !state.ShownBefore || nowMs - state.LastShownMs >= m_intervalMs;
}

std::optional<TNotice> TNotificationCoalescer::Add(const QString& window, const QString& symbol, const QString& values,
                                                   qint64 nowMs, bool priceSpike, int alerts)
{
    TWindowState& state = m_windows[window];
    state.Waiting += alerts;
    state.Symbol = symbol;
    state.Values = values;
    if (priceSpike)
        state.SpikeSymbol = symbol;
    if (!Quiet(state, nowMs))
        return std::nullopt;
    return Take(window, state, nowMs);
}

QList<TNotice> TNotificationCoalescer::Due(qint64 nowMs)
{
    QList<TNotice> due;
    for (auto it = m_windows.begin(); it != m_windows.end(); ++it)
        if (it->Waiting > 0 && Quiet(*it, nowMs))
            due.append(Take(it.key(), *it, nowMs));
    return due;
}

bool TNotificationCoalescer::AnyWaiting() const
{
    return std::any_of(m_windows.cbegin(), m_windows.cend(), [](const TWindowState& state) { return state.Waiting > 0; });
}

TNotice TNotificationCoalescer::Take(const QString& window, TWindowState& state, qint64 nowMs)
{
    const QString count = state.Waiting == 1 ? QStringLiteral("1 new alert")
                                             : QStringLiteral("%1 new alerts").arg(state.Waiting);
    const QString spike = state.SpikeSymbol.isEmpty() ? QString()
                                                      : QStringLiteral("price spike in %1, ").arg(state.SpikeSymbol);
    TNotice notice{window, state.Symbol, window + QStringLiteral(": ") + spike + count,
                   QStringLiteral("latest %1 %2").arg(state.Symbol, state.Values).trimmed()};
    state = TWindowState{nowMs, true, 0, {}, {}, {}};
    return notice;
}
