#include "process/delay.h"

#include <windows.h>

#include "process/clock.h"
#include "process/message_pump.h"

namespace {

// Keys, mouse, posted and sent messages, timers, paint and hot keys.
constexpr DWORD kWakeMask = 0xFF;
// Larger waits would overflow the timer's 100 ns units.
constexpr long long kLongestDelay = 900000000000000LL;

struct TimerHandle {
    HANDLE handle = CreateWaitableTimerW(nullptr, FALSE, nullptr);
    ~TimerHandle() {
        if (handle) CloseHandle(handle);
    }
};

}  // namespace

void DelayByClock(long long milliseconds) {
    if (milliseconds > kLongestDelay) milliseconds = kLongestDelay;
    long long deadline = NowMilliseconds() + milliseconds;
    for (long long left = milliseconds; left > 0; left = deadline - NowMilliseconds()) {
        DWORD slice = left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(left);
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, slice, kWakeMask) == WAIT_FAILED)
            Sleep(slice < 10 ? slice : 10);
        PumpPendingMessages();
    }
}

void Delay(long long milliseconds) {
    if (milliseconds > kLongestDelay) milliseconds = kLongestDelay;
    TimerHandle timer;
    // Negative due times are relative; 0 or more is an absolute time long past.
    LARGE_INTEGER due;
    due.QuadPart = static_cast<long long>(static_cast<double>(milliseconds) * -10000.0);
    long long start = NowMilliseconds();
    if (!timer.handle || !SetWaitableTimer(timer.handle, &due, 0, nullptr, nullptr, FALSE)) {
        DelayByClock(milliseconds);
        return;
    }
    for (;;) {
        DWORD result = MsgWaitForMultipleObjects(1, &timer.handle, FALSE, INFINITE, kWakeMask);
        if (result == WAIT_OBJECT_0) return;
        if (result == WAIT_FAILED) {
            DelayByClock(milliseconds - (NowMilliseconds() - start));
            return;
        }
        PumpPendingMessages();
    }
}
