#include "process/message_pump.h"

#include <windows.h>

void PumpPendingMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
        if (msg.message == WM_QUIT) return;
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}
