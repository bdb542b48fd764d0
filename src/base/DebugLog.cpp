#include "base/DebugLog.h"
#include <cstdio>
#include <cstdlib>
#include <typeinfo>
#include <utility>
#if defined(__GNUG__)
#include <cxxabi.h>
#include <memory>
#endif

namespace {
TDebugSink& Sink()
{
    static TDebugSink sink;
    return sink;
}

TDebugSink& NoteSink()
{
    static TDebugSink sink;
    return sink;
}

}

TDebugSinkScope::TDebugSinkScope(TDebugSink output, TDebugSink notes)
    : m_previousOutput(std::exchange(Sink(), std::move(output))), m_replacedNotes(static_cast<bool>(notes))
{
    if (m_replacedNotes)
        m_previousNotes = std::exchange(NoteSink(), std::move(notes));
}

TDebugSinkScope::~TDebugSinkScope()
{
    Sink() = std::move(m_previousOutput);
    if (m_replacedNotes)
        NoteSink() = std::move(m_previousNotes);
}

void DebugNote(const QString& text)
{
    if (NoteSink())
        NoteSink()(text);
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

void DebugOutput(const QString& text)
{
    if (Sink())
        Sink()(text);
    else
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
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
