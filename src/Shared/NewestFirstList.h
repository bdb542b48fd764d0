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
#include <cstddef>
#include <iterator>
#include <memory>
#include <new>
#include <utility>
#include <vector>

// The append-only buffer: rows in blocks of about 16 KB that never move once
// stored, so a list that only grows (the unbounded styles) neither copies its
// rows to grow nor touches its memory twice, and a row costs an allocation
// only once per block.
template <typename T>
class TRowBlocks {
public:
    static constexpr size_t RowsPerBlock = std::max<size_t>(16, 16384 / sizeof(T));

    class const_iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = const T*;
        using reference = const T&;

        const_iterator() = default;
        const_iterator(const TRowBlocks* blocks, size_t index) : m_blocks(blocks), m_index(index) {}
        reference operator*() const { return (*m_blocks)[m_index]; }
        pointer operator->() const { return &**this; }
        reference operator[](difference_type n) const { return (*m_blocks)[size_t(difference_type(m_index) + n)]; }
        const_iterator& operator++() { ++m_index; return *this; }
        const_iterator operator++(int) { const_iterator was = *this; ++m_index; return was; }
        const_iterator& operator--() { --m_index; return *this; }
        const_iterator operator--(int) { const_iterator was = *this; --m_index; return was; }
        const_iterator& operator+=(difference_type n) { m_index = size_t(difference_type(m_index) + n); return *this; }
        const_iterator& operator-=(difference_type n) { return *this += -n; }
        friend const_iterator operator+(const_iterator it, difference_type n) { return it += n; }
        friend const_iterator operator+(difference_type n, const_iterator it) { return it += n; }
        friend const_iterator operator-(const_iterator it, difference_type n) { return it -= n; }
        friend difference_type operator-(const const_iterator& a, const const_iterator& b)
        {
            return difference_type(a.m_index) - difference_type(b.m_index);
        }
        friend bool operator==(const const_iterator& a, const const_iterator& b) { return a.m_index == b.m_index; }
        friend auto operator<=>(const const_iterator& a, const const_iterator& b) { return a.m_index <=> b.m_index; }

    private:
        const TRowBlocks* m_blocks = nullptr;
        size_t m_index = 0;
    };

    TRowBlocks() = default;
    TRowBlocks(const TRowBlocks&) = delete;
    TRowBlocks& operator=(const TRowBlocks&) = delete;
    ~TRowBlocks()
    {
        for (size_t i = 0; i < m_size; ++i)
            Slot(i)->~T();
        for (T* block : m_blocks)
            ::operator delete(block, std::align_val_t(alignof(T)));
    }

    size_t size() const { return m_size; }
    const T& operator[](size_t index) const { return *const_cast<TRowBlocks*>(this)->Slot(index); }
    T& Mutable(size_t index) { return *Slot(index); }
    const_iterator cbegin() const { return {this, 0}; }
    const_iterator cend() const { return {this, m_size}; }

    void push_back(T row)
    {
        if (m_size == m_blocks.size() * RowsPerBlock)
            m_blocks.push_back(static_cast<T*>(::operator new(RowsPerBlock * sizeof(T), std::align_val_t(alignof(T)))));
        new (Slot(m_size)) T(std::move(row));
        ++m_size;
    }

private:
    T* Slot(size_t index) { return m_blocks[index / RowsPerBlock] + index % RowsPerBlock; }

    std::vector<T*> m_blocks;
    size_t m_size = 0;
};

template <typename T>
class TNewestFirstList {
    using Buffer = TRowBlocks<T>;

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
            const bool alone = m_buffer.use_count() == 1;
            for (qsizetype i = m_begin; i < m_end; ++i) {
                if (alone)
                    fresh->push_back(std::move(m_buffer->Mutable(size_t(i))));
                else
                    fresh->push_back((*m_buffer)[size_t(i)]);
            }
        }
        m_buffer = std::move(fresh);
        m_end = size();
        m_begin = 0;
    }

    std::shared_ptr<Buffer> m_buffer;
    qsizetype m_begin = 0;
    qsizetype m_end = 0;
};
