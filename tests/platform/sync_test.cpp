// Mutex exclusion and re-entry, the event that keeps an early signal, and the
// counting semaphore with its time-out.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "brask/sync.h"

namespace {

using namespace std::chrono_literals;

// Long enough that a correct implementation never reaches it, even under
// sanitizers on a loaded machine.
constexpr auto kGenerous = 20s;

TEST(Mutex, ExcludesOtherThreadsForBothKinds) {
    for (const bool recursive : {false, true}) {
        SCOPED_TRACE(recursive ? "recursive" : "plain");
        std::unique_ptr<brask::Mutex> mutex(brask::Mutex::Create(recursive));
        ASSERT_NE(mutex, nullptr);
        long counter = 0;  // deliberately unsynchronised except by the mutex
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&] {
                for (int i = 0; i < 20000; ++i) {
                    mutex->Lock();
                    ++counter;
                    mutex->Unlock();
                }
            });
        }
        for (auto& thread : threads) {
            thread.join();
        }
        EXPECT_EQ(counter, 4 * 20000);
    }
}

TEST(Mutex, RecursiveLockIsReenterableAndHeldUntilLastUnlock) {
    std::unique_ptr<brask::Mutex> mutex(brask::Mutex::Create(true));
    // Re-entry runs on a helper thread so that a lock which deadlocks fails
    // the test instead of hanging it.
    std::promise<void> reentered;
    std::promise<void> releaseOnce;
    std::promise<void> releaseTwice;
    std::thread holder([&] {
        mutex->Lock();
        mutex->Lock();
        reentered.set_value();
        releaseOnce.get_future().wait();
        mutex->Unlock();
        releaseTwice.get_future().wait();
        mutex->Unlock();
    });
    auto entered = reentered.get_future();
    if (entered.wait_for(kGenerous) != std::future_status::ready) {
        holder.detach();
        FAIL() << "the holding thread could not take the lock a second time";
    }

    std::atomic<bool> acquired{false};
    std::thread contender([&] {
        mutex->Lock();
        acquired = true;
        mutex->Unlock();
    });
    releaseOnce.set_value();
    // One unlock of two keeps the lock; the contender must still be blocked.
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(acquired.load());
    releaseTwice.set_value();
    holder.join();
    contender.join();
    EXPECT_TRUE(acquired.load());
}

TEST(Event, AutoResetKeepsAnEarlySignalAndConsumesIt) {
    std::unique_ptr<brask::Event> event(brask::Event::Create(brask::Event::kAutoReset));
    ASSERT_NE(event, nullptr);
    EXPECT_FALSE(event->Wait(0u));  // starts unsignalled

    // Signal before anyone waits: the wait still sees it, once.
    event->Signal();
    event->Signal();  // a second signal is not counted
    EXPECT_TRUE(event->Wait(0u));
    EXPECT_FALSE(event->Wait(10u));

    event->Signal();
    event->Wait();  // returns at once: would hang if the signal were lost
    EXPECT_FALSE(event->Wait(0u));

    // Cross-thread: the signaller may run before or after the waiter blocks.
    for (int round = 0; round < 200; ++round) {
        std::thread signaller([&] { event->Signal(); });
        const bool woke = event->Wait(static_cast<unsigned int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(kGenerous).count()));
        signaller.join();
        ASSERT_TRUE(woke) << "round " << round;
    }
}

TEST(Event, ManualResetWakesEveryWaiterUntilReset) {
    std::unique_ptr<brask::Event> event(brask::Event::Create(brask::Event::kManualReset));
    ASSERT_NE(event, nullptr);
    std::vector<std::future<bool>> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.push_back(std::async(std::launch::async, [&] {
            return event->Wait(static_cast<unsigned int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(kGenerous).count()));
        }));
    }
    event->Signal();
    for (auto& waiter : waiters) {
        EXPECT_TRUE(waiter.get());
    }
    EXPECT_TRUE(event->Wait(0u));  // still signalled
    event->Reset();
    EXPECT_FALSE(event->Wait(10u));

    EXPECT_EQ(brask::Event::Create(2), nullptr);
    EXPECT_EQ(brask::Event::Create(-1), nullptr);
}

TEST(Semaphore, CountsPostsAndTimesOutWhenEmpty) {
    std::unique_ptr<brask::Semaphore> semaphore(brask::Semaphore::Create());
    ASSERT_NE(semaphore, nullptr);
    EXPECT_FALSE(semaphore->Wait(0u));
    EXPECT_FALSE(semaphore->Wait(30u));

    semaphore->Post();
    semaphore->Post();
    semaphore->Post();
    EXPECT_TRUE(semaphore->Wait(0u));
    semaphore->Wait();
    EXPECT_TRUE(semaphore->Wait(0u));
    EXPECT_FALSE(semaphore->Wait(0u));  // three posts, three takes

    // A post during a timed wait ends it with success.
    auto waiter = std::async(std::launch::async, [&] {
        return semaphore->Wait(static_cast<unsigned int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(kGenerous).count()));
    });
    std::this_thread::sleep_for(20ms);
    semaphore->Post();
    EXPECT_TRUE(waiter.get());
    EXPECT_FALSE(semaphore->Wait(0u));

    // Every post from a producer is taken exactly once by a consumer.
    constexpr int kPosts = 5000;
    std::thread producer([&] {
        for (int i = 0; i < kPosts; ++i) {
            semaphore->Post();
        }
    });
    int taken = 0;
    for (int i = 0; i < kPosts; ++i) {
        semaphore->Wait();
        ++taken;
    }
    producer.join();
    EXPECT_EQ(taken, kPosts);
    EXPECT_FALSE(semaphore->Wait(0u));
}

}  // namespace
