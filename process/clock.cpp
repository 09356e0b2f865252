#include "process/clock.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

long long MillisecondsFromCounter(long long counter, long long frequency) {
    if (frequency <= 0) return 0;
    double milliseconds = static_cast<double>(counter) / static_cast<double>(frequency) * 1000.0;
    // Rounding to 13 digits first turns 999.9999999999999 into 1000.
    char text[64];
    std::snprintf(text, sizeof(text), "%.13g", milliseconds);
    double rounded = std::strtod(text, nullptr);
    if (!(std::fabs(rounded) < 9.2e18)) return 0;
    return static_cast<long long>(rounded);
}
