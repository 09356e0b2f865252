#pragma once
// Dispatches the calling thread's pending window messages, leaving WM_QUIT
// queued. Long waits and file loops call it so windows stay responsive.
void PumpPendingMessages();
