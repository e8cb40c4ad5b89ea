// CVelThread's worker, lock and condition, used the way a producer feeds a queue thread.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <utility>

#include "velbase/vel_thread.h"

namespace {

using namespace std::chrono_literals;

// A miniature of a datagram queue: a worker that drains a count under the lock and sleeps on the
// condition between batches.
struct Queue {
    CVelThread thread;
    int items = 0;        // guarded by the CVelThread lock
    bool running = true;  // guarded by the CVelThread lock
    int consumed = 0;     // worker only, read after join
    int timeouts = 0;     // worker only, read after join

    static unsigned int Loop(void* argument) {
        auto* self = static_cast<Queue*>(argument);
        self->thread.VTLock();
        while (self->running || self->items != 0) {
            self->consumed += std::exchange(self->items, 0);
            if (self->running && !self->thread.VTConditionRelTimedWaitNoLock(30, 0)) {
                ++self->timeouts;
            }
        }
        self->thread.VTUnLock();
        return 0;
    }
};

TEST(CVelThread, WorkerSeesEveryItemAndNoSignalIsLost) {
    Queue queue;
    ASSERT_TRUE(queue.thread.VTCreateThread(&Queue::Loop, &queue, 1));
    EXPECT_FALSE(queue.thread.VTCreateThread(&Queue::Loop, &queue, 1));  // one at a time
    constexpr int kItems = 3000;
    for (int i = 0; i < kItems; ++i) {
        queue.thread.VTLock();
        ++queue.items;
        queue.thread.VTSignal();  // while holding the lock: must not deadlock
        queue.thread.VTUnLock();
    }
    queue.thread.VTLock();
    queue.running = false;
    queue.thread.VTUnLock();
    queue.thread.VTSignal();  // without the lock
    // Every wait of the worker must have ended by a signal, never by its
    // 30-second time-out; a lost item would show as a short count.
    ASSERT_TRUE(queue.thread.VTJoinThread());
    EXPECT_FALSE(queue.thread.VTJoinThread());
    EXPECT_EQ(queue.timeouts, 0);
    EXPECT_EQ(queue.consumed, kItems);
}

TEST(CVelThread, SignalBeforeWaitIsKeptAndTimeOutReportsFalseWithTheLockHeld) {
    CVelThread thread;
    thread.VTSignal();  // nobody waits yet: the next wait returns at once
    thread.VTLock();
    EXPECT_TRUE(thread.VTConditionRelTimedWaitNoLock(20, 0)) << "the early signal was lost";
    // The wait consumed it: the next one times out, holding the lock again.
    EXPECT_FALSE(thread.VTConditionRelTimedWaitNoLock(0, 1));
    auto other = std::async(std::launch::async, [&] {
        thread.VTLock();
        thread.VTUnLock();
    });
    EXPECT_EQ(other.wait_for(50ms), std::future_status::timeout) << "the lock was let go";
    thread.VTUnLock();
    other.get();
}

}  // namespace
