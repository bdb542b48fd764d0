#pragma once
// Where the configuration file "Braxo.ini" is found, and how a first
// configuration is made from the installed example. Start-up asks once and
// keeps the answer in a TConfigInUse; the main window asks again only to tell
// the user where it looked when nothing was found. Widget-free.
#include <QString>
#include <QStringList>

// The per-user configuration folder: the folder of the per-user settings file
// (on Linux $XDG_CONFIG_HOME/Velmora, by default ~/.config/Velmora).
QString UserConfigFolder();
// "Braxo.ini" in that folder: where a configuration made for the user goes.
QString UserConfigFile();

// The files looked for without --config, in order: "Braxo.ini" in the current
// directory (where it has always been read; a menu starts programs in the
// home folder) and in the per-user folder. Absolute paths.
QStringList ConfigSearchPlaces();

// The file to read, as an absolute name: the command line's file when one is
// given, else the first of ConfigSearchPlaces() that exists. When none does,
// empty: no configuration, whatever file appears later.
QString LocateConfigFile(const QString& commandLineFile);

// The per-user file that the file in use hides: set only when the file in
// use is the current directory's and a per-user one exists too.
QString ShadowedConfigFile(const QString& inUse);

// Why the configuration file is not read (ReadIniFileText's reasons), as a
// sentence naming it; empty when it is read.
QString ConfigReadProblem(const QString& path);

// Where the example configuration may lie for a program in applicationDir:
// the installed layout (<prefix>/bin beside <prefix>/share), then the build
// folder, which holds a copy in the same share/ layout.
QStringList ExampleConfigPlaces(const QString& applicationDir);
// The first of those that exists; empty when none does.
QString ExampleConfigFile(const QString& applicationDir);

// Copies the example to target (readable and writable by the user alone),
// making its folder. A file already at target is kept as it is, never replaced. Empty on success, else why it failed,
// naming the file.
QString CreateConfigFromExample(const QString& example, const QString& target);

// One note in the debug log naming the configuration in use; it waits there
// without bringing the window up, and goes to standard error as well (a
// desktop session keeps that in its journal).
void NoteConfigFileInUse(const QString& path);

// The configuration file this process reads: start-up decides it once, the
// main window again when it makes a first configuration. `main` owns it and
// lends it to every unit that reads the configuration. An empty path is no
// file: the built-in settings.
class TConfigInUse {
public:
    explicit TConfigInUse(QString path, bool namedOnCommandLine = false);

    const QString& Path() const { return m_path; }
    // Chosen with --config rather than found in a search place.
    bool NamedOnCommandLine() const { return m_namedOnCommandLine; }
    void Use(const QString& path);

private:
    QString m_path;
    bool m_namedOnCommandLine;
};
