#include <gtest/gtest.h>

#include "payload/payload_archive.h"
#include "scratch.h"
#include "temp_variable.h"

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
    // The moved program stays in the temporary folder while it runs: a scratch one.
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

    // Under f<ticks>\TemporaryFile of the temporary folder.
    TextList work = listDirectory(temp);
    ASSERT_EQ(work.size(), 1u);
    EXPECT_EQ(work[0][0], 'f');
    EXPECT_EQ(work[0].find_first_not_of("0123456789", 1), Text::npos) << work[0];
    TextList moved;
    collectFiles(temp + "\\" + work[0], moved);
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved[0].rfind(temp + "\\" + work[0] + "\\TemporaryFile", 0), 0u) << moved[0];
    EXPECT_EQ(readWholeFile(moved[0]), oldProgram);
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

TEST(FileOpsWin32, DirectoryTestsFollowThePlatform) {
    EXPECT_TRUE(isDirectory("C:\\"));
    EXPECT_EQ(entryKind("C:\\"), kEntryFolder);  // a root cannot be searched for
    EXPECT_TRUE(isDirectory("C:\\windows"));
}

TEST(FileOpsWin32, TwoRecordsNamingOneFileAreJudgedByTheFileNotTheirText) {
    // "Я" and "я" (GBK A7B1, A7E1) name one file here, as on Windows: the
    // second record must see what the first wrote, not what the check saw.
    const ByteBuffer envelope = Envelope({Record("\xA7\xB1.txt", "NEW"), Record("\xA7\xE1.txt", "OLD")});
    for (bool checked : {false, true}) {
        ScratchDir dir;
        const Text file = dir.write("out\\\xA7\xB1.txt", "OLD");
        ASSERT_EQ(Contents(dir / "out\\\xA7\xE1.txt"), "OLD") << "the file system does not fold the case";
        PayloadArchive archive;
        Text target = dir / "out";
        EXPECT_EQ(archive.extractArchive(ByteSpan{envelope.data(), envelope.size()}, target, Text(), nullptr, nullptr,
                                         false, TraceSink(), checked),
                  1);
        EXPECT_EQ(Contents(file), "OLD") << checked;
    }
}
