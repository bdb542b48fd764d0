// Soak harness: runs the real client offscreen against a running alert
// server for a bounded time and writes what it measured as JSON.
//
//   tavisk-soak --out FILE [--max-seconds S] [--user U] [--password P]
//               [--skip-categories a,b]
//
// It reads "Braxo.ini" from the current directory exactly as the client does
// (the server address in [Connection], the windows in [Alert Window N]). The
// run ends when the server answers the login with STOP (the soak script's
// way of ending a run with nothing in flight), or after --max-seconds.
#include "SoakRecorder.h"
#include "WatchedConnection.h"
#include "Shared/ServerConnectionFactory.h"
#include "Shared/TalkWithServer.h"
#include "Zembra/AlertWindowUnit.h"
#include "Zembra/MainConnectionUnit.h"
#include "base/DebugLog.h"
#include "platform/core/IniFile.h"
#include "platform/gui/AlertNotices.h"
#include "platform/gui/PriceSpikeSound.h"
#include "platform/gui/SymbolLink.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QTimer>
#include <cstdio>

namespace {

struct TSoakOptions {
    QString OutFile;
    double MaxSeconds = 900;
    QByteArray User = "soak";
    QByteArray Password = "soak";
    QList<QByteArray> Skipped;
};

TSoakOptions ParseOptions(const QApplication& app)
{
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOptions({{"out", "JSON report file.", "file"},
                       {"max-seconds", "End the run after this long at the latest.", "seconds", "900"},
                       {"user", "User name.", "name", "soak"},
                       {"password", "Password.", "password", "soak"},
                       {"skip-categories", "Windows of these categories are not opened.", "list"}});
    parser.process(app);
    TSoakOptions options;
    options.OutFile = parser.value("out");
    options.MaxSeconds = parser.value("max-seconds").toDouble();
    options.User = parser.value("user").toUtf8();
    options.Password = parser.value("password").toUtf8();
    for (const QString& name : parser.value("skip-categories").split(',', Qt::SkipEmptyParts))
        options.Skipped.append(name.trimmed().toUtf8());
    if (options.OutFile.isEmpty() || options.MaxSeconds <= 0)
        parser.showHelp(2);
    return options;
}

// Opens the configured windows the way the main form does.
QList<TAlertForm*> OpenAlertWindows(const TAlertWindowParts& parts, const QList<QByteArray>& skipped)
{
    const TIniFile ini(QString::fromLatin1(ConfigFileName));
    const int count = std::max(0, ini.ReadInteger("General", "window count", 0));
    QList<TAlertForm*> windows;
    for (int i = 0; i < count; ++i) {
        const QByteArray section = "Alert Window " + QByteArray::number(i);
        if (skipped.contains(ini.ReadString(section, "subscription")))
            continue;
        auto* window = new TAlertForm(parts);
        window->LoadSettings(ini, section);
        window->show();
        parts.AlertSource.AddCategory(window->Subscription());
        windows.append(window);
    }
    return windows;
}

bool WriteReport(const QString& fileName, const QJsonObject& report)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(QJsonDocument(report).toJson(QJsonDocument::Indented)) > 0;
}

} // namespace

int main(int argc, char** argv)
{
    const TDebugLog debugLog;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const TSoakOptions options = ParseOptions(app);
    const TSymbolSet excludeList = NewExcludeList();
    TSymbolLinks symbolLinks;
    TPriceSpikeSound priceSpikeSound;
    TAlertNotices alertNotices; // heard by nobody: the soak shows no notifications

    TSoakRecorder recorder;
    // Conversations are numbered as they are made; alerts are only delivered
    // from the current one, so its number tells whose alert it is.
    QHash<const TTalkWithServer*, int> conversationNumbers;
    TMainConnection* watched = nullptr; // the connection below, once made
    TMainConnectionDependencies hooks;
    hooks.ConnectionFactory = [&](TTalkWithServer& talk) -> std::unique_ptr<TGenericServerConnection> {
        const int number = recorder.ConversationStarted();
        conversationNumbers.insert(&talk, number);
        TConnectionObserver observer;
        observer.Connected = [&recorder, number] { recorder.ConnectionUp(number); };
        observer.DataHandled = [&recorder, &watched, number] {
            recorder.DataHandled(number, watched->Status() == QLatin1String("Connected!"));
        };
        observer.Closed = [&recorder, number] { recorder.ConnectionDown(number); };
        return std::make_unique<TWatchedConnection>(CreateServerConnection(talk.Settings()), std::move(observer));
    };
    TMainConnection connection(ConnectionSettingsFromFile(QString::fromLatin1(ConfigFileName)), hooks);
    watched = &connection;

    const QList<TAlertForm*> windows =
        OpenAlertWindows({connection, excludeList, symbolLinks, priceSpikeSound, alertNotices}, options.Skipped);
    // Registered after the windows: an alert counted here has been handled by them.
    const TSubscription counting = connection.RegisterAlertCallback([&](const QByteArray& data) {
        recorder.AlertDelivered(conversationNumbers.value(connection.Conversation(), -1), data);
    });

    bool finished = false;
    const auto finish = [&] {
        if (finished)
            return;
        finished = true;
        recorder.RunEnding();
        // The STOP answer arrives inside the conversation's handler; the
        // report and the exit wait for the next turn of the loop.
        QTimer::singleShot(0, &app, [&] { app.exit(0); });
    };
    const TSubscription statusWatch = connection.WatchStatus([&] {
        if (connection.Status() == QLatin1String("Connected!"))
            recorder.SessionConnected();
        if (connection.Stopped())
            finish();
    });

    QTimer memoryTimer;
    QObject::connect(&memoryTimer, &QTimer::timeout, [&] { recorder.SampleMemory(); });
    memoryTimer.start(1000);
    recorder.SampleMemory();
    QTimer::singleShot(int(options.MaxSeconds * 1000), &app, finish);

    connection.SetUserName(options.User);
    connection.SetPassword(options.Password);
    app.exec();

    recorder.SampleMemory();
    if (!WriteReport(options.OutFile, recorder.Report(windows, connection.Status(), connection.Stopped()))) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(options.OutFile));
        return 1;
    }
    // The connection and the windows live to the very end; leaving closes
    // the socket.
    std::fflush(stdout);
    std::_Exit(0);
}
