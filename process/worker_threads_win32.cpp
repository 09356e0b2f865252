#include "process/worker_threads.h"

#include <atomic>
#include <cstdint>

#include "process/delay.h"
#include "process/process_control.h"
#include "system/critical_section_lock.h"
#include "system/hash_table.h"

namespace {

// Thread handle -> start routine address, under g_lock.
CriticalSectionLock* g_lock = nullptr;
HashTable* g_table = nullptr;
std::atomic<HANDLE> g_reaper{nullptr};
std::atomic<bool> g_stopping{false};
// Set by the exit work so the reaper's waits end at once.
HANDLE g_stopEvent = nullptr;

constexpr int kPassWaitMilliseconds = 1000;
// How long the exit work waits for the reaper to finish its pass.
constexpr DWORD kReaperStopMilliseconds = 3000;

std::int32_t KeyOf(HANDLE handle) { return static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(handle)); }

HANDLE HandleOf(const HashItem& key) {
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(std::get<std::int32_t>(key)));
}

HANDLE CreatePlainThread(LPTHREAD_START_ROUTINE routine) {
    DWORD id = 0;
    return CreateThread(nullptr, 0, routine, nullptr, 0, &id);
}

// True when the wait ended for any reason but its time-out: the thread has
// ended, or its handle no longer waits (e.g. already closed).
bool HasEnded(HANDLE thread) {
    HANDLE handles[2] = {thread, g_stopEvent};
    DWORD result = MsgWaitForMultipleObjects(g_stopEvent ? 2 : 1, handles, FALSE, kPassWaitMilliseconds, 0);
    return result == WAIT_OBJECT_0 || result == WAIT_FAILED;
}

}  // namespace

void StartThreadRegistry() {
    if (g_lock) return;
    g_stopping = false;
    g_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_lock = new CriticalSectionLock;
    g_table = new HashTable;
    g_table->create();
}

void ReleaseThreadRegistry() {
    if (!g_lock) return;
    HANDLE reaper = g_reaper.load();
    if (reaper) {
        g_stopping = true;
        if (g_stopEvent) SetEvent(g_stopEvent);
        if (WaitForSingleObject(reaper, kReaperStopMilliseconds) != WAIT_OBJECT_0) return;
        CloseHandle(reaper);
        g_reaper = nullptr;
    }
    g_table->releaseStorage();
    delete g_table;
    g_table = nullptr;
    g_lock->destroy();
    delete g_lock;
    g_lock = nullptr;
    if (g_stopEvent) CloseHandle(g_stopEvent);
    g_stopEvent = nullptr;
}

HANDLE StartWorkerThread(LPTHREAD_START_ROUTINE routine) {
    HANDLE thread = CreatePlainThread(routine);
    if (!thread || !g_lock) return thread;
    CriticalSectionLock::Scope scope(*g_lock);
    if (!g_reaper.load()) {
        g_table->create(kHashInteger, kHashInteger);
        g_reaper = CreatePlainThread(ThreadReaper);
    }
    g_table->put(KeyOf(thread), static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(routine)));
    return thread;
}

bool WaitForHandle(HANDLE handle, int timeoutMilliseconds) {
    DWORD timeout = timeoutMilliseconds <= 0 ? INFINITE : static_cast<DWORD>(timeoutMilliseconds);
    return MsgWaitForMultipleObjects(1, &handle, FALSE, timeout, 0) == WAIT_OBJECT_0;
}

DWORD WINAPI ThreadReaper(void*) {
    Delay(500);
    while (!g_stopping) {
        HashItemList keys;
        {
            CriticalSectionLock::Scope scope(*g_lock);
            g_table->keys(keys);
        }
        for (const HashItem& key : keys) {
            if (g_stopping) break;
            // The wait's result, not its duration, tells an ended thread:
            // a wait may time out a little early by the clock.
            HANDLE thread = HandleOf(key);
            if (!HasEnded(thread)) continue;
            CloseKernelHandle(thread);
            CriticalSectionLock::Scope scope(*g_lock);
            g_table->remove(key);
        }
        Delay(10);
    }
    return 0;
}

std::vector<HANDLE> RegisteredThreads() {
    std::vector<HANDLE> handles;
    if (!g_lock) return handles;
    HashItemList keys;
    {
        CriticalSectionLock::Scope scope(*g_lock);
        g_table->keys(keys);
    }
    for (const HashItem& key : keys) handles.push_back(HandleOf(key));
    return handles;
}

HANDLE ReaperThread() { return g_reaper.load(); }
