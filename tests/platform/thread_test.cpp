// Task threads (start once, wait, delete) and CVelThread's worker, lock and
// condition, used the way a producer feeds a queue thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "brask/thread.h"
#include "velbase/vel_thread.h"

namespace {

using namespace std::chrono_literals;

class CountingTask : public brask::Task {
public:
    void Run() override {
        runs++;
        runner = std::this_thread::get_id();
    }
    std::atomic<int> runs{0};
    std::thread::id runner;
};

TEST(Thread, RunsTheTaskOnceOnItsOwnThreadAndIsWaitedFor) {
    CountingTask task;
    std::unique_ptr<brask::Thread> thread(brask::Thread::Create(task));
    ASSERT_NE(thread, nullptr);
    EXPECT_FALSE(thread->Wait());  // not started yet
    EXPECT_EQ(task.runs.load(), 0);

    ASSERT_TRUE(thread->Start());
    EXPECT_FALSE(thread->Start());  // one run per thread object
    EXPECT_TRUE(thread->Wait());
    EXPECT_FALSE(thread->Wait());  // already waited for
    EXPECT_EQ(task.runs.load(), 1);
    EXPECT_NE(task.runner, std::this_thread::get_id());
}

class BlockedTask : public brask::Task {
public:
    void Run() override {
        release.get_future().wait();
        finished = true;
    }
    std::promise<void> release;
    std::atomic<bool> finished{false};
};

TEST(Thread, DeletingAStartedThreadWaitsForTheTask) {
    BlockedTask task;
    auto* thread = brask::Thread::Create(task);
    ASSERT_TRUE(thread->Start());
    std::thread releaser([&] {
        std::this_thread::sleep_for(50ms);
        task.release.set_value();
    });
    delete thread;  // must neither terminate the process nor leave Run behind
    EXPECT_TRUE(task.finished.load());
    releaser.join();
}

// A miniature of a datagram queue: a worker that drains a list under the
// lock and sleeps on the condition between batches.
struct Queue {
    CVelThread thread;
    std::vector<int> items;     // guarded by the CVelThread lock
    std::vector<int> consumed;  // worker only, read after join
    bool running = true;        // guarded by the CVelThread lock
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
            if (self->running && self->items.empty()) {
                if (!self->thread.VTConditionRelTimedWaitNoLock(30, 0)) {
                    ++self->timeouts;
                }
            }
        }
        self->thread.VTUnLock();
        return 0;
    }
};

TEST(CVelThread, WorkerSeesEveryItemInOrderAndStopsWhenSignalled) {
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
    ASSERT_EQ(queue.consumed.size(), static_cast<size_t>(kItems));
    for (int i = 0; i < kItems; ++i) {
        ASSERT_EQ(queue.consumed[i], i);
    }

    // After a join a new thread may start.
    queue.running = true;
    ASSERT_TRUE(queue.thread.VTCreateThread(&Queue::Loop, &queue, 1));
    queue.thread.VTLock();
    queue.items.push_back(kItems);
    queue.running = false;
    queue.thread.VTSignal();
    queue.thread.VTUnLock();
    ASSERT_TRUE(queue.thread.VTJoinThread());
    EXPECT_EQ(queue.consumed.back(), kItems);
}

TEST(CVelThread, SignalBeforeWaitIsKeptAndTimeoutReportsFalse) {
    CVelThread thread;
    EXPECT_FALSE(thread.VTJoinThread());  // nothing started

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

    // The wait consumed it: the next one times out.
    thread.VTLock();
    EXPECT_FALSE(thread.VTConditionRelTimedWaitNoLock(0, 1));
    // The lock is held again on return: the mutex still excludes others.
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

// Static so that the detached thread, which nobody waits for, never touches
// storage that has gone away.
std::atomic<int> detachedRuns{0};

unsigned int CountDetachedRun(void* /*argument*/) {
    ++detachedRuns;
    return 0;
}

TEST(CVelThread, DetachedThreadRunsAndCannotBeJoined) {
    const int before = detachedRuns.load();
    CVelThread thread;
    ASSERT_TRUE(thread.VTCreateThread(&CountDetachedRun, nullptr, 0));
    EXPECT_FALSE(thread.VTJoinThread());
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (detachedRuns.load() == before && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(detachedRuns.load(), before + 1);
    // Nothing joinable is left, so another thread may start; a null function
    // is refused.
    EXPECT_FALSE(thread.VTCreateThread(nullptr, nullptr, 1));
}

}  // namespace
