#pragma once
// A text-to-text hash map with separate chaining, its own hash function, growth
// by roughly 1.5x and a modification stamp that makes stale iterators fail loudly.
//
// The alert window builds one table per alert text and throws it away right
// after, so a table keeps its first buckets and entries inside the object and
// recycles removed entries: filling a table with up to 42 fields costs
// no heap allocation beyond the texts themselves.
#include <QByteArray>
#include <QByteArrayView>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

// Raised by iterators used after their table changed, or without a current entry.
class EMapIteratorError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One key/value pair. The key never changes while the entry is in a table.
class THashEntry {
public:
    const QByteArray& Key() const { return m_key; }
    const QByteArray& Value() const { return m_value; }
    THashEntry* Next() const { return m_next; }

private:
    friend class tHashTable;
    friend class tHashTableIterator;
    friend class THashEntryPool;
    QByteArray m_key;
    QByteArray m_value;
    THashEntry* m_next = nullptr;
    uint32_t m_hash = 0; // HashString(m_key), so that a rehash never reads the key
};

// Storage for entries: a block inside the table, then blocks of doubling size.
// Entries never move, so chains can link them by address; freed entries are
// kept on a free list for the next insertion.
class THashEntryPool {
public:
    THashEntryPool() = default;
    THashEntryPool(const THashEntryPool&) = delete;
    THashEntryPool& operator=(const THashEntryPool&) = delete;

    THashEntry* Acquire(const QByteArray& key, const QByteArray& value, uint32_t hash);
    void Release(THashEntry* entry);

private:
    static constexpr int InlineEntries = 48;

    THashEntry* Fresh();

    THashEntry m_inline[InlineEntries];
    std::vector<std::unique_ptr<THashEntry[]>> m_blocks;
    THashEntry* m_block = m_inline; // the block fresh entries come from
    int m_blockSize = InlineEntries;
    int m_blockUsed = 0;
    THashEntry* m_free = nullptr;
};

// The raw arithmetic of the table's hash: whole little-endian 32-bit words
// (the terminating zero byte included), then the last bytes one at a time.
uint32_t HashString(QByteArrayView key);

class tHashTableIterator;

class tHashTable {
public:
    explicit tHashTable(int initialBuckets = 0);
    virtual ~tHashTable();
    tHashTable(const tHashTable&) = delete;
    tHashTable& operator=(const tHashTable&) = delete;

    virtual void Rehash(int newBucketCount);
    virtual void Grow();
    virtual void Add(const QByteArray& key, const QByteArray& value);
    virtual std::unique_ptr<tHashTableIterator> NewIterator();
    virtual bool ContainsKey(QByteArrayView key) const;
    virtual bool ContainsValue(QByteArrayView value) const;
    virtual QByteArray Lookup(QByteArrayView key) const;
    // False (and the value replaced) when the key was already present.
    virtual bool Put(const QByteArray& key, const QByteArray& value);
    // The removed value, or an empty text when the key was absent.
    virtual QByteArray Remove(QByteArrayView key);
    virtual int Count() const;
    virtual void Clear();

    uint32_t Stamp() const { return m_stamp; }
    int BucketCount() const { return m_bucketCount; }

private:
    friend class tHashTableIterator;

    // Bucket arrays of up to InlineBuckets heads live in m_inlineBuckets; a
    // rehash places the new array in the part the old one does not occupy.
    static constexpr int InlineBuckets = 128;

    THashEntry* Find(QByteArrayView key) const;
    // The link (a chain head or an entry's Next) that holds the key's entry,
    // or the null link at the end of its chain.
    THashEntry** LinkOf(QByteArrayView key, uint32_t hash) const;
    // Lowest bucket at or after `from` with a non-empty chain, or -1.
    int FirstUsedBucket(int from) const;
    THashEntry** PlaceBuckets(int count, std::unique_ptr<THashEntry*[]>& heap);

    THashEntry* m_inlineBuckets[InlineBuckets];
    std::unique_ptr<THashEntry*[]> m_heapBuckets;
    THashEntry** m_buckets = m_inlineBuckets;
    int m_bucketCount = 0;
    uint32_t m_stamp = 0;
    int m_count = 0;
    THashEntryPool m_pool;
};

// The operations every map iterator offers.
class tMapIterator {
public:
    virtual ~tMapIterator() = default;
    virtual void Next() = 0;
    virtual void RemoveCurrent() = 0;
    virtual bool HasNext() const = 0;
    virtual QByteArray Key() const = 0;
    virtual QByteArray Value() const = 0;
    virtual bool IsValid() const = 0;
    virtual void SetValue(const QByteArray& value) = 0;
    virtual bool InSync() const = 0;
};

// Walks buckets in ascending order, each chain from head to tail. Must not
// outlive its table. Any change of the table's stamp other than through this
// iterator's own RemoveCurrent makes every later call raise.
class tHashTableIterator : public tMapIterator {
public:
    explicit tHashTableIterator(tHashTable& table);

    void Next() override;
    void RemoveCurrent() override;
    bool HasNext() const override;
    QByteArray Key() const override;
    QByteArray Value() const override;
    bool IsValid() const override;
    void SetValue(const QByteArray& value) override;
    bool InSync() const override;

private:
    void CheckInSync() const;
    void Advance();

    int m_bucketIndex = 0;
    THashEntry* m_current = nullptr;
    uint32_t m_expectedStamp;
    bool m_justRemoved = false;
    int m_position = 0;
    tHashTable* m_table;
};
