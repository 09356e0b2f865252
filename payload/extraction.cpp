#include "payload/extraction.h"

#include <cstdint>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "payload/archive_check.h"
#include "payload/archive_format.h"
#include "payload/archive_path.h"
#include "payload/bounded_queue.h"
#include "payload/file_ops.h"
#include "payload/free_space.h"
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

// One run of the inflating side for a pass. Records finished in earlier
// passes are parsed and inflated past; their data is not sent. The stream
// was judged whole before the first pass, so it is read as the cursor
// reads, clamped.
void Produce(PackedInput& input, const std::vector<char>& finished, RecordRange range, BatchSender& queue) {
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
            if (quiet || (static_cast<std::size_t>(i) < finished.size() && finished[i])) {
                // The calling side gets what is gathered before a long stretch is inflated past.
                if (length >= static_cast<std::int32_t>(kChunkBytes) && !queue.flush()) return;
                cursor.drop(length);
            } else if (!SendData(cursor, length, queue)) {
                break;
            }
            if (!quiet && !queue.push(Item(StreamItem::Kind::End, i))) return;
        }
        if (cursor.failed() || source.failed()) queue.push(Item(StreamItem::Kind::Broken));
    } catch (...) {
        queue.push(Item(StreamItem::Kind::Broken));
    }
}

// The survey's inflating side: the whole archive judged as `ezpack list`
// judges it, each record's header sent on as it is read. Checked ends a
// sound archive, Broken any other.
void ProduceSurvey(PackedInput& input, BatchSender& queue) {
    try {
        ArchiveVisitor visitor;
        visitor.count = [&](std::int32_t count) { return queue.push(Item(StreamItem::Kind::Count, count)); };
        visitor.record = [&](std::int32_t number, RecordHeader& header) {
            StreamItem item = Item(StreamItem::Kind::Header, number);
            const bool long_ = header.dataLength >= static_cast<std::int32_t>(kChunkBytes);
            item.header = std::move(header);
            // Long records take a while to inflate past: what is gathered goes first.
            return queue.push(std::move(item)) && (!long_ || queue.flush());
        };
        std::string reason;
        queue.push(Item(CheckArchive(input, reason, visitor) ? StreamItem::Kind::Checked : StreamItem::Kind::Broken));
    } catch (...) {
        queue.push(Item(StreamItem::Kind::Broken));
    }
}

// Runs the inflating side once; joined whatever way the calling side ends.
class ProducerThread {
public:
    template <typename Run>
    ProducerThread(StreamQueue& queue, Run run)
        : queue_(queue), thread_([&queue, run] {
              BatchSender sender(queue);
              try {
                  run(sender);
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

// The folder a record's file goes into, relative to the target: the last
// component of a record's path is always its file's name.
Text RecordFolder(const Text& path) { return fileFolderPart(path); }

// A folder as the user reads it, without the separator at its end.
Text WithoutSeparator(Text folder) {
    while (folder.size() > 1 && folder.back() == '\\') folder.pop_back();
    return folder;
}

// Files by what they are rather than by any name of theirs.
using FileKeys = std::set<std::pair<std::uint64_t, std::uint64_t>>;
std::pair<std::uint64_t, std::uint64_t> KeyOf(const FileIdentity& identity) { return {identity.volume, identity.file}; }

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
    CheckedHeaders kept;
    std::int32_t lastChanged = 0;  // the last record that may need its data
    std::uint64_t bytesToAdd = 0;  // of records whose file is missing or of another size
};

// What the kept headers of a survey may cost.
constexpr std::size_t kHeaderBudget = 4u << 20;

}  // namespace

void CheckedHeaders::keep(std::int32_t number, const RecordHeader& header) {
    cost += sizeof(RecordHeader) + header.path.size() + header.md5.size();
    whole = whole && cost <= kHeaderBudget;
    if (!whole) {
        headers = std::vector<RecordHeader>();
        return;
    }
    headers.resize(static_cast<std::size_t>(number));
    headers.push_back(header);
}

namespace {

// What is at a record's path, judged for its turn. Only a regular file of
// the record's size can hold the record's bytes: anything else (nothing,
// a folder, a link, a pipe, a file of another size) is changed unhashed.
// So is a file someone else could rewrite after the run: one with other
// names, or one whose owner is not trusted (a user who planted the
// record's bytes there would keep owning them).
struct Finding {
    EntryState state = EntryState::Missing;
    FileIdentity identity;  // of a file or a folder
    bool hashed = false;
    Text digest;
    bool stable = false;  // the file did not change while it was hashed
    bool matches(const RecordHeader& record) const { return hashed && SameDigest(digest, record.md5); }
};

// A digest taken before, and the files this pass wrote itself.
struct Hint {
    const Text& digest;
    const FileIdentity& identity;
    const FileKeys& written;
};

Finding Judge(TargetTree& tree, const RecordHeader& record, const Hint* hint = nullptr) {
    Finding found;
    FileHandle file;
    found.state = tree.look(record.path, &file, &found.identity);
    if (found.state != EntryState::File || !file.valid()) return found;
    if (record.dataLength < 0 || found.identity.size != static_cast<std::uint64_t>(record.dataLength)) return found;
    if (found.identity.links != 1 || !found.identity.ownedByTrusted) return found;
    found.hashed = true;
    if (hint && hint->identity.sameState(found.identity) && !hint->written.count(KeyOf(found.identity))) {
        found.digest = hint->digest;
        return found;
    }
    found.digest = md5OfOpenFile(file);
    FileIdentity after;
    found.stable = tree.identify(file, after) && after.sameState(found.identity);
    return found;
}

// The file side of one changed record. The bytes go into a new file
// beside the record's path, chunk by chunk as they arrive, each chunk read
// back from the file at once and hashed (which keeps the inflating side
// busy instead of waiting while a large file is hashed). Only when the
// whole is verified does the file take the record's name; a file that
// does not verify is removed, so the path keeps what it had.
class RecordWriter {
public:
    RecordWriter(TargetTree& tree, const Text& folder, const RecordHeader& record, Text& line, ExtractFailure& failure)
        : tree_(tree), path_(record.path), line_(line), failure_(failure), staged_(tree.stage(record.path)) {
        line_ += "，文件有变化，需要写入";
        if (staged_.valid()) return;
        retry();  // the folder takes no new file
        NoteRefusedFolder(folder, static_cast<std::uint64_t>(std::max(record.dataLength, 0)));
    }

    void write(const ByteBuffer& bytes) {
        if (!staged_.valid()) return;
        readBack_.resize(bytes.size());
        const FileHandle& file = staged_.file();
        if (!writeExactly(file, bytes.data(), bytes.size())) {
            fail(LastErrorIsDiskFull() ? FailureCause::DiskFull : FailureCause::Other);
        } else if (readExactlyAt(file, written_, readBack_.data(), readBack_.size())) {
            digest_.update(readBack_.data(), readBack_.size());
            written_ += bytes.size();
        } else {
            fail(FailureCause::Other);
        }
    }

    bool finish(const RecordHeader& record, FileKeys& written) {
        std::size_t size = 0;
        const bool whole = staged_.valid() && openFileSize(staged_.file(), size) && size == written_;
        const bool verified = whole && SameDigest(digest_.finish(), record.md5);
        // All of the record's bytes arrived and are not what it says they are.
        if (whole && !verified) failure_.note(FailureCause::Damaged);
        bool done = verified && tree_.commit(staged_);
        if (verified && !done) {
            // Refused by what is there (read-only, in use, a folder, a link): it goes, then once more.
            retry();
            tree_.clearAttributes(path_);
            if (!tree_.remove(path_)) tree_.forceRemove(path_);
            done = tree_.commit(staged_);
            if (!done) failure_.note(FailureCause::InUse, path_);
        }
        FileIdentity identity;
        if (done && tree_.identify(staged_.file(), identity)) written.insert(KeyOf(identity));
        if (done) setOpenFileAttributes(staged_.file(), static_cast<std::uint32_t>(record.attributes));
        staged_ = StagedFile();
        line_ += done ? "，写入成功。" : "，写入失败！！！";
        return done;
    }

private:
    void retry() {
        if (!retried_) line_ += "，写入失败，尝试删除重写";
        retried_ = true;
    }

    // The bytes written so far are gone from the stream: the next pass writes the file anew.
    void fail(FailureCause why) {
        staged_ = StagedFile();
        retry();
        failure_.note(why);
    }

    // A folder that takes no new file is full, or not the caller's to write.
    void NoteRefusedFolder(const Text& folder, std::uint64_t wanted) {
        std::uint64_t available = 0;
        if (FreeSpaceFor(folder, available) && available < std::max<std::uint64_t>(wanted, 1))
            failure_.note(FailureCause::DiskFull);
        else
            failure_.note(FailureCause::NoPermission, folder);
    }

    TargetTree& tree_;
    Text path_;
    Text& line_;
    ExtractFailure& failure_;
    StagedFile staged_;
    Md5 digest_;  // of the bytes read back
    ByteBuffer readBack_;
    std::uint64_t written_ = 0;
    bool retried_ = false;
};

// What one call has settled, across its passes.
struct CallState {
    std::vector<char> finished;  // by record number; only the calling thread writes it
    std::size_t done = 0;
    FileKeys finishedFiles;  // the files of finished records
    std::set<Text> finishedPaths;  // their paths, ASCII letter case aside
};

// The file side of one pass, fed from the queue on the calling thread.
class PassConsumer {
public:
    PassConsumer(const Text& target, TargetTree& tree, const ExtractOutputs& out, CallState& call,
                 const FoundFiles* found)
        : target_(target), tree_(tree), out_(out), call_(call), found_(found), removals_(tree.removals()) {}

    // 1 or 0 when the call must end now, -1 when the pass ran to its end.
    int run(StreamQueue& queue) {
        BatchReader reader(queue);
        StreamItem item;
        while (reader.pop(item)) {
            switch (item.kind) {
            case StreamItem::Kind::Count:
                if (!RecordCountValid(item.number)) return damaged();
                counted(item.number);
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
            case StreamItem::Kind::Broken: return damaged();
            case StreamItem::Kind::Checked: break;
            }
        }
        return count_ > 0 ? -1 : damaged();
    }

    void counted(std::int32_t count) {
        count_ = count;
        if (call_.finished.empty()) call_.finished.assign(static_cast<std::size_t>(count_) + 1, 0);
    }
    std::int32_t count() const { return count_; }
    // Why this pass left records unfinished, and their bytes.
    const ExtractFailure& failure() const { return failure_; }
    std::uint64_t unwrittenBytes() const { return unwritten_; }

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
    // False when the call must end: the target cannot be made, or it is no
    // longer the folder that was opened (it is never opened again by path).
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
        if (call_.finished[number] != 0) return true;
        if (!IsSafeArchivePath(record_.path)) {
            line_ += "，无效文件，跳过。";
            finish(true);
            return true;
        }
        if (!tree_.opened()) {
            failure_.note(FailureCause::NoPermission, WithoutSeparator(target_));
            return false;
        }
        if (!tree_.rootInPlace()) {
            failure_.note(FailureCause::Other);
            return false;
        }
        tree_.makeFolders(RecordFolder(record_.path));
        const Finding now = judge();
        if (now.matches(record_)) {
            call_.finishedFiles.insert(KeyOf(now.identity));
            line_ += "，文件无变化，跳过。";
            finish(true);
            return true;
        }
        if (Contradicts(now)) {
            line_ += "，文件有变化，需要写入，写入失败！！！";
            failure_.note(FailureCause::Other);
            finish(false);
            return true;
        }
        staged_ = true;
        writer_ = std::make_unique<RecordWriter>(tree_, WithoutSeparator(target_ + RecordFolder(record_.path)),
                                                 record_, line_, failure_);
        return true;
    }

    // Judged on what is at the path now; the survey only saves hashing a
    // file that is provably the one it hashed.
    Finding judge() {
        // Whatever the pass removed may have taken what the survey saw with it.
        if (tree_.removals() != removals_) found_ = nullptr;
        if (!found_ || !found_->digested[number_]) return Judge(tree_, record_);
        if (!staged_) {
            // Nothing of this run's has changed the target since the survey
            // looked: what it found stands without another look (a change
            // from outside could as well come after a second one).
            Finding surveyed;
            surveyed.state = EntryState::File;
            surveyed.identity = found_->identity[number_];
            surveyed.hashed = surveyed.stable = true;
            surveyed.digest = found_->digest[number_];
            return surveyed;
        }
        const Hint hint{found_->digest[number_], found_->identity[number_], written_};
        return Judge(tree_, record_, &hint);
    }

    // What an earlier record of this call put or needed at the path, and
    // this one would take away: a folder on an earlier record's way, or
    // the file an earlier record finished under this name (another name
    // of that file may take other bytes: it is replaced, not written).
    bool Contradicts(const Finding& now) const {
        if (now.state == EntryState::Folder) return tree_.walkedThrough(now.identity);
        if (now.state != EntryState::File || !call_.finishedFiles.count(KeyOf(now.identity))) return false;
        return now.identity.links <= 1 || call_.finishedPaths.count(LowerAscii(record_.path)) != 0;
    }

    void end() {
        if (!writer_) return;
        FileKeys written;
        const bool done = writer_->finish(record_, written);
        writer_.reset();
        written_.insert(written.begin(), written.end());
        call_.finishedFiles.insert(written.begin(), written.end());
        finish(done);
    }

    // Marks the record and reports it; called once per record not skipped.
    void finish(bool finished) {
        if (finished) {
            call_.finished[number_] = 1;
            ++call_.done;
            call_.finishedPaths.insert(LowerAscii(record_.path));
        } else {
            unwritten_ += static_cast<std::uint64_t>(std::max(record_.dataLength, 0));
        }
        if (out_.trace && out_.traceSink) out_.traceSink(fullPath_, line_);
    }

    int damaged() {
        failure_.note(FailureCause::Damaged);
        return 0;
    }

    const Text& target_;
    TargetTree& tree_;
    const ExtractOutputs& out_;
    CallState& call_;
    ExtractFailure failure_;
    std::uint64_t unwritten_ = 0;
    std::int32_t count_ = 0;
    std::int32_t number_ = 0;
    RecordHeader record_;
    Text fullPath_, line_;
    std::unique_ptr<RecordWriter> writer_;
    const FoundFiles* found_;
    const std::uint64_t removals_;
    bool staged_ = false;  // this pass has begun writing a record
    FileKeys written_;  // by this pass
};

// Digests what lies at a record's path, for the survey.
void Note(TargetTree& tree, std::int32_t number, const RecordHeader& header, FoundFiles& found) {
    if (!IsSafeArchivePath(header.path)) return;
    const std::size_t at = static_cast<std::size_t>(number);
    const Finding finding = tree.opened() ? Judge(tree, header) : Finding();
    const std::uint64_t length = static_cast<std::uint64_t>(std::max(header.dataLength, 0));
    if (finding.state != EntryState::File || finding.identity.size != length) found.bytesToAdd += length;
    if (finding.stable) {
        found.digested[at] = 1;
        found.identity[at] = finding.identity;
        found.digest[at] = finding.digest;
    }
    if (!finding.matches(header)) found.lastChanged = number;
}

void Slots(std::size_t count, FoundFiles& found) {
    found.digested.assign(count + 1, 0);
    found.identity.assign(count + 1, FileIdentity());
    found.digest.assign(count + 1, Text());
}

// Judges the whole archive before anything is written, reading only the
// records' headers: meanwhile the calling thread digests what already
// lies at each path of a target that exists. False when the archive is
// not sound (see CheckArchive).
bool Survey(PackedInput& input, TargetTree& tree, FoundFiles& found) {
    StreamQueue queue(kQueueDepth);
    ProducerThread producer(queue, [&input](BatchSender& sender) { ProduceSurvey(input, sender); });
    BatchReader reader(queue);
    StreamItem item;
    bool counted = false, checked = false;
    while (reader.pop(item)) {
        if (item.kind == StreamItem::Kind::Broken) return false;
        checked = checked || item.kind == StreamItem::Kind::Checked;
        if (item.kind == StreamItem::Kind::Count) {
            counted = true;
            Slots(static_cast<std::size_t>(item.number), found);
        }
        if (item.kind != StreamItem::Kind::Header) continue;
        found.kept.keep(item.number, item.header);
        Note(tree, item.number, item.header, found);
    }
    return counted && checked;
}

// The survey from headers a check kept: nothing inflated, only the files
// at their paths digested.
void SurveyFromHeaders(const CheckedHeaders& checked, TargetTree& tree, FoundFiles& found) {
    const std::size_t count = checked.headers.size() - 1;
    Slots(count, found);
    found.kept = checked;
    for (std::size_t number = 1; number <= count; ++number)
        Note(tree, static_cast<std::int32_t>(number), checked.headers[number], found);
}

// One pass. With the survey's headers, the stream is inflated only up to
// the last record the survey found changed; the rest is handled from the
// headers, and streaming resumes wherever a record still needs its data.
int RunPass(PackedInput& input, const std::vector<char>& earlier, PassConsumer& consumer, const FoundFiles* replay) {
    RecordRange range;
    if (replay) range.last = replay->lastChanged;
    for (;;) {
        int result = -1;
        if (range.last == 0) {
            // No record before the replay needs its data: the stream is not even opened.
            consumer.counted(static_cast<std::int32_t>(replay->kept.headers.size() - 1));
        } else {
            StreamQueue queue(kQueueDepth);
            ProducerThread producer(queue, [&input, &earlier, range](BatchSender& sender) {
                Produce(input, earlier, range, sender);
            });
            result = consumer.run(queue);
        }
        if (result >= 0 || !replay || range.last == INT32_MAX) return result;
        const std::int32_t next = consumer.replay(replay->kept.headers, range.last + 1);
        if (next == 0) return 0;
        if (next > consumer.count()) return -1;
        range = RecordRange{next, INT32_MAX, true};
    }
}

}  // namespace

bool MakeTargetFolder(const Text& folder, ExtractFailure& failure) {
    TargetTree tree(NormaliseDirectory(folder));
    if (tree.open(true)) return true;
    if (!tree.linkOnTheWay().empty()) failure.note(FailureCause::Linked, tree.linkOnTheWay());
    return false;
}

bool PrepareFolder(const Text& folder) {
    if (isDirectory(folder) || EnsureDirectoryPath(folder)) return true;
    removeDirectoryTree(folder);
    return EnsureDirectoryPath(folder);
}

int ExtractPasses(PackedInput& input, const Text& target, const ExtractOutputs& out, bool streamChecked) {
    ExtractFailure unread;
    ExtractFailure& failure = out.failure ? *out.failure : unread;
    failure = ExtractFailure();
    TargetTree tree(target, out.targetPath);
    const auto linked = [&tree, &failure] {
        if (tree.linkOnTheWay().empty()) return false;
        failure.note(FailureCause::Linked, tree.linkOnTheWay());
        failure.beforeWriting = true;
        return true;
    };
    FoundFiles found;
    if (!streamChecked) {
        // An existing target is digested while the archive is judged;
        // nothing is made before the archive has passed and fits.
        if (!tree.open() && linked()) return 0;
        if (!Survey(input, tree, found)) {
            failure.note(FailureCause::Damaged);
            return 0;
        }
        std::uint64_t available = 0;
        if (FreeSpaceFor(target, available) && available < found.bytesToAdd) {
            failure = ExtractFailure{FailureCause::DiskFull, Text(), found.bytesToAdd, available, true};
            return 0;
        }
    } else if (out.checked && out.checked->whole && out.checked->headers.size() > 1) {
        // An unchanged target is then only hashed: nothing is inflated for it.
        if (!tree.open() && linked()) return 0;
        SurveyFromHeaders(*out.checked, tree, found);
    }
    // Otherwise not checked here: the first record that needs the target fails the call.
    if (!tree.opened() && !tree.open(true) && linked()) return 0;
    tree.removeLeftovers();
    CallState call;
    for (int pass = 0; pass < kMaxPasses; ++pass) {
        const std::vector<char> earlier = call.finished;  // what the inflating side may skip
        const FoundFiles* survey = pass == 0 && !found.digested.empty() ? &found : nullptr;
        PassConsumer consumer(target, tree, out, call, survey);
        const int result = RunPass(input, earlier, consumer, survey && survey->kept.whole ? survey : nullptr);
        const bool whole = result < 0 && call.done == static_cast<std::size_t>(consumer.count());
        failure = whole ? ExtractFailure() : consumer.failure();
        if (whole) return 1;
        if (result >= 0) return result;
        if (failure.cause == FailureCause::DiskFull) {
            // Another pass finds no more room.
            failure.needed = consumer.unwrittenBytes();
            FreeSpaceFor(target, failure.available);
            return 0;
        }
    }
    if (failure.cause == FailureCause::None) failure.cause = FailureCause::Other;
    return 0;
}
