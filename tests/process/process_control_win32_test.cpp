#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <vector>

#include "process/process_control.h"
#include "process/process_scan.h"
#include "process_test_support.h"

namespace {

// A fake native interface recording what the primitives asked for.
struct FakeCalls {
    std::vector<ULONG_PTR> openedIds;
    std::vector<DWORD> accesses;
    std::vector<HANDLE> closed;
    int ntTerminates = 0;
    int terminates = 0;
    ULONG_PTR acceptedId = 0;  // the only id whose open succeeds
    LONG ntTerminateStatus = 0;
    BOOL terminateResult = TRUE;
};
FakeCalls g_fake;
const HANDLE kFakeHandle = reinterpret_cast<HANDLE>(0x1234);

LONG NTAPI FakeOpen(PHANDLE handle, ACCESS_MASK access, void* attributes, ProcessClientId* client) {
    g_fake.openedIds.push_back(client->uniqueProcess);
    g_fake.accesses.push_back(access);
    EXPECT_EQ(client->uniqueThread, 0u);
    // Length of the object attributes, as each architecture lays them out.
    EXPECT_EQ(*static_cast<ULONG*>(attributes), sizeof(void*) == 4 ? 24u : 48u);
    if (client->uniqueProcess != g_fake.acceptedId) return static_cast<LONG>(0xC000000B);
    *handle = kFakeHandle;
    return 0;
}
LONG NTAPI FakeNtTerminate(HANDLE, LONG status) {
    EXPECT_EQ(status, 0);
    ++g_fake.ntTerminates;
    return g_fake.ntTerminateStatus;
}
LONG NTAPI FakeClose(HANDLE handle) {
    g_fake.closed.push_back(handle);
    return 0;
}
BOOL WINAPI FakeTerminate(HANDLE, UINT code) {
    EXPECT_EQ(code, 0u);
    ++g_fake.terminates;
    return g_fake.terminateResult;
}
const ProcessApi kFakeApi{FakeOpen, FakeNtTerminate, FakeClose, FakeTerminate};

}  // namespace

TEST(ProcessControlTest, OpensWithIdThenIdPlusOne) {
    g_fake = {};
    g_fake.acceptedId = 101;
    HANDLE handle = nullptr;
    EXPECT_TRUE(OpenProcessById(kProcessAllAccessXp, 100, handle, kFakeApi));
    EXPECT_EQ(handle, kFakeHandle);
    EXPECT_EQ(g_fake.openedIds, (std::vector<ULONG_PTR>{100, 101}));
    EXPECT_EQ(g_fake.accesses[0], 0x1F0FFFu);

    g_fake = {};
    g_fake.acceptedId = 1;
    EXPECT_FALSE(OpenProcessById(kProcessAllAccessXp, 100, handle, kFakeApi));
    EXPECT_EQ(handle, nullptr);
}

TEST(ProcessControlTest, TerminateFallsBackAndAlwaysCloses) {
    g_fake = {};
    g_fake.acceptedId = 8;
    EXPECT_TRUE(TerminateProcessById(8, kFakeApi));
    EXPECT_EQ(g_fake.ntTerminates, 1);
    EXPECT_EQ(g_fake.terminates, 0);
    EXPECT_EQ(g_fake.closed, std::vector<HANDLE>{kFakeHandle});

    g_fake = {};
    g_fake.acceptedId = 8;
    g_fake.ntTerminateStatus = static_cast<LONG>(0xC0000022);
    EXPECT_TRUE(TerminateProcessById(8, kFakeApi));
    EXPECT_EQ(g_fake.terminates, 1);
    EXPECT_EQ(g_fake.closed.size(), 1u);

    g_fake.terminateResult = FALSE;
    g_fake.closed.clear();
    EXPECT_FALSE(TerminateProcessById(8, kFakeApi));
    EXPECT_EQ(g_fake.closed.size(), 1u);

    // Nothing to open: no terminate is tried and nothing is closed.
    g_fake = {};
    g_fake.acceptedId = 1;
    EXPECT_FALSE(TerminateProcessById(8, kFakeApi));
    EXPECT_EQ(g_fake.ntTerminates + g_fake.terminates, 0);
    EXPECT_TRUE(g_fake.closed.empty());
}

TEST(ProcessControlTest, RealProcesses) {
    EXPECT_EQ(GetOwnProcessId(), GetCurrentProcessId());
    HANDLE own = nullptr;
    ASSERT_TRUE(OpenProcessById(kProcessAllAccessXp, GetOwnProcessId(), own));
    EXPECT_EQ(GetProcessId(own), GetCurrentProcessId());
    EXPECT_TRUE(CloseKernelHandle(own));

    StartedProcess helper;
    ASSERT_TRUE(StartProgram(HelperPath(), "sleep", helper));
    DWORD id = helper.id();
    EXPECT_TRUE(TerminateProcessById(id));
    ASSERT_EQ(WaitForSingleObject(helper.handle(), 10000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(helper.handle(), &code);
    EXPECT_EQ(code, 0u);

    // An id that no process has: both opens fail, nothing is terminated.
    ProcessIdList ids;
    TextList names;
    ListProcesses(ids, names);
    std::uint32_t unused = 0x7FFFFF00;
    while (std::find(ids.begin(), ids.end(), unused) != ids.end() ||
           std::find(ids.begin(), ids.end(), unused + 4) != ids.end())
        unused -= 8;
    HANDLE none = reinterpret_cast<HANDLE>(1);
    EXPECT_FALSE(OpenProcessById(kProcessAllAccessXp, unused, none));
    EXPECT_EQ(none, nullptr);
    EXPECT_FALSE(TerminateProcessById(unused));
}

TEST(ProcessControlTest, ExitSelfEndsWithCodeZeroWhileThreadsRun) {
    StartedProcess helper;
    ASSERT_TRUE(StartProgram(HelperPath(), "exitself", helper));
    ASSERT_EQ(WaitForSingleObject(helper.handle(), 20000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(helper.handle(), &code);
    EXPECT_EQ(code, 0u);
}
