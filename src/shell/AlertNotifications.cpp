#include "shell/AlertNotifications.h"
#include "base/GuardedCall.h"
#include "grids/ListGridFamily.h"
#include "platform/gui/AlertNotices.h"
#include "platform/gui/SymbolLink.h"

namespace {

constexpr int DueCheckMs = 1000;
// Notifications the server never reports closed (or that never showed) are
// forgotten after this many newer ones.
constexpr quint64 KeptNotices = 200;

} // namespace

TAlertNotifications::TAlertNotifications(TAlertNotices& notices, TSymbolLinks& links, TShowWindow showWindow,
                                         std::unique_ptr<TDesktopNotifier> notifier)
    : m_links(links), m_showWindow(std::move(showWindow)), m_notifier(std::move(notifier))
{
    if (!m_notifier)
        m_notifier = MakeDesktopNotifier([this](const QString& action, TNotificationEvent event) { Answered(action, event); });
    m_clock.start();
    m_dueTimer.setInterval(DueCheckMs);
    connect(&m_dueTimer, &QTimer::timeout, this,
            [this] { GuardedCall(QStringLiteral("TAlertNotifications.ShowDue"), [this] { ShowDue(); }); });
    connect(&notices, &TAlertNotices::NewRows, this,
            [this](const QString& window, const QByteArray& symbol, const QString& values, int alerts, bool spike) {
                GuardedCall(QStringLiteral("TAlertNotifications.Add"),
                            [&] { Add(window, symbol, values, alerts, spike); });
            });
}

TAlertNotifications::~TAlertNotifications() = default;

void TAlertNotifications::Add(const QString& window, const QByteArray& symbol, const QString& values, int alerts,
                              bool priceSpike)
{
    if (const std::optional<TNotice> now = m_coalescer.Add(window, QString::fromUtf8(symbol), values,
                                                           m_clock.elapsed(), priceSpike, alerts))
        Show(*now);
    if (m_coalescer.AnyWaiting() && !m_dueTimer.isActive())
        m_dueTimer.start();
}

void TAlertNotifications::ShowDue()
{
    for (const TNotice& notice : m_coalescer.Due(m_clock.elapsed()))
        Show(notice);
    if (!m_coalescer.AnyWaiting())
        m_dueTimer.stop();
}

void TAlertNotifications::Show(const TNotice& notice)
{
    const QString action = QString::number(++m_lastAction);
    m_shown.insert(action, notice);
    if (m_lastAction > KeptNotices)
        m_shown.remove(QString::number(m_lastAction - KeptNotices));
    m_notifier->Notify(notice.Summary, notice.Body, action);
}

void TAlertNotifications::Answered(const QString& action, TNotificationEvent event)
{
    if (event == TNotificationEvent::Closed) {
        m_shown.remove(action);
        return;
    }
    if (!m_shown.contains(action))
        return;
    // A copy: linking runs other code, which may notify again.
    const TNotice notice = m_shown.value(action);
    LinkSymbolReportingErrors(m_links, notice.Symbol.toUtf8(), notice.Window);
    m_showWindow(notice.Window);
}
