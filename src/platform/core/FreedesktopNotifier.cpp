#include "platform/core/FreedesktopNotifier.h"
#include "base/DebugLog.h"
#include "base/GuardedCall.h"
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");
// The key of the action a server invokes when the notification itself is clicked.
const QString DefaultAction = QStringLiteral("default");
const QString AppId = QStringLiteral("com.velmora.TaviskAlerts");

} // namespace

std::unique_ptr<TDesktopNotifier> MakeDesktopNotifier(TNotificationHandler handler)
{
    return std::make_unique<TFreedesktopNotifier>(std::move(handler));
}

TFreedesktopNotifier::TFreedesktopNotifier(TNotificationHandler handler, const QDBusConnection& bus)
    : m_handler(std::move(handler)), m_bus(bus)
{
    if (!m_bus.isConnected()) {
        TellUnavailable(QStringLiteral("no session bus: ") + m_bus.lastError().message());
        return;
    }
    // Servers send these to the caller of Notify alone; the match takes them
    // from whichever connection owns the name.
    m_bus.connect(Service, Path, Interface, QStringLiteral("ActionInvoked"), this, SLOT(ActionInvoked(uint, QString)));
    m_bus.connect(Service, Path, Interface, QStringLiteral("NotificationClosed"), this,
                  SLOT(NotificationClosed(uint, uint)));
}

void TFreedesktopNotifier::TellUnavailable(const QString& why)
{
    if (m_toldUnavailable)
        return;
    m_toldUnavailable = true;
    DebugNote(QStringLiteral("Desktop notifications: none can be shown (%1); alerts show in their windows only.").arg(why));
}

void TFreedesktopNotifier::Notify(const QString& summary, const QString& body, const QString& action)
{
    if (!m_bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), AppId}};
    call << QStringLiteral("Tavisk Alerts") << uint(0) << AppId << summary << body
         << QStringList{DefaultAction, QStringLiteral("Show")} << hints << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, action](QDBusPendingCallWatcher* answered) {
        answered->deleteLater();
        const QDBusPendingReply<uint> reply = *answered;
        if (reply.isError())
            TellUnavailable(reply.error().message());
        else
            m_actions.insert(reply.value(), action);
    });
}

void TFreedesktopNotifier::ActionInvoked(uint id, const QString& actionKey)
{
    if (actionKey == DefaultAction)
        Deliver(id, TNotificationEvent::ActionInvoked);
}

void TFreedesktopNotifier::NotificationClosed(uint id, uint /*reason*/)
{
    Deliver(id, TNotificationEvent::Closed);
    m_actions.remove(id);
}

// Signals about notifications of other programs (the match sees them all)
// carry ids this client never got.
void TFreedesktopNotifier::Deliver(uint id, TNotificationEvent event)
{
    if (!m_actions.contains(id) || !m_handler)
        return;
    // A copy: the handler may notify again, and the table may move.
    const QString action = m_actions.value(id);
    GuardedCall(QStringLiteral("TFreedesktopNotifier.Deliver"), [&] { m_handler(action, event); });
}
