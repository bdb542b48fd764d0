#pragma once
// The client's command line. It is read before the GUI starts, so that
// --help, --version and a mistyped option work without a display; the
// options Qt itself understands (-platform, -display, -style, ...) are
// passed over here and left to QApplication.
#include <QString>
#include <QStringList>
#include <optional>

struct TCommandLine {
    QString ConfigFile;     // --config: this configuration file and no other
    QString RecordFile;     // --record: every alert received goes here
    QString ReplayFile;     // --replay: alerts come from this recording, not a server
    double ReplaySpeed = 1; // --speed: times the recorded pace; 0 as fast as possible
};

struct TCommandLineOutcome {
    // Set: start the client with these options. Unset: end at once with
    // ExitCode after writing Output to stdout and Error to stderr.
    std::optional<TCommandLine> Options;
    int ExitCode = 0;
    QString Output;
    QString Error;
};

// The name and version --version prints.
QString ApplicationVersionText();

// Arguments as the process received them, the program name first.
TCommandLineOutcome ParseCommandLine(const QStringList& arguments);
