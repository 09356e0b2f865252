#include "process/message_pump.h"

#include <windows.h>

namespace {
// Messages that keep coming (an animation whose frames take longer to draw
// than they are apart) must not keep the caller here for ever.
constexpr DWORD kLongestPumpMs = 100;
}  // namespace

void PumpPendingMessages() {
    const DWORD start = GetTickCount();
    MSG msg;
    // Taken in one step: a peek followed by a removal may take a WM_QUIT
    // that arrived in between, which the message loop would then never see.
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            // The quit is not news to a wait that follows: without this a
            // Delay with a quit pending would wake at once, again and again.
            GetQueueStatus(QS_POSTMESSAGE | QS_ALLPOSTMESSAGE);
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
        if (GetTickCount() - start >= kLongestPumpMs) return;
    }
}
