#include "shell/DesktopBusWiring.h"
#include "platform/core/DesktopBus.h"
#include "platform/gui/SymbolLink.h"
#include "shell/MainFormUnit.h"

TSubscription AnnounceLinksOnBus(TSymbolLinks& links, TDesktopBus& bus)
{
    // The subscription, not a context object, ends it: the bus is no QObject
    // to the shell.
    const QMetaObject::Connection connection = QObject::connect(
        &links, &TSymbolLinks::LinkRequested,
        [&bus](const QByteArray& symbol, const QString& window) { bus.AnnounceLink(QString::fromUtf8(symbol), window); });
    return TSubscription([connection] { QObject::disconnect(connection); });
}

TSubscription ShowStatusOnBus(TMainForm& mainForm, TDesktopBus& bus)
{
    bus.SetStatus(mainForm.StatusLine());
    return mainForm.WatchStatusLine([&mainForm, &bus] { bus.SetStatus(mainForm.StatusLine()); });
}
