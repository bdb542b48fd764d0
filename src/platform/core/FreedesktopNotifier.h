#pragma once
// Desktop notifications through org.freedesktop.Notifications on the D-Bus
// session bus, whichever server the desktop runs (GNOME Shell, Plasma,
// dunst, ...). Calls never wait: the server's answer and its ActionInvoked
// and NotificationClosed signals arrive through the event loop. Without a
// server (or a bus) nothing is shown and the debug log says so once.
#include "platform/core/DesktopNotifier.h"
#include <QDBusConnection>
#include <QHash>
#include <QObject>

class TFreedesktopNotifier : public QObject, public TDesktopNotifier {
    Q_OBJECT

public:
    explicit TFreedesktopNotifier(TNotificationHandler handler,
                                  const QDBusConnection& bus = QDBusConnection::sessionBus());
    void Notify(const QString& summary, const QString& body, const QString& action) override;

private slots:
    void ActionInvoked(uint id, const QString& actionKey);
    void NotificationClosed(uint id, uint reason);

private:
    void TellUnavailable(const QString& why);
    void Deliver(uint id, TNotificationEvent event);

    TNotificationHandler m_handler;
    QDBusConnection m_bus;
    QHash<uint, QString> m_actions; // server id -> the action given to Notify
    bool m_toldUnavailable = false;
};
