#pragma once
// The diagnostic log, the one object of the process that code reaches without
// being given it: widget-free code deep in the session writes to it through
// these functions only. It exists while `main`'s TDebugLog lives; writing to
// it outside that span is a programming error that says so on stderr. The GUI
// installs the debug window as the sink, so nothing here depends on widgets.
// The log is no QObject (the server and widget-free code write to it too), so
// its hooks are installed by objects whose lifetime bounds them, never set and
// cleared by hand.
#include <QString>
#include <exception>
#include <functional>

// Makes the log; one at a time. `main` makes it first, so that it goes last.
class TDebugLog {
public:
    TDebugLog();
    ~TDebugLog();
    TDebugLog(const TDebugLog&) = delete;
    TDebugLog& operator=(const TDebugLog&) = delete;
};

// Appends one line to the log (and, with the window installed, shows it).
void DebugOutput(const QString& text);

// Appends an informational line to the log without bringing its window up
// (the window shows itself only for what went wrong); also written to stderr.
void DebugNote(const QString& text);

// Logs "Class=" + class name + ", Message=" + message + ", Location=" + location.
// Never raises.
void ReportException(const std::exception& e, const QString& location);

// The class name ReportException logs: the exception's dynamic type, demangled.
QString ExceptionClassName(const std::exception& e);

using TDebugSink = std::function<void(const QString& line)>;

// While this lives, DebugOutput's lines go to `output` (without a sink they
// are written to stderr) and, when `notes` is given, DebugNote's lines go
// there besides stderr. When it goes, the sinks before it come back: scopes
// end in the reverse order of their making, and within the log's span.
class TDebugSinkScope {
public:
    explicit TDebugSinkScope(TDebugSink output, TDebugSink notes = {});
    ~TDebugSinkScope();
    TDebugSinkScope(const TDebugSinkScope&) = delete;
    TDebugSinkScope& operator=(const TDebugSinkScope&) = delete;

private:
    TDebugSink m_previousOutput;
    TDebugSink m_previousNotes;
    bool m_replacedNotes;
};
