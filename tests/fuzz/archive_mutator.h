#pragma once
// The records of an inflated archive as the extraction fuzz targets see
// and mutate them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct Field {
    std::int32_t fileSize = 0;
    std::string path, md5, attributes, data;
};

// Only archives of at most 64 records whose every length fits; `used`
// receives the bytes they take (anything after them is not the archive's).
bool ParseArchive(const std::uint8_t* bytes, std::size_t size, std::vector<Field>& records, std::size_t* used = nullptr);
std::string SerialiseArchive(const std::vector<Field>& records);

#ifdef VANTEL_FUZZ_ENGINE
// Byte-level mutations break the length words and the digests, so most
// inputs would end at the record reader or in five passes of digest
// mismatches. Three mutations in four therefore change one field of one
// record (or add or drop a record), then write the archive again with
// correct lengths and, mostly, correct digests. The result is at most
// maxSize bytes; 0 when it would not fit.
std::size_t MutateArchive(std::uint8_t* data, std::size_t size, std::size_t maxSize, unsigned int seed);
#endif
