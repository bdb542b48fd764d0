#include "Shared/ServerConnectionFactory.h"
#include "Shared/SocketServerConnections.h"
#include "Shared/TalkWithServer.h"

namespace {
// Stands in for a transport this build cannot provide: its Connect fails at
// once, as the connection interface prescribes, so a conversation that asked
// for it ends with a clear error instead of quietly going another way.
class TUnavailableConnection : public TGenericServerConnection {
public:
    explicit TUnavailableConnection(QString reason) : m_reason(std::move(reason)) {}
    bool Connect() override
    {
        ErrorText = m_reason;
        RaiseSessionClosed();
        return false;
    }
    void Send(const QByteArray&) override {}
    void Close() override {}
    QByteArray ReadAll() override { return {}; }

private:
    QString m_reason;
};
}

TServerAddress SplitServerAddress(const QString& address)
{
    const qsizetype colon = address.indexOf(':');
    if (colon < 0)
        return {address, QStringLiteral("8888")};
    return {address.left(colon), address.mid(colon + 1)};
}

std::unique_ptr<TGenericServerConnection> CreateServerConnection(const TTalkWithServer& talk)
{
    if (talk.UseHttpTunnel != 0) {
        // HTTP TUNNEL: create the tunnel for talk.HttpTunnelUrl here once it exists.
        return std::make_unique<TUnavailableConnection>(QStringLiteral("HTTP tunnel not available"));
    }
    const TServerAddress address = SplitServerAddress(talk.ServerAddress);
    return std::make_unique<TSocketServerConnection>(address.Host, address.Port);
}
