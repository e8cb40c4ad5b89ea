// The up-time clock counts hundredths of a second from creation and restarts
// at Reset. Bounds come from the steady clock read around each call, so the
// checks hold however the threads are scheduled.
#include "kalrt/up_time.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

long long TicksBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration_cast<std::chrono::duration<long long, std::centi>>(to - from)
        .count();
}

TEST(UpTime, CountsHundredthsFromCreationAndRestartsAtResetOnAnyThread) {
    const Clock::time_point beforeCreate = Clock::now();
    std::unique_ptr<kalrt::IUpTime> clock(kalrt::IUpTime::Create());
    const Clock::time_point afterCreate = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    const Clock::time_point beforeRead = Clock::now();
    const unsigned int upTime = clock->UpTime();
    const Clock::time_point afterRead = Clock::now();
    // A tick of rounding either way.
    EXPECT_GE(static_cast<long long>(upTime), TicksBetween(afterCreate, beforeRead) - 1);
    EXPECT_LE(static_cast<long long>(upTime), TicksBetween(beforeCreate, afterRead) + 1);
    EXPECT_GE(upTime, 11u);  // slept 120 ms: the unit is not milliseconds or seconds

    // Reset on another thread while this one reads: every value read belongs
    // to an interval that began after the last reset before it was read.
    const Clock::time_point beforeResets = Clock::now();
    std::thread resetter([&] {
        for (int i = 0; i < 2000; ++i) clock->Reset();
    });
    unsigned int maxSeen = 0;
    for (int i = 0; i < 2000; ++i) maxSeen = std::max(maxSeen, clock->UpTime());
    resetter.join();
    EXPECT_LT(maxSeen, upTime + TicksBetween(beforeResets, Clock::now()) + 1);
    const Clock::time_point beforeReset = Clock::now();
    clock->Reset();
    const unsigned int afterReset = clock->UpTime();
    EXPECT_LE(static_cast<long long>(afterReset), TicksBetween(beforeReset, Clock::now()) + 1);
}

}  // namespace
