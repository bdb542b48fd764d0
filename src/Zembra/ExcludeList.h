#pragma once
// A sorted list of symbols without duplicates, searched by bisection, that
// ignores letter case or compares bytes, as it is made. The exclude list
// ignores letter case. (The Bollinger rows keep no such set:
// they find a symbol among their own rows, by its exact bytes.)
#include <QByteArray>
#include <QList>

class TSymbolSet {
public:
    enum TCaseRule : quint8 { IgnoreCase, ExactCase };

    explicit TSymbolSet(TCaseRule rule) : m_rule(rule) {}

    // Adds the symbol unless an equal one is present (the first one added
    // keeps its spelling). Returns whether it was added.
    bool Add(const QByteArray& symbol);
    bool Contains(const QByteArray& symbol) const;
    // Returns whether a symbol was removed.
    bool Remove(const QByteArray& symbol);
    void Clear() { m_items.clear(); }
    qsizetype Count() const { return m_items.size(); }
    // The symbols in sorted order.
    const QList<QByteArray>& Items() const { return m_items; }

private:
    int Compare(const QByteArray& a, const QByteArray& b) const;
    // The index of the first item not less than the symbol.
    qsizetype LowerBound(const QByteArray& symbol) const;
    bool FoundAt(qsizetype index, const QByteArray& symbol) const;

    TCaseRule m_rule;
    QList<QByteArray> m_items;
};

// The symbols that strike windows ignore: `main` makes it empty, it is never
// saved, and the exclude list form replaces its contents.
inline TSymbolSet NewExcludeList() { return TSymbolSet(TSymbolSet::IgnoreCase); }

// Replaces the list's contents with the non-empty lines, in their order
// (blank lines of spaces count as symbols: nothing is trimmed).
void ReplaceExcludeList(TSymbolSet& list, const QList<QByteArray>& lines);
