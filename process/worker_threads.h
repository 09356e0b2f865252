#pragma once
// Worker threads with a registry of their handles: a reaper thread closes
// the handle of each registered thread once it has ended.
#include <windows.h>

#include <vector>

// Start-up work: the registry's lock and table, before any other thread.
void StartThreadRegistry();
// Exit work: stops the reaper, then destroys the lock and the table. When
// the reaper does not stop in time both are left to the process's end.
void ReleaseThreadRegistry();

// Starts routine(nullptr) at once and registers its handle; the reaper
// starts with the first registered thread. Null when the thread cannot be
// made. Without a registry the handle is not registered (the caller owns it).
HANDLE StartWorkerThread(LPTHREAD_START_ROUTINE routine);

// A thread routine that runs Body and ends with 0, or with 1 when Body
// threw: an exception leaving a thread would end the whole process.
template <void (*Body)()>
DWORD WINAPI GuardedRoutine(void*) noexcept {
    try {
        Body();
        return 0;
    } catch (...) {
        return 1;
    }
}

// Waits for the object without handling messages; 0 or less waits forever.
// True when it was signalled.
bool WaitForHandle(HANDLE handle, int timeoutMilliseconds);

// The reaper's thread routine.
DWORD WINAPI ThreadReaper(void*);

// The registered handles, in the table's key order.
std::vector<HANDLE> RegisteredThreads();
// The reaper's handle, 0 until it has been started.
HANDLE ReaperThread();
