#include "app/payload_check.h"

#include <windows.h>

#include <atomic>

#include "payload/archive_check.h"
#include "payload/embedded_payload.h"
#include "process/message_pump.h"
#include "process/worker_threads.h"

namespace {

// Lives as long as the process: the check thread may still run at its end.
HANDLE g_checked = nullptr;
std::atomic<bool> g_started{false};
std::atomic<bool> g_passed{false};
void (*g_onDamaged)() = nullptr;
// Written by the check before g_checked is set, read only after.
CheckedHeaders g_headers;
std::vector<RecordSize> g_sizes;

bool CheckNow() {
    CheckedHeaders kept;
    ArchiveVisitor visitor;
    visitor.record = [&](std::int32_t number, RecordHeader& header) {
        kept.keep(number, header);
        return true;
    };
    SpanInput input(EmbeddedPayload());
    std::string reason;
    const bool passed = CheckArchive(input, reason, visitor);
    if (!passed) return false;
    for (std::size_t i = 1; i < kept.headers.size(); ++i) {
        const RecordHeader& header = kept.headers[i];
        g_sizes.push_back({header.path, static_cast<std::uint64_t>(header.dataLength < 0 ? 0 : header.dataLength)});
    }
    g_headers = std::move(kept);
    return true;
}

DWORD WINAPI PayloadCheckThread(void*) {
    g_passed = CheckNow();
    SetEvent(g_checked);
    if (!g_passed && g_onDamaged) g_onDamaged();
    return 0;
}

// The waiting thread keeps its messages going: the check may be telling the window.
void WaitDispatching(HANDLE event) {
    for (;;) {
        const DWORD woke = MsgWaitForMultipleObjects(1, &event, FALSE, INFINITE, QS_ALLINPUT);
        if (woke == WAIT_OBJECT_0) return;
        if (woke == WAIT_FAILED) return (void)WaitForHandle(event, 0);
        PumpPendingMessages();
    }
}

}  // namespace

void StartPayloadCheck(void (*onDamaged)()) {
    if (g_started.exchange(true)) return;
    g_onDamaged = onDamaged;
    g_checked = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!g_checked || !StartWorkerThread(PayloadCheckThread)) {
        if (g_checked) CloseHandle(g_checked);
        g_checked = nullptr;
    }
}

bool PayloadCheckPassed() {
    if (!g_checked) {
        static const bool passed = CheckNow();
        return passed;
    }
    WaitDispatching(g_checked);
    return g_passed;
}

const std::vector<RecordSize>& PayloadRecordSizes() { return g_sizes; }

const CheckedHeaders* PayloadCheckedHeaders() { return g_headers.whole ? &g_headers : nullptr; }
