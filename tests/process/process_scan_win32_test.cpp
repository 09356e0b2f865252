#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
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

}  // namespace

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
    // The idle process, where the system lists one, has its fixed name.
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (ids[i] == 0) {
            EXPECT_EQ(names[i], "System Idle Process");
        }
    }
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
