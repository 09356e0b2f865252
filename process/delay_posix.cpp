#include "process/delay.h"

#include <chrono>
#include <thread>

// No window messages on POSIX: the wait is a plain sleep.
void DelayByClock(long long milliseconds) {
    if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void Delay(long long milliseconds) { DelayByClock(milliseconds); }
