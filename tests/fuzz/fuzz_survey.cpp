// Differential fuzz target: what the check finds on disk before the first
// pass is a hint, never a fact. The input is an inflated archive followed
// by layout bytes that prepare the target: files with the records' bytes or
// other ones, folders, files in a folder's way, read-only files, hard links
// between records and to a file outside, and links to a file and a folder
// outside. Two identical sandboxes get the same layout; one extraction runs
// with the check's findings (as ezpack), the other after the archive was
// judged on its own (as the installer). Both must give the same result and leave the same tree,
// neither may change anything outside its target, and the tree must be
// what the result promises: 1, every record on disk as recorded; 0, no
// file at a record's path partial or unverified. An archive of plain
// records into an empty target must extract whole.
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "archive_mutator.h"
#include "fuzz_check.h"
#include "fuzz_sandbox.h"
#include "payload/archive_check.h"
#include "payload/archive_path.h"
#include "payload/envelope.h"
#include "payload/md5.h"
#include "payload/payload_archive.h"
#include "system/posix_path.h"
#include "write_fence.h"

namespace {

constexpr std::size_t kMaxLayoutSteps = 16;

// A record's path as the file system components it names; empty when the
// extraction refuses the path.
std::vector<std::string> Components(const Field& record) {
    const Text path = TextFromBytes(record.path.data(), record.path.size());
    std::vector<std::string> parts;
    if (!IsSafeArchivePath(path)) return parts;
    const std::string native = ToPosixPath(path);
    for (std::size_t at = 0; at <= native.size();) {
        std::size_t end = native.find('/', at);
        if (end == std::string::npos) end = native.size();
        parts.push_back(native.substr(at, end - at));
        at = end + 1;
    }
    return parts;
}

std::string Join(const std::vector<std::string>& parts, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) out += (i ? "/" : "") + parts[i];
    return out;
}

// Layout writes are allowed to fail (something else is in the way) and
// never go through a link.
void Put(const std::string& path, const std::string& contents, mode_t mode = 0644) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) return;
    if (write(fd, contents.data(), contents.size()) < 0) {
        // what was written stays; the layout is the same in both sandboxes either way
    }
    close(fd);
}

class Sandboxes {
public:
    Sandboxes() { root_ = SandboxBase() + "/vantel-fuzz-survey-" + std::to_string(getpid()); }
    ~Sandboxes() { RemoveTree(root_); }
    const std::string& root() const { return root_; }
    std::string variant(int v) const { return root_ + (v == 0 ? "/with-check" : "/without-check"); }

    // The same layout in both sandboxes.
    void Lay(const std::vector<Field>& records, const std::uint8_t* layout, std::size_t size) const {
        RemoveTree(root_);
        if (mkdir(root_.c_str(), 0755) != 0) FuzzFailure("cannot lay out the sandbox", root_.c_str());
        for (int v = 0; v < 2; ++v) {
            const std::string at = variant(v);
            for (const char* folder : {"", "/tmp", "/target", "/target-sibling"})
                if (mkdir((at + folder).c_str(), 0755) != 0) FuzzFailure("cannot lay out the sandbox", at.c_str());
            WriteFile(at + "/outside-sentinel.txt", "outside");
            WriteFile(at + "/target-sibling/x.txt", "sibling");
            for (std::size_t i = 0; i + 1 < size && i / 2 < kMaxLayoutSteps && !records.empty(); i += 2)
                Step(at + "/target", records, layout[i], layout[i + 1]);
        }
    }

private:
    static void Step(const std::string& target, const std::vector<Field>& records, std::uint8_t op, std::uint8_t arg) {
        const std::size_t n = records.size();
        const Field& record = records[arg % n];
        const std::vector<std::string> parts = Components(record);
        if (parts.empty()) return;
        for (std::size_t i = 1; i < parts.size(); ++i) mkdir((target + "/" + Join(parts, i)).c_str(), 0755);
        const std::string path = target + "/" + Join(parts, parts.size());
        std::string toRoot;  // from the link's folder up to the sandbox

        for (std::size_t i = 0; i < parts.size(); ++i) toRoot += "../";
        switch (op % 10) {
            case 0: Put(path, record.data); break;
            case 1: Put(path, record.data + "~"); break;
            case 2:
                mkdir(path.c_str(), 0755);
                Put(path + "/inner.txt", "inner");
                break;
            case 3:
                if (parts.size() > 1) Put(target + "/" + parts[0], "in the way");
                break;
            case 4: link((target + "/../outside-sentinel.txt").c_str(), path.c_str()); break;
            case 5: symlink((toRoot + "outside-sentinel.txt").c_str(), path.c_str()); break;
            case 6:
                symlink("../target-sibling", (target + "/" + (parts.size() > 1 ? parts[0] : Join(parts, 1))).c_str());
                break;
            case 7: Put(path, (op / 10) % 2 ? record.data : record.data + "~", 0444); break;
            case 8: {
                const std::vector<std::string> other = Components(records[(arg / n) % n]);
                if (other.empty()) break;
                for (std::size_t i = 1; i < other.size(); ++i) mkdir((target + "/" + Join(other, i)).c_str(), 0755);
                const std::string otherPath = target + "/" + Join(other, other.size());
                Put(otherPath, records[(arg / n) % n].data);
                link(otherPath.c_str(), path.c_str());
                break;
            }
            default: Put(path, ""); break;
        }
    }

    std::string root_;
};

// What lies outside `target` and `tmp`: nothing there may change, and the
// temporary folder must be empty again. A file outside may lose the name
// a hard link gave it in the target, nothing else.
void CheckOutside(const Tree& before, const Tree& after) {
    auto outside = [](const Tree& tree) {
        Tree part;
        for (auto [path, node] : tree) {
            if (path == "target" || Below(path, "target") || Below(path, "tmp")) continue;
            node.links = 0;
            part[path] = node;
        }
        return part;
    };
    const Tree was = outside(before), is = outside(after);
    for (const auto& [path, node] : was) {
        auto now = is.find(path);
        if (now == is.end()) FuzzFailure("deleted outside the target", path.c_str());
        if (!(now->second == node)) FuzzFailure("changed outside the target", path.c_str());
    }
    for (const auto& [path, node] : is)
        if (!was.count(path)) FuzzFailure("created outside the target", path.c_str());
    for (const auto& [path, node] : after)
        if (Below(path, "tmp")) FuzzFailure("left in the temporary folder", path.c_str());
}

void CheckSame(const Tree& with, const Tree& without) {
    for (const auto& [path, node] : with) {
        auto other = without.find(path);
        if (other == without.end()) FuzzFailure("only the extraction with the check left", path.c_str());
        if (!(other->second == node)) FuzzFailure("the extractions with and without the check left different", path.c_str());
    }
    for (const auto& [path, node] : without)
        if (!with.count(path)) FuzzFailure("only the extraction without the check left", path.c_str());
}

Text DigestOf(const Field& record) { return LowerAscii(TextFromBytes(record.md5.data(), record.md5.size())); }

// Plain records into an empty target: every path safe, every digest right,
// no path the same as or a folder of another, names the file system takes.
bool Plain(const std::vector<Field>& records) {
    std::vector<std::vector<std::string>> all;
    for (const Field& record : records) {
        const std::vector<std::string> parts = Components(record);
        if (parts.empty() || DigestOf(record) != Md5OfBytes(record.data.data(), record.data.size())) return false;
        for (const std::string& part : parts)
            if (part.size() > 255) return false;
        for (const auto& earlier : all) {
            const std::size_t common = std::min(earlier.size(), parts.size());
            if (std::equal(parts.begin(), parts.begin() + static_cast<std::ptrdiff_t>(common), earlier.begin()))
                return false;
        }
        all.push_back(parts);
    }
    return true;
}

// What the result promises of the target. 1: every record is on disk
// with its digest, as a regular file. 0: a file at a record's path is the
// one that was there before or a record's verified bytes, never partial.
// Either way no other file in the target is new or changed.
void CheckPromise(const std::vector<Field>& records, int result, const Tree& before, const Tree& after) {
    std::map<std::string, std::vector<Text>> digests;  // by record path
    for (const Field& record : records) {
        const std::vector<std::string> parts = Components(record);
        if (!parts.empty()) digests["target/" + Join(parts, parts.size())].push_back(DigestOf(record));
    }
    auto sameAsBefore = [&](const std::string& path, const Node& node) {
        auto was = before.find(path);
        return was != before.end() && was->second.kind == 'f' && was->second.contents == node.contents;
    };
    for (const auto& [path, wanted] : digests) {
        auto now = after.find(path);
        const bool file = now != after.end() && now->second.kind == 'f';
        const Text digest = file ? Md5OfBytes(now->second.contents.data(), now->second.contents.size()) : Text();
        if (result == 1) {
            for (const Text& one : wanted)
                FuzzRequire(file && one == digest, "the extraction returned 1 but a record is not on disk as recorded");
        } else if (file) {
            FuzzRequire(sameAsBefore(path, now->second) || std::count(wanted.begin(), wanted.end(), digest) > 0,
                        "a failed extraction left a file that is neither the old one nor a record's verified bytes");
        }
    }
    for (const auto& [path, node] : after)
        if (Below(path, "target") && node.kind == 'f' && !digests.count(path))
            FuzzRequire(sameAsBefore(path, node), "a file no record names is new or changed in the target");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Sandboxes sandboxes;
    std::vector<Field> records;
    std::size_t used = size;
    const bool parsed = ParseArchive(data, size, records, &used);
    if (!parsed) {
        records.clear();
        used = size;
    }
    const ByteBuffer envelope = packEnvelope(data, used);
    if (envelope.empty()) return 0;

    sandboxes.Lay(records, data + used, size - used);
    Tree before[2], after[2];
    int result[2];
    for (int v = 0; v < 2; ++v) {
        const std::string at = sandboxes.variant(v);
        before[v] = Snapshot(at);
        setenv("TMPDIR", (at + "/tmp").c_str(), 1);  // where forceRemove moves files
        Text target;
        for (char c : at + "/target") target += c == '/' ? '\\' : c;
        PayloadArchive archive;
        // The installer judges its payload before the extraction, which
        // then neither checks it again nor digests ahead.
        bool judged = false;
        if (v == 1) {
            SpanInput input(ByteSpan{envelope.data(), envelope.size()});
            std::string reason;
            judged = CheckArchive(input, reason);
        }
        ArmWriteFence(sandboxes.root());
        result[v] = archive.extractArchive(ByteSpan{envelope.data(), envelope.size()}, target, Text(), nullptr, nullptr,
                                           false, TraceSink(), judged);
        DisarmWriteFence();
        after[v] = Snapshot(at);
        CheckOutside(before[v], after[v]);
    }
    FuzzRequire(before[0] == before[1], "the two sandboxes were laid out differently");
    FuzzRequire(result[0] == result[1], "the extractions with and without the check gave different results");
    CheckSame(after[0], after[1]);
    if (parsed) CheckPromise(records, result[0], before[0], after[0]);

    if (parsed && used == size && Plain(records)) {
        FuzzRequire(result[0] == 1, "plain records into an empty target did not all extract");
        for (const Field& record : records) {
            const std::string path = "target/" + Join(Components(record), Components(record).size());
            auto file = after[0].find(path);
            FuzzRequire(file != after[0].end() && file->second.kind == 'f' && file->second.contents == record.data,
                        "a plain record is not on disk as it was recorded");
        }
    }
    return 0;
}

#ifdef VANTEL_FUZZ_ENGINE
// Mostly the records change (as for fuzz_extract), the layout bytes behind
// them now and then.
extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                                               unsigned int seed) {
    std::vector<Field> records;
    std::size_t used = size;
    if (!ParseArchive(data, size, records, &used)) return LLVMFuzzerMutate(data, size, maxSize);
    const std::string layout(reinterpret_cast<const char*>(data) + used, size - used);
    const std::size_t room = std::min<std::size_t>(maxSize - used, 2 * kMaxLayoutSteps);
    if (seed % 4 == 0 && room > 0) return used + LLVMFuzzerMutate(data + used, std::min(size - used, room), room);
    const std::size_t mutated = MutateArchive(data, used, maxSize - std::min(maxSize, layout.size()), seed);
    if (mutated == 0) return LLVMFuzzerMutate(data, size, maxSize);
    std::copy(layout.begin(), layout.end(), data + mutated);
    return mutated + layout.size();
}
#endif
