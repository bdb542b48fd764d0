#include "Zembra/TopListOrder.h"

#include "base/Assertions.h"

#include <algorithm>
#include <chrono>

namespace {

constexpr const char* kUnit = "QuentGridFull";
constexpr qint64 kResortIntervalMs = 30 * 1000;
constexpr int kNamedMissing = 5;

qint64 MonotonicMilliseconds()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c; }

// Byte order of the lower-case forms (ASCII letters only, as QByteArray::toLower).
int CompareIgnoringCase(QByteArrayView a, QByteArrayView b)
{
    const qsizetype common = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < common; ++i) {
        const auto x = uchar(AsciiLower(a[i]));
        const auto y = uchar(AsciiLower(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

} // namespace

TTopListOrder::TTopListOrder() : m_clock(MonotonicMilliseconds) {}

void TTopListOrder::SetClock(TQuentClock clock) { m_clock = clock ? std::move(clock) : MonotonicMilliseconds; }

TTopListOrder::TChange TTopListOrder::SetEntries(const TQuentTopListEntries& entries)
{
    m_pending = entries;
    m_havePending = true;
    if (SameSymbols()) {
        ShowPending(); // nothing moves, so the re-sort clock is left alone
        return Reorder;
    }
    if (SortDue())
        return SortNow();
    UpdateInPlace();
    return Repaint;
}

bool TTopListOrder::SameSymbols() const
{
    if (m_pending.size() != m_displayed.size())
        return false;
    for (qsizetype i = 0; i < m_pending.size(); ++i)
        if (m_pending[i].symbol != m_displayed[i].symbol)
            return false;
    return true;
}

bool TTopListOrder::SortDue() const
{
    if (!m_havePending || m_frozen)
        return false;
    if (m_ignoreSortTimer || !m_lastSortTime)
        return true;
    return m_clock() > *m_lastSortTime + kResortIntervalMs;
}

TTopListOrder::TChange TTopListOrder::CheckSort() { return SortDue() ? SortNow() : Unchanged; }

TTopListOrder::TChange TTopListOrder::SortNow()
{
    if (!m_havePending)
        return Unchanged;
    ShowPending();
    m_lastSortTime = m_clock();
    return Reorder;
}

TTopListOrder::TChange TTopListOrder::SetFrozen(bool frozen)
{
    if (frozen == m_frozen)
        return Unchanged;
    m_frozen = frozen;
    m_lastSortTime.reset();
    // Unfreezing with a pending list re-sorts at once; otherwise the header's colour changes.
    return CheckSort() == Reorder ? Reorder : Repaint;
}

void TTopListOrder::ShowPending()
{
    TAV_ASSERT(m_havePending, kUnit, 692);
    m_havePending = false;
    m_missingCount = 0;
    m_missingText.clear();
    m_displayed = m_pending;
    m_indexValid = false;
}

const std::vector<int>& TTopListOrder::DisplayedIndex()
{
    if (m_indexValid)
        return m_index;
    m_index.resize(size_t(m_displayed.size()));
    for (int row = 0; row < int(m_displayed.size()); ++row)
        m_index[size_t(row)] = row;
    const auto symbolOf = [this](int row) { return QByteArrayView(m_displayed[row].symbol); };
    std::stable_sort(m_index.begin(), m_index.end(),
                     [&](int a, int b) { return CompareIgnoringCase(symbolOf(a), symbolOf(b)) < 0; });
    m_index.erase(std::unique(m_index.begin(), m_index.end(),
                              [&](int a, int b) { return CompareIgnoringCase(symbolOf(a), symbolOf(b)) == 0; }),
                  m_index.end());
    m_indexValid = true;
    return m_index;
}

void TTopListOrder::UpdateInPlace()
{
    m_missingCount = 0;
    m_missingText.clear();
    // An in-place copy keeps every symbol's letter-case-free form, so the
    // index stays valid until another order is shown.
    const std::vector<int>& index = DisplayedIndex();
    for (const TQuentTopListEntry& entry : std::as_const(m_pending)) {
        const auto found = std::lower_bound(index.begin(), index.end(), entry.symbol, [this](int row, const QByteArray& symbol) {
            return CompareIgnoringCase(m_displayed[row].symbol, symbol) < 0;
        });
        if (found != index.end() && CompareIgnoringCase(m_displayed[*found].symbol, entry.symbol) == 0)
            m_displayed[*found] = entry;
        else
            NoteMissing(entry.symbol);
    }
    if (m_missingCount > kNamedMissing)
        m_missingText += QStringLiteral(" and %1 more").arg(m_missingCount - kNamedMissing);
}

void TTopListOrder::NoteMissing(const QByteArray& symbol)
{
    ++m_missingCount;
    if (m_missingCount == 1)
        m_missingText = QString::fromUtf8(symbol);
    else if (m_missingCount <= kNamedMissing)
        m_missingText += QStringLiteral(", ") + QString::fromUtf8(symbol);
}
