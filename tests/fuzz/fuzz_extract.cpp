// Fuzz target: the installer's whole extraction into a scratch target. The
// input is the inflated archive, packed here, so that mutations reach the
// records instead of breaking the zlib stream. Around the target lie a file
// beside it, a sibling folder whose name starts with the target's, and the
// temporary folder. After each extraction nothing outside the target may
// have been created, changed or deleted, nothing may be left in the
// temporary folder, and the file that was already in the target may only
// change when a record names it.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "archive_mutator.h"
#include "fuzz_check.h"
#include "fuzz_sandbox.h"
#include "payload/envelope.h"
#include "payload/payload_archive.h"
#include "write_fence.h"

namespace {

constexpr char kSentinel[] = "inside-sentinel.txt";

// ASCII case folding and character-wise splitting, written here on purpose:
// a lead byte (0x81 to 0xFE, as the file system reads code page 936) takes
// the next byte with it, so a trail byte 0x5C is no separator.
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
        if (c >= 0x81 && c <= 0xFE && i + 1 < relative.size()) component += relative[++i];
    }
    end();
    return components == 1 && only == kSentinel;
}

class Sandbox {
public:
    Sandbox() {
        root_ = SandboxBase() + "/vantel-fuzz-" + std::to_string(getpid());
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
        Tree tree = ::Snapshot(root_);
        tree["target"].mode = 0;  // the target itself may be remade; it must stay a folder
        return tree;
    }

private:
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
extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                                               unsigned int seed) {
    const std::size_t mutated = MutateArchive(data, size, maxSize, seed);
    return mutated ? mutated : LLVMFuzzerMutate(data, size, maxSize);
}
#endif
