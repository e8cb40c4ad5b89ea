// Library start and stop: the init count, the up-time clock's life, and the singletons the last
// shutdown destroys.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "snmp/init.h"
#include "snmp/snmp_stats.h"
#include "snmp/stack_interface.h"

namespace {

using Clock = std::chrono::steady_clock;
using Ticks = std::chrono::duration<long long, std::centi>;

// Polls the library clock until it reaches `ticks`; false if it never does within a generous
// bound (the clock is missing or stopped).
bool UpTimeReaches(unsigned int ticks) {
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (snmp::UpTime() < ticks) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Ticks elapsed since `since`, rounded up: a bound for a clock started after `since`.
long long TicksSince(Clock::time_point since) {
    return std::chrono::duration_cast<Ticks>(Clock::now() - since).count() + 1;
}

TEST(Init, CountsCallersAndOnlyTheLastShutdownStopsTheClockAndDestroysTheSingletons) {
    snmp::Shutdown();               // unmatched: must not take the count below zero
    ASSERT_EQ(snmp::UpTime(), 0u);  // not initialised: no clock, no crash
    ASSERT_TRUE(snmp::Init());
    ASSERT_TRUE(snmp::Init());
    snmp::StackInterface* stack = snmp::StackInterface::Instance();
    snmp::SnmpStats* stats = snmp::SnmpStats::Instance();
    ASSERT_TRUE(UpTimeReaches(10));
    const unsigned int beforeShutdown = snmp::UpTime();

    snmp::Shutdown();  // 2 -> 1: the clock keeps running, not restarted, and the singletons stay
    EXPECT_GE(snmp::UpTime(), beforeShutdown);
    EXPECT_EQ(snmp::StackInterface::_instance, stack);
    EXPECT_EQ(snmp::SnmpStats::_instance, stats);

    snmp::Shutdown();  // 1 -> 0: the clock and the singletons are gone
    EXPECT_EQ(snmp::UpTime(), 0u);
    EXPECT_EQ(snmp::StackInterface::_instance, nullptr);
    EXPECT_EQ(snmp::SnmpStats::_instance, nullptr);
    snmp::Reset();  // no clock to reset; must not crash or create one
    EXPECT_EQ(snmp::UpTime(), 0u);

    // The old clock had reached 10 ticks: a new one starts from zero.
    const Clock::time_point beforeInit = Clock::now();
    ASSERT_TRUE(snmp::Init());
    EXPECT_LE(static_cast<long long>(snmp::UpTime()), TicksSince(beforeInit));
    EXPECT_NE(snmp::StackInterface::Instance(), nullptr);  // built afresh on use

    ASSERT_TRUE(UpTimeReaches(10));
    const Clock::time_point beforeReset = Clock::now();
    snmp::Reset();
    EXPECT_LE(static_cast<long long>(snmp::UpTime()), TicksSince(beforeReset));
    snmp::Shutdown();
}

}  // namespace
