#include "process/clock.h"

#include <windows.h>

long long NowMilliseconds() {
    LARGE_INTEGER counter{}, frequency{};
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return MillisecondsFromCounter(counter.QuadPart, frequency.QuadPart);
}
