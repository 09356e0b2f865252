#pragma once
// The archive class: extraction of a packed archive into a folder with
// change detection, and the packing side that writes the same format.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "payload/archive_entry.h"
#include "payload/archive_path.h"
#include "payload/envelope.h"
#include "payload/extraction.h"
#include "payload/packed_input.h"
#include "system/text.h"


class PayloadArchive {
public:
    PayloadArchive() = default;
    virtual ~PayloadArchive() = default;

    // Slot order of the method table.
    virtual void destroy();
    virtual std::unique_ptr<PayloadArchive> copy() const;
    virtual void setBaseDirectory(const Text& folder);
    // The folder argument is normalised in place.
    virtual void addDirectory(Text& folder);
    virtual void addFile(const Text& path);
    virtual ByteBuffer dropFront(const ByteBuffer& bytes, std::int32_t n) const;
    // Only the empty password is supported: any other gives an empty result.
    virtual ByteBuffer packArchive(const Text& password = Text()) const;
    virtual ByteBuffer packBytes(const ByteBuffer& bytes, const Text& password = Text()) const;
    // Writes the packed archive to path + ".ez".
    virtual bool saveArchive(const Text& path, const Text& password = Text()) const;
    virtual ByteBuffer unpackBytes(const ByteBuffer& envelope, const Text& password = Text()) const;
    // Unpacks the envelope into targetDirectory (normalised in place).
    // 1 when every record is finished, 0 otherwise. The archive is judged
    // whole before the first write (CheckArchive), unless the caller says
    // it already was.
    virtual int extractArchive(PackedInput& payload, Text& targetDirectory, const Text& password = Text(),
                               TextList* pathList = nullptr, TextList* md5List = nullptr, bool trace = false,
                               const TraceSink& traceSink = TraceSink(), bool payloadChecked = false);
    int extractArchive(ByteSpan payload, Text& targetDirectory, const Text& password = Text(),
                       TextList* pathList = nullptr, TextList* md5List = nullptr, bool trace = false,
                       const TraceSink& traceSink = TraceSink(), bool payloadChecked = false);
    int extractArchive(const ByteBuffer& payload, Text& targetDirectory, const Text& password = Text(),
                       TextList* pathList = nullptr, TextList* md5List = nullptr, bool trace = false,
                       const TraceSink& traceSink = TraceSink()) {
        return extractArchive(ByteSpan{payload.data(), payload.size()}, targetDirectory, password, pathList,
                              md5List, trace, traceSink);
    }

    std::vector<ArchiveEntry> entries;
    Text baseDirectory;
    // Why the last extractArchive returned 0.
    ExtractFailure failure;
    // How the target's own path is reached (below it, links are never followed).
    RootPath targetPath = RootPath::Strict;
    // The headers the caller's check kept, for an extraction with the payload checked.
    const CheckedHeaders* checkedHeaders = nullptr;
};
