#include "Shared/ConnectionSettings.h"
#include "platform/core/ConfigLocation.h"
#include "platform/core/HttpClient.h"
#include "Shared/ServerConnectionFactory.h"
#include "platform/core/IniFile.h"
#include <QDir>
#include <QFileInfo>
#include <QNetworkProxy>
#include <QUrl>
#include <algorithm>

namespace {

constexpr char Section[] = "Connection";

bool IsHttpsUrl(const QString& url) { return url.startsWith(QLatin1String("https:"), Qt::CaseInsensitive); }

const QList<QByteArray> TlsDetailKeys{"tls ca file", "tls peer name", "tls fingerprint"};

bool TlsDetailsGiven(const TConnectionTexts& texts)
{
    return std::any_of(TlsDetailKeys.begin(), TlsDetailKeys.end(),
                       [&](const QByteArray& key) { return !texts.value(key).isEmpty(); });
}

// Any of the four keys turns TLS on; a "tls" not understood keeps it on, so
// that nothing goes in clear.
bool TlsEnabled(const TConnectionTexts& texts)
{
    const QString value = texts.value("tls");
    return (value.isEmpty() ? false : TlsSwitch(value).value_or(true)) || TlsDetailsGiven(texts);
}

int Number(const QString& text, int byDefault)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : byDefault;
}

QString NotAPort(const QString& text) { return QStringLiteral("%1 is not a port number (1 to 65535).").arg(text); }

bool IsPort(const QString& text)
{
    bool ok = false;
    const int port = text.toInt(&ok, 10);
    return ok && port >= 1 && port <= 65535;
}

// Each rule looks at the texts as a whole and names the key to mend.
using TRule = std::function<std::optional<QString>(const TConnectionTexts&)>;

std::optional<QString> AddressFault(const TConnectionTexts& texts)
{
    const QString address = texts.value("address");
    if (address.isEmpty())
        return std::nullopt;
    const TServerAddress split = SplitServerAddress(address);
    if (split.Host.trimmed().isEmpty())
        return QStringLiteral("no host before the colon.");
    if (!IsPort(split.Port))
        return NotAPort(split.Port);
    return std::nullopt;
}

std::optional<QString> TunnelFault(const TConnectionTexts& texts)
{
    const QString text = texts.value("http tunnel url");
    if (text.isEmpty())
        return std::nullopt;
    if (QUrl(text).port() == 0)
        return NotAPort(QStringLiteral("0"));
    if (!IsHttpUrl(text))
        return QStringLiteral("not an http:// or https:// URL.");
    if (TlsEnabled(texts) && !IsHttpsUrl(text))
        return QStringLiteral("TLS is on, so the URL must start with https://.");
    return std::nullopt;
}

// The tunnel aborts a POST unanswered for longer than this: 0 or less would
// abort nearly every one, and a text not understood would silently mean the
// default.
std::optional<QString> SendTimeoutFault(const TConnectionTexts& texts)
{
    const QString text = texts.value("send timeout");
    bool ok = false;
    // Only the tunnel uses it.
    if (text.isEmpty() || texts.value("http tunnel url").isEmpty() || (text.toInt(&ok, 10) > 0 && ok))
        return std::nullopt;
    return QStringLiteral("%1 is not a number of milliseconds (1 to 2147483647).").arg(text);
}

TRule PortFault(const QByteArray& key)
{
    return [key](const TConnectionTexts& texts) -> std::optional<QString> {
        const QString port = texts.value(key);
        if (port.isEmpty() || IsPort(port))
            return std::nullopt;
        return NotAPort(port);
    };
}

std::optional<QString> SocksLevelFault(const TConnectionTexts& texts)
{
    const QString level = texts.value("socks level");
    if (!level.isEmpty() && level != "4" && level != "5")
        return QStringLiteral("%1 is not a SOCKS level: write 4 or 5.").arg(level);
    // The tunnel's HTTP requests can go through SOCKS 5 only; through SOCKS 4
    // they would have to bypass the proxy.
    if (level == "4" && !texts.value("socks server").isEmpty() && !texts.value("http tunnel url").isEmpty() &&
        texts.value("proxy").isEmpty())
        return QStringLiteral("an HTTP tunnel cannot go through SOCKS 4: choose SOCKS 5, or an HTTP proxy.");
    return std::nullopt;
}

// Windows keeps anything after "=" as the value, a "; comment" included.
std::optional<QString> TlsFault(const TConnectionTexts& texts)
{
    const QString value = texts.value("tls");
    if (value.isEmpty())
        return std::nullopt;
    const std::optional<bool> on = TlsSwitch(value);
    if (!on)
        return QStringLiteral("\"%1\" is not understood: write 1, yes, true or on for TLS (0, no, false or off "
                              "without), and comments on lines of their own.")
            .arg(value);
    if (!*on && TlsDetailsGiven(texts))
        return QStringLiteral("TLS is off, but a CA file, peer name or fingerprint asks for it: remove one or the "
                              "other.");
    return std::nullopt;
}

std::optional<QString> FingerprintFault(const TConnectionTexts& texts)
{
    const QString fingerprint = texts.value("tls fingerprint");
    if (fingerprint.isEmpty() || !TTlsPolicy::NormalizedFingerprint(fingerprint).isEmpty())
        return std::nullopt;
    return QStringLiteral("not a SHA-256 fingerprint (64 hexadecimal digits, colons allowed).");
}

// In the order of ConnectionKeys(), so that the first fault is the first
// field of the dialog to mend.
const QList<std::pair<QByteArray, TRule>>& Rules()
{
    static const QList<std::pair<QByteArray, TRule>> rules{{"address", AddressFault},
                                                           {"http tunnel url", TunnelFault},
                                                           {"send timeout", SendTimeoutFault},
                                                           {"socks port", PortFault("socks port")},
                                                           {"socks level", SocksLevelFault},
                                                           {"proxy port", PortFault("proxy port")},
                                                           {"tls", TlsFault},
                                                           {"tls fingerprint", FingerprintFault}};
    return rules;
}

TTlsSettings TlsFromTexts(const TConnectionTexts& texts, const QString& configFile)
{
    TTlsSettings settings;
    settings.CaFile = texts.value("tls ca file");
    if (!settings.CaFile.isEmpty())
        settings.CaFile = QFileInfo(configFile).absoluteDir().filePath(settings.CaFile);
    settings.PeerName = texts.value("tls peer name");
    settings.Fingerprint = texts.value("tls fingerprint");
    settings.Enabled = TlsEnabled(texts);
    return settings;
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

std::optional<bool> TlsSwitch(const QString& value)
{
    const QString word = value.toLower();
    for (const char* on : {"1", "true", "yes", "on"})
        if (word == QLatin1String(on))
            return true;
    for (const char* off : {"0", "false", "no", "off"})
        if (word == QLatin1String(off))
            return false;
    return std::nullopt;
}

TConnectionSettings SettingsFromTexts(const TConnectionTexts& texts, const QString& configFile)
{
    TConnectionSettings settings;
    // "address=" with nothing after it would make every attempt fail at once.
    if (!texts.value("address").isEmpty())
        settings.Address = texts.value("address");
    settings.HttpTunnelUrl = texts.value("http tunnel url");
    settings.SendTimeout = Number(texts.value("send timeout"), settings.SendTimeout);
    settings.SocksServer = texts.value("socks server");
    settings.SocksPort = Number(texts.value("socks port"), settings.SocksPort);
    const int socksLevel = Number(texts.value("socks level"), 5);
    settings.SocksLevel = !settings.SocksServer.isEmpty() && (socksLevel == 4 || socksLevel == 5) ? socksLevel : 0;
    settings.SocksUser = texts.value("socks user");
    settings.SocksPassword = texts.value("socks password");
    settings.Proxy = texts.value("proxy");
    settings.ProxyPort = Number(texts.value("proxy port"), settings.ProxyPort);
    settings.ProxyUser = texts.value("proxy user");
    settings.ProxyPassword = texts.value("proxy password");
    settings.Tls = TlsFromTexts(texts, configFile);
    return settings;
}

const QList<QByteArray>& ConnectionKeys()
{
    static const QList<QByteArray> keys{"address",    "http tunnel url", "send timeout",  "socks server",
                                        "socks port", "socks level",     "socks user",    "socks password",
                                        "proxy",      "proxy port",      "proxy user",    "proxy password",
                                        "tls",        "tls ca file",     "tls peer name", "tls fingerprint"};
    return keys;
}

TConnectionTexts ReadConnectionTexts(const TIniFile& ini)
{
    TConnectionTexts texts;
    for (const QByteArray& key : ConnectionKeys())
        texts.insert(key, QString::fromUtf8(ini.ReadString(Section, key).trimmed()));
    return texts;
}

QList<TConnectionFault> FindConnectionFaults(const TConnectionTexts& texts)
{
    QList<TConnectionFault> faults;
    for (const auto& [key, rule] : Rules())
        if (const std::optional<QString> reason = rule(texts))
            faults.append({key, *reason});
    return faults;
}

QString DescribeFault(const TConnectionFault& fault, const QString& configFile)
{
    return QStringLiteral("In [Connection] of %1, %2: %3")
        .arg(QFileInfo(configFile).fileName(), QString::fromLatin1(fault.Key), fault.Reason);
}

QString KeyringServer(const TConnectionSettings& settings)
{
    return settings.UsesHttpTunnel() ? UrlForDisplay(settings.HttpTunnelUrl) : settings.Address;
}

bool TConnectionSettings::EncryptionRequired() const
{
    return Tls.Enabled || (UsesHttpTunnel() && IsHttpsUrl(HttpTunnelUrl));
}

TConnectionSettingsRead ReadConnectionSettings(const QString& configFile)
{
    const TConnectionTexts texts = ReadConnectionTexts(TIniFile(configFile));
    TConnectionSettingsRead read;
    read.Settings = SettingsFromTexts(texts, configFile);
    const QList<TConnectionFault> faults = FindConnectionFaults(texts);
    // TLS settings not understood refuse every connection, whoever makes it.
    for (const TConnectionFault& fault : faults)
        if (fault.Key.startsWith("tls")) {
            read.Settings.Tls.Problem = DescribeFault(fault, configFile);
            break;
        }
    read.Problem = RefusalOf(configFile);
    if (read.Problem.isEmpty() && !faults.isEmpty())
        read.Problem = DescribeFault(faults.constFirst(), configFile);
    return read;
}

TCertificateRouteChoice CertificateRouteOf(const TConnectionSettings& settings)
{
    TCertificateRouteChoice choice;
    TCertificateRoute& route = choice.Route;
    if (settings.UsesHttpTunnel()) {
        const QUrl url(settings.HttpTunnelUrl);
        if (!IsHttpsUrl(settings.HttpTunnelUrl)) {
            choice.Refusal =
                QStringLiteral("The HTTP tunnel's URL is not https://, so its server shows no certificate.");
            return choice;
        }
        route.Host = url.host();
        route.Port = static_cast<quint16>(url.port(443));
        if (!settings.Proxy.isEmpty())
            route.Proxy =
                QNetworkProxy(QNetworkProxy::HttpProxy, settings.Proxy, static_cast<quint16>(settings.ProxyPort),
                              settings.ProxyUser, settings.ProxyPassword);
    } else {
        const TServerAddress address = SplitServerAddress(settings.Address);
        route.Host = address.Host;
        route.Port = address.Port.toUShort();
    }
    const bool throughSocks = settings.UsesSocks() && (settings.UsesHttpTunnel() ? settings.Proxy.isEmpty() : true);
    if (throughSocks && settings.SocksLevel == 5)
        route.Proxy =
            QNetworkProxy(QNetworkProxy::Socks5Proxy, settings.SocksServer, static_cast<quint16>(settings.SocksPort),
                          settings.SocksUser, settings.SocksUser.isEmpty() ? QString() : settings.SocksPassword);
    else if (throughSocks)
        choice.Note = QStringLiteral("Asked directly, not through the SOCKS 4 proxy.");
    route.PeerName = settings.Tls.PeerName;
    route.CaFile = settings.Tls.CaFile;
    return choice;
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
