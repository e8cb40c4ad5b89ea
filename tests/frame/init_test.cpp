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

TEST(Init, CountsCallersOnlyTheLastShutdownStopsTheClockAndReinitOrResetRestartsIt) {
    snmp::Shutdown();               // unmatched: must not take the count below zero
    ASSERT_EQ(snmp::UpTime(), 0u);  // not initialised: no clock, no crash
    ASSERT_TRUE(snmp::Init());
    ASSERT_TRUE(snmp::Init());
    ASSERT_TRUE(UpTimeReaches(10));
    const unsigned int beforeShutdown = snmp::UpTime();

    snmp::Shutdown();  // 2 -> 1: the clock keeps running, not restarted
    EXPECT_GE(snmp::UpTime(), beforeShutdown);

    snmp::Shutdown();  // 1 -> 0: the clock is gone
    EXPECT_EQ(snmp::UpTime(), 0u);
    snmp::Reset();  // no clock to reset; must not crash or create one
    EXPECT_EQ(snmp::UpTime(), 0u);

    // The old clock had reached 10 ticks: a new one starts from zero.
    const Clock::time_point beforeInit = Clock::now();
    ASSERT_TRUE(snmp::Init());
    EXPECT_LE(static_cast<long long>(snmp::UpTime()), TicksSince(beforeInit));

    ASSERT_TRUE(UpTimeReaches(10));
    const Clock::time_point beforeReset = Clock::now();
    snmp::Reset();
    EXPECT_LE(static_cast<long long>(snmp::UpTime()), TicksSince(beforeReset));
    snmp::Shutdown();
}

TEST(Init, LastShutdownDestroysTheSingletonsAndLaterUseBuildsFreshOnes) {
    ASSERT_TRUE(snmp::Init());
    ASSERT_TRUE(snmp::Init());
    snmp::StackInterface* stack = snmp::StackInterface::Instance();
    snmp::SnmpStats* stats = snmp::SnmpStats::Instance();
    ASSERT_NE(stack, nullptr);
    ASSERT_NE(stats, nullptr);

    snmp::Shutdown();
    EXPECT_EQ(snmp::StackInterface::_instance, stack);  // not the last one
    EXPECT_EQ(snmp::SnmpStats::_instance, stats);

    snmp::Shutdown();
    EXPECT_EQ(snmp::StackInterface::_instance, nullptr);
    EXPECT_EQ(snmp::SnmpStats::_instance, nullptr);

    EXPECT_NE(snmp::StackInterface::Instance(), nullptr);
    EXPECT_NE(snmp::StackInterface::_instance, nullptr);
    snmp::StackInterface::Destroy();
}

}  // namespace
