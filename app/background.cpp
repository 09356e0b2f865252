#include "app/background.h"

#include <windows.h>

namespace {
DWORD WINAPI RunRoutine(void* routine) {
    reinterpret_cast<void (*)()>(routine)();
    return 0;
}
}  // namespace

bool StartBackground(void (*routine)()) {
    if (!routine) return false;
    HANDLE thread = CreateThread(nullptr, 0, RunRoutine, reinterpret_cast<void*>(routine), 0, nullptr);
    if (!thread) return false;
    CloseHandle(thread);
    return true;
}

void SleepMilliseconds(unsigned ms) { Sleep(ms); }
