#include <gtest/gtest.h>

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <memory>

#include "process/clock.h"
#include "process/process_control.h"
#include "process/process_scan.h"
#include "system/folders.h"
#include "process_test_support.h"

namespace {

bool Contains(const ProcessIdList& ids, DWORD id) { return std::find(ids.begin(), ids.end(), id) != ids.end(); }

// Copies of the helper under given names, each in a folder of its own.
struct HelperCopies {
    Text root = TempDirectory() + "\\vantel-scan-" + std::to_string(GetCurrentProcessId());
    std::vector<Text> files;
    Text copy(const Text& name) {
        Text dir = root + "\\" + std::to_string(files.size());
        CreateDirectoryA(root.c_str(), nullptr);
        CreateDirectoryA(dir.c_str(), nullptr);
        Text file = dir + "\\" + name;
        CopyFileA(HelperPath().c_str(), file.c_str(), FALSE);
        files.push_back(file);
        return file;
    }
    ~HelperCopies() {
        for (const Text& f : files) {
            DeleteFileA(f.c_str());
            RemoveDirectoryA(f.substr(0, f.find_last_of('\\')).c_str());
        }
        RemoveDirectoryA(root.c_str());
    }
};

// Waits until every id is listed under the name (case ignored).
bool AllListed(const Text& name, const std::vector<DWORD>& wanted) {
    long long deadline = NowMilliseconds() + 10000;
    do {
        ProcessIdList ids;
        FindProcessesByName(name, ids, false);
        if (std::all_of(wanted.begin(), wanted.end(), [&](DWORD id) { return Contains(ids, id); })) return true;
        Sleep(50);
    } while (NowMilliseconds() < deadline);
    return false;
}

// A process list of our own making, and the ids terminated from it.
class SyntheticProcesses : public ProcessSystem {
public:
    struct Entry {
        std::uint32_t id;
        const wchar_t* name;  // nullptr: the idle process
    };
    // The entries back to back; the last one ends the list, and a stray
    // entry behind it must not be read.
    explicit SyntheticProcesses(std::vector<Entry> entries) : entries_(std::move(entries)) {
        entries_.push_back({999, L"VantelPA.exe"});
        block_.assign(entries_.size() * kStride / 8, 0);
        auto* bytes = reinterpret_cast<std::uint8_t*>(block_.data());
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            std::uint8_t* entry = bytes + i * kStride;
            const bool last = i + 2 == entries_.size();
            Put<std::uint32_t>(entry, kNext, last ? 0 : kStride);
            const wchar_t* name = entries_[i].name;
            Put<std::uint16_t>(entry, kNameLength, static_cast<std::uint16_t>(name ? 2 * wcslen(name) : 0));
            Put<std::uintptr_t>(entry, kNameBuffer, reinterpret_cast<std::uintptr_t>(name));
            Put<std::uintptr_t>(entry, kId, entries_[i].id);
        }
    }
    std::vector<std::uint64_t> Snapshot() override { return block_; }
    void Terminate(std::uint32_t id) override { terminated.push_back(id); }
    ProcessIdList terminated;

    // The entry's fields as this architecture lays them out.
    static constexpr std::size_t kNext = offsetof(SYSTEM_PROCESS_INFORMATION, NextEntryOffset);
    static constexpr std::size_t kNameLength = offsetof(SYSTEM_PROCESS_INFORMATION, ImageName);
    static constexpr std::size_t kNameBuffer = kNameLength + offsetof(UNICODE_STRING, Buffer);
    static constexpr std::size_t kId = offsetof(SYSTEM_PROCESS_INFORMATION, UniqueProcessId);

private:
    static constexpr std::uint32_t kStride = 0x60;
    template <typename T>
    static void Put(std::uint8_t* entry, std::size_t offset, T value) {
        std::memcpy(entry + offset, &value, sizeof(T));
    }
    std::vector<Entry> entries_;
    std::vector<std::uint64_t> block_;
};

}  // namespace

TEST(ProcessScanTest, EntryLayoutIsTheArchitecturesOwn) {
#ifdef _WIN64
    const std::size_t expected[] = {0x38, 0x40, 0x50};
#else
    const std::size_t expected[] = {0x38, 0x3C, 0x44};
#endif
    EXPECT_EQ(SyntheticProcesses::kNameLength, expected[0]);
    EXPECT_EQ(SyntheticProcesses::kNameBuffer, expected[1]);
    EXPECT_EQ(SyntheticProcesses::kId, expected[2]);
}

TEST(ProcessScanTest, WalksTheEntriesAndStopsCopiesInSnapshotOrder) {
    SyntheticProcesses system({
        {0, nullptr},
        {48, L"VantelPA.exe"},
        {12, L"\u9632\u5173\u8054"},  // two-byte characters only: each takes two bytes in GBK
        {16, L"\u0E01.exe"},            // no GBK form
        {7, L"vantelpa.EXE"},
        {3, L"other.exe"},
        {30, L"VANTELPA.EXE"},
    });
    ProcessIdList ids;
    TextList names;
    EXPECT_EQ(ListProcesses(ids, names, system), 7);
    EXPECT_EQ(ids, (ProcessIdList{0, 48, 12, 16, 7, 3, 30}));
    ASSERT_EQ(names.size(), 7u);
    EXPECT_EQ(names[0], "System Idle Process");
    EXPECT_EQ(names[2], "防关联");
    // Not left with the name of the entry before it.
    EXPECT_NE(names[3], names[2]);
    EXPECT_EQ(names[3].substr(names[3].size() - 4), ".exe");
    EXPECT_EQ(names[6], "VANTELPA.EXE");

    StopProcessesByName("VantelPA.exe", system);
    EXPECT_EQ(system.terminated, (ProcessIdList{48, 7, 30}));
}

TEST(ProcessScanTest, ListsEveryProcessWithItsName) {
    ProcessIdList ids;
    TextList names;
    int count = ListProcesses(ids, names);
    ASSERT_GT(count, 1);
    EXPECT_EQ(ids.size(), static_cast<std::size_t>(count));
    EXPECT_EQ(names.size(), ids.size());
    auto own = std::find(ids.begin(), ids.end(), GetCurrentProcessId());
    ASSERT_NE(own, ids.end());
    EXPECT_EQ(LowerAscii(names[own - ids.begin()]), "process_tests.exe");
    // A second call starts from empty lists.
    EXPECT_NEAR(ListProcesses(ids, names), count, 20);
    EXPECT_EQ(ids.size(), names.size());
}

TEST(ProcessScanTest, StopsEveryCopyWhateverItsCaseAndSparesOthers) {
    HelperCopies copies;
    const Text names[] = {"VANTELPA.EXE", "vantelpa.exe", "VantelPA.exe"};
    std::unique_ptr<StartedProcess> started[3];
    std::vector<DWORD> ids;
    for (int i = 0; i < 3; ++i) {
        started[i] = std::make_unique<StartedProcess>();
        ASSERT_TRUE(StartProgram(copies.copy(names[i]), "sleep", *started[i]));
        ids.push_back(started[i]->id());
    }
    StartedProcess other;
    ASSERT_TRUE(StartProgram(copies.copy("VantelPA2.exe"), "sleep", other));
    ASSERT_TRUE(AllListed("VantelPA.exe", ids));

    ProcessIdList found;
    EXPECT_EQ(FindProcessesByName("VANTELPA.EXE", found, true), 1);
    EXPECT_TRUE(Contains(found, ids[0]));
    EXPECT_GE(FindProcessesByName("vantelPA.EXE", found, false), 3);

    StopProcessesByName("VantelPA.exe");
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(WaitForSingleObject(started[i]->handle(), 10000), WAIT_OBJECT_0) << names[i];
        DWORD code = 1;
        GetExitCodeProcess(started[i]->handle(), &code);
        EXPECT_EQ(code, 0u) << names[i];
    }
    EXPECT_EQ(WaitForSingleObject(other.handle(), 300), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(FindProcessesByName("VantelPA.exe", found, false), 0);
}

TEST(ProcessScanTest, ChineseNamesConvertToGbk) {
    HelperCopies copies;
    StartedProcess helper;
    ASSERT_TRUE(StartProgram(copies.copy("防关联测试.exe"), "sleep", helper));
    ASSERT_TRUE(AllListed("防关联测试.exe", {helper.id()}));
    ProcessIdList found;
    EXPECT_EQ(FindProcessesByName("防关联测试.exe", found, true), 1);
    // A name that differs in one two-byte character is another name.
    EXPECT_EQ(FindProcessesByName("防关联测式.exe", found, false), 0);
    StopProcessesByName("防关联测试.EXE");
    EXPECT_EQ(WaitForSingleObject(helper.handle(), 10000), WAIT_OBJECT_0);
}
