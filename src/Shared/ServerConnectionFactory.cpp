#include "Shared/ServerConnectionFactory.h"
#include "Shared/HttpTunnels.h"
#include "Shared/SocketServerConnections.h"
#include "Shared/TalkWithServer.h"

TServerAddress SplitServerAddress(const QString& address)
{
    const qsizetype colon = address.indexOf(':');
    if (colon < 0)
        return {address, QStringLiteral("8888")};
    return {address.left(colon), address.mid(colon + 1)};
}

std::unique_ptr<TGenericServerConnection> CreateServerConnection(const TTalkWithServer& talk)
{
    if (talk.UseHttpTunnel != 0)
        return std::make_unique<THttpTunnel>(talk.HttpTunnelUrl);
    const TServerAddress address = SplitServerAddress(talk.ServerAddress);
    return std::make_unique<TSocketServerConnection>(address.Host, address.Port);
}
