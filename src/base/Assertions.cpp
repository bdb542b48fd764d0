#include "base/Assertions.h"

namespace {
std::string Compose(const std::string& text, const char* unit, int line)
{
    return text + " (" + unit + ", line " + std::to_string(line) + ")";
}
}

EAssertionFailed::EAssertionFailed(const std::string& text, const char* unit, int line)
    : std::logic_error(Compose(text, unit, line)), m_text(text), m_unit(unit), m_line(line)
{
}

void AssertionFailure(const char* text, const char* unit, int line)
{
    throw EAssertionFailed(text, unit, line);
}
