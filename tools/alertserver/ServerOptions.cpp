#include "ServerOptions.h"
#include <QCommandLineParser>
#include <QFile>
#include <QRegularExpression>
#include <cmath>

namespace AlertServer {

std::optional<DropStyle> ParseDropStyle(const QString& name)
{
    if (name == QLatin1String("now"))
        return DropStyle::Now;
    if (name == QLatin1String("burst"))
        return DropStyle::MidBurst;
    if (name == QLatin1String("frame"))
        return DropStyle::MidFrame;
    return std::nullopt;
}

QList<CategoryConfig> DefaultCategories(double rate)
{
    QList<CategoryConfig> categories;
    for (const QString& name : ListStyleNames())
        categories.append({name, *ParseListStyle(name), rate});
    return categories;
}

std::optional<QList<CategoryConfig>> ParseCategories(const QString& text, double defaultRate, QString& error)
{
    QList<CategoryConfig> categories;
    int lineNumber = 0;
    for (QString line : text.split(QLatin1Char('\n'))) {
        ++lineNumber;
        line = line.section(QLatin1Char('#'), 0, 0).trimmed();
        if (line.isEmpty())
            continue;
        const QStringList words = line.split(QRegularExpression(QStringLiteral("\\s+")));
        const auto style = words.size() >= 2 ? ParseListStyle(words[1]) : std::nullopt;
        bool rateOk = true;
        const double rate = words.size() >= 3 ? words[2].toDouble(&rateOk) : defaultRate;
        if (words.size() > 3 || !style || !rateOk || rate <= 0) {
            error = QStringLiteral("line %1: expected \"name style [rate]\" with style one of %2")
                        .arg(lineNumber)
                        .arg(ListStyleNames().join(QStringLiteral(", ")));
            return std::nullopt;
        }
        if (std::any_of(categories.begin(), categories.end(),
                        [&](const CategoryConfig& c) { return c.Name == words[0]; })) {
            error = QStringLiteral("line %1: category \"%2\" is listed twice").arg(lineNumber).arg(words[0]);
            return std::nullopt;
        }
        categories.append({words[0], *style, rate});
    }
    if (categories.isEmpty()) {
        error = QStringLiteral("no categories defined");
        return std::nullopt;
    }
    return categories;
}

std::optional<QHash<QByteArray, QByteArray>> ParseUsers(const QByteArray& text, QString& error)
{
    QHash<QByteArray, QByteArray> users;
    int lineNumber = 0;
    for (QByteArray line : text.split('\n')) {
        ++lineNumber;
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0) {
            error = QStringLiteral("line %1: expected \"name:password\"").arg(lineNumber);
            return std::nullopt;
        }
        users.insert(line.left(colon), line.mid(colon + 1));
    }
    return users;
}

bool ReadFile(const QString& path, QByteArray& contents, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    contents = file.readAll();
    return true;
}

namespace {

bool ReadCount(const QCommandLineParser& parser, const QString& name, int& target, QString& error)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < 0) {
        error = QStringLiteral("--%1 needs a number of 0 or more").arg(name);
        return false;
    }
    target = value;
    return true;
}

// Target keeps its default when the option is not given.
bool ReadPort(const QCommandLineParser& parser, const QString& name, quint16& target, QString& error)
{
    int port = target;
    if (!ReadCount(parser, name, port, error))
        return false;
    if (port > 65535) {
        error = QStringLiteral("--%1 must be 0..65535").arg(name);
        return false;
    }
    target = static_cast<quint16>(port);
    return true;
}

bool ReadReplayOptions(const QCommandLineParser& parser, ServerOptions& options, QString& error)
{
    options.ReplayFile = parser.value(QStringLiteral("replay"));
    options.ReplayOnce = parser.isSet(QStringLiteral("replay-once"));
    const bool speedSet = parser.isSet(QStringLiteral("speed"));
    if (options.ReplayFile.isEmpty() && (speedSet || options.ReplayOnce)) {
        error = QStringLiteral("--speed and --replay-once go with --replay");
        return false;
    }
    if (speedSet) {
        bool ok = false;
        options.ReplaySpeed = parser.value(QStringLiteral("speed")).toDouble(&ok);
        if (!ok || !std::isfinite(options.ReplaySpeed) || options.ReplaySpeed < 0) {
            error = QStringLiteral("--speed needs a number of 0 or more");
            return false;
        }
    }
    return true;
}

} // namespace

std::optional<ServerOptions> ParseOptions(const QStringList& arguments, QString& error, QString& helpText)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Reference alert server: a synthetic market streamed to alert clients."));
    const auto helpOption = parser.addHelpOption();
    auto option = [&](const char* name, const char* help, const char* valueName = nullptr) {
        parser.addOption(valueName ? QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(help),
                                                        QString::fromLatin1(valueName))
                                   : QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(help)));
    };
    option("host", "Address to listen on (default 127.0.0.1).", "address");
    option("port", "TCP port (default 9339, 0 picks a free one).", "port");
    option("http-port", "Also serve the HTTP tunnel on this port (0 picks one).", "port");
    option("rate", "Alerts per second per category (default 2).", "n");
    option("seed", "Seed of the synthetic market, for repeatable alerts.", "n");
    option("duration", "Stop after this many seconds.", "seconds");
    option("log", "Also write the log to this file.", "file");
    option("tls-cert", "Serve TLS with this certificate chain (PEM, leaf first); needs --tls-key.", "file");
    option("tls-key", "The private key of --tls-cert (PEM, not encrypted).", "file");
    option("log-messages", "Log every message received and every frame sent (passwords included).");
    option("password", "Accept only this password (any user name).", "text");
    option("users", "Accept only the users listed in this file (name:password lines).", "file");
    option("categories", "Category file: lines \"name style [rate]\".", "file");
    option("stall-pings", "Never answer pings.");
    option("slow-ms", "Delay every answer by this many milliseconds.", "ms");
    option("stop", "Answer every login with STOP and this reason.", "reason");
    option("drop-before-preamble", "Close every new connection before reading anything.");
    option("drop-after-ms", "Drop each connection this long after it was accepted.", "ms");
    option("drop-every-ms", "Drop all connections at about this interval.", "ms");
    option("drop-jitter-ms", "Random spread added to --drop-every-ms.", "ms");
    option("drop-how", "How planned drops cut: now, burst or frame (default now).", "how");
    option("corrupt-after-ms", "Send corrupt compressed bytes this long after a connection was accepted.", "ms");
    option("fail-posts", "Tunnel: answer the next N POSTs with status 500.", "n");
    option("slow-posts-ms", "Tunnel: delay every POST by this many milliseconds.", "ms");
    option("replay", "Serve the alerts of this recording instead of the synthetic market.", "file");
    option("speed", "With --replay: X times the recorded pace (default 1; 0 as fast as possible).", "x");
    option("replay-once", "With --replay: serve the recording once, then end the server (exit status 0).");

    helpText = parser.helpText();
    if (!parser.parse(arguments)) {
        error = parser.errorText();
        return std::nullopt;
    }
    // Qt adds --help-all beside --help; this server has no Qt options to add.
    if (parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all")))
        return std::nullopt;
    if (!parser.positionalArguments().isEmpty()) {
        error = QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first());
        return std::nullopt;
    }

    ServerOptions options;
    if (parser.isSet(QStringLiteral("host")) && !options.Host.setAddress(parser.value(QStringLiteral("host")))) {
        error = QStringLiteral("--host needs an IP address");
        return std::nullopt;
    }
    if (!ReadPort(parser, QStringLiteral("port"), options.Port, error))
        return std::nullopt;
    if (parser.isSet(QStringLiteral("http-port"))) {
        quint16 port = 0;
        if (!ReadPort(parser, QStringLiteral("http-port"), port, error))
            return std::nullopt;
        options.HttpPort = port;
    }
    if (parser.isSet(QStringLiteral("rate"))) {
        bool ok = false;
        options.Rate = parser.value(QStringLiteral("rate")).toDouble(&ok);
        if (!ok || options.Rate <= 0 || options.Rate > 1000) {
            error = QStringLiteral("--rate must be above 0 and at most 1000");
            return std::nullopt;
        }
    }
    if (parser.isSet(QStringLiteral("seed"))) {
        bool ok = false;
        const quint32 seed = parser.value(QStringLiteral("seed")).toUInt(&ok);
        if (!ok) {
            error = QStringLiteral("--seed needs a whole number");
            return std::nullopt;
        }
        options.Seed = seed;
    }
    int durationSeconds = 0;
    int failPosts = 0;
    if (!ReadCount(parser, QStringLiteral("duration"), durationSeconds, error) ||
        !ReadCount(parser, QStringLiteral("slow-ms"), options.Faults.SlowMs, error) ||
        !ReadCount(parser, QStringLiteral("drop-after-ms"), options.DropAfterMs, error) ||
        !ReadCount(parser, QStringLiteral("drop-every-ms"), options.DropEveryMs, error) ||
        !ReadCount(parser, QStringLiteral("drop-jitter-ms"), options.DropJitterMs, error) ||
        !ReadCount(parser, QStringLiteral("corrupt-after-ms"), options.CorruptAfterMs, error) ||
        !ReadCount(parser, QStringLiteral("fail-posts"), failPosts, error) ||
        !ReadCount(parser, QStringLiteral("slow-posts-ms"), options.Faults.SlowPostsMs, error))
        return std::nullopt;
    options.DurationMs = durationSeconds * 1000;
    options.Faults.FailPosts = failPosts;
    options.Faults.StallPings = parser.isSet(QStringLiteral("stall-pings"));
    options.Faults.DropBeforePreamble = parser.isSet(QStringLiteral("drop-before-preamble"));
    options.Faults.RefuseReason = parser.value(QStringLiteral("stop"));
    if (parser.isSet(QStringLiteral("stop")) && options.Faults.RefuseReason.isEmpty()) {
        error = QStringLiteral("--stop needs a reason text");
        return std::nullopt;
    }
    if (parser.isSet(QStringLiteral("drop-how"))) {
        const auto how = ParseDropStyle(parser.value(QStringLiteral("drop-how")));
        if (!how) {
            error = QStringLiteral("--drop-how must be now, burst or frame");
            return std::nullopt;
        }
        options.DropHow = *how;
    }
    options.TlsCertificateFile = parser.value(QStringLiteral("tls-cert"));
    options.TlsKeyFile = parser.value(QStringLiteral("tls-key"));
    if (options.TlsCertificateFile.isEmpty() != options.TlsKeyFile.isEmpty()) {
        error = QStringLiteral("--tls-cert and --tls-key go together");
        return std::nullopt;
    }
    if (!ReadReplayOptions(parser, options, error))
        return std::nullopt;
    options.LogFile = parser.value(QStringLiteral("log"));
    options.LogMessages = parser.isSet(QStringLiteral("log-messages"));
    options.Password = parser.value(QStringLiteral("password"));
    if (parser.isSet(QStringLiteral("users"))) {
        QByteArray contents;
        if (!ReadFile(parser.value(QStringLiteral("users")), contents, error))
            return std::nullopt;
        const auto users = ParseUsers(contents, error);
        if (!users)
            return std::nullopt;
        options.Users = users;
    }
    if (parser.isSet(QStringLiteral("categories"))) {
        QByteArray contents;
        if (!ReadFile(parser.value(QStringLiteral("categories")), contents, error))
            return std::nullopt;
        const auto categories = ParseCategories(QString::fromUtf8(contents), options.Rate, error);
        if (!categories)
            return std::nullopt;
        options.Categories = *categories;
    } else {
        options.Categories = DefaultCategories(options.Rate);
    }
    return options;
}

} // namespace AlertServer
