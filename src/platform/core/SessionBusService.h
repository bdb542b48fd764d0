#pragma once
// The client on the D-Bus session bus: owns the name com.velmora.TaviskAlerts
// and exports /com/velmora/TaviskAlerts with the interface
// com.velmora.TaviskAlerts1 of data/com.velmora.TaviskAlerts1.xml, through an
// adaptor the build generates from that file. When another client of the
// same user holds the name, or there is no bus, it goes on without (a
// caller of ShowWindow then reaches the other client) and says so once in
// the debug log.
#include "platform/core/DesktopBus.h"
#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>

inline constexpr char DesktopBusName[] = "com.velmora.TaviskAlerts";
inline constexpr char DesktopBusPath[] = "/com/velmora/TaviskAlerts";
inline constexpr char DesktopBusInterface[] = "com.velmora.TaviskAlerts1";
inline constexpr char NoSuchWindowError[] = "com.velmora.TaviskAlerts1.Error.NoSuchWindow";

class TSessionBusService : public QObject, protected QDBusContext, public TDesktopBus {
    Q_OBJECT
    Q_PROPERTY(QString Status READ Status)

public:
    explicit TSessionBusService(TShowWindow showWindow, const QDBusConnection& bus = QDBusConnection::sessionBus());
    ~TSessionBusService() override;

    void AnnounceLink(const QString& symbol, const QString& window) override;
    void SetStatus(const QString& status) override;
    QString Status() const { return m_status; }
    // Whether this client holds the bus name (known once the bus answered).
    bool OwnsName() const { return m_ownsName; }

public slots:
    // Called over the bus: raises the window or answers NoSuchWindowError.
    void ShowWindow(const QString& title);

signals:
    void SymbolLinked(const QString& symbol, const QString& window);

private:
    void RequestName();

    TShowWindow m_showWindow;
    QDBusConnection m_bus;
    QString m_status;
    bool m_ownsName = false;
};
