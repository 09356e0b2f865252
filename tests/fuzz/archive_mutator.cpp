#include "archive_mutator.h"

#include <cctype>
#include <cstring>
#include <random>

#include "payload/archive_format.h"
#include "payload/byte_io.h"
#include "payload/md5.h"

bool ParseArchive(const std::uint8_t* bytes, std::size_t size, std::vector<Field>& records, std::size_t* used) {
    auto word = [&](std::size_t at) { return static_cast<std::int32_t>(ReadLe32(bytes + at)); };
    if (size < 4 || !RecordCountValid(word(0)) || word(0) > 64) return false;
    std::size_t at = 4;
    for (std::int32_t i = 0; i < word(0); ++i) {
        if (at + 16 > size) return false;
        const std::int32_t lengths[] = {word(at), static_cast<std::int32_t>(kMd5TextLength), word(at + 12),
                                        word(at + 8)};
        Field record;
        record.fileSize = word(at + 4);
        std::string* parts[] = {&record.path, &record.md5, &record.attributes, &record.data};
        at += 16;
        for (int p = 0; p < 4; ++p) {
            if (lengths[p] < 0 || static_cast<std::size_t>(lengths[p]) > size - at) return false;
            parts[p]->assign(reinterpret_cast<const char*>(bytes + at), static_cast<std::size_t>(lengths[p]));
            at += static_cast<std::size_t>(lengths[p]);
        }
        records.push_back(std::move(record));
    }
    if (used) *used = at;
    return true;
}

std::string SerialiseArchive(const std::vector<Field>& records) {
    auto word = [](std::string& out, std::size_t value) {
        std::uint8_t le[4];
        WriteLe32(le, static_cast<std::uint32_t>(value));
        out.append(reinterpret_cast<const char*>(le), 4);
    };
    std::string out;
    word(out, records.size());
    for (const Field& r : records) {
        word(out, r.path.size());
        word(out, static_cast<std::uint32_t>(r.fileSize));
        word(out, r.data.size());
        word(out, r.attributes.size());
        std::string md5 = r.md5.substr(0, kMd5TextLength);
        md5.resize(kMd5TextLength, '0');
        out += r.path + md5 + r.attributes + r.data;
    }
    return out;
}

#ifdef VANTEL_FUZZ_ENGINE
extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);

namespace {

void MutateText(std::string& text, std::size_t room) {
    text.resize(text.size() + room);
    text.resize(LLVMFuzzerMutate(reinterpret_cast<std::uint8_t*>(text.data()), text.size() - room, text.size()));
}

}  // namespace

std::size_t MutateArchive(std::uint8_t* data, std::size_t size, std::size_t maxSize, unsigned int seed) {
    std::minstd_rand random(seed);
    std::vector<Field> records;
    if (random() % 4 == 0 || !ParseArchive(data, size, records) || records.empty())
        return LLVMFuzzerMutate(data, size, maxSize);

    Field& record = records[random() % records.size()];
    switch (random() % 6) {
        case 0: case 1: MutateText(record.path, 16); break;
        case 2: MutateText(record.data, 64); break;
        case 3: MutateText(record.attributes, 8); break;
        case 4: records.push_back(Field(record)); break;
        default:
            if (records.size() > 1)
                records.erase(records.begin() + static_cast<std::ptrdiff_t>(random() % records.size()));
    }
    for (Field& r : records) {
        if (random() % 8 == 0) continue;  // a stale digest now and then
        r.md5 = Md5OfBytes(r.data.data(), r.data.size());
        if (random() % 4 == 0)
            for (char& c : r.md5) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    const std::string out = SerialiseArchive(records);
    if (out.size() > maxSize) return 0;
    std::memcpy(data, out.data(), out.size());
    return out.size();
}
#endif
