#pragma once
// The alert windows on the desktop's notifications: what a window that
// notifies reports (its new rows, a price spike) is gathered per window by
// the coalescer, at most one notification per window per interval, and shown
// by the desktop's notifier. Invoking a notification links its symbol as a
// click in that window would (the connector and the bus both see it) and
// brings the window up.
#include "platform/core/DesktopNotifier.h"
#include "platform/core/NotificationCoalescer.h"
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

class TAlertNotices;
class TSymbolLinks;

class TAlertNotifications : public QObject {
    Q_OBJECT

public:
    // Shows the window with that title; false when none has it.
    using TShowWindow = std::function<bool(const QString& title)>;
    // Without a notifier, the desktop session's.
    TAlertNotifications(TAlertNotices& notices, TSymbolLinks& links, TShowWindow showWindow,
                        std::unique_ptr<TDesktopNotifier> notifier = nullptr);
    ~TAlertNotifications() override;

private:
    void Add(const QString& window, const QByteArray& symbol, const QString& values, int alerts, bool priceSpike);
    void ShowDue();
    void Show(const TNotice& notice);
    void Answered(const QString& action, TNotificationEvent event);

    TSymbolLinks& m_links;
    TShowWindow m_showWindow;
    TNotificationCoalescer m_coalescer;
    QElapsedTimer m_clock;
    // Runs while notices wait for their window's interval to pass.
    QTimer m_dueTimer;
    // What each shown notification links, by the action given with it.
    QHash<QString, TNotice> m_shown;
    quint64 m_lastAction = 0;
    // Last, so that it goes first: no answer comes to a half-gone object.
    std::unique_ptr<TDesktopNotifier> m_notifier;
};
