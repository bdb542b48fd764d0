#include "Shared/HashTables.h"
#include "base/Assertions.h"
#include <QtEndian>
#include <algorithm>

namespace {
constexpr const char* AssertUnit = "HashTables";

const char* const IteratorNoLongerValid = "Iterator no longer valid";
const char* const EntryNotValid = "The entry is not valid";
}

uint32_t HashString(QByteArrayView key)
{
    const auto* bytes = reinterpret_cast<const uchar*>(key.data());
    const qsizetype length = key.size();
    // Whole words, the terminating zero counted as a byte of the key.
    const qsizetype words = (length + 1) / 4;
    uint32_t h = 0;
    for (qsizetype i = 0; i < words; ++i) {
        const qsizetype at = 4 * i;
        // When the length is 3 mod 4, the last word's top byte is the terminating
        // zero; a view need not be terminated, so it is not read from memory.
        const uint32_t word = at + 4 <= length
                                  ? qFromLittleEndian<uint32_t>(bytes + at)
                                  : uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8
                                        | uint32_t(bytes[at + 2]) << 16;
        h = (h * 9 + uint32_t(i)) ^ word;
    }
    for (qsizetype k = 4 * words; k < length; ++k)
        h = h * 33 + bytes[k];
    return h;
}

// ---------------------------------------------------------------------------

THashEntry* THashEntryPool::Acquire(const QByteArray& key, const QByteArray& value, uint32_t hash)
{
    THashEntry* entry = m_free;
    if (entry)
        m_free = entry->m_next;
    else
        entry = Fresh();
    entry->m_key = key;
    entry->m_value = value;
    entry->m_hash = hash;
    entry->m_next = nullptr;
    return entry;
}

void THashEntryPool::Release(THashEntry* entry)
{
    // Give the texts back now: a freed entry must not keep their memory alive.
    entry->m_key.clear();
    entry->m_value.clear();
    entry->m_next = m_free;
    m_free = entry;
}

THashEntry* THashEntryPool::Fresh()
{
    if (m_blockUsed == m_blockSize) {
        m_blockSize *= 2;
        m_blocks.push_back(std::make_unique<THashEntry[]>(m_blockSize));
        m_block = m_blocks.back().get();
        m_blockUsed = 0;
    }
    return &m_block[m_blockUsed++];
}

// ---------------------------------------------------------------------------

tHashTable::tHashTable(int initialBuckets)
{
    TAV_ASSERT(initialBuckets >= 0, AssertUnit, __LINE__);
    m_buckets = PlaceBuckets(initialBuckets, m_heapBuckets);
    m_bucketCount = initialBuckets;
}

tHashTable::~tHashTable() = default;

THashEntry** tHashTable::PlaceBuckets(int count, std::unique_ptr<THashEntry*[]>& heap)
{
    // The part of the inline area the current array occupies, if it is there.
    qsizetype usedFrom = 0;
    qsizetype usedTo = 0;
    if (!m_heapBuckets) {
        usedFrom = m_buckets - m_inlineBuckets;
        usedTo = usedFrom + m_bucketCount;
    }
    THashEntry** place;
    if (count <= usedFrom) {
        place = m_inlineBuckets;
    } else if (count <= InlineBuckets - usedTo) {
        place = m_inlineBuckets + InlineBuckets - count;
    } else {
        heap = std::make_unique<THashEntry*[]>(count);
        place = heap.get();
    }
    std::fill_n(place, count, nullptr);
    return place;
}

void tHashTable::Rehash(int newBucketCount)
{
    // Fewer than one bucket cannot hold entries: they would be lost.
    TAV_ASSERT(newBucketCount > 0 || (newBucketCount == 0 && m_count == 0), AssertUnit, __LINE__);
    std::unique_ptr<THashEntry*[]> newHeap;
    THashEntry** const fresh = PlaceBuckets(newBucketCount, newHeap);
    THashEntry** const old = m_buckets;
    const int oldCount = m_bucketCount;
    m_buckets = fresh;
    m_bucketCount = newBucketCount;
    ++m_stamp;
    for (int b = 0; b < oldCount; ++b) {
        THashEntry* entry = old[b];
        while (entry) {
            THashEntry* const following = entry->m_next;
            THashEntry*& head = m_buckets[entry->m_hash % uint32_t(m_bucketCount)];
            entry->m_next = head;
            head = entry;
            entry = following;
        }
    }
    m_heapBuckets = std::move(newHeap); // frees the old array if it was on the heap
}

void tHashTable::Grow()
{
    Rehash(m_bucketCount * 3 / 2 + 3);
}

void tHashTable::Add(const QByteArray& key, const QByteArray& value)
{
    Put(key, value);
}

std::unique_ptr<tHashTableIterator> tHashTable::NewIterator()
{
    return std::make_unique<tHashTableIterator>(*this);
}

THashEntry** tHashTable::LinkOf(QByteArrayView key, uint32_t hash) const
{
    THashEntry** link = &m_buckets[hash % uint32_t(m_bucketCount)];
    while (*link && ((*link)->m_hash != hash || (*link)->m_key != key))
        link = &(*link)->m_next;
    return link;
}

THashEntry* tHashTable::Find(QByteArrayView key) const
{
    if (m_bucketCount < 1)
        return nullptr;
    return *LinkOf(key, HashString(key));
}

bool tHashTable::ContainsKey(QByteArrayView key) const
{
    return Find(key) != nullptr;
}

bool tHashTable::ContainsValue(QByteArrayView value) const
{
    for (int b = 0; b < m_bucketCount; ++b)
        for (const THashEntry* entry = m_buckets[b]; entry; entry = entry->m_next)
            if (entry->m_value == value)
                return true;
    return false;
}

QByteArray tHashTable::Lookup(QByteArrayView key) const
{
    const THashEntry* entry = Find(key);
    return entry ? entry->m_value : QByteArray();
}

bool tHashTable::Put(const QByteArray& key, const QByteArray& value)
{
    const uint32_t hash = HashString(key);
    if (m_bucketCount > 0) {
        if (THashEntry* existing = *LinkOf(key, hash)) {
            existing->m_value = value;
            return false;
        }
    }
    ++m_stamp;
    ++m_count;
    if (3LL * m_bucketCount < 4LL * m_count)
        Grow();
    THashEntry* const entry = m_pool.Acquire(key, value, hash);
    THashEntry*& head = m_buckets[hash % uint32_t(m_bucketCount)];
    entry->m_next = head;
    head = entry;
    return true;
}

QByteArray tHashTable::Remove(QByteArrayView key)
{
    if (m_bucketCount == 0)
        return QByteArray();
    THashEntry** const link = LinkOf(key, HashString(key));
    THashEntry* const entry = *link;
    if (!entry)
        return QByteArray();
    ++m_stamp;
    QByteArray value = std::move(entry->m_value);
    *link = entry->m_next;
    m_pool.Release(entry);
    --m_count;
    return value;
}

int tHashTable::Count() const
{
    return m_count;
}

void tHashTable::Clear()
{
    for (int b = 0; b < m_bucketCount; ++b) {
        THashEntry* entry = m_buckets[b];
        while (entry) {
            THashEntry* const following = entry->m_next;
            m_pool.Release(entry);
            entry = following;
        }
        m_buckets[b] = nullptr;
    }
    m_count = 0;
    ++m_stamp;
}

int tHashTable::FirstUsedBucket(int from) const
{
    for (int b = from; b < m_bucketCount; ++b)
        if (m_buckets[b])
            return b;
    return -1;
}

// ---------------------------------------------------------------------------

tHashTableIterator::tHashTableIterator(tHashTable& table)
    : m_expectedStamp(table.m_stamp), m_table(&table)
{
    if (table.m_count > 0) {
        m_bucketIndex = table.FirstUsedBucket(0);
        m_current = table.m_buckets[m_bucketIndex];
    }
}

void tHashTableIterator::CheckInSync() const
{
    if (!InSync())
        throw EMapIteratorError(IteratorNoLongerValid);
}

void tHashTableIterator::Advance()
{
    // Past the end stays past the end.
    if (!m_current)
        return;
    m_current = m_current->m_next;
    if (m_current)
        return;
    const int bucket = m_table->FirstUsedBucket(m_bucketIndex + 1);
    if (bucket >= 0) {
        m_bucketIndex = bucket;
        m_current = m_table->m_buckets[bucket];
    }
}

void tHashTableIterator::Next()
{
    CheckInSync();
    if (m_justRemoved) {
        // RemoveCurrent has already stepped onto the following entry.
        m_justRemoved = false;
        return;
    }
    if (m_position < m_table->m_count) {
        Advance();
        if (m_current)
            ++m_position;
    }
}

void tHashTableIterator::RemoveCurrent()
{
    CheckInSync();
    if (m_justRemoved || !m_current)
        return;
    const QByteArray key = m_current->m_key;
    if (m_position < m_table->m_count)
        Advance();
    m_table->Remove(key);
    m_justRemoved = true;
    m_expectedStamp = m_table->m_stamp;
}

bool tHashTableIterator::HasNext() const
{
    CheckInSync();
    if (m_position < m_table->m_count - 1)
        return true;
    return m_justRemoved && m_position < m_table->m_count;
}

QByteArray tHashTableIterator::Key() const
{
    CheckInSync();
    return m_justRemoved || !m_current ? QByteArray() : m_current->m_key;
}

QByteArray tHashTableIterator::Value() const
{
    CheckInSync();
    return m_justRemoved || !m_current ? QByteArray() : m_current->m_value;
}

bool tHashTableIterator::IsValid() const
{
    CheckInSync();
    return m_current && m_position < m_table->m_count && !m_justRemoved;
}

void tHashTableIterator::SetValue(const QByteArray& value)
{
    CheckInSync();
    if (!IsValid())
        throw EMapIteratorError(EntryNotValid);
    m_current->m_value = value;
}

bool tHashTableIterator::InSync() const
{
    return m_table->m_stamp == m_expectedStamp;
}
