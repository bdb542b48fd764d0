#pragma once
// Programming errors (an unsupported field type, an odd number of message
// items, connecting twice, sending before the pipe is open) raise an
// EAssertionFailed that carries the text and the unit and line it came from.
#include <stdexcept>
#include <string>

class EAssertionFailed : public std::logic_error {
public:
    EAssertionFailed(const std::string& text, const char* unit, int line);
    const std::string& Text() const { return m_text; }
    const char* Unit() const { return m_unit; }
    int Line() const { return m_line; }

private:
    std::string m_text;
    const char* m_unit;
    int m_line;
};

[[noreturn]] void AssertionFailure(const char* text, const char* unit, int line);

// Raises "Assertion failure" naming the unit and line unless the condition holds.
#define TAV_ASSERT(condition, unit, line)                                      \
    do {                                                                       \
        if (!(condition))                                                      \
            AssertionFailure("Assertion failure", unit, line);                 \
    } while (0)
