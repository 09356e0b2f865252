#pragma once
// Runs a routine on a thread of its own without waiting for it. The one
// place the app starts threads, so the thread policy can change here.

// False when the thread could not be started.
bool StartBackground(void (*routine)());
// Blocks the calling (non-UI) thread; UI threads use a pumping wait instead.
void SleepMilliseconds(unsigned ms);
