#pragma once
// When a full top list's new order reaches the screen. Rows must not jump
// under the trader's eyes: a list in a new order only updates the rows on
// screen in place (symbols the screen lacks are counted as missing and named
// for "Sort Now"), and the new order is shown at most once every 30 seconds,
// never while frozen, or at once on "Sort Now". Widget-free: the grid asks
// it what to show and repaints.
#include "Zembra/AlertEntries.h"
#include <QString>
#include <functional>
#include <optional>
#include <vector>

// Milliseconds on a clock that never goes back; only differences matter.
using TQuentClock = std::function<qint64()>;

class TTopListOrder {
public:
    // What a call did to the rows on screen.
    enum TChange {
        Unchanged,
        Repaint, // values changed in place, or the frozen state: same rows, same order
        Reorder, // the pending list is now the one shown
    };

    TTopListOrder();

    // A new list from the alert window.
    TChange SetEntries(const TQuentTopListEntries& entries);
    // From the window's one-second timer: shows a pending order when due.
    TChange CheckSort();
    // Shows the pending list in its own order, frozen or not.
    TChange SortNow();
    TChange SetFrozen(bool frozen);

    bool Frozen() const { return m_frozen; }
    bool IgnoreSortTimer() const { return m_ignoreSortTimer; }
    void SetIgnoreSortTimer(bool on) { m_ignoreSortTimer = on; }
    // A list has arrived whose order is not on screen yet.
    bool HavePending() const { return m_havePending; }
    int MissingCount() const { return m_missingCount; }
    // The first five missing symbols, then " and N more".
    const QString& MissingText() const { return m_missingText; }
    const TQuentTopListEntries& Displayed() const { return m_displayed; }
    const TQuentTopListEntries& Pending() const { return m_pending; }

    // The default clock is monotonic; tests drive the 30-second rule with their own.
    void SetClock(TQuentClock clock);

private:
    bool SameSymbols() const;
    bool SortDue() const;
    void ShowPending();
    void UpdateInPlace();
    void NoteMissing(const QByteArray& symbol);
    const std::vector<int>& DisplayedIndex();

    TQuentTopListEntries m_displayed;
    TQuentTopListEntries m_pending;
    bool m_havePending = false;
    int m_missingCount = 0;
    QString m_missingText;
    bool m_ignoreSortTimer = false;
    bool m_frozen = false;
    std::optional<qint64> m_lastSortTime; // none: never sorted, a re-sort is due at once
    TQuentClock m_clock;
    // The rows on screen by symbol, letter case ignored, the first row of
    // each symbol only; made once per order shown, not once per list.
    std::vector<int> m_index;
    bool m_indexValid = false;
};
