#include "shell/CommandLine.h"
#include <QCommandLineParser>
#include <QFileInfo>
#include <QSet>
#include <cmath>

namespace {

constexpr char ApplicationName[] = "Tavisk Alerts";

// Qt's own options, which QApplication takes out of the arguments later:
// those that take a value and those that do not. Qt accepts them with one
// dash or two.
const QSet<QString>& QtOptionsWithValue()
{
    static const QSet<QString> names{"platform", "platformpluginpath", "platformtheme", "plugin", "display",
                                     "geometry", "qwindowgeometry", "qwindowicon", "qwindowtitle", "style",
                                     "stylesheet", "session", "title", "name", "visual", "qmljsdebugger"};
    return names;
}

const QSet<QString>& QtFlagOptions()
{
    static const QSet<QString> names{"reverse", "widgetcount", "nograb", "dograb", "sync"};
    return names;
}

// The argument's name without dashes and without an "=value" part; empty
// for something that is not an option.
QString OptionName(const QString& argument)
{
    if (!argument.startsWith(u'-') || argument == QStringLiteral("-") || argument == QStringLiteral("--"))
        return {};
    QString name = argument.mid(argument.startsWith(QStringLiteral("--")) ? 2 : 1);
    const qsizetype equals = name.indexOf(u'=');
    return equals < 0 ? name : name.left(equals);
}

QStringList WithoutQtOptions(const QStringList& arguments)
{
    QStringList ours;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const QString name = i == 0 ? QString() : OptionName(argument);
        if (QtFlagOptions().contains(name))
            continue;
        if (QtOptionsWithValue().contains(name)) {
            if (!argument.contains(u'='))
                ++i; // its value is the next argument
            continue;
        }
        ours << argument;
    }
    return ours;
}

TCommandLineOutcome Failure(const QString& error)
{
    TCommandLineOutcome outcome;
    outcome.ExitCode = 2;
    outcome.Error = error + QStringLiteral("\nTry '--help' for the options.\n");
    return outcome;
}

} // namespace

QString ApplicationVersionText() { return QStringLiteral("%1 %2").arg(QLatin1String(ApplicationName), QStringLiteral(TAVISK_VERSION)); }

TCommandLineOutcome ParseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Shows a live stream of trading alerts from an alert server in one window per alert category."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the name and version and exit."));
    const QCommandLineOption config(QStringLiteral("config"),
                                    QStringLiteral("Read the configuration from FILE instead of looking for Braxo.ini."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption record(QStringLiteral("record"),
                                    QStringLiteral("Record every alert received into FILE (gzip, one alert a line)."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption replay(QStringLiteral("replay"),
                                    QStringLiteral("Show the alerts of the recording FILE instead of connecting to a server."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption speed(QStringLiteral("speed"),
                                   QStringLiteral("Replay at X times the recorded pace (default 1; 0: as fast as possible)."),
                                   QStringLiteral("X"));
    parser.addOptions({help, version, config, record, replay, speed});

    if (!parser.parse(WithoutQtOptions(arguments)))
        return Failure(parser.errorText());

    TCommandLineOutcome outcome;
    if (parser.isSet(help)) {
        // Without an application object yet, Qt cannot name the program itself.
        const QString program = arguments.isEmpty() ? QStringLiteral("tavisk-alerts")
                                                    : QFileInfo(arguments.constFirst()).fileName();
        outcome.Output = parser.helpText().replace(QStringLiteral("<executable_name>"), program);
        return outcome;
    }
    if (parser.isSet(version)) {
        outcome.Output = ApplicationVersionText() + u'\n';
        return outcome;
    }
    if (!parser.positionalArguments().isEmpty())
        return Failure(QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().constFirst()));

    TCommandLine options;
    options.ConfigFile = parser.value(config);
    options.RecordFile = parser.value(record);
    options.ReplayFile = parser.value(replay);
    // A replay comes from no server: recording it would only copy the file
    // with new times.
    if (!options.RecordFile.isEmpty() && !options.ReplayFile.isEmpty())
        return Failure(QStringLiteral("--record and --replay cannot be used together: a replay receives nothing to record."));
    if (parser.isSet(speed)) {
        if (options.ReplayFile.isEmpty())
            return Failure(QStringLiteral("--speed goes with --replay."));
        bool ok = false;
        options.ReplaySpeed = parser.value(speed).toDouble(&ok);
        if (!ok || !std::isfinite(options.ReplaySpeed) || options.ReplaySpeed < 0)
            return Failure(QStringLiteral("--speed takes a number of 0 or more, not '%1'.").arg(parser.value(speed)));
    }
    outcome.Options = options;
    return outcome;
}
