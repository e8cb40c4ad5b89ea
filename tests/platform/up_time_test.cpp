// The up-time clock counts hundredths of a second from creation and restarts
// at Reset. Bounds come from the steady clock read around each call, so the
// checks hold however the threads are scheduled.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "kalrt/up_time.h"

namespace {

using Clock = std::chrono::steady_clock;
using Ticks = std::chrono::duration<long long, std::centi>;

long long TicksBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration_cast<Ticks>(to - from).count();
}

TEST(UpTime, CountsHundredthsFromCreationAndRestartsAtReset) {
    const Clock::time_point beforeCreate = Clock::now();
    std::unique_ptr<kalrt::IUpTime> clock(kalrt::IUpTime::Create());
    const Clock::time_point afterCreate = Clock::now();

    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    const Clock::time_point beforeRead = Clock::now();
    const unsigned int upTime = clock->UpTime();
    const Clock::time_point afterRead = Clock::now();
    // The clock's interval lies within [afterCreate, beforeRead] at least and
    // [beforeCreate, afterRead] at most; a tick of rounding either way.
    EXPECT_GE(static_cast<long long>(upTime), TicksBetween(afterCreate, beforeRead) - 1);
    EXPECT_LE(static_cast<long long>(upTime), TicksBetween(beforeCreate, afterRead) + 1);
    EXPECT_GE(upTime, 11u);  // slept 120 ms: the unit is not milliseconds or seconds

    const Clock::time_point beforeReset = Clock::now();
    clock->Reset();
    const unsigned int afterResetTime = clock->UpTime();
    const Clock::time_point afterReset = Clock::now();
    EXPECT_LE(static_cast<long long>(afterResetTime), TicksBetween(beforeReset, afterReset) + 1);
    EXPECT_LT(afterResetTime, upTime);

    // Never goes backwards between resets.
    unsigned int previous = clock->UpTime();
    for (int i = 0; i < 1000; ++i) {
        const unsigned int now = clock->UpTime();
        ASSERT_GE(now, previous);
        previous = now;
    }
}

TEST(UpTime, ReadAndResetFromSeveralThreads) {
    const Clock::time_point start = Clock::now();
    std::unique_ptr<kalrt::IUpTime> clock(kalrt::IUpTime::Create());
    std::thread resetter([&] {
        for (int i = 0; i < 2000; ++i) {
            clock->Reset();
        }
    });
    unsigned int maxSeen = 0;
    for (int i = 0; i < 2000; ++i) {
        const unsigned int value = clock->UpTime();
        maxSeen = value > maxSeen ? value : maxSeen;
    }
    resetter.join();
    // Every value read belongs to an interval inside this test's run.
    EXPECT_LE(static_cast<long long>(maxSeen), TicksBetween(start, Clock::now()) + 1);
}

}  // namespace
