// ezpack: the packing side of the installer's archive on the command line.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <exception>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/version.h"
#include "archive_file.h"
#include "command_line.h"
#include "host_names.h"
#include "payload/archive_writer.h"
#include "payload/byte_io.h"
#include "payload/envelope.h"
#include "payload/inflate_source.h"
#include "payload/packed_input.h"
#include "payload/file_ops.h"
#include "payload/md5.h"
#include "payload/payload_archive.h"
#include "payload/target_tree.h"
#include "process/directory.h"
#ifdef _WIN32
#include "system/system_library.h"
#endif

namespace {

constexpr int kExitOk = 0;
constexpr int kExitIncomplete = 1;  // extraction unfinished, differences found, a write failed, command not finished
constexpr int kExitUsage = 2;
constexpr int kExitBadInput = 3;  // a file or folder given is missing, unreadable or corrupt

struct Command {
    const char* name;
    const char* usage;
    const char* help;
    int arguments;
    int (*run)(const std::vector<Argument>& args, bool trace);
};

int Fail(int code, const std::string& subject, const std::string& reason) {
    std::fprintf(stderr, "ezpack: %s: %s\n", subject.c_str(), reason.c_str());
    return code;
}
int Fail(int code, const Argument& subject, const std::string& reason) { return Fail(code, subject.text, reason); }

bool EndsWithEz(const Text& path) {
    return path.size() >= 3 && LowerAscii(path.substr(path.size() - 3)) == ".ez";
}

// The archive named by an argument, opened once for the whole command.
std::unique_ptr<FileInput> Load(const Argument& argument, LoadedArchive& archive, int& code) {
    Text path;
    std::string reason;
    if (!ArgumentToPath(argument, path)) {
        code = Fail(kExitBadInput, argument, "name cannot be held in the GBK code page");
        return nullptr;
    }
    auto input = std::make_unique<FileInput>(path);
    if (!LoadArchiveFile(path, *input, archive, reason)) {
        code = Fail(kExitBadInput, argument, reason);
        return nullptr;
    }
    return input;
}

int Percent(unsigned long long part, unsigned long long whole) {
    return whole == 0 ? 0 : static_cast<int>((part * 100 + whole / 2) / whole);
}

// Name order at every level, whatever order the file system lists in, so a
// folder packs to the same bytes everywhere. The separator sorts first, so
// comparing whole paths compares them component by component.
bool PathBefore(const Text& a, const Text& b) {
    auto key = [](char c) { return c == '\\' ? 0 : static_cast<unsigned char>(c) + 1; };
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [&](char x, char y) { return key(x) < key(y); });
}

int RunPack(const std::vector<Argument>& args, bool) {
    Text folder, out;
    if (!ArgumentToPath(args[0], folder)) return Fail(kExitBadInput, args[0], "name cannot be held in the GBK code page");
    if (!ArgumentToPath(args[1], out)) return Fail(kExitBadInput, args[1], "name cannot be held in the GBK code page");
    if (!pathExists(folder)) return Fail(kExitBadInput, args[0], "missing");
    if (!isDirectory(folder)) return Fail(kExitBadInput, args[0], "not a folder");
    std::string offender, reason;
    if (!CheckPackable(folder, offender, reason)) return Fail(kExitBadInput, offender, reason);

    folder = NormaliseDirectory(folder);
    TextList files;
    collectFiles(folder, files);
    if (files.empty()) return Fail(kExitBadInput, args[0], "no files to pack");
    std::sort(files.begin(), files.end(), PathBefore);

    // Names are stored as they are; two that differ only in letter case
    // would be one file on Windows.
    std::vector<PackSource> sources;
    std::unordered_map<Text, Text> seen;
    for (const Text& file : files) {
        Text relative = file.substr(folder.size());
        auto [at, added] = seen.emplace(LowerAscii(relative), relative);
        if (!added) return Fail(kExitBadInput, ConsolePath(file), "differs only in letter case from " + ForConsole(at->second));
        sources.push_back({file, relative});
    }
    Text target = EndsWithEz(out) ? out : out + ".ez";
    Text targetFolder = fileFolderPart(target);
    if (!targetFolder.empty() && !isDirectory(targetFolder)) EnsureDirectoryPath(targetFolder);
    PackSummary summary;
    Text failedPath;
    if (!PackFilesToEnvelope(sources, target, summary, failedPath, reason)) {
        return Fail(failedPath == target ? kExitIncomplete : kExitBadInput, ConsolePath(failedPath), reason);
    }
    std::printf("%zu files, %llu bytes, packed to %llu bytes (%d%%): %s\n", sources.size(), summary.dataBytes,
                summary.packedBytes, Percent(summary.packedBytes, summary.dataBytes), ConsolePath(target).c_str());
    return kExitOk;
}

int RunList(const std::vector<Argument>& args, bool) {
    LoadedArchive archive;
    int code = kExitOk;
    if (!Load(args[0], archive, code)) return code;
    unsigned long long total = 0;
    for (const RecordInfo& record : archive.records) {
        std::string path = record.path.empty() ? "(empty path)" : ForConsole(record.path);
        if (record.pathCut) path += "... (" + std::to_string(record.pathLength) + "-byte path, cut short)";
        if (!record.path.empty() && !IsSafeArchivePath(record.path)) path += "  (invalid: skipped on extraction)";
        std::printf("%12d  %10u  %-32s  %s\n", record.dataLength, static_cast<unsigned>(record.attributes),
                    ForConsole(record.md5).c_str(), path.c_str());
        total += static_cast<unsigned>(record.dataLength);
    }
    std::printf("%zu records, %llu bytes, %zu bytes packed\n", archive.records.size(), total, archive.packedBytes);
    return kExitOk;
}

// The trace line of a record whose write failed ends so.
const Text kWriteFailed = "，写入失败！！！";

bool EndsWith(const Text& text, const Text& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// What the extraction's trace tells: a record is reported in every pass
// until it is finished, so the last line per path holds its state.
class ExtractionReport {
public:
    void Add(const Text& path, const Text& line) {
        bool failed = EndsWith(line, kWriteFailed);
        auto at = states_.try_emplace(path, State{states_.size(), failed}).first;
        at->second.failed = failed;
        if (!failed) ++finished_;
    }
    std::size_t Finished() const { return finished_; }
    std::size_t Seen() const { return states_.size(); }
    // The first path, in archive order, whose last write failed; empty when none did.
    Text FirstUnfinished() const {
        const Text* first = nullptr;
        std::size_t firstOrder = 0;
        for (const auto& [path, state] : states_) {
            if (!state.failed || (first && state.order >= firstOrder)) continue;
            first = &path;
            firstOrder = state.order;
        }
        return first ? *first : Text();
    }

private:
    struct State {
        std::size_t order;
        bool failed;
    };
    std::unordered_map<Text, State> states_;
    std::size_t finished_ = 0;
};

// The record count at the front of the archive, read through the first window only.
std::int32_t RecordCountOf(PackedInput& input) {
    if (!input.rewind()) return 0;
    ArchiveCursor cursor(std::make_unique<InflateSource>(input));
    return cursor.readInt32();
}

int RunExtract(const std::vector<Argument>& args, bool trace) {
    Text path, target;
    if (!ArgumentToPath(args[0], path)) return Fail(kExitBadInput, args[0], "name cannot be held in the GBK code page");
    if (!ArgumentToPath(args[1], target)) return Fail(kExitBadInput, args[1], "name cannot be held in the GBK code page");
    if (!pathExists(path)) return Fail(kExitBadInput, args[0], "missing");
    if (isDirectory(path)) return Fail(kExitBadInput, args[0], "is a folder, not an archive");
    if (pathExists(target) && !isDirectory(target)) return Fail(kExitBadInput, args[1], "not a folder");
    // The archive is streamed from the file, through one handle for the
    // whole run; the extraction checks the whole stream before its first write.
    FileInput input(path);
    if (input.failed()) return Fail(kExitBadInput, args[0], "cannot be read");
    const std::int32_t count = RecordCountOf(input);
    LoadedArchive archive;
    std::string reason;
    if (!RecordCountValid(count)) {
        ReadArchive(input, archive, reason);
        return Fail(kExitBadInput, args[0], reason.empty() ? "bad record count " + std::to_string(count) : reason);
    }
    const bool targetExisted = isDirectory(target);
    // What the check read must be what every pass reads.
    auto unreadable = [&] {
        if (!targetExisted) removeFolder(target);  // made for nothing when nothing was written
        return Fail(kExitBadInput, args[0], input.unchanged() ? "cannot be read" : "changed while it was read");
    };
    PayloadArchive extractor;
    extractor.targetPath = RootPath::AsNamed;  // the caller's own path, as named
    ExtractionReport report;
    // The trace is always taken: it tells which record could not be written.
    int result = extractor.extractArchive(input, target, Text(), nullptr, nullptr, true,
                                          [&](const Text& full, const Text& line) {
                                              report.Add(full, line);
                                              if (trace)
                                                  std::printf("%s  %s\n", ForConsole(line).c_str(),
                                                              ConsolePath(full).c_str());
                                          });
    if (!input.unchanged() || input.failed()) return unreadable();
    if (result == 1) {
        std::printf("%d records extracted into %s\n", count, ConsolePath(target).c_str());
        return kExitOk;
    }
    const ExtractFailure& why = extractor.failure;
    const std::string room = why.cause == FailureCause::DiskFull ? "need " + std::to_string(why.needed) + " bytes, " +
                                                                       std::to_string(why.available) + " free"
                                                                 : std::string();
    if (why.cause == FailureCause::DiskFull && why.beforeWriting)
        return Fail(kExitBadInput, args[1], "not enough space: " + room);
    if (report.Seen() == 0 && !ReadArchive(input, archive, reason)) {
        if (!targetExisted) removeFolder(target);  // made for nothing
        return Fail(kExitBadInput, args[0], reason);
    }
    std::size_t total = static_cast<std::size_t>(count);
    std::size_t unfinished = total - std::min(report.Finished(), total);
    // Without a failed write the target folder itself could not be prepared.
    Text subject = report.FirstUnfinished();
    if (subject.empty()) subject = target;
    return Fail(kExitIncomplete, ConsolePath(subject),
                "could not be written (" + std::to_string(unfinished) + " of " + std::to_string(total) +
                    " records unfinished" + (room.empty() ? "" : "; the disk is full: " + room) + ")");
}

int RunVerify(const std::vector<Argument>& args, bool) {
    LoadedArchive archive;
    int code = kExitOk;
    if (!Load(args[0], archive, code)) return code;
    Text target;
    if (!ArgumentToPath(args[1], target)) return Fail(kExitBadInput, args[1], "name cannot be held in the GBK code page");
    if (!isDirectory(target)) return Fail(kExitBadInput, args[1], pathExists(target) ? "not a folder" : "missing");
    target = NormaliseDirectory(target);
    // Read as the extraction reads: a link is no file of the archive's.
    TargetTree tree(target, RootPath::AsNamed);
    tree.open();
    std::size_t problems = 0;
    for (const RecordInfo& record : archive.records) {
        if (!IsSafeArchivePath(record.path)) continue;  // never extracted
        FileHandle file;
        const EntryState entry = tree.look(record.path, &file);
        const char* state = nullptr;
        if (entry == EntryState::Link)
            state = "link";
        else if (entry == EntryState::Missing)
            state = "missing";
        else if (entry != EntryState::File || !file.valid() ||
                 LowerAscii(md5OfOpenFile(file)) != LowerAscii(record.md5))
            state = "differs";  // a folder or anything else that is no file never matches
        if (!state) continue;
        ++problems;
        std::printf("%s: %s\n", state, ForConsole(record.path).c_str());
    }
    // A dead run's staging files are no records: told, never a failure (the next extraction removes them).
    for (const Text& leftover : tree.leftovers()) std::printf("leftover: %s\n", ForConsole(leftover).c_str());
    if (problems > 0) return Fail(kExitIncomplete, args[1], std::to_string(problems) + " files missing or different");
    std::printf("%zu records match %s\n", archive.records.size(), ConsolePath(target).c_str());
    return kExitOk;
}

// The container's length field is 32 bits wide. A 32-bit build never
// loads a larger archive, so the test takes the size as 64 bits.
bool FitsTheLengthField(std::uint64_t bytes) { return bytes <= 0xFFFFFFFFull; }

int RunContainer(const std::vector<Argument>& args, bool) {
    LoadedArchive archive;
    int code = kExitOk;
    auto loaded = Load(args[0], archive, code);
    if (!loaded) return code;
    Text out;
    if (!ArgumentToPath(args[1], out)) return Fail(kExitBadInput, args[1], "name cannot be held in the GBK code page");
    if (!FitsTheLengthField(archive.packedBytes)) return Fail(kExitBadInput, args[0], "too large for a container");
    // Dimension count 1, the byte length, then the envelope copied in chunks.
    std::uint8_t header[8];
    WriteLe32(header, 1);
    WriteLe32(header + 4, static_cast<std::uint32_t>(archive.packedBytes));
    FileInput& input = *loaded;
    if (!input.rewind()) return Fail(kExitBadInput, args[0], "changed while it was read");
    FileHandle file = openFile(out, 4, 4, kAttributeNormal);
    bool ok = file.valid() && writeExactly(file, header, sizeof header);
    ByteBuffer chunk(kFileChunkSize);
    for (std::size_t copied = 0; ok && copied < archive.packedBytes;) {
        const std::size_t got = input.read(chunk.data(), chunk.size());
        ok = got > 0 && writeExactly(file, chunk.data(), got);
        copied += got;
    }
    if (!input.unchanged()) return Fail(kExitBadInput, args[0], "changed while it was read");
    if (!ok) return Fail(kExitIncomplete, args[1], "cannot be written");
    return kExitOk;
}

const Command kCommands[] = {
    {"pack", "ezpack pack DIR OUT",
     "Packs every file below DIR into OUT.ez (OUT is kept when it already ends in .ez).\n"
     "Paths are stored relative to DIR in the GBK code page; a name GBK cannot hold is refused.\n"
     "Prints the file count and sizes; shows a progress line on a terminal.",
     2, RunPack},
    {"list", "ezpack list FILE.ez",
     "Lists each record: size, attribute word, md5 and path. Control bytes, and bytes that form\n"
     "no character, in the archive's texts are shown as \\xNN here and in every other command.",
     1, RunList},
    {"extract", "ezpack extract FILE.ez DIR [--trace]",
     "Extracts into DIR the way the installer does: unchanged files are skipped, changed ones\n"
     "written and verified, for up to five passes. --trace prints one line per record.\n"
     "Exit code 0 only when every record was finished; otherwise the error line names the\n"
     "first file left unfinished and how many records were. Exit code 3, before anything is\n"
     "made, when DIR's volume has less room than the files it lacks (\"not enough space\").",
     2, RunExtract},
    {"verify", "ezpack verify FILE.ez DIR",
     "Reports each file of the archive that is missing or different in DIR, and lists as\n"
     "\"leftover: PATH\" each staging file (.vantel-<16 hex>.tmp) a killed run left below DIR;\n"
     "those alone do not fail it (the next extract removes them). Writes nothing.",
     2, RunVerify},
    {"container", "ezpack container FILE.ez OUT",
     "Writes the container the installer embeds: dimension 1, byte length, envelope.", 2, RunContainer},
};

const char kExitCodes[] =
    "Exit codes: 0 success; 1 extraction incomplete, differences found, a write failed, or the\n"
    "command could not finish (out of memory, internal error); 2 wrong usage; 3 bad input\n"
    "(missing, not an envelope, bad tag, corrupt stream, bad record count), or no room to extract.\n";

void PrintUsage(std::FILE* to) {
    std::fprintf(to, "usage:\n");
    for (const Command& command : kCommands) std::fprintf(to, "  %s\n", command.usage);
    std::fprintf(to, "  ezpack COMMAND --help\n  ezpack --version\n%s", kExitCodes);
}

bool IsHelp(const Argument& arg) { return arg.text == "--help" || arg.text == "-h"; }

// For texts that may carry anything while memory may be short: printable
// ASCII as it is, every other byte as \xNN, nothing allocated.
void PrintVisible(const char* text, std::FILE* to) {
    for (const char* p = text; *p; ++p) {
        auto byte = static_cast<unsigned char>(*p);
        if (byte >= 0x20 && byte < 0x7F)
            std::fputc(byte, to);
        else
            std::fprintf(to, "\\x%02x", byte);
    }
}

int Dispatch(const std::vector<Argument>& args) {
    if (args.empty()) {
        PrintUsage(stderr);
        return kExitUsage;
    }
    if (IsHelp(args[0])) {
        PrintUsage(stdout);
        return kExitOk;
    }
    if (args[0].text == "--version" && args.size() == 1) {
        std::printf("ezpack %s\n", VANTEL_VERSION_TEXT);
        return kExitOk;
    }
    for (const Command& command : kCommands) {
        if (args[0].text != command.name) continue;
        std::vector<Argument> rest(args.begin() + 1, args.end());
        for (const Argument& arg : rest) {
            if (IsHelp(arg)) {
                std::printf("usage: %s\n%s\n%s", command.usage, command.help, kExitCodes);
                return kExitOk;
            }
        }
        bool trace = false;
        if (std::strcmp(command.name, "extract") == 0 && !rest.empty() && rest.back().text == "--trace") {
            trace = true;
            rest.pop_back();
        }
        if (static_cast<int>(rest.size()) != command.arguments) {
            std::fprintf(stderr, "ezpack: %s: wrong arguments\nusage: %s\n", command.name, command.usage);
            return kExitUsage;
        }
        return command.run(rest, trace);
    }
    std::fprintf(stderr, "ezpack: %s: unknown command\n", args[0].text.c_str());
    PrintUsage(stderr);
    return kExitUsage;
}

}  // namespace

// No exception leaves the tool: whatever escapes a command is one line on
// stderr. Running out of memory says nothing certain about the input, so
// it is an unfinished command (1), not bad input.
int main(int argc, char** argv) {
#ifdef _WIN32
    // Run from a download folder like the installer, it loads no DLL
    // that landed beside it.
    RestrictDllSearch();
#endif
    try {
        return Dispatch(CommandArguments(argc, argv));
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "ezpack: out of memory\n");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "ezpack: internal error: ");
        PrintVisible(error.what(), stderr);
        std::fprintf(stderr, "\n");
    } catch (...) {
        std::fprintf(stderr, "ezpack: internal error: unknown exception\n");
    }
    return kExitIncomplete;
}
