#pragma once
// How a conversation reaches the alert server: the keys of section
// [Connection] of the configuration file, read in one place and handed by
// value to the conversation and its connection. Widget-free.
#include "platform/core/CertificateProbe.h"
#include "platform/core/TlsPolicy.h"
#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <functional>
#include <optional>

class TIniFile;

// A default value is what a file without [Connection] gives: one direct TCP
// connection to the bundled reference server on this computer.
struct TConnectionSettings {
    QString Address = QStringLiteral("127.0.0.1:9339"); // host, a colon and the port
    QString HttpTunnelUrl;                              // non-empty: the HTTP tunnel, not TCP
    qint32 SendTimeout = 30000;                         // ms a tunnel POST may stay unanswered
    QString SocksServer;                                // empty: no SOCKS
    qint32 SocksPort = 1080;
    qint32 SocksLevel = 0; // 4 or 5; 0: no SOCKS
    QString SocksUser;     // empty: no authentication
    QString SocksPassword;
    QString Proxy; // HTTP proxy host (the tunnel's only); empty: none
    qint32 ProxyPort = 8080;
    QString ProxyUser;
    QString ProxyPassword;
    TTlsSettings Tls; // "tls", "tls ca file", "tls peer name", "tls fingerprint"

    bool UsesHttpTunnel() const { return !HttpTunnelUrl.isEmpty(); }
    bool UsesSocks() const { return !SocksServer.isEmpty() && SocksLevel != 0; }
    // No conversation made with these settings goes in clear.
    bool EncryptionRequired() const;

    friend bool operator==(const TConnectionSettings&, const TConnectionSettings&) = default;
};

// What a configuration file says: the settings, and why no conversation
// made with them can get through (empty when one may). Settings with a
// Problem are never used: retrying them would only repeat the failure, or
// send the login where the trader did not mean it to go.
struct TConnectionSettingsRead {
    TConnectionSettings Settings;
    QString Problem; // a sentence for the status line
};

// Reads [Connection] of configFile. A file that is not there means the
// defaults; one the client refuses to read (ReadIniFileText) is a Problem,
// and so is the first fault FindConnectionFaults finds.
TConnectionSettingsRead ReadConnectionSettings(const QString& configFile);

// The values of [Connection] as texts, by key name in lower case ("socks
// port"), as the file holds them (trimmed) or the settings dialog's fields
// give them; a key not there reads as empty.
using TConnectionTexts = QMap<QByteArray, QString>;
// Every key ReadConnectionSettings reads.
const QList<QByteArray>& ConnectionKeys();
TConnectionTexts ReadConnectionTexts(const TIniFile& ini);
// The settings the texts give, read as the reader reads them (a relative CA
// file beside configFile); faults are not looked for.
TConnectionSettings SettingsFromTexts(const TConnectionTexts& texts, const QString& configFile);

// A value no conversation can use: which key holds it, and why, as a clause
// that follows the key's or the field's name ("70000 is not a port number
// (1 to 65535).").
struct TConnectionFault {
    QByteArray Key;
    QString Reason;
};
// The one set of rules for [Connection]: the reader refuses settings with a
// fault, and the settings dialog saves none. In the order of ConnectionKeys().
QList<TConnectionFault> FindConnectionFaults(const TConnectionTexts& texts);
// The fault as the status line tells it, naming the file and the key.
QString DescribeFault(const TConnectionFault& fault, const QString& configFile);
// What "tls" says, the way the reader takes it: on, off, or not understood.
std::optional<bool> TlsSwitch(const QString& value);

// The server a remembered password belongs to: the address, or the tunnel's
// URL as shown (a password in it masked, since the keyring's attributes are
// not secret).
QString KeyringServer(const TConnectionSettings& settings);

// Where the settings send the next conversation, for the trader to check
// before logging in: "alerts.example.net:9443, TLS", or a tunnel's URL (its
// password masked), and the proxy it goes through.
QString DescribeServer(const TConnectionSettings& settings);

// Where "Show server certificate" asks, and how: the server, or the tunnel's
// host, the way a conversation goes when that way is a proxy Qt speaks
// (SOCKS 5, the tunnel's HTTP proxy); past a SOCKS 4 proxy, directly.
struct TCertificateRouteChoice {
    TCertificateRoute Route;
    QString Note;    // how the route differs from a conversation's; empty: it does not
    QString Refusal; // why nothing can be asked (a tunnel over plain http); Route unset
};
TCertificateRouteChoice CertificateRouteOf(const TConnectionSettings& settings);

// Where the main connection takes its settings from, for each conversation.
struct TConnectionSettingsSource {
    std::function<TConnectionSettingsRead()> Read;
    // What the settings are read from, as it is now: while settings with a
    // Problem are held, a change of this lets the client try again.
    std::function<QByteArray()> Snapshot;
};

// The settings in the file configFile names, read again each time they are
// asked for (the file in use may change while the client runs).
TConnectionSettingsSource ConnectionSettingsFromFile(const std::function<QString()>& configFile);
TConnectionSettingsSource ConnectionSettingsFromFile(const QString& configFile);
