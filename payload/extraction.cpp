#include "payload/extraction.h"

#include <cstdint>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "payload/archive_format.h"
#include "payload/archive_path.h"
#include "payload/bounded_queue.h"
#include "payload/file_ops.h"
#include "payload/inflate_source.h"
#include "payload/md5.h"
#include "payload/target_tree.h"
#include "process/directory.h"

namespace {

constexpr int kMaxPasses = 5;
// Data moves between the threads in chunks; the queue bounds how far the
// inflating side runs ahead (8 batches of about a chunk: some 2 MB).
constexpr std::size_t kChunkBytes = 1 << 18;
constexpr std::size_t kQueueDepth = 8;

struct StreamItem {
    // Checked ends a survey whose stream inflated to its end without fault.
    enum class Kind { Count, Header, Data, End, Broken, Checked };
    Kind kind = Kind::Broken;
    std::int32_t number = 0;  // the record count, or the record's number
    RecordHeader header;
    ByteBuffer bytes;
};

// Items travel in batches of about a chunk, so a run of small records
// costs one hand-over between the threads rather than three per record.
using StreamBatch = std::vector<StreamItem>;
using StreamQueue = BoundedQueue<StreamBatch>;
constexpr std::size_t kBatchItems = 256;

std::size_t ItemBytes(const StreamItem& item) {
    return sizeof(StreamItem) + item.bytes.size() + item.header.path.size() + item.header.md5.size();
}

// The inflating side's end of the queue.
class BatchSender {
public:
    explicit BatchSender(StreamQueue& queue) : queue_(queue) {}

    // False when the queue was closed.
    bool push(StreamItem item) {
        const std::size_t size = ItemBytes(item);
        if (!batch_.empty() && bytes_ + size > kChunkBytes && !flush()) return false;
        bytes_ += size;
        batch_.push_back(std::move(item));
        return (bytes_ < kChunkBytes && batch_.size() < kBatchItems) || flush();
    }

    bool flush() {
        if (batch_.empty()) return true;
        StreamBatch full;
        full.swap(batch_);
        bytes_ = 0;
        return queue_.push(std::move(full));
    }

private:
    StreamQueue& queue_;
    StreamBatch batch_;
    std::size_t bytes_ = 0;
};

// The calling side's end of the queue: one item at a time.
class BatchReader {
public:
    explicit BatchReader(StreamQueue& queue) : queue_(queue) {}

    // False once the queue is closed and empty.
    bool pop(StreamItem& item) {
        while (next_ >= batch_.size()) {
            if (!queue_.pop(batch_)) return false;
            next_ = 0;
        }
        item = std::move(batch_[next_++]);
        return true;
    }

private:
    StreamQueue& queue_;
    StreamBatch batch_;
    std::size_t next_ = 0;
};

StreamItem Item(StreamItem::Kind kind, std::int32_t number = 0) {
    StreamItem item;
    item.kind = kind;
    item.number = number;
    return item;
}

// Sends a record's data in chunks, as far as the stream holds it.
bool SendData(ArchiveCursor& cursor, std::int32_t length, BatchSender& queue) {
    for (std::int32_t left = length; left > 0;) {
        const std::int32_t want = std::min<std::int32_t>(left, static_cast<std::int32_t>(kChunkBytes));
        StreamItem item = Item(StreamItem::Kind::Data);
        item.bytes = cursor.takeBytes(want);
        if (cursor.failed()) return false;
        const bool short_ = item.bytes.size() < static_cast<std::size_t>(want);
        if (!item.bytes.empty() && !queue.push(std::move(item))) return false;
        if (short_) break;
        left -= want;
    }
    return true;
}

// Which records one run of the inflating side covers. Records before
// `first` are parsed and inflated past without anything being sent; the
// run stops after `last`. When the calling side already holds the header
// of `first`, only its data is sent.
struct RecordRange {
    std::int32_t first = 1;
    std::int32_t last = INT32_MAX;
    bool firstHeaderHeld = false;
};

// One run of the inflating side. Records finished in earlier passes are
// parsed and inflated past; their data is not sent. A survey sends no data
// at all and inflates the stream to its very end, so it also checks it.
void Produce(PackedInput& input, const std::vector<char>& finished, bool survey, RecordRange range,
             BatchSender& queue) {
    try {
        auto owned = input.rewind() ? std::make_unique<InflateSource>(input) : nullptr;
        if (!owned) return (void)queue.push(Item(StreamItem::Kind::Broken));
        InflateSource& source = *owned;
        ArchiveCursor cursor(std::move(owned));
        const std::int32_t count = cursor.readInt32();
        if (range.first <= 1 && !queue.push(Item(StreamItem::Kind::Count, count))) return;
        if (!RecordCountValid(count)) return;
        for (std::int32_t i = 1; i <= count && i <= range.last; ++i) {
            const bool quiet = i < range.first;
            StreamItem header = Item(StreamItem::Kind::Header, i);
            header.header = cursor.readHeader();
            const std::int32_t length = header.header.dataLength;
            if (cursor.failed()) break;
            const bool headerHeld = quiet || (i == range.first && range.firstHeaderHeld);
            if (!headerHeld && !queue.push(std::move(header))) return;
            if (quiet || survey || (static_cast<std::size_t>(i) < finished.size() && finished[i])) {
                // The calling side gets what is gathered before a long stretch is inflated past.
                if (length >= static_cast<std::int32_t>(kChunkBytes) && !queue.flush()) return;
                cursor.drop(length);
            } else if (!SendData(cursor, length, queue)) {
                break;
            }
            if (!quiet && !queue.push(Item(StreamItem::Kind::End, i))) return;
        }
        while (survey && !source.ended() && !source.failed()) source.skip(kChunkBytes);
        if (cursor.failed() || source.failed() || (survey && !source.ended()))
            queue.push(Item(StreamItem::Kind::Broken));
        else if (survey)
            queue.push(Item(StreamItem::Kind::Checked));
    } catch (...) {
        queue.push(Item(StreamItem::Kind::Broken));
    }
}

// Runs the inflating side for one pass; joined whatever way the pass ends.
class ProducerThread {
public:
    ProducerThread(PackedInput& input, const std::vector<char>& finished, bool survey, RecordRange range,
                   StreamQueue& queue)
        : queue_(queue), thread_([&input, &finished, survey, range, &queue] {
              BatchSender sender(queue);
              try {
                  Produce(input, finished, survey, range, sender);
                  sender.flush();
              } catch (...) {
                  // Items that could not be sent are lost: a survey then never reports its stream checked.
              }
              queue.close();
          }) {}
    ~ProducerThread() {
        queue_.close();
        thread_.join();
    }
    ProducerThread(const ProducerThread&) = delete;
    ProducerThread& operator=(const ProducerThread&) = delete;

private:
    StreamQueue& queue_;
    std::thread thread_;
};

bool SameDigest(const Text& a, const Text& b) { return LowerAscii(a) == LowerAscii(b); }

const Text& EmptyDigest() {
    static const Text digest = Md5OfBytes(nullptr, 0);
    return digest;
}

// The folder a record's file goes into, relative to the target: the
// directoryPart of the full path, so a last component without a dot after
// a dotted one is taken for a folder, as the extraction always has.
Text RecordFolder(const Text& target, const Text& path) {
    const Text folder = directoryPart(target + path);
    return folder.size() <= target.size() ? Text() : folder.substr(target.size());
}

// What the survey digested at each record's path before anything was
// written. A digest is a hint: it stands only while the file at the path
// at the record's turn is provably the one digested (same identity, size
// and times), nothing was removed meanwhile and the pass has not written
// that file itself.
struct FoundFiles {
    std::vector<char> digested;  // by record number
    std::vector<FileIdentity> identity;
    std::vector<Text> digest;
    // The records' headers, kept while they fit the budget, so records
    // found unchanged need not be inflated again in the first pass.
    std::vector<RecordHeader> headers;
    bool headersKept = false;
    std::int32_t lastChanged = 0;  // the last record that may need its data
};

// What the kept headers of a survey may cost.
constexpr std::size_t kHeaderBudget = 4u << 20;

// Files the pass wrote, by what they are rather than by any name of theirs.
using WrittenFiles = std::set<std::pair<std::uint64_t, std::uint64_t>>;

// The digest of what is at a record's path, the way the record's turn
// judges it: a folder, a file that cannot be read or anything else that is
// there reads as empty contents; nothing, or a link, has no digest at all.
struct Finding {
    bool present = false;
    Text digest;
    FileIdentity identity;
    bool stable = false;  // the file did not change while it was read
};

// A digest taken before, and the files this pass wrote itself.
struct Hint {
    const Text& digest;
    const FileIdentity& identity;
    const WrittenFiles& written;
};

Finding Digest(TargetTree& tree, const Text& path, const Hint* hint = nullptr) {
    Finding found;
    FileHandle file;
    const EntryState state = tree.look(path, &file, &found.identity);
    found.present = state == EntryState::File || state == EntryState::Folder || state == EntryState::Other;
    if (!found.present) return found;
    if (state != EntryState::File || !file.valid()) {
        found.digest = EmptyDigest();
        return found;
    }
    if (hint && hint->identity.sameState(found.identity) &&
        !hint->written.count({found.identity.volume, found.identity.file})) {
        found.digest = hint->digest;
        return found;
    }
    found.digest = md5OfOpenFile(file);
    FileIdentity after;
    found.stable = tree.identify(file, after) && after.sameState(found.identity);
    return found;
}

// The file side of one changed record: written chunk by chunk as the data
// arrives, each chunk read back from the file at once and hashed, and the
// whole checked against the record's digest. Reading back as it goes keeps
// the inflating side busy instead of waiting while a large file is hashed.
class RecordWriter {
public:
    RecordWriter(TargetTree& tree, const Text& path, Text& line, WrittenFiles& written)
        : tree_(tree), path_(path), line_(line) {
        line_ += "，文件有变化，需要写入";
        file_ = tree_.openForWrite(path_);
        if (!file_.valid()) {
            // Refused (read-only, locked, a folder or a link in the way): clear it and try once more.
            retry();
            tree_.clearAttributes(path_);
            clear();
            file_ = tree_.openForWrite(path_);
        }
        FileIdentity identity;
        if (file_.valid() && tree_.identify(file_, identity)) written.insert({identity.volume, identity.file});
    }

    // A file left unfinished is not left behind half written.
    ~RecordWriter() {
        if (!finished_ && file_.valid()) {
            file_ = FileHandle();
            clear();
        }
    }

    void write(const ByteBuffer& bytes) {
        if (!file_.valid()) return;
        readBack_.resize(bytes.size());
        if (writeExactly(file_, bytes.data(), bytes.size()) &&
            readExactlyAt(file_, written_, readBack_.data(), readBack_.size())) {
            digest_.update(readBack_.data(), readBack_.size());
            written_ += bytes.size();
            return;
        }
        // The bytes written so far are gone from the stream: what was
        // written goes, and the next pass writes the file anew.
        file_ = FileHandle();
        broken_ = true;
        retry();
        clear();
    }

    bool finish(const RecordHeader& record) {
        finished_ = true;
        const bool opened = file_.valid();
        std::size_t size = 0;
        const bool whole = opened && openFileSize(file_, size) && size == written_;
        bool written = whole && !broken_ && SameDigest(digest_.finish(), record.md5);
        if (written) setOpenFileAttributes(file_, static_cast<std::uint32_t>(record.attributes));
        file_ = FileHandle();
        line_ += written ? "，写入成功。" : "，写入失败！！！";
        return written;
    }

private:
    void retry() {
        if (!retried_) line_ += "，写入失败，尝试删除重写";
        retried_ = true;
    }
    void clear() {
        if (!tree_.remove(path_)) tree_.forceRemove(path_);
    }

    TargetTree& tree_;
    Text path_;
    Text& line_;
    FileHandle file_;
    Md5 digest_;  // of the bytes read back
    ByteBuffer readBack_;
    std::uint64_t written_ = 0;
    bool broken_ = false;
    bool retried_ = false;
    bool finished_ = false;
};

// The file side of one pass, fed from the queue on the calling thread.
class PassConsumer {
public:
    PassConsumer(const Text& target, TargetTree& tree, const ExtractOutputs& out, std::vector<char>& finished,
                 std::size_t& done, const FoundFiles* found)
        : target_(target), tree_(tree), out_(out), finished_(finished), done_(done), found_(found),
          removals_(tree.removals()) {}

    // 1 or 0 when the call must end now, -1 when the pass ran to its end.
    int run(StreamQueue& queue) {
        BatchReader reader(queue);
        StreamItem item;
        while (reader.pop(item)) {
            switch (item.kind) {
            case StreamItem::Kind::Count:
                if (!RecordCountValid(item.number)) return 0;
                count_ = item.number;
                if (finished_.empty()) finished_.assign(static_cast<std::size_t>(count_) + 1, 0);
                break;
            case StreamItem::Kind::Header:
                if (!begin(item.number, item.header)) return 0;
                break;
            case StreamItem::Kind::Data:
                if (writer_) writer_->write(item.bytes);
                break;
            case StreamItem::Kind::End:
                end();
                break;
            case StreamItem::Kind::Broken: return 0;
            case StreamItem::Kind::Checked: break;
            }
        }
        return count_ > 0 ? -1 : 0;
    }

    std::int32_t count() const { return count_; }

    // Goes on from record `from` with headers the survey kept. Returns the
    // first record that needs its data (its header already taken), or
    // count + 1; 0 when the call must end now.
    std::int32_t replay(const std::vector<RecordHeader>& headers, std::int32_t from) {
        for (std::int32_t i = from; i <= count_; ++i) {
            RecordHeader header = headers[static_cast<std::size_t>(i)];
            if (!begin(i, header)) return 0;
            if (writer_) return i;
        }
        return count_ + 1;
    }

private:
    // False when the target cannot be made.
    bool begin(std::int32_t number, RecordHeader& record) {
        number_ = number;
        record_ = std::move(record);
        fullPath_ = target_ + record_.path;
        line_ = out_.trace ? "文件MD5：" + record_.md5 : Text();
        writer_.reset();
        if (out_.pathList) {
            out_.pathList->push_back(fullPath_);
            if (out_.md5List) out_.md5List->push_back(record_.md5);
        }
        skipped_ = finished_[number] != 0;
        if (skipped_) return true;
        if (!IsSafeArchivePath(record_.path)) {
            line_ += "，无效文件，跳过。";
            finish(true);
            return true;
        }
        // The target must still be the folder opened, or be made anew.
        if (!tree_.rootInPlace()) {
            found_ = nullptr;
            tree_.close();
            if (!PrepareFolder(target_)) return false;
            tree_.open();
        }
        tree_.makeFolders(RecordFolder(target_, record_.path));
        if (Unchanged()) {
            line_ += "，文件无变化，跳过。";
            finish(true);
            return true;
        }
        writer_ = std::make_unique<RecordWriter>(tree_, record_.path, line_, written_);
        return true;
    }

    // Judged on what is at the path now; the survey only saves hashing a
    // file that is provably the one it hashed.
    bool Unchanged() {
        // Whatever the pass removed may have taken what the survey saw with it.
        if (tree_.removals() != removals_) found_ = nullptr;
        if (!found_ || !found_->digested[number_]) {
            const Finding now = Digest(tree_, record_.path);
            return now.present && SameDigest(now.digest, record_.md5);
        }
        const Hint hint{found_->digest[number_], found_->identity[number_], written_};
        const Finding now = Digest(tree_, record_.path, &hint);
        return now.present && SameDigest(now.digest, record_.md5);
    }

    void end() {
        if (writer_) {
            const bool written = writer_->finish(record_);
            writer_.reset();
            finish(written);
        }
    }

    // Marks the record and reports it; called once per record not skipped.
    void finish(bool finished) {
        if (finished) {
            finished_[number_] = 1;
            ++done_;
        }
        if (out_.trace && out_.traceSink) out_.traceSink(fullPath_, line_);
    }

    const Text& target_;
    TargetTree& tree_;
    const ExtractOutputs& out_;
    std::vector<char>& finished_;
    std::size_t& done_;
    std::int32_t count_ = 0;
    std::int32_t number_ = 0;
    RecordHeader record_;
    Text fullPath_, line_;
    std::unique_ptr<RecordWriter> writer_;
    bool skipped_ = false;
    const FoundFiles* found_;
    const std::uint64_t removals_;
    WrittenFiles written_;
};

// Inflates the stream once to its end, sending only the records' headers:
// meanwhile the calling thread digests what already lies at each path.
// False when the stream is damaged or the record count is wrong.
bool Survey(PackedInput& input, TargetTree& tree, FoundFiles& found) {
    const std::vector<char> none;
    StreamQueue queue(kQueueDepth);
    ProducerThread producer(input, none, true, RecordRange(), queue);
    BatchReader reader(queue);
    StreamItem item;
    bool counted = false, checked = false;
    std::size_t kept = 0;
    while (reader.pop(item)) {
        if (item.kind == StreamItem::Kind::Broken) return false;
        checked = checked || item.kind == StreamItem::Kind::Checked;
        if (item.kind == StreamItem::Kind::Count) {
            if (!RecordCountValid(item.number)) return false;
            counted = true;
            const std::size_t slots = static_cast<std::size_t>(item.number) + 1;
            found.digested.assign(slots, 0);
            found.identity.assign(slots, FileIdentity());
            found.digest.assign(slots, Text());
            found.headersKept = true;
        }
        if (item.kind != StreamItem::Kind::Header) continue;
        RecordHeader& header = item.header;
        kept += sizeof(RecordHeader) + header.path.size() + header.md5.size();
        found.headersKept = found.headersKept && kept <= kHeaderBudget;
        if (found.headersKept) {
            found.headers.resize(static_cast<std::size_t>(item.number));
            found.headers.push_back(header);
        } else {
            found.headers = std::vector<RecordHeader>();
        }
        if (!IsSafeArchivePath(header.path)) continue;
        const std::size_t at = static_cast<std::size_t>(item.number);
        const Finding finding = Digest(tree, header.path);
        if (finding.stable) {
            found.digested[at] = 1;
            found.identity[at] = finding.identity;
            found.digest[at] = finding.digest;
        }
        if (!finding.present || !SameDigest(finding.digest, header.md5)) found.lastChanged = item.number;
    }
    return counted && checked;
}

// One pass. With the survey's headers, the stream is inflated only up to
// the last record the survey found changed; the rest is handled from the
// headers, and streaming resumes wherever a record still needs its data.
int RunPass(PackedInput& input, const std::vector<char>& earlier, PassConsumer& consumer, const FoundFiles* replay) {
    RecordRange range;
    if (replay) range.last = replay->lastChanged;
    for (;;) {
        int result;
        {
            StreamQueue queue(kQueueDepth);
            ProducerThread producer(input, earlier, false, range, queue);
            result = consumer.run(queue);
        }
        if (result >= 0 || !replay || range.last == INT32_MAX) return result;
        const std::int32_t next = consumer.replay(replay->headers, range.last + 1);
        if (next == 0) return 0;
        if (next > consumer.count()) return -1;
        range = RecordRange{next, INT32_MAX, true};
    }
}

}  // namespace

bool PrepareFolder(const Text& folder) {
    if (isDirectory(folder) || EnsureDirectoryPath(folder)) return true;
    removeDirectoryTree(folder);
    return EnsureDirectoryPath(folder);
}

int ExtractPasses(PackedInput& input, const Text& target, const ExtractOutputs& out, bool streamChecked) {
    TargetTree tree(target);
    tree.open();
    FoundFiles found;
    if (!streamChecked && !Survey(input, tree, found)) return 0;
    std::vector<char> finished;  // by record number; only the calling thread writes it
    std::size_t done = 0;
    for (int pass = 0; pass < kMaxPasses; ++pass) {
        const std::vector<char> earlier = finished;  // what the inflating side may skip
        const FoundFiles* survey = pass == 0 && !found.digested.empty() ? &found : nullptr;
        PassConsumer consumer(target, tree, out, finished, done, survey);
        const int result = RunPass(input, earlier, consumer, survey && survey->headersKept ? survey : nullptr);
        if (result >= 0) return result;
        if (done == static_cast<std::size_t>(consumer.count())) return 1;
    }
    return 0;
}
