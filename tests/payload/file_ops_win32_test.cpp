#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <vector>

#include "payload/payload_archive.h"
#include "scratch.h"
#include "system/wide_text.h"
#include "temp_variable.h"
#include "wine_drive.h"

namespace {

Text OwnProgram() {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    return self;
}

// Another process holding a file open with no sharing at all; the program
// that runs is `program` (a copy of this one), which is then in use too.
class FileHolder {
public:
    explicit FileHolder(const Text& path, const Text& program = OwnProgram()) {
        std::string command = "\"" + program + "\" --hold-open \"" + path + "\"";
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &process_))
            return;
        // Held once our own opening without sharing is refused.
        for (int i = 0; i < 500 && !held_; ++i) {
            HANDLE probe = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            if (probe != INVALID_HANDLE_VALUE) {
                CloseHandle(probe);
                Sleep(20);
            } else {
                held_ = GetLastError() == ERROR_SHARING_VIOLATION;
            }
        }
    }
    ~FileHolder() {
        if (!process_.hProcess) return;
        TerminateProcess(process_.hProcess, 0);
        WaitForSingleObject(process_.hProcess, 5000);
        CloseHandle(process_.hProcess);
        CloseHandle(process_.hThread);
    }
    bool held() const { return held_; }

private:
    PROCESS_INFORMATION process_{};
    bool held_ = false;
};

struct Outcome {
    int result = -1;
    TextList paths, lines;
};

}  // namespace

// What this run left in `folder`, beside the names in `besides`: `count`
// work folders of its own, .vantel-aside-<16 hex digits>, each holding only
// a moved file with the bytes `moved`.
static std::vector<Text> ExpectOnlyWorkFolders(const Text& folder, const std::set<Text>& besides,
                                               const ByteBuffer& moved, std::size_t count = 1) {
    std::vector<Text> ours;
    for (const Text& name : listDirectory(folder))
        if (!besides.count(name)) ours.push_back(name);
    EXPECT_EQ(ours.size(), count);
    const Text prefix = ".vantel-aside-";
    for (const Text& name : ours) {
        EXPECT_EQ(name.size(), prefix.size() + 16) << name;
        EXPECT_EQ(name.compare(0, prefix.size(), prefix), 0) << name;
        EXPECT_EQ(name.find_first_not_of("0123456789abcdef", prefix.size()), Text::npos) << name;
        EXPECT_EQ(listDirectory(folder + "\\" + name), TextList{"TemporaryFile"});
        EXPECT_EQ(readWholeFile(folder + "\\" + name + "\\TemporaryFile"), moved);
    }
    return ours;
}

// The paths the system is to delete at the next restart, in order.
static std::vector<std::wstring> DeletionsAtRestart() {
    std::vector<std::wstring> deletions;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ,
                      &key) != ERROR_SUCCESS)
        return deletions;
    DWORD bytes = 0;
    std::vector<wchar_t> value;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &bytes) == ERROR_SUCCESS) {
        value.resize(bytes / sizeof(wchar_t) + 2);
        RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(value.data()), &bytes);
    }
    RegCloseKey(key);
    // Pairs of a path and where it goes, empty for a deletion.
    for (std::size_t at = 0; at + 1 < value.size() && value[at];) {
        const std::wstring from(value.data() + at);
        at += from.size() + 1;
        const std::wstring to(value.data() + at);
        at += to.size() + 1;
        if (to.empty()) deletions.push_back(from);
    }
    return deletions;
}

static bool EndsWith(const std::wstring& text, const std::wstring& tail) {
    return text.size() >= tail.size() &&
           CompareStringOrdinal(text.c_str() + text.size() - tail.size(), static_cast<int>(tail.size()), tail.c_str(),
                                static_cast<int>(tail.size()), TRUE) == CSTR_EQUAL;
}

static Outcome ExtractOne(const ArchiveEntry& record, Text target) {
    Outcome outcome;
    PayloadArchive archive;
    outcome.result = archive.extractArchive(Envelope({record}), target, Text(), &outcome.paths, nullptr, true,
                                            [&](const Text&, const Text& line) { outcome.lines.push_back(line); });
    return outcome;
}

TEST(FileOpsWin32, RunningProgramIsMovedAsideAndReplacedInTheSamePass) {
    ScratchDir dir;
    Text program = dir / "out\\VantelPA.exe";
    EnsureDirectoryPath(dir / "out");
    ASSERT_TRUE(CopyFileA(OwnProgram().c_str(), program.c_str(), FALSE));
    const ByteBuffer oldProgram = readWholeFile(program);
    const Text temp = dir / "tmp";
    EnsureDirectoryPath(temp);
    TempVariable redirect(temp.c_str());
    FileHolder running(dir.write("held.txt", "held"), program);
    ASSERT_TRUE(running.held());
    EXPECT_FALSE(DeleteFileA(program.c_str()));  // in use: deletion refused, a rename allowed

    Outcome outcome = ExtractOne(Record("VantelPA.exe", "new program"), dir / "out");
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.paths.size(), 1u);
    EXPECT_EQ(Contents(program), "new program");
    ASSERT_EQ(outcome.lines.size(), 1u);
    EXPECT_NE(outcome.lines[0].find("，写入失败，尝试删除重写，写入成功。"), Text::npos);

    // Moved on its own volume, under the target: the temporary folder stays as it was.
    EXPECT_TRUE(listDirectory(temp).empty());
    const std::vector<Text> work = ExpectOnlyWorkFolders(dir / "out", {"VantelPA.exe"}, oldProgram);
    ASSERT_EQ(work.size(), 1u);
    // Still running when the extraction ended: it goes at the next restart, before its folder.
    const std::vector<std::wstring> deletions = DeletionsAtRestart();
    const std::wstring folderTail = L"\\out\\" + Wide(work[0]);
    std::size_t file = deletions.size(), folder = deletions.size();
    for (std::size_t i = 0; i < deletions.size(); ++i) {
        if (EndsWith(deletions[i], folderTail + L"\\TemporaryFile")) file = i;
        if (EndsWith(deletions[i], folderTail)) folder = i;
    }
    EXPECT_LT(file, folder);
    EXPECT_LT(folder, deletions.size());
}

TEST(FileOpsWin32, FileOpenWithoutSharingCannotBeMovedAndFailsAfterFivePasses) {
    ScratchDir dir;
    Text file = dir.write("out\\locked.txt", "locked contents");
    FileHolder holder(file);
    ASSERT_TRUE(holder.held());
    // Without delete sharing neither deletion nor a rename is possible.
    EXPECT_FALSE(forceRemove(file));
    EXPECT_TRUE(pathExists(file));

    Outcome outcome = ExtractOne(Record("locked.txt", "new"), dir / "out");
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.paths.size(), 5u);
    ASSERT_EQ(outcome.lines.size(), 5u);
    EXPECT_NE(outcome.lines[4].find("，写入失败！！！"), Text::npos);
}

// No staging file outlives a run: one a dead run left is removed by the next
// extraction through its folder (a name that only looks alike stays), and
// one staged by a process that dies goes with the process.
TEST(FileOpsWin32, StagingFilesOutliveNoRun) {
    ScratchDir dir;
    const Text stale = dir.write("out\\sub\\.vantel-0123456789abcdef.tmp", "stale");
    const Text alike = dir.write("out\\sub\\.vantel-0123456789abcdeg.tmp", "kept");
    EXPECT_EQ(ExtractOne(Record("sub\\a.txt", "new"), dir / "out").result, 1);
    EXPECT_EQ(Contents(dir / "out\\sub\\a.txt"), "new");
    EXPECT_FALSE(pathExists(stale));
    EXPECT_EQ(Contents(alike), "kept");

    const Text killed = dir / "killed";
    ASSERT_TRUE(EnsureDirectoryPath(killed));
    std::string command = "\"" + OwnProgram() + "\" --stage-and-die \"" + killed + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &process));
    WaitForSingleObject(process.hProcess, 30000);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    EXPECT_EQ(code, 3u);  // it died with the staged file written and listed
    // The system closes a dead process's handles as it tears it down.
    for (int i = 0; i < 100 && !listDirectory(killed).empty(); ++i) Sleep(50);
    EXPECT_EQ(listDirectory(killed), TextList{});
}

TEST(FileOpsWin32, DirectoryTestsFollowThePlatform) {
    EXPECT_TRUE(isDirectory("C:\\"));
    EXPECT_EQ(entryKind("C:\\"), kEntryFolder);  // a root cannot be searched for
    EXPECT_TRUE(isDirectory("C:\\windows"));
}

TEST(FileOpsWin32, TwoRecordsNamingOneFileAreJudgedByTheFileNotTheirText) {
    // "Я" and "я" (GBK A7B1, A7E1) name one file here, as on Windows: the
    // second record must see what the first wrote, not what the check saw,
    // and may not take it away.
    const ByteBuffer envelope = Envelope({Record("\xA7\xB1.txt", "NEW"), Record("\xA7\xE1.txt", "OLD")});
    for (bool checked : {false, true}) {
        ScratchDir dir;
        const Text file = dir.write("out\\\xA7\xB1.txt", "OLD");
        ASSERT_EQ(Contents(dir / "out\\\xA7\xE1.txt"), "OLD") << "the file system does not fold the case";
        PayloadArchive archive;
        Text target = dir / "out";
        EXPECT_EQ(archive.extractArchive(ByteSpan{envelope.data(), envelope.size()}, target, Text(), nullptr, nullptr,
                                         false, TraceSink(), checked),
                  0);
        EXPECT_EQ(Contents(file), "NEW") << checked;
    }
}

namespace {

// Where a Windows path lies on the host; empty outside Wine.
std::string UnixPathOf(const Text& path) {
    using Fn = char*(CDECL*)(const wchar_t*);
    const auto convert =
        reinterpret_cast<Fn>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name"));
    char* name = convert ? convert(Wide(path).c_str()) : nullptr;
    const std::string result = name ? name : "";
    if (name) HeapFree(GetProcessHeap(), 0, name);
    return result;
}
std::wstring FromHost(const std::string& path) {
    std::wstring wide(path.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), wide.data(),
                                    static_cast<int>(wide.size())));
    return wide;
}
// A host path as Windows names it.
std::wstring DosPathOf(const char* path) {
    using Fn = wchar_t*(CDECL*)(const char*);
    const auto convert =
        reinterpret_cast<Fn>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name"));
    wchar_t* name = convert ? convert(path) : nullptr;
    const std::wstring result = name ? name : L"";
    if (name) HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// Unix links to a folder outside, planted from the host in each folder
// under every name .vantel-aside-<16 hex digits> the tick count gives in
// the next 8 s: the names a work folder named by the time could take.
// Wine shows each as a reparse point.
class LinkFarm {
public:
    static constexpr DWORD kCount = 8000;
    LinkFarm(const ScratchDir& dir, const std::vector<Text>& folders, const Text& outside)
        : dir_(dir), folders_(folders), outside_(outside) {
        first_ = GetTickCount();
        char name[40];
        for (DWORD i = 0; i < kCount; ++i) {
            std::snprintf(name, sizeof name, ".vantel-aside-%016lx", static_cast<unsigned long>(first_ + i));
            names_.insert(name);
        }
        planted_ = Run("plant");
    }
    ~LinkFarm() { Run("remove"); }
    bool planted() const { return planted_; }
    bool covers(DWORD tick) const { return tick - first_ < kCount; }
    const std::set<Text>& names() const { return names_; }

private:
    bool Run(const char* mode) {
        const std::wstring python = DosPathOf("/usr/bin/python3");
        const Text script = dir_.write("farm.py",
                                       "import os, sys\n"
                                       "outside, first, count, mode, done = sys.argv[1:6]\n"
                                       "for folder in sys.argv[6:]:\n"
                                       "    for i in range(int(count)):\n"
                                       "        name = os.path.join(folder, '.vantel-aside-%016x' % ((int(first) + i) % 2**32))\n"
                                       "        os.symlink(outside, name) if mode == 'plant' else os.unlink(name)\n"
                                       "open(done, 'w').close()\n");
        const Text done = dir_ / (std::string("farm-") + mode);
        std::wstring command = L"\"" + python + L"\"";
        std::vector<std::string> args = {UnixPathOf(script), UnixPathOf(outside_), std::to_string(first_),
                                         std::to_string(kCount), std::string(mode), UnixPathOf(done)};
        for (const Text& folder : folders_) args.push_back(UnixPathOf(folder));
        for (const std::string& arg : args) command += L" " + FromHost(arg);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (python.empty() ||
            !CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
            return false;
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        // A host program cannot be waited for through its handle.
        for (int i = 0; i < 1200 && !pathExists(done); ++i) Sleep(50);
        return pathExists(done);
    }

    const ScratchDir& dir_;
    std::vector<Text> folders_;
    Text outside_;
    DWORD first_ = 0;
    std::set<Text> names_;
    bool planted_ = false;
};

}  // namespace

TEST(FileOpsWin32, AFileMovedAsideNeverEntersWhatIsPlantedBesideIt) {
    ScratchDir dir;
    dir.write("outside\\keep.txt", "outside");
    dir.write("outside\\sub\\inner.txt", "inner");
    // Two running programs, moved aside both ways: by the file operation,
    // and at a record's turn in the extraction (which also sweeps the
    // target for work folders left by an earlier run).
    const Text programs[] = {dir / "one\\VantelPA.exe", dir / "two\\VantelPA.exe"};
    for (const Text& program : programs) {
        EnsureDirectoryPath(fileFolderPart(program));
        ASSERT_TRUE(CopyFileA(OwnProgram().c_str(), program.c_str(), FALSE));
    }
    const ByteBuffer oldProgram = readWholeFile(programs[0]);
    // Started first: a program starting among thousands of links takes seconds to load.
    FileHolder one(dir.write("one.txt", "held"), programs[0]), two(dir.write("two.txt", "held"), programs[1]);
    ASSERT_TRUE(one.held() && two.held());
    LinkFarm farm(dir, {dir / "one", dir / "two"}, dir / "outside");
    if (!farm.planted()) GTEST_SKIP() << "no Wine host to plant links from";
    ASSERT_TRUE(getAttributes(dir / "one\\" + *farm.names().begin()) & FILE_ATTRIBUTE_REPARSE_POINT);

    EXPECT_TRUE(forceRemove(programs[0]));
    EXPECT_EQ(ExtractOne(Record("VantelPA.exe", "new program"), dir / "two").result, 1);
    const bool covered = farm.covers(GetTickCount());
    EXPECT_FALSE(pathExists(programs[0]));
    EXPECT_EQ(Contents(programs[1]), "new program");
    EXPECT_EQ(Contents(dir / "outside\\keep.txt"), "outside");
    EXPECT_EQ(Contents(dir / "outside\\sub\\inner.txt"), "inner");
    EXPECT_EQ(listDirectory(dir / "outside").size(), 2u);
    ExpectOnlyWorkFolders(dir / "one", farm.names(), oldProgram);
    std::set<Text> besides = farm.names();
    besides.insert("VantelPA.exe");
    ExpectOnlyWorkFolders(dir / "two", besides, oldProgram);
    if (!covered) GTEST_SKIP() << "the links no longer covered the tick count: nothing was shown";
}

// Run by the payload_aside_other_volume test, which mounts a volume of its
// own for the temporary folder: no rename reaches it from the target.
TEST(OtherVolume, ARunningProgramIsReplacedWhenTheTemporaryFolderIsOnAnotherVolume) {
    const char* volume = std::getenv("VANTEL_OTHER_VOLUME");
    if (!volume || !*volume) GTEST_SKIP() << "needs a mounted volume: run the payload_aside_other_volume test";
    ScratchDir dir;  // the target, on the prefix's own drive
    const Text program = dir / "out\\VantelPA.exe";
    EnsureDirectoryPath(dir / "out");
    ASSERT_TRUE(CopyFileA(OwnProgram().c_str(), program.c_str(), FALSE));
    FileHolder running(dir.write("held.txt", "held"), program);
    ASSERT_TRUE(running.held());
    wine_drive::UnixDrive drive(volume);
    ASSERT_FALSE(drive.Drive().empty()) << volume;
    const Text temp = drive.Drive() + "\\tmp";
    EnsureDirectoryPath(temp);
    TempVariable tmp(temp.c_str()), tempToo(temp.c_str(), "TEMP");
    ASSERT_EQ(TempDirectory(), temp);

    Outcome outcome = ExtractOne(Record("VantelPA.exe", "new program"), dir / "out");
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.paths.size(), 1u) << "more than one pass";
    EXPECT_TRUE(Contents(program) == "new program") << "not replaced";
    EXPECT_TRUE(listDirectory(temp).empty());
}
