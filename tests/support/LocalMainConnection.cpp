#include "LocalMainConnection.h"
#include "Shared/ServerConnectionFactory.h"
#include "platform/core/IniFile.h"

TConnectionSettingsSource FixedConnectionSettings(TConnectionSettings settings)
{
    return {[settings] { return TConnectionSettingsRead{settings, {}}; }, [] { return QByteArray(); }};
}

TConnectionSettingsSource TestIniSettings()
{
    // By relative name, as the client reads it without --config.
    return ConnectionSettingsFromFile(QString::fromLatin1(ConfigFileName));
}

TTalkWithServer::TConnectionFactory ConnectionsTo(const QString& address)
{
    return [address](TTalkWithServer& talk) {
        TConnectionSettings settings = talk.Settings();
        settings.Address = address;
        return CreateServerConnection(settings);
    };
}

std::unique_ptr<TMainConnection> MakeLocalMainConnection(TMainConnectionDependencies dependencies)
{
    TConnectionSettings local;
    local.Address = QStringLiteral("127.0.0.1:1");
    dependencies.Timer = false;
    return std::make_unique<TMainConnection>(FixedConnectionSettings(local), std::move(dependencies));
}
