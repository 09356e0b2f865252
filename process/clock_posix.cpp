#include "process/clock.h"

#include <time.h>

long long NowMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return MillisecondsFromCounter(static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec, 1000000000LL);
}
