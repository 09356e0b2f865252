#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "system/critical_section_lock.h"
#include "system/hash_table.h"

namespace {

std::vector<std::int32_t> IntegerKeys(const HashTable& table) {
    HashItemList keys;
    table.keys(keys);
    std::vector<std::int32_t> out;
    for (const HashItem& k : keys) out.push_back(std::get<std::int32_t>(k));
    return out;
}

}  // namespace

TEST(HashTableTest, PutReplacesAndRemoveReportsPresence) {
    HashTable table;
    ASSERT_TRUE(table.create());
    EXPECT_EQ(table.put(7, 100), 0);
    EXPECT_EQ(table.put(7, 200), 1);
    EXPECT_EQ(table.count(), 1);
    EXPECT_EQ(table.getInteger(7), 200);

    table.clear();
    for (int k = 1; k <= 3; ++k) table.put(k, k * 10);
    EXPECT_EQ(IntegerKeys(table), (std::vector<std::int32_t>{1, 2, 3}));
    EXPECT_EQ(table.remove(2), 1);
    EXPECT_EQ(IntegerKeys(table), (std::vector<std::int32_t>{1, 3}));
    EXPECT_EQ(table.remove(2), 0);
    EXPECT_FALSE(table.containsKey(2));
    EXPECT_TRUE(table.containsKey(3));
    EXPECT_TRUE(table.containsValue(30));
    EXPECT_FALSE(table.containsValue(20));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(table.get(2)));
}

TEST(HashTableTest, NinthKeyGrowsAndReversesChains) {
    HashTable table;
    ASSERT_TRUE(table.create());
    // 1 and 254 share bucket 1 both in 11 and in 23 buckets (254 = 1 + 11 * 23).
    table.put(1, 1);
    table.put(254, 254);
    for (int k = 2; k <= 7; ++k) table.put(k, k);
    EXPECT_EQ(table.bucketCount(), 11);
    EXPECT_EQ(IntegerKeys(table), (std::vector<std::int32_t>{254, 1, 2, 3, 4, 5, 6, 7}));
    table.put(8, 8);  // the 9th key: 8 entries reached the threshold
    EXPECT_EQ(table.bucketCount(), 23);
    EXPECT_EQ(IntegerKeys(table), (std::vector<std::int32_t>{1, 254, 2, 3, 4, 5, 6, 7, 8}));
    for (int k : {1, 254, 2, 3, 4, 5, 6, 7, 8}) EXPECT_EQ(table.getInteger(k), k) << k;
    for (int k = 100; k < 120; ++k) table.put(k, k);
    EXPECT_EQ(table.bucketCount(), 47);
    EXPECT_EQ(table.count(), 29);
}

TEST(HashTableTest, TextAndByteKeys) {
    HashTable table;
    ASSERT_TRUE(table.createTextText());
    EXPECT_EQ(table.put(Text("Key"), Text("upper")), 0);
    EXPECT_EQ(table.put(Text("key"), Text("lower")), 0);
    EXPECT_EQ(table.getText(Text("Key")), "upper");
    EXPECT_EQ(table.getText(Text("key")), "lower");
    // A long key's hash wraps negative; its bucket must still be in range.
    Text longKey(40, 'z');
    EXPECT_EQ(table.put(longKey, Text("中文值")), 0);
    EXPECT_EQ(table.getText(longKey), "中文值");
    // Keys of the wrong type are refused rather than misread.
    EXPECT_EQ(table.put(5, Text("x")), -1);
    EXPECT_EQ(table.count(), 3);

    HashTable bytes;
    ASSERT_TRUE(bytes.createBytesBytes());
    ByteBuffer a = {1, 0, 2}, b = {1, 0, 3};
    bytes.put(a, b);
    bytes.put(b, ByteBuffer{});
    EXPECT_EQ(bytes.getBytes(a), b);
    EXPECT_TRUE(bytes.containsKey(b));
    EXPECT_TRUE(bytes.getBytes(b).empty());
    EXPECT_EQ(bytes.getInteger(a), 0x030001);
}

TEST(HashTableTest, TablesWithoutUsableStorage) {
    HashTable table;
    EXPECT_FALSE(table.create(3, 3, 11, 0.0f));
    EXPECT_FALSE(table.create(3, 3, -1, 0.75f));
    EXPECT_FALSE(table.hasStorage());
    EXPECT_EQ(table.put(1, 1), -1);
    EXPECT_EQ(table.remove(1), 0);
    HashItemList keys{std::int32_t{9}};
    EXPECT_EQ(table.keys(keys), 0);
    EXPECT_TRUE(keys.empty());

    // A failed create drops the storage the object had.
    ASSERT_TRUE(table.create());
    table.put(1, 1);
    EXPECT_FALSE(table.create(3, 3, 11, 0.00000001f));
    EXPECT_EQ(table.count(), 0);
    EXPECT_EQ(table.put(1, 1), -1);

    // Zero buckets: lookups find nothing, the first put grows to one bucket.
    HashTable empty;
    ASSERT_TRUE(empty.create(3, 3, 0));
    EXPECT_EQ(empty.remove(4), 0);
    EXPECT_FALSE(empty.containsKey(4));
    EXPECT_EQ(empty.put(4, 40), 0);
    EXPECT_EQ(empty.put(5, 50), 0);
    EXPECT_EQ(empty.getInteger(4), 40);
    EXPECT_EQ(empty.getInteger(5), 50);
}

TEST(HashTableTest, CopiesShareStorage) {
    auto* first = new HashTable;
    ASSERT_TRUE(first->createIntegerText());
    HashTable second = first->copy();
    EXPECT_EQ(second.storageReferences(), 2);
    first->put(1, Text("one"));
    EXPECT_EQ(second.getText(1), "one");
    delete first;
    EXPECT_EQ(second.storageReferences(), 1);
    EXPECT_EQ(second.put(2, Text("two")), 0);
    EXPECT_EQ(second.count(), 2);
    second.releaseStorage();
    EXPECT_EQ(second.put(3, Text("three")), -1);
}

TEST(HashTableTest, SetTypesClearsHeldItemsOfTheOldType) {
    HashTable table;
    ASSERT_TRUE(table.createTextText());
    table.put(Text("a"), Text("b"));
    EXPECT_TRUE(table.setTypes());
    int k = 0, v = 0;
    EXPECT_TRUE(table.getTypes(k, v));
    EXPECT_EQ(k, kHashInteger);
    EXPECT_EQ(v, kHashInteger);
    EXPECT_EQ(table.count(), 0);
    EXPECT_EQ(table.put(1, 2), 0);
}

TEST(HashTableTest, SavesAndLoadsBytes) {
    HashTable table;
    ASSERT_TRUE(table.createTextBytes(3));
    for (int i = 0; i < 12; ++i) table.put(Text("k") + std::to_string(i), ByteBuffer(i, static_cast<std::uint8_t>(i)));
    ByteBuffer saved = table.saveToBytes();
    ASSERT_GE(saved.size(), 4u);
    EXPECT_EQ(Text(saved.begin(), saved.begin() + 4), "hash");

    HashTable loaded;
    ASSERT_TRUE(loaded.loadFromBytes(saved));
    EXPECT_EQ(loaded.count(), 12);
    EXPECT_EQ(loaded.bucketCount(), table.bucketCount());
    EXPECT_EQ(loaded.getBytes(Text("k5")), ByteBuffer(5, 5));
    EXPECT_EQ(loaded.saveToBytes(), saved);  // same chains, same order

    // Damaged input leaves the table as it was.
    ByteBuffer truncated(saved.begin(), saved.end() - 1);
    EXPECT_FALSE(loaded.loadFromBytes(truncated));
    ByteBuffer wrongMagic = saved;
    wrongMagic[0] = 'H';
    EXPECT_FALSE(loaded.loadFromBytes(wrongMagic));
    ByteBuffer hugeLength = saved;
    hugeLength[24] = hugeLength[25] = hugeLength[26] = 0xFF;  // first key's length
    EXPECT_FALSE(loaded.loadFromBytes(hugeLength));
    EXPECT_EQ(loaded.count(), 12);
}

TEST(CriticalSectionLockTest, SerialisesThreads) {
    CriticalSectionLock lock;
    long counter = 0;
    auto work = [&] {
        for (int i = 0; i < 20000; ++i) {
            CriticalSectionLock::Scope scope(lock);
            long seen = counter;
            counter = seen + 1;
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 40000);
    lock.destroy();
    lock.destroy();  // a second destroy does nothing
}
