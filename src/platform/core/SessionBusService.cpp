#include "platform/core/SessionBusService.h"
#include "base/DebugLog.h"
#include "base/GuardedCall.h"
#include "TaviskAlertsAdaptor.h"
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace {

// RequestName's flag and answer, as the bus daemon numbers them.
constexpr uint DoNotQueue = 4;
constexpr uint PrimaryOwner = 1;

} // namespace

std::unique_ptr<TDesktopBus> MakeDesktopBus(TDesktopBus::TShowWindow showWindow)
{
    return std::make_unique<TSessionBusService>(std::move(showWindow));
}

TSessionBusService::TSessionBusService(TShowWindow showWindow, const QDBusConnection& bus)
    : m_showWindow(std::move(showWindow)), m_bus(bus)
{
    new TTaviskAlertsAdaptor(this); // owned by this object, found by the connection
    if (!m_bus.isConnected()) {
        DebugNote(QStringLiteral("D-Bus: no session bus (%1); other programs cannot follow this client's links.")
                      .arg(m_bus.lastError().message()));
        return;
    }
    // Without the name the object is still reached by this connection's own
    // address, and its signals still go out.
    m_bus.registerObject(QString::fromLatin1(DesktopBusPath), this);
    RequestName();
}

TSessionBusService::~TSessionBusService()
{
    if (!m_bus.isConnected())
        return;
    m_bus.unregisterObject(QString::fromLatin1(DesktopBusPath));
    if (m_ownsName)
        m_bus.interface()->asyncCall(QStringLiteral("ReleaseName"), QString::fromLatin1(DesktopBusName));
}

// Asked without waiting: the bus answers while the client goes on starting.
void TSessionBusService::RequestName()
{
    const QDBusPendingCall call =
        m_bus.interface()->asyncCall(QStringLiteral("RequestName"), QString::fromLatin1(DesktopBusName), DoNotQueue);
    auto* watcher = new QDBusPendingCallWatcher(call, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* answered) {
        answered->deleteLater();
        const QDBusPendingReply<uint> reply = *answered;
        m_ownsName = !reply.isError() && reply.value() == PrimaryOwner;
        if (reply.isError())
            DebugNote(QStringLiteral("D-Bus: the name %1 could not be asked for (%2); other programs cannot "
                                     "reach this client by it.")
                          .arg(QString::fromLatin1(DesktopBusName), reply.error().message()));
        else if (!m_ownsName)
            DebugNote(QStringLiteral("D-Bus: another Tavisk Alerts of this user holds the name %1; this client "
                                     "goes on without it.")
                          .arg(QString::fromLatin1(DesktopBusName)));
    });
}

void TSessionBusService::AnnounceLink(const QString& symbol, const QString& window)
{
    emit SymbolLinked(symbol, window);
}

void TSessionBusService::SetStatus(const QString& status)
{
    if (status == m_status)
        return;
    m_status = status;
    if (!m_bus.isConnected())
        return;
    QDBusMessage changed = QDBusMessage::createSignal(QString::fromLatin1(DesktopBusPath),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("PropertiesChanged"));
    changed << QString::fromLatin1(DesktopBusInterface) << QVariantMap{{QStringLiteral("Status"), m_status}}
            << QStringList();
    m_bus.send(changed);
}

void TSessionBusService::ShowWindow(const QString& title)
{
    bool shown = false;
    GuardedCall(QStringLiteral("TSessionBusService.ShowWindow"), [&] { shown = m_showWindow && m_showWindow(title); });
    if (!shown && calledFromDBus())
        sendErrorReply(QString::fromLatin1(NoSuchWindowError), QStringLiteral("No window is titled \"%1\".").arg(title));
}
