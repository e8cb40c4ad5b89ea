// Mutex, event and semaphore on the C++ standard library.
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "brask/sync.h"

namespace brask {
namespace {

template <typename StdMutex>
class StdMutexImpl final : public Mutex {
public:
    void Lock() override { mutex_.lock(); }
    void Unlock() override { mutex_.unlock(); }
    bool TryLock() override { return mutex_.try_lock(); }

private:
    StdMutex mutex_;
};

class EventImpl final : public Event {
public:
    explicit EventImpl(bool autoReset) : autoReset_(autoReset) {}

    void Wait() override {
        std::unique_lock<std::mutex> lock(mutex_);
        condition_.wait(lock, [this] { return signalled_; });
        Consume();
    }

    bool Wait(unsigned int milliseconds) override {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!condition_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                 [this] { return signalled_; })) {
            return false;
        }
        Consume();
        return true;
    }

    void Signal() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            signalled_ = true;
        }
        // An auto-reset signal releases one waiter; a manual one all of them.
        if (autoReset_) {
            condition_.notify_one();
        } else {
            condition_.notify_all();
        }
    }

    void Reset() override {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = false;
    }

private:
    void Consume() {
        if (autoReset_) {
            signalled_ = false;
        }
    }

    const bool autoReset_;
    std::mutex mutex_;
    std::condition_variable condition_;
    bool signalled_ = false;
};

class SemaphoreImpl final : public Semaphore {
public:
    void Post() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++count_;
        }
        condition_.notify_one();
    }

    void Wait() override {
        std::unique_lock<std::mutex> lock(mutex_);
        condition_.wait(lock, [this] { return count_ > 0; });
        --count_;
    }

    bool Wait(unsigned int milliseconds) override {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!condition_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                 [this] { return count_ > 0; })) {
            return false;
        }
        --count_;
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable condition_;
    unsigned long count_ = 0;
};

}  // namespace

Mutex* Mutex::Create(bool recursive) {
    if (recursive) {
        return new StdMutexImpl<std::recursive_mutex>();
    }
    return new StdMutexImpl<std::mutex>();
}

Event* Event::Create(int type) {
    switch (type) {
        case kManualReset:
            return new EventImpl(false);
        case kAutoReset:
            return new EventImpl(true);
        default:
            return nullptr;
    }
}

Semaphore* Semaphore::Create() {
    return new SemaphoreImpl();
}

}  // namespace brask
