#include <gtest/gtest.h>

#include "sim/line_pacer.h"

using namespace std::chrono;
using sim::LinePacer;

TEST(LinePacer, LetsBytesThroughAtTenBitsEach) {
    LinePacer pacer(9600);  // 960 bytes per second
    const auto t0 = LinePacer::Clock::time_point{} + seconds(5);
    EXPECT_TRUE(pacer.idle());
    pacer.begin(t0);
    EXPECT_EQ(pacer.allowance(t0), 0u);
    // The first byte has left after one byte time, 1041.67 us.
    EXPECT_EQ(pacer.allowance(t0 + microseconds(1041)), 0u);
    EXPECT_EQ(pacer.allowance(t0 + microseconds(1042)), 1u);
    EXPECT_EQ(pacer.nextDue(), t0 + nanoseconds(1041667));
    // A late wake-up takes everything due at once, and the schedule holds.
    EXPECT_EQ(pacer.allowance(t0 + seconds(1)), 960u);
    pacer.moved(900);
    EXPECT_EQ(pacer.allowance(t0 + seconds(1)), 60u);
    pacer.moved(60);
    EXPECT_EQ(pacer.nextDue(), t0 + nanoseconds(1'001'041'667));
    // begin() during a burst does not restart it.
    pacer.begin(t0 + seconds(1));
    EXPECT_EQ(pacer.allowance(t0 + seconds(2)), 960u);
}

TEST(LinePacer, BanksNoCreditWhileIdle) {
    LinePacer pacer(115200);
    const auto t0 = LinePacer::Clock::time_point{} + seconds(5);
    pacer.begin(t0);
    pacer.moved(1);
    pacer.stop();
    EXPECT_EQ(pacer.allowance(t0 + seconds(10)), 0u);
    pacer.begin(t0 + seconds(10));
    EXPECT_EQ(pacer.allowance(t0 + seconds(10) + microseconds(86)), 0u);
    EXPECT_EQ(pacer.allowance(t0 + seconds(10) + microseconds(87)), 1u);
}

TEST(LinePacer, LongBurstsKeepTheirSchedule) {
    LinePacer pacer(921600);
    const auto t0 = LinePacer::Clock::time_point{} + seconds(5);
    pacer.begin(t0);
    // Six hours at full speed, taken in steps of ten seconds: long enough
    // that nanoseconds times baud would overflow 64 bits without a rebase.
    std::uint64_t total = 0;
    for (int step = 1; step <= 2160; ++step) {
        const auto n = pacer.allowance(t0 + seconds(10 * step));
        EXPECT_EQ(n, 921'600u) << step;
        pacer.moved(n);
        total += n;
    }
    EXPECT_EQ(total, 1'990'656'000u);
}
