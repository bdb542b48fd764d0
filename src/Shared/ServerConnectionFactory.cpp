#include "Shared/ServerConnectionFactory.h"
#include "Shared/HttpTunnels.h"
#include "Shared/SocketServerConnections.h"

TServerAddress SplitServerAddress(const QString& address)
{
    const qsizetype colon = address.indexOf(':');
    if (colon < 0)
        return {address, QStringLiteral("8888")};
    return {address.left(colon), address.mid(colon + 1)};
}

std::unique_ptr<TGenericServerConnection> CreateServerConnection(const TConnectionSettings& settings)
{
    if (settings.UsesHttpTunnel())
        return std::make_unique<THttpTunnel>(settings);
    const TServerAddress address = SplitServerAddress(settings.Address);
    return std::make_unique<TSocketServerConnection>(address.Host, address.Port, settings);
}
