#include "app/payload_check.h"

#include <windows.h>

#include <atomic>

#include "payload/embedded_payload.h"
#include "payload/archive_check.h"
#include "process/worker_threads.h"

namespace {

// Lives as long as the process: the check thread may still run at its end.
HANDLE g_checked = nullptr;
std::atomic<bool> g_started{false};
std::atomic<bool> g_passed{false};

bool CheckNow() {
    SpanInput input(EmbeddedPayload());
    std::string reason;
    return CheckArchive(input, reason);
}

DWORD WINAPI PayloadCheckThread(void*) {
    g_passed = CheckNow();
    SetEvent(g_checked);
    return 0;
}

}  // namespace

void StartPayloadCheck() {
    if (g_started.exchange(true)) return;
    g_checked = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!g_checked || !StartWorkerThread(PayloadCheckThread)) {
        if (g_checked) CloseHandle(g_checked);
        g_checked = nullptr;
    }
}

bool PayloadCheckPassed() {
    if (!g_checked) return CheckNow();
    WaitForHandle(g_checked, 0);
    return g_passed;
}
