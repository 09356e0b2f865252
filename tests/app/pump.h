#pragma once
// Pumps the test thread's messages until a condition holds or time runs out.
#include <windows.h>

#include "process/message_pump.h"

template <class Condition>
bool PumpUntil(Condition done, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        PumpPendingMessages();
    }
    return true;
}
