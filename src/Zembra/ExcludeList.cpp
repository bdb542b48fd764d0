#include "Zembra/ExcludeList.h"

#include <algorithm>

int TSymbolSet::Compare(const QByteArray& a, const QByteArray& b) const
{
    return a.compare(b, m_rule == IgnoreCase ? Qt::CaseInsensitive : Qt::CaseSensitive);
}

qsizetype TSymbolSet::LowerBound(const QByteArray& symbol) const
{
    const auto it = std::lower_bound(m_items.cbegin(), m_items.cend(), symbol,
                                     [this](const QByteArray& item, const QByteArray& wanted) {
                                         return Compare(item, wanted) < 0;
                                     });
    return it - m_items.cbegin();
}

bool TSymbolSet::FoundAt(qsizetype index, const QByteArray& symbol) const
{
    return index < m_items.size() && Compare(m_items.at(index), symbol) == 0;
}

bool TSymbolSet::Add(const QByteArray& symbol)
{
    const qsizetype index = LowerBound(symbol);
    if (FoundAt(index, symbol))
        return false;
    m_items.insert(index, symbol);
    return true;
}

bool TSymbolSet::Contains(const QByteArray& symbol) const
{
    return FoundAt(LowerBound(symbol), symbol);
}

bool TSymbolSet::Remove(const QByteArray& symbol)
{
    const qsizetype index = LowerBound(symbol);
    if (!FoundAt(index, symbol))
        return false;
    m_items.removeAt(index);
    return true;
}

void ReplaceExcludeList(TSymbolSet& list, const QList<QByteArray>& lines)
{
    list.Clear();
    for (const QByteArray& line : lines)
        if (!line.isEmpty())
            list.Add(line);
}
