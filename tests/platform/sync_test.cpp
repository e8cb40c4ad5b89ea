// The event that keeps an early signal, and the counting semaphore with its
// time-out.
#include "brask/sync.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Long enough that a correct implementation never reaches it, even under
// sanitizers on a loaded machine.
constexpr unsigned int kGenerousMs = 20000;

TEST(Event, AutoResetKeepsAnEarlySignalOnceAndManualResetWakesAllUntilReset) {
    std::unique_ptr<brask::Event> event(brask::Event::Create(brask::Event::kAutoReset));
    EXPECT_FALSE(event->Wait(0u));  // starts unsignalled
    event->Signal();
    event->Signal();  // a second signal is not counted
    EXPECT_TRUE(event->Wait(0u));
    EXPECT_FALSE(event->Wait(10u));
    // Cross-thread: the signaller may run before or after the waiter blocks; a waiter that
    // sleeps out its bound was never woken.
    for (int round = 0; round < 200; ++round) {
        std::thread signaller([&] { event->Signal(); });
        const auto start = std::chrono::steady_clock::now();
        const bool woke =
            event->Wait(kGenerousMs) && std::chrono::steady_clock::now() - start < 10s;
        signaller.join();
        ASSERT_TRUE(woke) << "round " << round;
    }

    std::unique_ptr<brask::Event> manual(brask::Event::Create(brask::Event::kManualReset));
    auto first = std::async(std::launch::async, [&] { return manual->Wait(kGenerousMs); });
    auto second = std::async(std::launch::async, [&] { return manual->Wait(kGenerousMs); });
    manual->Signal();
    EXPECT_TRUE(first.get());
    EXPECT_TRUE(second.get());
    EXPECT_TRUE(manual->Wait(0u));  // still signalled
    manual->Reset();
    EXPECT_FALSE(manual->Wait(10u));
    EXPECT_EQ(brask::Event::Create(2), nullptr);
}

TEST(Semaphore, CountsPostsAndTimesOutWhenEmpty) {
    std::unique_ptr<brask::Semaphore> semaphore(brask::Semaphore::Create());
    EXPECT_FALSE(semaphore->Wait(30u));
    semaphore->Post();
    semaphore->Post();
    EXPECT_TRUE(semaphore->Wait(0u));
    semaphore->Wait();
    EXPECT_FALSE(semaphore->Wait(0u));  // two posts, two takes

    // A post wakes a taker that is already blocked, long before its bound.
    std::thread poster([&] { semaphore->Post(); });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(semaphore->Wait(kGenerousMs) && std::chrono::steady_clock::now() - start < 10s);
    poster.join();
    EXPECT_FALSE(semaphore->Wait(0u));
}

}  // namespace
