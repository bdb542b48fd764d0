#pragma once
// The process-wide diagnostic log. The session code writes to it through
// these functions only; the GUI installs the debug window as the sink at
// start-up, so nothing here depends on widgets.
#include <QString>
#include <exception>
#include <functional>

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

// Where DebugOutput's lines go. Without a sink they are written to stderr.
using TDebugSink = std::function<void(const QString& line)>;
void SetDebugSink(TDebugSink sink);
// Where DebugNote's lines go besides stderr.
void SetDebugNoteSink(TDebugSink sink);
