// CVelThread's worker, lock and condition, used the way a producer feeds a queue thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <numeric>
#include <thread>
#include <vector>

#include "velbase/vel_thread.h"

namespace {

using namespace std::chrono_literals;

// A miniature of a datagram queue: a worker that drains a list under the
// lock and sleeps on the condition between batches.
struct Queue {
    CVelThread thread;
    std::vector<int> items;     // guarded by the CVelThread lock
    bool running = true;        // guarded by the CVelThread lock
    std::vector<int> consumed;  // worker only, read after join
    int timeouts = 0;           // worker only, read after join

    static unsigned int Loop(void* argument) {
        auto* self = static_cast<Queue*>(argument);
        self->thread.VTLock();
        while (self->running || !self->items.empty()) {
            std::vector<int> batch;
            batch.swap(self->items);
            self->thread.VTUnLock();
            self->consumed.insert(self->consumed.end(), batch.begin(), batch.end());
            self->thread.VTLock();
            if (self->running && self->items.empty() &&
                !self->thread.VTConditionRelTimedWaitNoLock(30, 0)) {
                ++self->timeouts;
            }
        }
        self->thread.VTUnLock();
        return 0;
    }
};

TEST(CVelThread, WorkerSeesEveryItemInOrderAndNoSignalIsLost) {
    Queue queue;
    ASSERT_TRUE(queue.thread.VTCreateThread(&Queue::Loop, &queue, 1));
    EXPECT_FALSE(queue.thread.VTCreateThread(&Queue::Loop, &queue, 1));  // one at a time
    constexpr int kItems = 3000;
    for (int i = 0; i < kItems; ++i) {
        queue.thread.VTLock();
        queue.items.push_back(i);
        queue.thread.VTSignal();  // while holding the lock: must not deadlock
        queue.thread.VTUnLock();
    }
    queue.thread.VTLock();
    queue.running = false;
    queue.thread.VTUnLock();
    queue.thread.VTSignal();  // without the lock
    // Every wait of the worker must have ended by a signal, never by its
    // 30-second time-out; a lost item would show as a short list.
    ASSERT_TRUE(queue.thread.VTJoinThread());
    EXPECT_FALSE(queue.thread.VTJoinThread());
    EXPECT_EQ(queue.timeouts, 0);
    std::vector<int> expected(kItems);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_TRUE(queue.consumed == expected);
}

TEST(CVelThread, SignalBeforeWaitIsKeptAndTimeOutReportsFalseWithTheLockHeld) {
    CVelThread thread;
    thread.VTLock();
    EXPECT_FALSE(thread.VTConditionRelTimedWaitNoLock(0, 10));  // time-out
    thread.VTUnLock();
    thread.VTSignal();  // nobody waits yet
    auto woke = std::async(std::launch::async, [&] {
        thread.VTLock();
        const bool signalled = thread.VTConditionRelTimedWaitNoLock(20, 0);
        thread.VTUnLock();
        return signalled;
    });
    ASSERT_EQ(woke.wait_for(10s), std::future_status::ready) << "the early signal was lost";
    EXPECT_TRUE(woke.get());

    // The wait consumed it: the next one times out, holding the lock again.
    thread.VTLock();
    EXPECT_FALSE(thread.VTConditionRelTimedWaitNoLock(0, 1));
    std::atomic<bool> entered{false};
    std::thread other([&] {
        thread.VTLock();
        entered = true;
        thread.VTUnLock();
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(entered.load());
    thread.VTUnLock();
    other.join();
    EXPECT_TRUE(entered.load());
}

}  // namespace
