#include <gtest/gtest.h>

#include "process/clock.h"
#include "process/delay.h"

TEST(ClockTest, RoundsToThirteenDigitsThenTruncates) {
    EXPECT_EQ(MillisecondsFromCounter(1234567, 1000), 1234567);
    EXPECT_EQ(MillisecondsFromCounter(2500, 1000000), 2);  // 2.5 ms truncated
    // 999.999999999999 ms: 13 digits round it up to 1000 before truncation.
    EXPECT_EQ(MillisecondsFromCounter(999999999999999LL, 1000000000000000LL), 1000);
    EXPECT_EQ(MillisecondsFromCounter(123, 0), 0);
}

TEST(ClockTest, DelayWaitsAtLeastItsTime) {
    long long start = NowMilliseconds();
    Delay(120);
    long long elapsed = NowMilliseconds() - start;
    EXPECT_GE(elapsed, 100);
    EXPECT_LT(elapsed, 5000);
}
