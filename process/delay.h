#pragma once
// Waits a number of milliseconds while the calling thread's pending window
// messages are dispatched (WM_QUIT stays queued). 0 or less returns at once.
void Delay(long long milliseconds);

// The same wait by the clock alone, which Delay falls back to when it
// cannot make or set its timer or the wait on it fails.
void DelayByClock(long long milliseconds);
