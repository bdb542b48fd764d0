#include "base/Assertions.h"
#include "Shared/HashTables.h"
#include <gtest/gtest.h>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {
QByteArray KeyNumber(int i)
{
    return "field" + QByteArray::number(i);
}

// Expects the call to raise EMapIteratorError with exactly that message.
template <typename Call>
void ExpectIteratorError(Call call, const char* message)
{
    try {
        call();
        ADD_FAILURE() << "no exception, expected: " << message;
    } catch (const EMapIteratorError& e) {
        EXPECT_STREQ(e.what(), message);
    }
}

std::vector<QByteArray> KeysInIterationOrder(tHashTable& table)
{
    std::vector<QByteArray> keys;
    auto it = table.NewIterator();
    for (; it->IsValid(); it->Next())
        keys.push_back(it->Key());
    return keys;
}
}

TEST(HashString, WordsIncludeTheTerminatingZeroAndTheTailIsBytewise)
{
    EXPECT_EQ(HashString(""), 0u);
    EXPECT_EQ(HashString("a"), 97u);
    EXPECT_EQ(HashString("abc"), 6513249u);
    EXPECT_EQ(HashString("abcd"), 1684234849u);
    EXPECT_EQ(HashString("abcde"), 4040142566u);
    // Two words, the second one closed by the terminating zero: (h*9+1) xor word.
    EXPECT_EQ(HashString("abcdefg"), (1684234849u * 9u + 1u) ^ 0x00676665u);
    // High bytes are unsigned and the arithmetic wraps.
    EXPECT_EQ(HashString("\xff\xff"), 255u * 33u + 255u);
    // A view into the middle of a longer text hashes only its own bytes.
    const QByteArray text = "abcXYZ";
    EXPECT_EQ(HashString(QByteArrayView(text).first(3)), 6513249u);
}

TEST(HashTable, GrowsThroughTheBucketSequenceAsEntriesAreAdded)
{
    tHashTable table(0);
    EXPECT_EQ(table.BucketCount(), 0);
    std::vector<int> counts;
    std::vector<int> grewAt;
    for (int i = 1; i <= 43; ++i) {
        const int before = table.BucketCount();
        table.Add(KeyNumber(i), QByteArray::number(i));
        if (table.BucketCount() != before) {
            counts.push_back(table.BucketCount());
            grewAt.push_back(i);
        }
    }
    EXPECT_EQ(counts, (std::vector<int>{3, 7, 13, 22, 36, 57, 88}));
    EXPECT_EQ(grewAt, (std::vector<int>{1, 3, 6, 10, 17, 28, 43}));
    EXPECT_EQ(table.Count(), 43);
    for (int i = 1; i <= 43; ++i)
        EXPECT_EQ(table.Lookup(KeyNumber(i)), QByteArray::number(i));
}

TEST(HashTable, EmptyTableAnswersWithoutBuckets)
{
    tHashTable table(0);
    EXPECT_EQ(table.Lookup("x"), QByteArray());
    EXPECT_FALSE(table.ContainsKey("x"));
    EXPECT_FALSE(table.ContainsValue(""));
    EXPECT_EQ(table.Remove("x"), QByteArray());
    EXPECT_EQ(table.Stamp(), 0u);
    EXPECT_EQ(table.Count(), 0);
    table.Clear();
    EXPECT_EQ(table.BucketCount(), 0);
    EXPECT_TRUE(table.Put("x", "1"));
    EXPECT_EQ(table.BucketCount(), 3);
}

TEST(HashTable, PutReplacesRemoveUnlinksAndKeysCompareExactly)
{
    tHashTable table(0);
    EXPECT_TRUE(table.Put("Symbol", "MSFT"));
    EXPECT_TRUE(table.Put("symbol", "ibm"));
    EXPECT_TRUE(table.Put("a", "plain"));
    EXPECT_TRUE(table.Put(QByteArray("a\0", 2), "with zero"));
    EXPECT_TRUE(table.Put("empty", ""));
    EXPECT_EQ(table.Count(), 5);

    EXPECT_FALSE(table.Put("Symbol", "AAPL"));
    EXPECT_EQ(table.Count(), 5);
    EXPECT_EQ(table.Lookup("Symbol"), "AAPL");
    EXPECT_EQ(table.Lookup("symbol"), "ibm");
    EXPECT_EQ(table.Lookup("a"), "plain");
    EXPECT_EQ(table.Lookup(QByteArray("a\0", 2)), "with zero");
    EXPECT_TRUE(table.ContainsKey("empty"));
    EXPECT_EQ(table.Lookup("empty"), table.Lookup("absent"));
    EXPECT_TRUE(table.ContainsValue("ibm"));
    EXPECT_TRUE(table.ContainsValue(""));
    EXPECT_FALSE(table.ContainsValue("MSFT"));

    EXPECT_EQ(table.Remove("symbol"), "ibm");
    EXPECT_EQ(table.Remove("symbol"), QByteArray());
    EXPECT_FALSE(table.ContainsKey("symbol"));
    EXPECT_EQ(table.Lookup("Symbol"), "AAPL");
    EXPECT_EQ(table.Count(), 4);

    table.Add("Symbol", "GOOG"); // Add of an existing key replaces as well
    EXPECT_EQ(table.Lookup("Symbol"), "GOOG");
    EXPECT_EQ(table.Count(), 4);
}

TEST(HashTable, ManyEntriesSurviveRehashesRemovalsClearAndReuse)
{
    // Large enough to leave the buckets and entries kept inside the object.
    tHashTable table(0);
    std::map<QByteArray, QByteArray> model;
    for (int i = 0; i < 2000; ++i) {
        table.Add(KeyNumber(i), "v" + QByteArray::number(i * 7));
        model[KeyNumber(i)] = "v" + QByteArray::number(i * 7);
    }
    for (int i = 0; i < 2000; i += 3) {
        EXPECT_EQ(table.Remove(KeyNumber(i)), model[KeyNumber(i)]);
        model.erase(KeyNumber(i));
    }
    for (int i = 5000; i < 5500; ++i) { // refills freed entries first
        table.Add(KeyNumber(i), "n");
        model[KeyNumber(i)] = "n";
    }
    ASSERT_EQ(table.Count(), int(model.size()));
    for (int i = 0; i < 5500; ++i) {
        const auto found = model.find(KeyNumber(i));
        EXPECT_EQ(table.ContainsKey(KeyNumber(i)), found != model.end()) << i;
        EXPECT_EQ(table.Lookup(KeyNumber(i)), found != model.end() ? found->second : QByteArray());
    }
    const std::vector<QByteArray> keys = KeysInIterationOrder(table);
    EXPECT_EQ(std::set<QByteArray>(keys.begin(), keys.end()).size(), model.size());
    EXPECT_EQ(keys.size(), model.size());

    const int buckets = table.BucketCount();
    table.Clear();
    EXPECT_EQ(table.Count(), 0);
    EXPECT_EQ(table.BucketCount(), buckets);
    EXPECT_FALSE(table.ContainsKey(KeyNumber(1)));
    EXPECT_TRUE(KeysInIterationOrder(table).empty());
    table.Add("again", "yes");
    EXPECT_EQ(table.Lookup("again"), "yes");
    EXPECT_EQ(table.Count(), 1);
}

TEST(HashTable, ExplicitRehashKeepsEveryEntryWhetherGrowingOrShrinking)
{
    tHashTable table(300);
    EXPECT_EQ(table.BucketCount(), 300);
    for (int i = 0; i < 50; ++i)
        table.Add(KeyNumber(i), KeyNumber(i));
    EXPECT_EQ(table.BucketCount(), 300);
    for (const int buckets : {5, 1, 64, 127, 200, 64, 60}) {
        const uint32_t stamp = table.Stamp();
        table.Rehash(buckets);
        EXPECT_EQ(table.BucketCount(), buckets);
        EXPECT_EQ(table.Stamp(), stamp + 1);
        EXPECT_EQ(table.Count(), 50);
        for (int i = 0; i < 50; ++i)
            ASSERT_EQ(table.Lookup(KeyNumber(i)), KeyNumber(i)) << buckets;
        EXPECT_EQ(KeysInIterationOrder(table).size(), 50u);
    }
}

TEST(HashTable, BucketCountsThatWouldLoseEntriesAreRefused)
{
    EXPECT_THROW(tHashTable(-1), EAssertionFailed);
    tHashTable table(0);
    table.Rehash(0); // nothing to lose
    table.Add("k", "v");
    EXPECT_THROW(table.Rehash(0), EAssertionFailed);
    EXPECT_THROW(table.Rehash(-4), EAssertionFailed);
    EXPECT_EQ(table.Lookup("k"), "v");
}

TEST(HashTable, RemovedAndClearedEntriesReleaseTheirTexts)
{
    QByteArray value(100, 'v');
    QByteArray key(50, 'k');
    tHashTable table(0);
    table.Add(key, value);
    EXPECT_FALSE(value.isDetached());
    table.Remove(key);
    EXPECT_TRUE(value.isDetached());
    EXPECT_TRUE(key.isDetached());

    table.Add(key, value);
    table.Add("other", value);
    table.Clear();
    EXPECT_TRUE(value.isDetached());
    EXPECT_TRUE(key.isDetached());
}

TEST(HashTable, StampChangesOnStructuralChangesOnly)
{
    tHashTable table(0);
    table.Add("a", "1"); // +1 insert, +1 growth to 3 buckets
    EXPECT_EQ(table.Stamp(), 2u);
    table.Add("b", "2");
    EXPECT_EQ(table.Stamp(), 3u);
    table.Put("a", "changed");
    table.Remove("absent");
    EXPECT_EQ(table.Stamp(), 3u);
    table.Remove("a");
    EXPECT_EQ(table.Stamp(), 4u);
    table.Grow();
    EXPECT_EQ(table.Stamp(), 5u);
    table.Clear();
    EXPECT_EQ(table.Stamp(), 6u);
}

TEST(HashTableIterator, OrderIsBucketAscendingAndNewestFirstWithinAChain)
{
    tHashTable table(0);
    table.Rehash(50);
    // One-byte keys hash to their byte: 97 and 147 share bucket 47.
    table.Add("c", "");    // 99 -> 49
    table.Add("a", "");    // 97 -> 47
    table.Add("d", "");    // 100 -> 0
    table.Add("\x93", ""); // 147 -> 47
    table.Add("b", "");    // 98 -> 48
    EXPECT_EQ(KeysInIterationOrder(table),
              (std::vector<QByteArray>{"d", "\x93", "a", "b", "c"}));
}

TEST(HashTableIterator, EmptyTableAndRunningPastTheEnd)
{
    tHashTable table(0);
    auto empty = table.NewIterator();
    EXPECT_FALSE(empty->IsValid());
    EXPECT_FALSE(empty->HasNext());
    empty->Next();
    EXPECT_FALSE(empty->IsValid());
    EXPECT_EQ(empty->Key(), QByteArray());
    ExpectIteratorError([&] { empty->SetValue("x"); }, "The entry is not valid");

    table.Add("one", "1");
    table.Add("two", "2");
    auto it = table.NewIterator();
    EXPECT_TRUE(it->IsValid());
    EXPECT_TRUE(it->HasNext());
    it->Next();
    EXPECT_TRUE(it->IsValid());
    EXPECT_FALSE(it->HasNext());
    for (int i = 0; i < 3; ++i) {
        it->Next();
        EXPECT_FALSE(it->IsValid());
        EXPECT_FALSE(it->HasNext());
        EXPECT_EQ(it->Key(), QByteArray());
        EXPECT_EQ(it->Value(), QByteArray());
    }
    ExpectIteratorError([&] { it->SetValue("x"); }, "The entry is not valid");
    EXPECT_TRUE(it->InSync());
}

TEST(HashTableIterator, TableChangesInvalidateEveryOtherIterator)
{
    const std::vector<std::pair<const char*, std::function<void(tHashTable&)>>> changes = {
        {"insert", [](tHashTable& t) { t.Add("new", "x"); }},
        {"rehash", [](tHashTable& t) { t.Rehash(t.BucketCount()); }},
        {"grow", [](tHashTable& t) { t.Grow(); }},
        {"remove", [](tHashTable& t) { t.Remove("k2"); }},
        {"clear", [](tHashTable& t) { t.Clear(); }},
    };
    for (const auto& [name, change] : changes) {
        SCOPED_TRACE(name);
        tHashTable table(0);
        for (int i = 0; i < 4; ++i)
            table.Add("k" + QByteArray::number(i), "v");
        auto it = table.NewIterator();
        change(table);
        EXPECT_FALSE(it->InSync());
        ExpectIteratorError([&] { it->Next(); }, "Iterator no longer valid");
        ExpectIteratorError([&] { it->RemoveCurrent(); }, "Iterator no longer valid");
        ExpectIteratorError([&] { it->HasNext(); }, "Iterator no longer valid");
        ExpectIteratorError([&] { it->Key(); }, "Iterator no longer valid");
        ExpectIteratorError([&] { it->Value(); }, "Iterator no longer valid");
        ExpectIteratorError([&] { it->IsValid(); }, "Iterator no longer valid");
        ExpectIteratorError([&] { it->SetValue("x"); }, "Iterator no longer valid");
    }
}

TEST(HashTableIterator, ReplacingValuesKeepsIteratorsValid)
{
    tHashTable table(0);
    table.Add("a", "1");
    table.Add("b", "2");
    table.Add("c", "3");
    auto first = table.NewIterator();
    auto second = table.NewIterator();
    const QByteArray key = first->Key();
    EXPECT_FALSE(table.Put(key, "replaced"));
    table.Remove("absent");
    EXPECT_EQ(first->Value(), "replaced");
    second->SetValue("through iterator");
    EXPECT_TRUE(first->InSync());
    EXPECT_EQ(first->Value(), "through iterator");
    EXPECT_EQ(table.Lookup(key), "through iterator");
    first->Next();
    EXPECT_TRUE(first->IsValid());
}

TEST(HashTableIterator, RemoveCurrentStepsToTheFollowingEntryWithoutSkipping)
{
    tHashTable table(0);
    for (int i = 0; i < 12; ++i)
        table.Add(KeyNumber(i), QByteArray::number(i));
    const std::vector<QByteArray> order = KeysInIterationOrder(table);
    auto other = table.NewIterator();

    // Remove every other entry; the rest must be met in the original order.
    auto it = table.NewIterator();
    std::vector<QByteArray> kept;
    for (size_t i = 0; it->IsValid(); ++i) {
        EXPECT_EQ(it->Key(), order[i]);
        if (i % 2 == 0) {
            it->RemoveCurrent();
            EXPECT_TRUE(it->InSync());
            EXPECT_EQ(it->Key(), QByteArray());
            EXPECT_EQ(it->Value(), QByteArray());
            EXPECT_FALSE(it->IsValid());
            ExpectIteratorError([&] { it->SetValue("x"); }, "The entry is not valid");
            it->RemoveCurrent(); // a second call removes nothing more
        } else {
            kept.push_back(it->Key());
        }
        it->Next();
    }
    EXPECT_EQ(table.Count(), 6);
    EXPECT_EQ(KeysInIterationOrder(table), kept);
    ExpectIteratorError([&] { other->Next(); }, "Iterator no longer valid");
}

TEST(HashTableIterator, RemovingEveryEntryVisitsEachOnceAndEmptiesTheTable)
{
    for (const int size : {1, 2, 3, 17, 40, 300}) {
        SCOPED_TRACE(size);
        tHashTable table(0);
        for (int i = 0; i < size; ++i)
            table.Add(KeyNumber(i), QByteArray::number(i));
        std::multiset<QByteArray> visited;
        auto it = table.NewIterator();
        while (it->IsValid()) {
            visited.insert(it->Key());
            EXPECT_EQ(it->Value(), table.Lookup(it->Key()));
            it->RemoveCurrent();
            EXPECT_EQ(it->HasNext(), table.Count() > 0);
            it->Next();
        }
        EXPECT_EQ(table.Count(), 0);
        EXPECT_EQ(int(visited.size()), size);
        for (int i = 0; i < size; ++i)
            EXPECT_EQ(visited.count(KeyNumber(i)), 1u);
    }
}

TEST(HashTableIterator, HasNextDrivenLoopSeesEveryEntry)
{
    tHashTable table(0);
    for (int i = 0; i < 9; ++i)
        table.Add(KeyNumber(i), "");
    auto it = table.NewIterator();
    int seen = 1;
    while (it->HasNext()) {
        it->Next();
        ++seen;
    }
    EXPECT_EQ(seen, 9);
    EXPECT_TRUE(it->IsValid());
}

TEST(HashTableIterator, ErrorsAreOrdinaryStandardExceptions)
{
    tHashTable table(0);
    table.Add("k", "v");
    auto it = table.NewIterator();
    table.Add("k2", "v");
    try {
        it->Next();
        FAIL() << "no exception";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Iterator no longer valid");
    }
}
