#pragma once
// A list of rows read newest first, with value semantics at constant cost.
//
// Rows live in an append-only buffer shared by every copy of the list; a list
// value is a window [begin, end) of that buffer read backwards, so index 0 is
// the row appended last. Inserting a row at the front appends to the buffer,
// and a copy handed to a grid keeps seeing exactly the rows it was given:
// later rows land beyond its end, and dropping old rows only moves the
// owner's begin. A copy that inserts while it no longer ends at the buffer's
// tip takes a private buffer first. The buffer is compacted once the dropped
// rows are seven times the kept ones, so a bounded list costs bounded memory
// and every insertion costs amortised constant time (a seventh of a row copy).
#include <QtGlobal>
#include <algorithm>
#include <iterator>
#include <memory>
#include <deque>
#include <utility>
#include <vector>

template <typename T>
class TNewestFirstList {
    // Rows never move once stored: a list that only grows (the unbounded
    // styles) neither copies its rows to grow nor touches its memory twice.
    using Buffer = std::deque<T>;

public:
    using value_type = T;
    using size_type = qsizetype;
    using const_reference = const T&;
    using const_iterator = std::reverse_iterator<typename Buffer::const_iterator>;
    using iterator = const_iterator;

    TNewestFirstList() = default;

    qsizetype size() const { return m_end - m_begin; }
    qsizetype count() const { return size(); }
    qsizetype length() const { return size(); }
    bool isEmpty() const { return m_end == m_begin; }
    bool empty() const { return isEmpty(); }

    // Index 0 is the newest row. The index must lie in [0, size()).
    const T& at(qsizetype index) const
    {
        Q_ASSERT(index >= 0 && index < size());
        return (*m_buffer)[static_cast<size_t>(m_end - 1 - index)];
    }
    const T& operator[](qsizetype index) const { return at(index); }
    const T& first() const { return at(0); }
    const T& constFirst() const { return at(0); }
    const T& last() const { return at(size() - 1); }
    const T& constLast() const { return at(size() - 1); }

    const_iterator begin() const { return const_iterator(IterAt(m_end)); }
    const_iterator end() const { return const_iterator(IterAt(m_begin)); }
    const_iterator cbegin() const { return begin(); }
    const_iterator cend() const { return end(); }

    // Puts the row at index 0. With a limit above 0 the list then keeps only
    // the newest `limit` rows.
    void PushFront(T row, qsizetype limit = 0)
    {
        if (!m_buffer || static_cast<qsizetype>(m_buffer->size()) != m_end)
            Reseat();
        m_buffer->push_back(std::move(row));
        ++m_end;
        if (limit > 0 && size() > limit)
            m_begin = m_end - limit;
        if (m_begin > 0 && m_begin >= 7 * size())
            Reseat();
    }

    // Empties this list; copies handed out keep their rows.
    void clear()
    {
        m_buffer.reset();
        m_begin = m_end = 0;
    }

    // The rows oldest first, as they sit in the buffer (for tests and for
    // callers that need a plain array).
    std::vector<T> OldestFirst() const
    {
        if (!m_buffer)
            return {};
        return std::vector<T>(IterAt(m_begin), IterAt(m_end));
    }

    friend bool operator==(const TNewestFirstList& a, const TNewestFirstList& b)
    {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
    }

private:
    typename Buffer::const_iterator IterAt(qsizetype position) const
    {
        static const Buffer none;
        return m_buffer ? m_buffer->cbegin() + position : none.cbegin();
    }

    // Moves the live rows into a buffer of this list's own.
    void Reseat()
    {
        auto fresh = std::make_shared<Buffer>();
        if (m_buffer) {
            // Rows no copy of the list can see any more are moved, not copied.
            if (m_buffer.use_count() == 1)
                fresh->insert(fresh->end(), std::make_move_iterator(m_buffer->begin() + m_begin),
                              std::make_move_iterator(m_buffer->begin() + m_end));
            else
                fresh->insert(fresh->end(), m_buffer->cbegin() + m_begin, m_buffer->cbegin() + m_end);
        }
        m_buffer = std::move(fresh);
        m_end = size();
        m_begin = 0;
    }

    std::shared_ptr<Buffer> m_buffer;
    qsizetype m_begin = 0;
    qsizetype m_end = 0;
};
