#include "system/hash_table.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <new>

#include "system/private_heap.h"

namespace {

using Held = std::uintptr_t;  // an integer itself, or a private-heap copy

struct Entry {
    std::int32_t hash;
    Held key;
    Held value;
    Entry* next;
};

}  // namespace

struct HashTable::Header {
    PrivateHeap* heap;
    Entry** buckets;
    std::int32_t bucketCount;
    std::int32_t count;
    std::int32_t threshold;
    float loadFactor;
    std::uint32_t modificationCount;
    std::int32_t keyType;
    std::int32_t valueType;
};

namespace {

using Header = HashTable::Header;

bool IsKnownType(int type) { return type == kHashInteger || type == kHashText || type == kHashBytes; }

// An item fits a type when it holds that type; other type codes take anything.
bool Fits(int type, const HashItem& item) {
    switch (type) {
        case kHashInteger: return std::holds_alternative<std::int32_t>(item);
        case kHashText: return std::holds_alternative<Text>(item);
        case kHashBytes: return std::holds_alternative<ByteBuffer>(item);
        default: return true;
    }
}

// A text item ends at its first zero byte.
std::size_t TextLength(const Text& text) {
    std::size_t nul = text.find('\0');
    return nul == Text::npos ? text.size() : nul;
}

std::int32_t HashBytes(const std::uint8_t* bytes, std::size_t length) {
    std::uint32_t h = 0;
    for (std::size_t i = 0; i < length; ++i) h = h * 31u + bytes[i];
    return static_cast<std::int32_t>(h);
}

std::int32_t HashOf(int type, const HashItem& item) {
    switch (type) {
        case kHashInteger: return std::get<std::int32_t>(item);
        case kHashText: {
            const Text& t = std::get<Text>(item);
            return HashBytes(reinterpret_cast<const std::uint8_t*>(t.data()), TextLength(t));
        }
        case kHashBytes: {
            const ByteBuffer& b = std::get<ByteBuffer>(item);
            return HashBytes(b.data(), b.size());
        }
        default: return 0;
    }
}

int BucketOf(const Header& h, std::int32_t hash) {
    return static_cast<int>((static_cast<std::uint32_t>(hash) & 0x7FFFFFFFu) %
                            static_cast<std::uint32_t>(h.bucketCount));
}

// A byte-buffer copy keeps its two header words: dimension count and length.
struct BytesCopy {
    std::uint32_t dimensions;
    std::uint32_t length;
    std::uint8_t bytes[1];
};

// Copies an item into the heap; false when the heap is out of room.
bool Hold(Header& h, int type, const HashItem& item, Held& out) {
    switch (type) {
        case kHashInteger:
            out = static_cast<Held>(static_cast<std::uint32_t>(std::get<std::int32_t>(item)));
            return true;
        case kHashText: {
            const Text& t = std::get<Text>(item);
            std::size_t n = TextLength(t);
            void* copy = h.heap->allocate(n + 1);
            if (!copy) return false;
            std::memcpy(copy, t.data(), n);
            out = reinterpret_cast<Held>(copy);
            return true;
        }
        case kHashBytes: {
            const ByteBuffer& b = std::get<ByteBuffer>(item);
            if (b.size() > UINT32_MAX - offsetof(BytesCopy, bytes)) return false;
            auto* copy = static_cast<BytesCopy*>(h.heap->allocate(offsetof(BytesCopy, bytes) + b.size()));
            if (!copy) return false;
            copy->dimensions = 1;
            copy->length = static_cast<std::uint32_t>(b.size());
            if (!b.empty()) std::memcpy(copy->bytes, b.data(), b.size());
            out = reinterpret_cast<Held>(copy);
            return true;
        }
        default:
            out = 0;
            return true;
    }
}

void Unhold(Header& h, int type, Held held) {
    if (type == kHashText || type == kHashBytes) h.heap->free(reinterpret_cast<void*>(held));
}

HashItem ItemOf(int type, Held held) {
    switch (type) {
        case kHashText: return Text(reinterpret_cast<const char*>(held));
        case kHashBytes: {
            auto* copy = reinterpret_cast<const BytesCopy*>(held);
            return ByteBuffer(copy->bytes, copy->bytes + copy->length);
        }
        default: return static_cast<std::int32_t>(static_cast<std::uint32_t>(held));
    }
}

bool Equal(int type, Held held, const HashItem& item) {
    switch (type) {
        case kHashInteger: return static_cast<std::int32_t>(static_cast<std::uint32_t>(held)) == std::get<std::int32_t>(item);
        case kHashText: {
            // Byte equality: a locale comparison could merge distinct keys.
            const Text& t = std::get<Text>(item);
            const char* stored = reinterpret_cast<const char*>(held);
            std::size_t n = TextLength(t);
            return std::strlen(stored) == n && std::memcmp(stored, t.data(), n) == 0;
        }
        case kHashBytes: {
            auto* copy = reinterpret_cast<const BytesCopy*>(held);
            const ByteBuffer& b = std::get<ByteBuffer>(item);
            return copy->length == b.size() && (b.empty() || std::memcmp(copy->bytes, b.data(), b.size()) == 0);
        }
        default: return true;
    }
}

std::int32_t ThresholdFor(std::int32_t buckets, float loadFactor) {
    double t = std::floor(static_cast<double>(buckets) * static_cast<double>(loadFactor));
    return t >= static_cast<double>(INT32_MAX) ? INT32_MAX : static_cast<std::int32_t>(t);
}

Entry** AllocateBuckets(Header& h, std::int32_t n) {
    if (static_cast<std::uint64_t>(n) * sizeof(Entry*) > SIZE_MAX / 2) return nullptr;
    return static_cast<Entry**>(h.heap->allocate(static_cast<std::size_t>(n) * sizeof(Entry*)));
}

Entry* Find(const Header& h, const HashItem& key, std::int32_t hash) {
    if (h.bucketCount <= 0) return nullptr;
    for (Entry* e = h.buckets[BucketOf(h, hash)]; e; e = e->next)
        if (e->hash == hash && Equal(h.keyType, e->key, key)) return e;
    return nullptr;
}

// Twice as many buckets plus one; each entry goes in front of its new chain.
void Grow(Header& h) {
    if (h.bucketCount > (INT32_MAX - 1) / 2) return;
    std::int32_t n = 2 * h.bucketCount + 1;
    Entry** fresh = AllocateBuckets(h, n);
    if (!fresh) return;  // keep chaining in the old buckets
    ++h.modificationCount;
    Entry** old = h.buckets;
    std::int32_t oldCount = h.bucketCount;
    h.buckets = fresh;
    h.bucketCount = n;
    h.threshold = ThresholdFor(n, h.loadFactor);
    for (std::int32_t i = 0; i < oldCount; ++i) {
        for (Entry* e = old[i]; e;) {
            Entry* next = e->next;
            int b = BucketOf(h, e->hash);
            e->next = fresh[b];
            fresh[b] = e;
            e = next;
        }
    }
    h.heap->free(old);
}

void FreeEntry(Header& h, Entry* e) {
    Unhold(h, h.keyType, e->key);
    Unhold(h, h.valueType, e->value);
    h.heap->free(e);
}

template <typename Visit>
void ForEachEntry(const Header& h, Visit visit) {
    for (std::int32_t i = 0; i < h.bucketCount; ++i)
        for (Entry* e = h.buckets[i]; e; e = e->next) visit(*e);
}

// Little-endian writing and bounded reading for the byte layout.
void PutU32(ByteBuffer& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void PutItem(ByteBuffer& out, int type, const HashItem& item) {
    if (type == kHashInteger) {
        PutU32(out, static_cast<std::uint32_t>(std::get<std::int32_t>(item)));
    } else if (type == kHashText) {
        const Text& t = std::get<Text>(item);
        PutU32(out, static_cast<std::uint32_t>(t.size()));
        out.insert(out.end(), t.begin(), t.end());
    } else if (type == kHashBytes) {
        const ByteBuffer& b = std::get<ByteBuffer>(item);
        PutU32(out, static_cast<std::uint32_t>(b.size()));
        out.insert(out.end(), b.begin(), b.end());
    }
}

struct Reader {
    const ByteBuffer& bytes;
    std::size_t pos = 0;

    bool u32(std::uint32_t& v) {
        if (bytes.size() - pos < 4) return false;
        v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(bytes[pos + i]) << (8 * i);
        pos += 4;
        return true;
    }
    bool item(int type, HashItem& out) {
        std::uint32_t v = 0;
        if (type == kHashInteger) {
            if (!u32(v)) return false;
            out = static_cast<std::int32_t>(v);
            return true;
        }
        if (type != kHashText && type != kHashBytes) {
            out = std::int32_t{0};
            return true;
        }
        if (!u32(v) || bytes.size() - pos < v) return false;
        auto first = bytes.begin() + static_cast<std::ptrdiff_t>(pos);
        auto last = first + static_cast<std::ptrdiff_t>(v);
        pos += v;
        if (type == kHashText) {
            out = Text(first, last);
        } else {
            out = ByteBuffer(first, last);
        }
        return true;
    }
};

}  // namespace

void HashTable::releaseStorage() { storage_.reset(); }

bool HashTable::create(int keyType, int valueType, int buckets, float loadFactor) {
    releaseStorage();
    if (buckets < 0 || !(loadFactor > 0.0000001f)) return false;
    PrivateHeap* heap = PrivateHeap::Create();
    if (!heap) return false;
    auto* header = static_cast<Header*>(heap->allocate(sizeof(Header)));
    if (!header) {
        PrivateHeap::Destroy(heap);
        return false;
    }
    header->heap = heap;
    header->buckets = AllocateBuckets(*header, buckets);
    if (!header->buckets) {
        PrivateHeap::Destroy(heap);
        return false;
    }
    header->bucketCount = buckets;
    header->loadFactor = loadFactor;
    header->threshold = ThresholdFor(buckets, loadFactor);
    header->keyType = keyType;
    header->valueType = valueType;
    try {
        // The header lives in the heap it names, so the heap goes last.
        storage_ = std::shared_ptr<Header>(header, [](Header* h) { PrivateHeap::Destroy(h->heap); });
    } catch (const std::bad_alloc&) {
        PrivateHeap::Destroy(heap);
        return false;
    }
    return true;
}

bool HashTable::createTextText(int n, float f) { return create(kHashText, kHashText, n, f); }
bool HashTable::createTextInteger(int n, float f) { return create(kHashText, kHashInteger, n, f); }
bool HashTable::createTextBytes(int n, float f) { return create(kHashText, kHashBytes, n, f); }
bool HashTable::createIntegerText(int n, float f) { return create(kHashInteger, kHashText, n, f); }
bool HashTable::createIntegerBytes(int n, float f) { return create(kHashInteger, kHashBytes, n, f); }
bool HashTable::createIntegerInteger(int n, float f) { return create(kHashInteger, kHashInteger, n, f); }
bool HashTable::createBytesText(int n, float f) { return create(kHashBytes, kHashText, n, f); }
bool HashTable::createBytesInteger(int n, float f) { return create(kHashBytes, kHashInteger, n, f); }
bool HashTable::createBytesBytes(int n, float f) { return create(kHashBytes, kHashBytes, n, f); }

int HashTable::count() const { return storage_ ? storage_->count : 0; }

int HashTable::bucketCount() const { return storage_ ? storage_->bucketCount : 0; }

int HashTable::put(const HashItem& key, const HashItem& value) {
    if (!storage_) return -1;
    Header& h = *storage_;
    if (!Fits(h.keyType, key) || !Fits(h.valueType, value)) return -1;
    std::int32_t hash = HashOf(h.keyType, key);
    if (Entry* e = Find(h, key, hash)) {
        Held held = 0;
        if (!Hold(h, h.valueType, value, held)) return -1;
        Unhold(h, h.valueType, e->value);
        e->value = held;
        return 1;
    }
    ++h.modificationCount;
    // A table of zero buckets grows to one here, so no division by zero.
    if (h.count >= h.threshold || h.bucketCount == 0) Grow(h);
    if (h.bucketCount == 0) return -1;
    auto* e = static_cast<Entry*>(h.heap->allocate(sizeof(Entry)));
    if (!e) return -1;
    if (!Hold(h, h.keyType, key, e->key) || !Hold(h, h.valueType, value, e->value)) {
        FreeEntry(h, e);
        return -1;
    }
    e->hash = hash;
    int b = BucketOf(h, hash);
    e->next = h.buckets[b];
    h.buckets[b] = e;
    ++h.count;
    return 0;
}

HashItem HashTable::get(const HashItem& key) const {
    if (!storage_ || !Fits(storage_->keyType, key)) return {};
    const Entry* e = Find(*storage_, key, HashOf(storage_->keyType, key));
    return e ? ItemOf(storage_->valueType, e->value) : HashItem{};
}

Text HashTable::getText(const HashItem& key) const {
    HashItem v = get(key);
    return std::holds_alternative<Text>(v) ? std::get<Text>(v) : Text();
}

std::int32_t HashTable::getInteger(const HashItem& key) const {
    HashItem v = get(key);
    if (auto* i = std::get_if<std::int32_t>(&v)) return *i;
    if (auto* t = std::get_if<Text>(&v)) {
        // Decimal digits after an optional sign, as a text-to-number cast reads them.
        long long n = 0;
        std::size_t i = 0;
        bool negative = false;
        if (i < t->size() && ((*t)[i] == '-' || (*t)[i] == '+')) negative = (*t)[i++] == '-';
        for (; i < t->size() && (*t)[i] >= '0' && (*t)[i] <= '9' && n <= INT32_MAX; ++i) n = n * 10 + ((*t)[i] - '0');
        if (negative) n = -n;
        return static_cast<std::int32_t>(n < INT32_MIN ? INT32_MIN : n > INT32_MAX ? INT32_MAX : n);
    }
    if (auto* b = std::get_if<ByteBuffer>(&v)) {
        // The first four bytes, least significant first.
        std::uint32_t n = 0;
        for (std::size_t i = 0; i < b->size() && i < 4; ++i) n |= static_cast<std::uint32_t>((*b)[i]) << (8 * i);
        return static_cast<std::int32_t>(n);
    }
    return 0;
}

ByteBuffer HashTable::getBytes(const HashItem& key) const {
    HashItem v = get(key);
    return std::holds_alternative<ByteBuffer>(v) ? std::get<ByteBuffer>(v) : ByteBuffer();
}

bool HashTable::containsValue(const HashItem& value) const {
    if (!storage_ || !Fits(storage_->valueType, value)) return false;
    bool found = false;
    ForEachEntry(*storage_, [&](const Entry& e) { found = found || Equal(storage_->valueType, e.value, value); });
    return found;
}

bool HashTable::containsKey(const HashItem& key) const {
    return storage_ && Fits(storage_->keyType, key) && Find(*storage_, key, HashOf(storage_->keyType, key));
}

int HashTable::remove(const HashItem& key) {
    if (!storage_ || storage_->bucketCount <= 0 || !Fits(storage_->keyType, key)) return 0;
    Header& h = *storage_;
    std::int32_t hash = HashOf(h.keyType, key);
    Entry** link = &h.buckets[BucketOf(h, hash)];
    for (Entry* e = *link; e; link = &e->next, e = e->next) {
        if (e->hash != hash || !Equal(h.keyType, e->key, key)) continue;
        ++h.modificationCount;
        *link = e->next;
        --h.count;
        FreeEntry(h, e);
        return 1;
    }
    return 0;
}

int HashTable::keys(HashItemList& out) const {
    out.clear();
    if (!storage_) return 0;
    out.reserve(static_cast<std::size_t>(storage_->count));
    ForEachEntry(*storage_, [&](const Entry& e) { out.push_back(ItemOf(storage_->keyType, e.key)); });
    return static_cast<int>(out.size());
}

int HashTable::values(HashItemList& out) const {
    out.clear();
    if (!storage_) return 0;
    out.reserve(static_cast<std::size_t>(storage_->count));
    ForEachEntry(*storage_, [&](const Entry& e) { out.push_back(ItemOf(storage_->valueType, e.value)); });
    return static_cast<int>(out.size());
}

void HashTable::clear() {
    if (!storage_) return;
    Header& h = *storage_;
    for (std::int32_t i = 0; i < h.bucketCount; ++i) {
        for (Entry* e = h.buckets[i]; e;) {
            Entry* next = e->next;
            FreeEntry(h, e);
            e = next;
        }
        h.buckets[i] = nullptr;
    }
    h.count = 0;
    ++h.modificationCount;
}

bool HashTable::getTypes(int& keyType, int& valueType) const {
    if (!storage_) return false;
    keyType = storage_->keyType;
    valueType = storage_->valueType;
    return true;
}

bool HashTable::setTypes(int keyType, int valueType) {
    if (!storage_) return false;
    if (keyType != storage_->keyType || valueType != storage_->valueType) clear();
    storage_->keyType = keyType;
    storage_->valueType = valueType;
    return true;
}

ByteBuffer HashTable::saveToBytes() const {
    if (!storage_) return {};
    const Header& h = *storage_;
    ByteBuffer out = {'h', 'a', 's', 'h'};
    PutU32(out, static_cast<std::uint32_t>(h.keyType));
    PutU32(out, static_cast<std::uint32_t>(h.valueType));
    PutU32(out, static_cast<std::uint32_t>(h.bucketCount));
    std::uint32_t factorBits;
    std::memcpy(&factorBits, &h.loadFactor, 4);
    PutU32(out, factorBits);
    PutU32(out, static_cast<std::uint32_t>(h.count));
    ForEachEntry(h, [&](const Entry& e) {
        PutItem(out, h.keyType, ItemOf(h.keyType, e.key));
        PutItem(out, h.valueType, ItemOf(h.valueType, e.value));
    });
    return out;
}

bool HashTable::loadFromBytes(const ByteBuffer& bytes) {
    if (bytes.size() < 4 || std::memcmp(bytes.data(), "hash", 4) != 0) return false;
    Reader in{bytes, 4};
    std::uint32_t keyType, valueType, buckets, factorBits, entries;
    if (!in.u32(keyType) || !in.u32(valueType) || !in.u32(buckets) || !in.u32(factorBits) || !in.u32(entries))
        return false;
    if (buckets > INT32_MAX || entries > INT32_MAX) return false;
    // Items of other types take no bytes, and all such keys are one key.
    if (!IsKnownType(static_cast<int>(keyType)) && !IsKnownType(static_cast<int>(valueType)) && entries > 1)
        return false;
    float loadFactor;
    std::memcpy(&loadFactor, &factorBits, 4);
    HashItemList keyList, valueList;
    for (std::uint32_t i = 0; i < entries; ++i) {
        HashItem k, v;
        if (!in.item(static_cast<int>(keyType), k) || !in.item(static_cast<int>(valueType), v)) return false;
        keyList.push_back(std::move(k));
        valueList.push_back(std::move(v));
    }
    if (in.pos != bytes.size()) return false;
    HashTable loaded;
    if (!loaded.create(static_cast<int>(keyType), static_cast<int>(valueType), static_cast<int>(buckets), loadFactor))
        return false;
    // Each chain was saved head first; inserting backwards rebuilds it.
    for (std::size_t i = keyList.size(); i-- > 0;)
        if (loaded.put(keyList[i], valueList[i]) < 0) return false;
    if (IsKnownType(static_cast<int>(keyType)) && loaded.count() != static_cast<int>(entries)) return false;
    *this = loaded;
    return true;
}
