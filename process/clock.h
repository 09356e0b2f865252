#pragma once
// A millisecond clock from the high-resolution counter.

// Milliseconds since the counter's origin.
long long NowMilliseconds();

// counter / frequency seconds in milliseconds, rounded to 13 significant
// digits and then truncated; 0 when the frequency is not positive.
long long MillisecondsFromCounter(long long counter, long long frequency);
