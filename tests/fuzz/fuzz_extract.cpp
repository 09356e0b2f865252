// Fuzz target: the installer's whole extraction into a scratch target. The
// input is the inflated archive, packed here, so that mutations reach the
// records instead of breaking the zlib stream. Around the target lie a file
// beside it, a sibling folder whose name starts with the target's, and the
// temporary folder. After each extraction nothing outside the target may
// have been created, changed or deleted, nothing may be left in the
// temporary folder, and the file that was already in the target may only
// change when a record names it.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "payload/archive_format.h"
#include "payload/byte_io.h"
#include "payload/envelope.h"
#include "payload/md5.h"
#include "payload/payload_archive.h"
#include "write_fence.h"

namespace {

constexpr char kSentinel[] = "inside-sentinel.txt";

struct Node {
    bool folder = false;
    mode_t mode = 0;
    std::string contents;
    bool operator==(const Node&) const = default;
};
// Relative POSIX path to what is there.
using Tree = std::map<std::string, Node>;

// Plain POSIX helpers: the guard must not rely on the code it watches.
void WriteFile(const std::string& path, const std::string& contents) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = fd >= 0 && write(fd, contents.data(), contents.size()) == static_cast<ssize_t>(contents.size());
    if (fd >= 0) close(fd);
    if (!ok) FuzzFailure("cannot lay out the sandbox", path.c_str());
}

std::string ReadFile(const std::string& path) {
    std::string contents;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "<unreadable>";
    char chunk[65536];
    for (ssize_t got; (got = read(fd, chunk, sizeof chunk)) > 0;) contents.append(chunk, static_cast<std::size_t>(got));
    close(fd);
    return contents;
}

template <typename Visit>
void ForEachName(const std::string& folder, Visit visit) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") visit(name);
    }
    closedir(dir);
}

// Folders get their write permission back first: a record may have made one read-only.
void RemoveTree(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    if (!S_ISDIR(st.st_mode)) {
        unlink(path.c_str());
        return;
    }
    chmod(path.c_str(), 0700);
    ForEachName(path, [&](const std::string& name) { RemoveTree(path + "/" + name); });
    rmdir(path.c_str());
}

void Scan(const std::string& root, const std::string& relative, Tree& tree) {
    ForEachName(root + "/" + relative, [&](const std::string& name) {
        std::string path = relative.empty() ? name : relative + "/" + name;
        std::string full = root + "/" + path;
        struct stat st;
        if (lstat(full.c_str(), &st) != 0) return;
        Node node{S_ISDIR(st.st_mode), st.st_mode, S_ISREG(st.st_mode) ? ReadFile(full) : std::string()};
        tree[path] = node;
        if (node.folder) Scan(root, path, tree);
    });
}

bool Below(const std::string& path, const std::string& folder) {
    return path.compare(0, folder.size() + 1, folder + "/") == 0;
}

// ASCII case folding and character-wise splitting, written here on purpose:
// a lead byte of 0x80 or above takes the next byte with it, so a trail
// byte 0x5C is no separator.
bool NamesSentinel(const Text& relative) {
    Text component, only;
    int components = 0;
    auto end = [&] {
        if (component.empty() || component == ".") return;
        ++components;
        only = component;
    };
    for (std::size_t i = 0; i < relative.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(relative[i]);
        if (c == '\\' || c == '/') {
            end();
            component.clear();
            continue;
        }
        component += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        if (c >= 0x80 && i + 1 < relative.size()) component += relative[++i];
    }
    end();
    return components == 1 && only == kSentinel;
}

class Sandbox {
public:
    Sandbox() {
        struct stat st;
        const char* tmp = std::getenv("TMPDIR");
        std::string base = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : tmp && *tmp ? tmp : "/tmp";
        RemoveStale(base);
        root_ = base + "/vantel-fuzz-" + std::to_string(getpid());
        // What TempDirectory reads: forceRemove moves files there.
        setenv("TMPDIR", (root_ + "/tmp").c_str(), 1);
        for (char c : root_ + "/target") target_ += c == '/' ? '\\' : c;
    }
    ~Sandbox() { RemoveTree(root_); }

    const std::string& root() const { return root_; }
    const Text& target() const { return target_; }

    // A fresh layout for every run.
    void Lay() const {
        RemoveTree(root_);
        for (const char* folder : {"", "/tmp", "/target", "/target-sibling"})
            if (mkdir((root_ + folder).c_str(), 0755) != 0) FuzzFailure("cannot lay out the sandbox", root_.c_str());
        WriteFile(root_ + "/outside-sentinel.txt", "outside");
        WriteFile(root_ + "/target/" + kSentinel, "inside");
        WriteFile(root_ + "/target-sibling/x.txt", "sibling");
    }

    Tree Snapshot() const {
        Tree tree;
        Scan(root_, "", tree);
        tree["target"].mode = 0;  // the target itself may be remade; it must stay a folder
        return tree;
    }

private:
    // Sandboxes of fuzzing processes that ended without cleaning up.
    static void RemoveStale(const std::string& base) {
        const std::string prefix = "vantel-fuzz-";
        ForEachName(base, [&](const std::string& name) {
            if (name.compare(0, prefix.size(), prefix) != 0) return;
            long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
            if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) RemoveTree(base + "/" + name);
        });
    }

    std::string root_;
    Text target_;
};

void CheckOutside(const Tree& before, const Tree& after) {
    auto outside = [](const Tree& tree) {
        Tree part;
        for (const auto& [path, node] : tree)
            if (!Below(path, "target") && !Below(path, "tmp")) part[path] = node;
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

void CheckSentinel(const Tree& before, const Tree& after, const Text& target, const TextList& paths) {
    const std::string key = std::string("target/") + kSentinel;
    auto now = after.find(key);
    if (now != after.end() && now->second == before.at(key)) return;
    for (const Text& path : paths)
        if (path.compare(0, target.size(), target) == 0 && NamesSentinel(path.substr(target.size()))) return;
    FuzzFailure(now == after.end() ? "the file in the target was deleted though no record names it"
                                   : "the file in the target was changed though no record names it");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Sandbox sandbox;
    ByteBuffer envelope = packEnvelope(data, size);
    if (envelope.empty()) return 0;

    sandbox.Lay();
    const Tree before = sandbox.Snapshot();
    Text target = sandbox.target();
    TextList paths, md5s;
    PayloadArchive archive;
    ArmWriteFence(sandbox.root());
    archive.extractArchive(envelope, target, Text(), &paths, &md5s, true, [](const Text&, const Text&) {});
    DisarmWriteFence();

    const Tree after = sandbox.Snapshot();
    CheckOutside(before, after);
    CheckSentinel(before, after, sandbox.target() + "\\", paths);
    return 0;
}

#ifdef VANTEL_FUZZ_ENGINE
// Byte-level mutations break the length words and the digests, so most
// inputs would end at the record reader or in five passes of digest
// mismatches. Three mutations in four therefore change one field of one
// record (or add or drop a record), then write the archive again with
// correct lengths and, mostly, correct digests.
extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);

namespace {

struct Field {
    std::int32_t fileSize = 0;
    std::string path, md5, attributes, data;
};

// Only archives whose every length fits; the rest is mutated as bytes.
bool Parse(const std::uint8_t* bytes, std::size_t size, std::vector<Field>& records) {
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
    return true;
}

std::string Serialise(const std::vector<Field>& records) {
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

void MutateText(std::string& text, std::size_t room) {
    text.resize(text.size() + room);
    text.resize(LLVMFuzzerMutate(reinterpret_cast<std::uint8_t*>(text.data()), text.size() - room, text.size()));
}

}  // namespace

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                                               unsigned int seed) {
    std::minstd_rand random(seed);
    std::vector<Field> records;
    if (random() % 4 == 0 || !Parse(data, size, records) || records.empty())
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
    const std::string out = Serialise(records);
    if (out.size() > maxSize) return LLVMFuzzerMutate(data, size, maxSize);
    std::memcpy(data, out.data(), out.size());
    return out.size();
}
#endif
