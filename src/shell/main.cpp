// Tavisk Alerts: the alert client's start-up. main owns every long-lived
// object and makes them in order, each before the ones that are given it: the
// debug log first (it goes last), then the exclude list, the configuration in
// use, the grids' emitters and the sound, then the forms (those the main
// window points to before it, so that they outlive it). The grids'
// requests for linking and the price-spike sound are connected to the forms
// that serve them, and one event loop runs until the main window closes or
// the process is asked to end.
#include "Shared/MiscDebugWindows.h"
#include "Zembra/ExcludeList.h"
#include "platform/core/ConfigLocation.h"
#include "platform/core/DesktopBus.h"
#include "platform/core/IniFile.h"
#include "platform/core/PasswordKeyring.h"
#include "platform/core/TerminationSignals.h"
#include "platform/gui/AlertNotices.h"
#include "platform/gui/DesktopIdentity.h"
#include "platform/gui/ErrorReport.h"
#include "Zembra/MainConnectionUnit.h"
#include "Zembra/RecordAndReplay.h"
#include "platform/gui/PriceSpikeSound.h"
#include "platform/gui/Sound.h"
#include "platform/gui/SymbolLink.h"
#include "shell/AlertNotifications.h"
#include "shell/CommandLine.h"
#include "shell/DesktopBusWiring.h"
#include "shell/ExternalLinkingWindowUnit.h"
#include "shell/FakeDataFormUnit.h"
#include "shell/MainFormUnit.h"
#include "shell/PriceSpikePlayer.h"
#include "shell/VantorExcludeFormUnit.h"
#include <QApplication>
#include <cstdio>

namespace {

QStringList Arguments(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

void PrintError(const QString& text) { std::fputs((text + u'\n').toLocal8Bit().constData(), stderr); }

// What the command line names that cannot be used: a configuration file that
// cannot be read (exit status 2) would otherwise start a client with no
// windows and the built-in address, silently; a recording that cannot be
// replayed (exit status 1) would open the windows for a moment. Found before
// any window opens.
int StartProblem(const TCommandLine& options)
{
    if (!options.ConfigFile.isEmpty()) {
        if (const QString problem = ConfigReadProblem(options.ConfigFile); !problem.isEmpty()) {
            PrintError(problem);
            return 2;
        }
    }
    if (!options.ReplayFile.isEmpty()) {
        if (const QString problem = ReplayFileProblem(options.ReplayFile); !problem.isEmpty()) {
            PrintError(problem);
            return 1;
        }
    }
    return 0;
}

// The desktop session asks for the data before it ends; the settings are
// saved then, while every window still shows as the user left it. The form
// saves once per process.
void SaveSettingsWhenTheSessionEnds(QApplication& app, TMainForm& mainForm)
{
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &mainForm,
                     [&mainForm] { RunReportingErrors([&mainForm] { mainForm.FormDestroy(); }); });
}

// What the command line and the configuration ask to record or replay.
bool StartRecordAndReplay(TRecordAndReplay& session, TMainForm& mainForm, const TCommandLine& options,
                          const TConfigInUse& config)
{
    QString error;
    const QString recordFolder = ConfiguredRecordFolder(config.Path());
    if (!session.Start({options.RecordFile, recordFolder, options.ReplayFile, options.ReplaySpeed}, error)) {
        PrintError(error);
        return false;
    }
    mainForm.ShowRecordAndReplay(session);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    HoldTerminationSignals();
    // Everything below may write to it, up to the last destructor.
    const TDebugLog debugLog;
    const TCommandLineOutcome commandLine = ParseCommandLine(Arguments(argc, argv));
    if (!commandLine.Options) {
        std::fputs(commandLine.Output.toLocal8Bit().constData(), stdout);
        std::fputs(commandLine.Error.toLocal8Bit().constData(), stderr);
        return commandLine.ExitCode;
    }
    const TCommandLine& options = *commandLine.Options;
    if (const int status = StartProblem(options); status != 0)
        return status;

    // The exclude list exists, empty, before anything else.
    TSymbolSet excludeList = NewExcludeList();

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Velmora"));
    QApplication::setApplicationName(QStringLiteral("Tavisk Alerts"));
    QGuiApplication::setDesktopFileName(QLatin1String(ApplicationId));
    QApplication::setWindowIcon(ApplicationIcon());
    // Alert windows and the other forms are windows of their own: only the
    // main window's closing ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    // Hidden until a line comes that is more than a note.
    TMiscDebugWindow debugWindow;
    const TDebugSinkScope logToWindow = LogToWindow(debugWindow);
    TConfigInUse config(LocateConfigFile(options.ConfigFile), !options.ConfigFile.isEmpty());
    NoteConfigFileInUse(config.Path());

    TSymbolLinks symbolLinks;
    TPriceSpikeSound priceSpikeSound;
    TAlertNotices alertNotices;
    TQtSoundPlayer soundPlayer;
    TPriceSpikePlayer spikePlayer(soundPlayer);
    // "Remember password" keeps the password here, never in a file.
    const std::unique_ptr<TPasswordKeyring> keyring = MakePasswordKeyring();

    // The session first: the windows register with it and show its status.
    // It reads the file in use for each conversation: the main window may
    // make one after start-up.
    TMainConnection mainConnection(ConnectionSettingsFromFile([&config] { return config.Path(); }));
    // The forms the main window keeps pointers to are made before it, so
    // that they outlive it.
    TExternalLinkingWindow linkingWindow(symbolLinks);
    TFakeDataForm fakeDataForm(mainConnection, config.Path());
    TVantorExcludeForm vantorExcludeForm(excludeList);
    TMainForm mainForm(mainConnection,
                       {config, spikePlayer, excludeList, symbolLinks, priceSpikeSound, alertNotices, *keyring});
    // The client on the desktop: other programs follow its links and status
    // and may bring a window up; its windows' notifications lead back to them.
    const auto showWindow = [&mainForm](const QString& title) { return mainForm.ShowWindowTitled(title); };
    const std::unique_ptr<TDesktopBus> desktopBus = MakeDesktopBus(showWindow);
    // Before the connector's: a link it fails is still the trader's link.
    const TSubscription linksOnBus = AnnounceLinksOnBus(symbolLinks, *desktopBus);
    const TSubscription statusOnBus = ShowStatusOnBus(mainForm, *desktopBus);
    const TAlertNotifications notifications(alertNotices, symbolLinks, showWindow);

    mainForm.SetLinkingWindow(&linkingWindow);
    mainForm.SetExcludeForm(&vantorExcludeForm);
    mainForm.SoundDelaySource = [&fakeDataForm] { return fakeDataForm.SoundDelay(); };
    // The forms are the context: when they go, so do the connections.
    QObject::connect(&symbolLinks, &TSymbolLinks::LinkRequested, &linkingWindow, &TExternalLinkingWindow::LinkSymbol);
    QObject::connect(&priceSpikeSound, &TPriceSpikeSound::Requested, &mainForm, &TMainForm::PlayPriceSpikeSound);
    mainForm.EndProgramOnClose();
    SaveSettingsWhenTheSessionEnds(app, mainForm);
    // A request to end (SIGTERM, Ctrl-C, a closed terminal) closes the main
    // window as the user would: the settings are saved before the program
    // ends and the other windows go.
    const TTerminationSignals terminationSignals([&mainForm] { mainForm.close(); });

    // Made after the windows, which must be there for the first replayed
    // alert; the recorders write their last alerts out when this goes.
    TRecordAndReplay recordAndReplay(mainConnection);
    if (!StartRecordAndReplay(recordAndReplay, mainForm, options, config))
        return 1;

    mainForm.show();
    return QApplication::exec();
}
