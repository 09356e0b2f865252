// ezbench [all|generate|pack|extract] [DIR] [TOTAL_BYTES]
// ezbench install DIR: one extraction into DIR\dst the installer's way.
// A synthetic payload of the shipped shape: 170 files, 188,802,229 bytes,
// one file of 110,873,600 bytes, two empty files, about 53% after zlib.
// TOTAL_BYTES scales every file alike (e.g. 1070000000 for just under 1 GiB).
// Prints pack time, the check pass, fresh and unchanged extraction times
// and peak memory.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "payload/archive_check.h"
#include "payload/envelope.h"
#include "payload/file_ops.h"
#include "payload/inflate_source.h"
#include "payload/packed_input.h"
#include "payload/payload_archive.h"
#include "process/directory.h"
#include "system/folders.h"

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <sys/resource.h>

#include <filesystem>

#include "system/posix_path.h"
#endif

namespace {

constexpr std::uint64_t kShippedTotal = 188802229;
constexpr std::uint64_t kShippedLargest = 110873600;
std::uint64_t kTotalBytes = kShippedTotal;
std::uint64_t kLargest = kShippedLargest;
constexpr int kFiles = 170;
// Share of each block filled with random bytes; the rest repeats a phrase.
constexpr double kRandomShare = 0.524;

struct Random {
    std::uint64_t state;
    std::uint64_t next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
};

double PeakMegabytes() {
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    // Wine keeps one of the two near zero; the larger is the real peak.
    SIZE_T peak = counters.PeakWorkingSetSize > counters.PeakPagefileUsage ? counters.PeakWorkingSetSize
                                                                           : counters.PeakPagefileUsage;
    return static_cast<double>(peak) / 1048576.0;
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
#endif
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

ByteBuffer Contents(std::size_t size, Random& random) {
    static const char kPhrase[] = "VantelPA browser resource block; ";
    ByteBuffer bytes(size);
    const std::size_t block = 4096;
    const std::size_t randomPart = static_cast<std::size_t>(block * kRandomShare);
    for (std::size_t at = 0; at < size; at += block) {
        std::size_t end = at + block < size ? at + block : size;
        std::size_t split = at + randomPart < end ? at + randomPart : end;
        for (std::size_t i = at; i < split; i += 8) {
            std::uint64_t word = random.next();
            for (std::size_t k = 0; k < 8 && i + k < split; ++k) bytes[i + k] = static_cast<std::uint8_t>(word >> (8 * k));
        }
        for (std::size_t i = split; i < end; ++i) bytes[i] = static_cast<std::uint8_t>(kPhrase[i % (sizeof(kPhrase) - 1)]);
    }
    return bytes;
}

// Paths and sizes: 2 at the root, 113 under browser\<ver>, 55 under resource.
std::vector<std::pair<Text, std::uint64_t>> Layout() {
    std::vector<std::pair<Text, std::uint64_t>> files;
    files.push_back({"VantelPA.exe", 0});
    files.push_back({"升级说明与必看.txt", 0});
    files.push_back({"browser\\118.0.2\\browser_core.dll", kLargest});
    files.push_back({"browser\\118.0.2\\first_run.dat", 0});
    files.push_back({"resource\\empty.cfg", 0});
    for (int i = 0; i < 111; ++i)
        files.push_back({"browser\\118.0.2\\" + std::string(i < 60 ? "locales\\" : "") + "part" + std::to_string(i) + ".pak", 0});
    for (int i = 0; i < 54; ++i) files.push_back({"resource\\img\\icon" + std::to_string(i) + ".png", 0});
    // The rest of the bytes spread over the other files with varied sizes.
    std::uint64_t rest = kTotalBytes - kLargest;
    std::vector<std::size_t> sized;
    for (std::size_t i = 0; i < files.size(); ++i)
        if (files[i].first.find("empty") == Text::npos && files[i].first.find("first_run") == Text::npos && i != 2)
            sized.push_back(i);
    std::uint64_t weights = 0;
    std::vector<std::uint64_t> weight(sized.size());
    for (std::size_t k = 0; k < sized.size(); ++k) weights += weight[k] = 1 + (k * 7919 % 97) * (k % 11 == 0 ? 40 : 1);
    std::uint64_t given = 0;
    for (std::size_t k = 0; k < sized.size(); ++k) {
        std::uint64_t size = k + 1 == sized.size() ? rest - given : rest * weight[k] / weights;
        files[sized[k]].second = size;
        given += size;
    }
    return files;
}

bool Generate(const Text& source) {
    if (isDirectory(source)) {
        std::printf("using the files already in %s\n", source.c_str());
        return true;
    }
    Random random{0x9E3779B97F4A7C15ull};
    std::uint64_t total = 0;
    for (const auto& [path, size] : Layout()) {
        Text full = source + path;
        EnsureDirectoryPath(fileFolderPart(full));
        ByteBuffer data = Contents(static_cast<std::size_t>(size), random);
        if (!writeWholeFile(full, data)) {
            std::fprintf(stderr, "ezbench: cannot write %s\n", full.c_str());
            return false;
        }
        total += size;
    }
    std::printf("generated %d files, %llu bytes\n", kFiles, static_cast<unsigned long long>(total));
    return true;
}

bool Pack(const Text& source, const Text& packed) {
    auto start = std::chrono::steady_clock::now();
    PayloadArchive archive;
    Text folder = source;
    archive.addDirectory(folder);
    ByteBuffer envelope = archive.packArchive();
    double seconds = Seconds(start);
    std::size_t records = archive.entries.size();
    archive.destroy();
    if (envelope.empty() || !writeWholeFile(packed, envelope)) {
        std::fprintf(stderr, "ezbench: packing failed\n");
        return false;
    }
    std::printf("pack: %zu records, %zu bytes packed (%.1f%%), %.2f s, peak %.0f MB\n", records, envelope.size(),
                100.0 * static_cast<double>(envelope.size()) / static_cast<double>(kTotalBytes), seconds,
                PeakMegabytes());
    return true;
}

// One extraction, timed; the target is emptied first when `fresh`.
bool TimedExtraction(PackedInput& input, const Text& target, bool fresh, bool checked, const char* label,
                     const CheckedHeaders* headers = nullptr) {
    if (fresh) removeDirectoryTree(target);
    PayloadArchive archive;
    archive.checkedHeaders = headers;
    Text folder = target;
    const auto start = std::chrono::steady_clock::now();
    const int result = archive.extractArchive(input, folder, Text(), nullptr, nullptr, false, TraceSink(), checked);
    std::printf("%s: result %d, %.2f s, peak %.0f MB\n", label, result, Seconds(start), PeakMegabytes());
    return result == 1;
}

bool CheckPass(PackedInput& input, CheckedHeaders* kept = nullptr) {
    const auto start = std::chrono::steady_clock::now();
    std::string reason;
    ArchiveVisitor visitor;
    if (kept) visitor.record = [kept](std::int32_t number, RecordHeader& header) {
        kept->keep(number, header);
        return true;
    };
    const bool unpacks = CheckArchive(input, reason, visitor);
    std::printf("check pass: %s, %.2f s, peak %.0f MB\n", unpacks ? "ok" : "damaged", Seconds(start),
                PeakMegabytes());
    return unpacks;
}

// Both ways the product extracts: `ezpack extract` checks the stream as
// part of the extraction; the installer has checked it behind the
// agreement page before the extraction starts.
bool Extract(const Text& packed, const Text& target) {
    // Read from the file in chunks, as the tool does: nothing is held whole.
    FileInput input(packed);
    bool ok = CheckPass(input);
    ok = TimedExtraction(input, target, true, false, "fresh extraction, check included") && ok;
    ok = TimedExtraction(input, target, false, false, "unchanged re-extraction, check included") && ok;
    ok = TimedExtraction(input, target, true, true, "fresh extraction after the check") && ok;
    ok = TimedExtraction(input, target, false, true, "unchanged re-extraction after the check") && ok;
    return ok;
}

// What the installer does once the user starts the install: the check has
// run already (timed here on its own), then one extraction into the target
// as it stands.
bool Install(const Text& packed, const Text& target) {
    FileInput input(packed);
    CheckedHeaders kept;
    return CheckPass(input, &kept) && TimedExtraction(input, target, false, true, "extraction after the check", &kept);
}

}  // namespace

int main(int argc, char** argv) {
    std::string phase = argc > 1 ? argv[1] : "all";
    const bool known = phase == "all" || phase == "generate" || phase == "pack" || phase == "extract" ||
                       phase == "install";
    if (!known) {
        std::fprintf(stderr, "usage: ezbench [all|generate|pack|extract|install] [DIR] [TOTAL_BYTES]\n");
        return 2;
    }
    if (argc > 3) {
        kTotalBytes = std::strtoull(argv[3], nullptr, 10);
        kLargest = kShippedLargest * kTotalBytes / kShippedTotal;
    }
    Text work = argc > 2 ? Text(argv[2]) : TempDirectory() + "\\ezbench";
#ifndef _WIN32
    if (argc > 2) work = FromPosixPath(std::filesystem::absolute(argv[2]).string());
#endif
    work = NormaliseDirectory(work);
    Text source = work + "src\\";
    Text packed = work + "payload.ez";
    Text target = work + "dst\\";
    bool ok = true;
    if (phase == "all" || phase == "generate") ok = ok && Generate(source);
    if (phase == "all" || phase == "pack") ok = ok && Pack(source, packed);
    if (phase == "all" || phase == "extract") ok = ok && Extract(packed, target);
    if (phase == "install") ok = Install(packed, target);
    return ok ? 0 : 1;
}
