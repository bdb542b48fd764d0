#pragma once
// Command line, category file and user file of the alert server.
#include "MarketSimulator.h"
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <optional>

namespace AlertServer {

// How a planned drop cuts the connection.
enum class DropStyle { Now, MidBurst, MidFrame };
std::optional<DropStyle> ParseDropStyle(const QString& name);

// Switches that can be flipped at start and at run time.
struct FaultSwitches {
    bool StallPings = false;
    int SlowMs = 0;
    QString RefuseReason;          // non-empty: every login is answered STOP with it
    bool DropBeforePreamble = false;
    int FailPosts = 0;             // tunnel: the next N POSTs get status 500
    int SlowPostsMs = 0;           // tunnel: delay before a POST is handled
    bool SpikeStream = false;      // top lists: every row spikes on every other alert
};

struct CategoryConfig {
    QString Name;
    ListStyle Style = ListStyle::Strike;
    double Rate = 2.0;
};

struct ServerOptions {
    QHostAddress Host = QHostAddress(QHostAddress::LocalHost);
    quint16 Port = 9339;
    std::optional<quint16> HttpPort;
    double Rate = 2.0;
    std::optional<quint32> Seed;
    int DurationMs = 0;
    QString LogFile;
    QString TlsCertificateFile; // both set: the TCP port (and the tunnel's) serve TLS
    QString TlsKeyFile;
    bool LogMessages = false; // log every client message and every frame sent
    QString Password;
    std::optional<QHash<QByteArray, QByteArray>> Users; // set: only these may log in
    QList<CategoryConfig> Categories;
    FaultSwitches Faults;
    int DropAfterMs = 0;
    int DropEveryMs = 0;
    int DropJitterMs = 0;
    DropStyle DropHow = DropStyle::Now;
    int CorruptAfterMs = 0;
    QString ReplayFile;     // set: serve this alert recording instead of the synthetic market
    double ReplaySpeed = 1; // times the recorded pace; 0 as fast as possible
    bool ReplayOnce = false; // stop at the recording's end instead of starting again
};

// The whole file; false with "path: reason" in error when it cannot be read.
bool ReadFile(const QString& path, QByteArray& contents, QString& error);

// nullopt with Error set on bad options; Error empty and nullopt for --help.
std::optional<ServerOptions> ParseOptions(const QStringList& arguments, QString& error, QString& helpText);
QList<CategoryConfig> DefaultCategories(double rate);
// One category a line: "name style [rate]"; "#" starts a comment.
std::optional<QList<CategoryConfig>> ParseCategories(const QString& text, double defaultRate, QString& error);
// One user a line: "name:password"; "#" starts a comment.
std::optional<QHash<QByteArray, QByteArray>> ParseUsers(const QByteArray& text, QString& error);

} // namespace AlertServer
