#pragma once
// When an alert window raises a desktop notification: at most one per window
// per interval, so that a burst of alerts is one notification that counts
// them ("Strike: 12 new alerts", "latest NVL 123.40") instead of a storm.
// The first alert after a quiet interval is shown at once; what comes within
// the interval waits and is shown, counted, once the interval has passed
// (Due, from a timer). A price spike is named in the summary. Widget-free
// and clock-free: the caller gives the time.
#include <QHash>
#include <QList>
#include <QString>
#include <optional>

struct TNotice {
    QString Window; // the window's title
    QString Symbol; // the latest alert's symbol, to link
    QString Summary;
    QString Body;
};

class TNotificationCoalescer {
public:
    static constexpr qint64 DefaultIntervalMs = 5000;
    explicit TNotificationCoalescer(qint64 intervalMs = DefaultIntervalMs) : m_intervalMs(intervalMs) {}

    // New alerts in the window at nowMs (one unless `alerts` says more), the
    // latest for `symbol`; `values` is what the window shows beside it. The
    // notice to show now, if the window has been quiet.
    std::optional<TNotice> Add(const QString& window, const QString& symbol, const QString& values, qint64 nowMs,
                               bool priceSpike = false, int alerts = 1);
    // The waiting notices whose window's interval has passed.
    QList<TNotice> Due(qint64 nowMs);
    // Whether alerts wait for their window's interval to pass.
    bool AnyWaiting() const;

private:
    struct TWindowState {
        qint64 LastShownMs = 0;
        bool ShownBefore = false;
        int Waiting = 0;
        QString Symbol;
        QString Values;
        QString SpikeSymbol;
    };
    bool Quiet(const TWindowState& state, qint64 nowMs) const;
    static TNotice Take(const QString& window, TWindowState& state, qint64 nowMs);

    qint64 m_intervalMs;
    QHash<QString, TWindowState> m_windows;
};
