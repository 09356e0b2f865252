#pragma once
// Chained hash table with typed keys and values. Entries, key and value
// copies and the bucket array live in a private heap per table, so the
// storage goes away in one step. Copies of a table object share one
// storage; the last reference releases it (the count is atomic, so copies
// may be released on different threads). Not synchronised otherwise.
#include <cstdint>
#include <memory>
#include <variant>
#include <vector>

#include "system/text.h"

// Type codes of keys and values. Any other code holds every item as 0.
constexpr int kHashInteger = 3;
constexpr int kHashText = 10;
constexpr int kHashBytes = 11;

// A key or value as the caller passes it: integer, text or byte buffer.
using HashItem = std::variant<std::monostate, std::int32_t, Text, ByteBuffer>;
using HashItemList = std::vector<HashItem>;

class HashTable {
public:
    HashTable() = default;
    HashTable(const HashTable& other) = default;  // shares the storage
    HashTable& operator=(const HashTable& other) = default;
    ~HashTable() = default;

    HashTable copy() const { return *this; }
    // Drops this object's reference; the object then has no storage.
    void releaseStorage();
    bool hasStorage() const { return storage_ != nullptr; }
    // Objects referring to this object's storage (0 without storage).
    long storageReferences() const { return storage_.use_count(); }

    // New, empty storage. False (and no storage) for a negative bucket
    // count or a load factor not above 0.0000001, or when the heap fails.
    bool create(int keyType = kHashInteger, int valueType = kHashInteger, int bucketCount = 11,
                float loadFactor = 0.75f);
    bool createTextText(int bucketCount = 11, float loadFactor = 0.75f);
    bool createTextInteger(int bucketCount = 11, float loadFactor = 0.75f);
    bool createTextBytes(int bucketCount = 11, float loadFactor = 0.75f);
    bool createIntegerText(int bucketCount = 11, float loadFactor = 0.75f);
    bool createIntegerBytes(int bucketCount = 11, float loadFactor = 0.75f);
    bool createIntegerInteger(int bucketCount = 11, float loadFactor = 0.75f);
    bool createBytesText(int bucketCount = 11, float loadFactor = 0.75f);
    bool createBytesInteger(int bucketCount = 11, float loadFactor = 0.75f);
    bool createBytesBytes(int bucketCount = 11, float loadFactor = 0.75f);

    // Byte layout (all numbers little-endian):
    //   "hash", u32 key type, u32 value type, u32 bucket count,
    //   f32 load factor, u32 entry count, then per entry in `keys` order
    //   the key and the value: integer = i32; text or byte buffer =
    //   u32 length + bytes (a text without its terminator); other types
    //   have no bytes. Loading rebuilds the same chains, so saving the
    //   loaded table gives the same bytes. A buffer that does not parse
    //   leaves the table as it was and gives false.
    bool loadFromBytes(const ByteBuffer& bytes);
    ByteBuffer saveToBytes() const;  // empty without storage

    int count() const;
    int bucketCount() const;
    // 1 replaced, 0 added, -1 no storage (or an item of another type).
    int put(const HashItem& key, const HashItem& value);
    // The value tagged with its type; monostate when the key is absent.
    HashItem get(const HashItem& key) const;
    Text getText(const HashItem& key) const;        // "" unless a text value
    std::int32_t getInteger(const HashItem& key) const;
    ByteBuffer getBytes(const HashItem& key) const;  // empty unless bytes
    bool containsValue(const HashItem& value) const;
    bool containsKey(const HashItem& key) const;
    // 1 removed, 0 not present.
    int remove(const HashItem& key);
    // Keys by bucket index, each chain from its head; returns their number.
    int keys(HashItemList& out) const;
    int values(HashItemList& out) const;  // in the order of `keys`
    void clear();
    bool getTypes(int& keyType, int& valueType) const;
    // Changing the types of a table with entries clears it first: held
    // items would otherwise be read as the wrong type.
    bool setTypes(int keyType = kHashInteger, int valueType = kHashInteger);

    struct Header;

private:
    std::shared_ptr<Header> storage_;
};
