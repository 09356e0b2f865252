#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "process/clock.h"
#include "process/worker_threads.h"

namespace {

HANDLE g_release = nullptr;

DWORD WINAPI EndsAtOnce(void*) { return 0; }
DWORD WINAPI WaitsForRelease(void*) {
    WaitForSingleObject(g_release, 30000);
    return 0;
}

bool IsRegistered(HANDLE thread) {
    std::vector<HANDLE> handles = RegisteredThreads();
    return std::find(handles.begin(), handles.end(), thread) != handles.end();
}

bool WaitUntilUnregistered(HANDLE thread) {
    long long deadline = NowMilliseconds() + 15000;
    while (IsRegistered(thread)) {
        if (NowMilliseconds() > deadline) return false;
        Sleep(50);
    }
    return true;
}

}  // namespace

TEST(WorkerThreadsTest, ReaperClosesEndedThreadsAndKeepsRunningOnes) {
    StartThreadRegistry();
    g_release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE running = StartWorkerThread(WaitsForRelease);
    HANDLE ended = StartWorkerThread(EndsAtOnce);
    ASSERT_NE(running, nullptr);
    ASSERT_NE(ended, nullptr);
    const DWORD runningId = GetThreadId(running);
    const DWORD endedId = GetThreadId(ended);
    ASSERT_NE(ReaperThread(), nullptr);
    EXPECT_FALSE(IsRegistered(ReaperThread()));

    ASSERT_TRUE(WaitUntilUnregistered(ended));
    EXPECT_NE(GetThreadId(ended), endedId);  // its handle was closed
    Sleep(1500);  // at least one more pass over the running thread
    EXPECT_TRUE(IsRegistered(running));
    EXPECT_EQ(GetThreadId(running), runningId);

    SetEvent(g_release);
    ASSERT_TRUE(WaitUntilUnregistered(running));
    EXPECT_NE(GetThreadId(running), runningId);

    ReleaseThreadRegistry();
    EXPECT_EQ(ReaperThread(), nullptr);
    CloseHandle(g_release);
}

TEST(WorkerThreadsTest, WaitForHandleReportsSignalledOnly) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    long long start = NowMilliseconds();
    EXPECT_FALSE(WaitForHandle(event, 100));
    EXPECT_GE(NowMilliseconds() - start, 50);
    SetEvent(event);
    EXPECT_TRUE(WaitForHandle(event, 100));
    EXPECT_TRUE(WaitForHandle(event, 0));  // no time-out, already signalled
    CloseHandle(event);
    EXPECT_FALSE(WaitForHandle(nullptr, 10));
}

namespace {
bool g_bodyRan = false;
void Returns() { g_bodyRan = true; }
void Throws() { throw std::runtime_error("thrown on a worker"); }
}  // namespace

TEST(WorkerThreadsTest, GuardedRoutineTurnsAnExceptionIntoAFailedThread) {
    const std::pair<LPTHREAD_START_ROUTINE, DWORD> cases[] = {{GuardedRoutine<Returns>, 0}, {GuardedRoutine<Throws>, 1}};
    for (auto [routine, code] : cases) {
        HANDLE thread = CreateThread(nullptr, 0, routine, nullptr, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        ASSERT_TRUE(WaitForHandle(thread, 10000));
        DWORD exitCode = STILL_ACTIVE;
        GetExitCodeThread(thread, &exitCode);
        EXPECT_EQ(exitCode, code);
        CloseHandle(thread);
    }
    EXPECT_TRUE(g_bodyRan);
}
