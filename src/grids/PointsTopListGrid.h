#pragma once
// Symbols with last price and change, optionally with percent volume: the
// grid of the points lists and of the plain simple list.
#include "Zembra/AlertEntries.h"
#include "grids/ListGridFamily.h"
#include <initializer_list>

// What the points grid shows: a whole list as the points list sends it, or
// the simple list's newest-first rows. Either is taken at constant cost, so
// the simple list's thousand rows are never copied to be shown.
class TPointsRows {
public:
    TPointsRows() = default;
    TPointsRows(std::initializer_list<TPointsTopListEntry> rows) : m_whole(rows) {}
    TPointsRows(const TPointsTopListEntries& rows) : m_whole(rows) {}
    TPointsRows(const TSimpleListEntries& rows) : m_newestFirst(rows), m_isNewestFirst(true) {}

    qsizetype size() const { return m_isNewestFirst ? m_newestFirst.size() : m_whole.size(); }
    bool isEmpty() const { return size() == 0; }
    const TPointsTopListEntry& at(qsizetype index) const
    {
        return m_isNewestFirst ? m_newestFirst.at(index) : m_whole.at(index);
    }
    const TPointsTopListEntry& operator[](qsizetype index) const { return at(index); }

private:
    TPointsTopListEntries m_whole;
    TSimpleListEntries m_newestFirst;
    bool m_isNewestFirst = false;
};

class TPointsTopListGrid : public TListGridOf<TPointsTopListEntry, TPointsRows> {
public:
    TPointsTopListGrid(QWidget* owner, TSymbolLinks& links);

    // Adds the "%Vol" column and measures it; there is no way back.
    void ShowVolumeColumn();

protected:
    TCellContent DataCell(int column, int index) const override;
};
