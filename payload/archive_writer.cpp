#include "payload/archive_writer.h"

#include <zlib.h>

#include "payload/archive_format.h"
#include "payload/byte_io.h"
#include "payload/envelope.h"
#include "payload/file_ops.h"
#include "payload/md5.h"

namespace {

constexpr std::size_t kOutChunk = 1 << 18;

struct PackedFile {
    Text md5;
    Text attributes;
    std::size_t size = 0;
};

// Deflate at the default level into an open file, chunk by chunk.
class DeflateWriter {
public:
    explicit DeflateWriter(FileHandle& out) : out_(out) {
        ok_ = TryResize(buffer_, kOutChunk) && deflateInit(&z_, Z_DEFAULT_COMPRESSION) == Z_OK;
        initialised_ = ok_;
    }
    ~DeflateWriter() {
        if (initialised_) deflateEnd(&z_);
    }
    DeflateWriter(const DeflateWriter&) = delete;
    DeflateWriter& operator=(const DeflateWriter&) = delete;

    bool add(const void* bytes, std::size_t length) { return run(bytes, length, Z_NO_FLUSH); }
    bool finish() { return run(nullptr, 0, Z_FINISH); }
    unsigned long long written() const { return written_; }
    bool healthy() const { return ok_; }

private:
    bool run(const void* bytes, std::size_t length, int flush) {
        z_.next_in = static_cast<Bytef*>(const_cast<void*>(bytes));
        z_.avail_in = static_cast<uInt>(length);
        while (ok_) {
            z_.next_out = buffer_.data();
            z_.avail_out = static_cast<uInt>(buffer_.size());
            const int rc = deflate(&z_, flush);
            const std::size_t produced = buffer_.size() - z_.avail_out;
            ok_ = rc != Z_STREAM_ERROR && writeExactly(out_, buffer_.data(), produced);
            written_ += produced;
            if (flush == Z_FINISH ? rc == Z_STREAM_END : z_.avail_in == 0 && z_.avail_out > 0) break;
        }
        return ok_;
    }

    FileHandle& out_;
    z_stream z_{};
    ByteBuffer buffer_;
    unsigned long long written_ = 0;
    bool ok_ = false;
    bool initialised_ = false;
};

bool HashFile(const Text& path, PackedFile& file) {
    FileHandle in = openFile(path, 1, 1);
    if (!in.valid() || !openFileSize(in, file.size) || file.size > kMaxEnvelopeData) return false;
    Md5 digest;
    ByteBuffer chunk(kFileChunkSize);
    for (std::size_t done = 0; done < file.size;) {
        const std::size_t want = std::min(kFileChunkSize, file.size - done);
        if (!readExactly(in, chunk.data(), want)) return false;
        digest.update(chunk.data(), want);
        done += want;
    }
    file.md5 = digest.finish();
    return file.md5.size() == kMd5TextLength;
}

bool AddHeader(DeflateWriter& deflater, const PackSource& source, const PackedFile& file) {
    std::uint8_t words[16];
    WriteLe32(words, static_cast<std::uint32_t>(source.relativePath.size()));
    WriteLe32(words + 4, static_cast<std::uint32_t>(file.size));
    WriteLe32(words + 8, static_cast<std::uint32_t>(file.size));
    WriteLe32(words + 12, static_cast<std::uint32_t>(file.attributes.size()));
    return deflater.add(words, sizeof words) &&
           deflater.add(source.relativePath.data(), source.relativePath.size()) &&
           deflater.add(file.md5.data(), file.md5.size()) && deflater.add(file.attributes.data(), file.attributes.size());
}

// The bytes are read again and must still be the ones that were hashed.
bool AddData(DeflateWriter& deflater, const Text& path, const PackedFile& file) {
    FileHandle in = openFile(path, 1, 1);
    std::size_t size = 0;
    if (!in.valid() || !openFileSize(in, size) || size != file.size) return false;
    Md5 digest;
    ByteBuffer chunk(kFileChunkSize);
    for (std::size_t done = 0; done < size;) {
        const std::size_t want = std::min(kFileChunkSize, size - done);
        if (!readExactly(in, chunk.data(), want) || !deflater.add(chunk.data(), want)) return false;
        digest.update(chunk.data(), want);
        done += want;
    }
    return digest.finish() == file.md5;
}

bool WriteEnvelope(FileHandle& out, const std::vector<PackSource>& files, const std::vector<PackedFile>& packed,
                   unsigned long long inflated, PackSummary& summary, Text& offender, std::string& reason) {
    std::uint8_t header[kEnvelopeHeaderSize + 4];
    WriteLe32(header, kEnvelopeTag);
    WriteLe32(header + 4, static_cast<std::uint32_t>(inflated));
    WriteLe32(header + 8, static_cast<std::uint32_t>(files.size()));
    if (!writeExactly(out, header, kEnvelopeHeaderSize)) return false;
    DeflateWriter deflater(out);
    if (!deflater.add(header + kEnvelopeHeaderSize, 4)) return false;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (!AddHeader(deflater, files[i], packed[i])) return false;
        if (!AddData(deflater, files[i].fullPath, packed[i])) {
            if (!deflater.healthy()) return false;
            offender = files[i].fullPath;
            reason = "changed while it was being packed";
            return false;
        }
    }
    if (!deflater.finish()) return false;
    summary.packedBytes = kEnvelopeHeaderSize + deflater.written();
    return true;
}

}  // namespace

bool PackFilesToEnvelope(const std::vector<PackSource>& files, const Text& outPath, PackSummary& summary,
                         Text& offender, std::string& reason) {
    std::vector<PackedFile> packed(files.size());
    unsigned long long inflated = 4;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (!HashFile(files[i].fullPath, packed[i])) {
            offender = files[i].fullPath;
            reason = "cannot be read";
            return false;
        }
        packed[i].attributes = AttributeIntToText(getAttributes(files[i].fullPath));
        inflated += 16 + files[i].relativePath.size() + kMd5TextLength + packed[i].attributes.size() + packed[i].size;
        summary.dataBytes += packed[i].size;
    }
    offender = outPath;
    if (inflated > kMaxEnvelopeData) {
        reason = "more data than one archive can hold (1 GiB)";
        return false;
    }
    summary.inflatedBytes = inflated;
    FileHandle out = openFile(outPath, 4, 4, kAttributeNormal);
    reason = "cannot be written";
    if (!out.valid()) return false;
    if (!WriteEnvelope(out, files, packed, inflated, summary, offender, reason)) {
        out = FileHandle();
        deleteFile(outPath);  // never leave half an archive
        return false;
    }
    return true;
}
