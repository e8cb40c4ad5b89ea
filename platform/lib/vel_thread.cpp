// CVelThread: a std::thread with a std::mutex and a condition with a sticky
// signal flag.
#include "velbase/vel_thread.h"

#include <chrono>
#include <system_error>

CVelThread::~CVelThread() {
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id()) {
            thread_.detach();
        } else {
            thread_.join();
        }
    }
}

bool CVelThread::VTCreateThread(ThreadFunction function, void* argument, int joinable) {
    if (thread_.joinable() || function == nullptr) {
        return false;
    }
    try {
        std::thread started([function, argument] { function(argument); });
        if (joinable == 0) {
            started.detach();
        } else {
            thread_ = std::move(started);
        }
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

bool CVelThread::VTJoinThread() {
    if (!thread_.joinable() || thread_.get_id() == std::this_thread::get_id()) {
        return false;
    }
    thread_.join();
    return true;
}

void CVelThread::VTLock() {
    mutex_.lock();
    owner_.store(std::this_thread::get_id());
}

void CVelThread::VTUnLock() {
    owner_.store(std::thread::id());
    mutex_.unlock();
}

void CVelThread::VTSignal() {
    // The flag is set under the mutex so that a waiter cannot test it and then
    // miss the notification. A caller that already holds the mutex (an adder
    // between VTLock and VTUnLock) must not take it again.
    if (owner_.load() == std::this_thread::get_id()) {
        signalled_ = true;
    } else {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = true;
    }
    condition_.notify_all();
}

bool CVelThread::VTConditionRelTimedWaitNoLock(int seconds, int milliseconds) {
    // The caller holds mutex_ through VTLock; adopt it for the wait and hand it
    // back still locked.
    std::unique_lock<std::mutex> lock(mutex_, std::adopt_lock);
    owner_.store(std::thread::id());
    const auto timeout = std::chrono::seconds(seconds) + std::chrono::milliseconds(milliseconds);
    const bool woken = condition_.wait_for(lock, timeout, [this] { return signalled_; });
    signalled_ = false;
    owner_.store(std::this_thread::get_id());
    lock.release();
    return woken;
}

void CVelThread::VTConditionWaitNoLock() {
    std::unique_lock<std::mutex> lock(mutex_, std::adopt_lock);
    owner_.store(std::thread::id());
    condition_.wait(lock, [this] { return signalled_; });
    signalled_ = false;
    owner_.store(std::this_thread::get_id());
    lock.release();
}
