#pragma once
// Top-list rows for tests: a symbol and, where it matters, a volume rate.
#include "Zembra/AlertEntries.h"
#include <initializer_list>

namespace TopListEntries {

inline TQuentTopListEntry Entry(const char* symbol, double volRate = NoNumber)
{
    TQuentTopListEntry entry;
    entry.symbol = symbol;
    entry.volRate = volRate;
    return entry;
}

inline TQuentTopListEntries List(std::initializer_list<const char*> symbols)
{
    TQuentTopListEntries list;
    for (const char* symbol : symbols)
        list << Entry(symbol);
    return list;
}

} // namespace TopListEntries
