#include "base/DebugLog.h"
#include "base/Assertions.h"
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <typeinfo>
#include <utility>
#if defined(__GNUG__)
#include <cxxabi.h>
#include <memory>
#endif

namespace {

struct TSinks {
    TDebugSink Output;
    TDebugSink Notes;
};

// Present while main's TDebugLog lives.
std::optional<TSinks> g_log;

void WriteToStderr(const QString& text) { std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData()); }

// The live log's sinks. Outside its span the line is not lost: it goes to
// stderr with the reason, and the caller is told through an assertion.
TSinks& LiveLog(const QString& line)
{
    if (!g_log) {
        WriteToStderr(QStringLiteral("Debug log used outside main's TDebugLog: ") + line);
        AssertionFailure("The debug log is used before it is made or after it has gone", "DebugLog", __LINE__);
    }
    return *g_log;
}

} // namespace

TDebugLog::TDebugLog()
{
    TAV_ASSERT(!g_log, "DebugLog", __LINE__);
    g_log.emplace();
}

TDebugLog::~TDebugLog() { g_log.reset(); }

TDebugSinkScope::TDebugSinkScope(TDebugSink output, TDebugSink notes)
    : m_previousOutput(std::exchange(LiveLog(QString()).Output, std::move(output))),
      m_replacedNotes(static_cast<bool>(notes))
{
    if (m_replacedNotes)
        m_previousNotes = std::exchange(g_log->Notes, std::move(notes));
}

TDebugSinkScope::~TDebugSinkScope()
{
    // A scope that outlives the log has nothing to give back to.
    if (!g_log)
        return;
    g_log->Output = std::move(m_previousOutput);
    if (m_replacedNotes)
        g_log->Notes = std::move(m_previousNotes);
}

void DebugNote(const QString& text)
{
    if (const TSinks& log = LiveLog(text); log.Notes)
        log.Notes(text);
    WriteToStderr(text);
}

void DebugOutput(const QString& text)
{
    if (const TSinks& log = LiveLog(text); log.Output)
        log.Output(text);
    else
        WriteToStderr(text);
}

QString ExceptionClassName(const std::exception& e)
{
    const char* raw = typeid(e).name();
#if defined(__GNUG__)
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(
        abi::__cxa_demangle(raw, nullptr, nullptr, &status), std::free);
    if (status == 0 && demangled)
        return QString::fromLatin1(demangled.get());
#endif
    QString name = QString::fromLatin1(raw);
    if (name.startsWith("class "))
        name = name.mid(6);
    return name;
}

void ReportException(const std::exception& e, const QString& location)
{
    try {
        DebugOutput("Class=" + ExceptionClassName(e) + ", Message=" + QString::fromLocal8Bit(e.what()) +
                    ", Location=" + location);
    } catch (...) {
        // Reporting must never raise into the caller's error path.
    }
}
