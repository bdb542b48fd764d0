#include "Shared/ConnectionSettings.h"
#include "platform/core/ConfigLocation.h"
#include "platform/core/HttpClient.h"
#include "platform/core/IniFile.h"
#include <QDir>
#include <QFileInfo>
#include <optional>

namespace {

constexpr char Section[] = "Connection";

bool IsHttpsUrl(const QString& url) { return url.startsWith(QLatin1String("https:"), Qt::CaseInsensitive); }

// What a "tls" value says: on, off, or nothing understood. Windows keeps
// anything after "=" as the value, a "; comment" included.
std::optional<bool> TlsSwitch(const QByteArray& value)
{
    const QByteArray word = value.toLower();
    for (const char* on : {"1", "true", "yes", "on"})
        if (word == on)
            return true;
    for (const char* off : {"0", "false", "no", "off"})
        if (word == off)
            return false;
    return std::nullopt;
}

// Any of the four keys turns TLS on; a value not understood is a Problem
// (and TLS stays on, so that nothing goes in clear).
TTlsSettings ReadTls(const TIniFile& ini, const QString& configFile)
{
    const auto text = [&](const char* key) { return QString::fromUtf8(ini.ReadString(Section, key).trimmed()); };
    TTlsSettings settings;
    settings.CaFile = text("tls ca file");
    if (!settings.CaFile.isEmpty())
        settings.CaFile = QFileInfo(configFile).absoluteDir().filePath(settings.CaFile);
    settings.PeerName = text("tls peer name");
    settings.Fingerprint = text("tls fingerprint");
    const bool otherKeys = !settings.CaFile.isEmpty() || !settings.PeerName.isEmpty() || !settings.Fingerprint.isEmpty();
    const QByteArray value = ini.ReadString(Section, "tls").trimmed();
    const std::optional<bool> on = value.isEmpty() ? std::optional<bool>(otherKeys) : TlsSwitch(value);
    // In doubt, encrypted: a refused connection says why, a plain one
    // would have sent the login in clear.
    settings.Enabled = on.value_or(true) || otherKeys;
    if (!on)
        settings.Problem = QStringLiteral("The setting tls=%1 is not understood: write 1, yes, true or on for TLS "
                                          "(0, no, false or off without), and comments on lines of their own.")
                               .arg(QString::fromUtf8(value));
    else if (!*on && otherKeys)
        settings.Problem = QStringLiteral("The setting tls=%1 turns TLS off, but other tls settings ask for it: "
                                          "remove one or the other.")
                               .arg(QString::fromUtf8(value));
    else if (!settings.Fingerprint.isEmpty() && TTlsPolicy::NormalizedFingerprint(settings.Fingerprint).isEmpty())
        settings.Problem = QStringLiteral("The TLS fingerprint setting is not a SHA-256 fingerprint "
                                          "(64 hexadecimal digits, colons allowed).");
    return settings;
}

// Settings that are readable but can never get through.
QString Contradiction(const TConnectionSettings& settings, const QString& configFile)
{
    if (!settings.UsesHttpTunnel())
        return {};
    const QString file = QFileInfo(configFile).fileName();
    // The tunnel's HTTP requests can go through SOCKS 5 only; through SOCKS 4
    // they would have to bypass the proxy.
    if (settings.Proxy.isEmpty() && settings.SocksLevel == 4)
        return "An HTTP tunnel cannot go through SOCKS 4: set socks level=5, or a proxy, in [Connection] of " + file +
               ".";
    if (settings.Tls.Enabled && !IsHttpsUrl(settings.HttpTunnelUrl))
        return "tls=1 needs an http tunnel url that starts with https://: change one of them in [Connection] of " +
               file + ".";
    return {};
}

// A file the client refuses to read must not send the login to the built-in
// address instead of the one the trader set; a file that is not there at all
// means the built-in settings.
QString RefusalOf(const QString& configFile)
{
    const QFileInfo config(configFile);
    return config.exists() || config.isSymLink() ? ConfigReadProblem(configFile) : QString();
}

} // namespace

bool TConnectionSettings::EncryptionRequired() const
{
    return Tls.Enabled || (UsesHttpTunnel() && IsHttpsUrl(HttpTunnelUrl));
}

TConnectionSettingsRead ReadConnectionSettings(const QString& configFile)
{
    const TIniFile ini(configFile);
    const auto text = [&ini](const char* key) { return QString::fromUtf8(ini.ReadString(Section, key).trimmed()); };
    const auto number = [&ini](const char* key, int byDefault) { return ini.ReadInteger(Section, key, byDefault); };
    TConnectionSettingsRead read;
    TConnectionSettings& settings = read.Settings;
    // "address=" with nothing after it would make every attempt fail at once.
    if (const QByteArray address = ini.ReadString(Section, "address").trimmed(); !address.isEmpty())
        settings.Address = QString::fromLatin1(address);
    settings.HttpTunnelUrl = text("http tunnel url");
    settings.SendTimeout = number("send timeout", settings.SendTimeout);
    settings.SocksServer = text("socks server");
    settings.SocksPort = number("socks port", settings.SocksPort);
    const int socksLevel = number("socks level", 5);
    settings.SocksLevel = !settings.SocksServer.isEmpty() && (socksLevel == 4 || socksLevel == 5) ? socksLevel : 0;
    settings.SocksUser = text("socks user");
    settings.SocksPassword = text("socks password");
    settings.Proxy = text("proxy");
    settings.ProxyPort = number("proxy port", settings.ProxyPort);
    settings.ProxyUser = text("proxy user");
    settings.ProxyPassword = text("proxy password");
    settings.Tls = ReadTls(ini, configFile);
    read.Problem = RefusalOf(configFile);
    if (read.Problem.isEmpty())
        read.Problem = settings.Tls.Problem;
    if (read.Problem.isEmpty())
        read.Problem = Contradiction(settings, configFile);
    return read;
}

QString DescribeServer(const TConnectionSettings& settings)
{
    QString where =
        settings.UsesHttpTunnel() ? "HTTP tunnel " + UrlForDisplay(settings.HttpTunnelUrl) : settings.Address;
    if (!settings.Tls.Problem.isEmpty())
        where += QStringLiteral(", TLS settings not understood");
    else
        where += settings.EncryptionRequired() ? QStringLiteral(", TLS") : QStringLiteral(", not encrypted");
    // The proxy serves the tunnel only, and takes precedence over SOCKS there.
    if (settings.UsesHttpTunnel() && !settings.Proxy.isEmpty())
        where += QStringLiteral(", through HTTP proxy %1:%2").arg(settings.Proxy).arg(settings.ProxyPort);
    else if (settings.UsesSocks())
        where += QStringLiteral(", through SOCKS %1 proxy %2:%3")
                     .arg(settings.SocksLevel)
                     .arg(settings.SocksServer)
                     .arg(settings.SocksPort);
    return where;
}

TConnectionSettingsSource ConnectionSettingsFromFile(const std::function<QString()>& configFile)
{
    // Read as the configuration reader reads it: never a FIFO, a device or
    // more than it would take.
    const auto snapshot = [configFile] {
        const QString path = configFile();
        QByteArray contents;
        const QString problem = ReadIniFileText(path, contents);
        return path.toUtf8() + '\n' + problem.toUtf8() + '\n' + contents;
    };
    return {[configFile] { return ReadConnectionSettings(configFile()); }, snapshot};
}

TConnectionSettingsSource ConnectionSettingsFromFile(const QString& configFile)
{
    return ConnectionSettingsFromFile([configFile] { return configFile; });
}
