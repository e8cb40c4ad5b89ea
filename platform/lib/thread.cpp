// Thread running a Task, on std::thread.
#include "brask/thread.h"

#include <system_error>
#include <thread>

namespace brask {
namespace {

class ThreadImpl final : public Thread {
public:
    explicit ThreadImpl(Task& task) : task_(task) {}

    ~ThreadImpl() override {
        // Destroying a joinable std::thread terminates the process; waiting is
        // the only safe end for a thread that still uses the task.
        if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) {
            thread_.join();
        } else if (thread_.joinable()) {
            thread_.detach();
        }
    }

    bool Start() override {
        if (started_) {
            return false;
        }
        try {
            thread_ = std::thread([this] { task_.Run(); });
        } catch (const std::system_error&) {
            return false;
        }
        started_ = true;
        return true;
    }

    bool Wait() override {
        if (!thread_.joinable() || thread_.get_id() == std::this_thread::get_id()) {
            return false;
        }
        thread_.join();
        return true;
    }

private:
    Task& task_;
    bool started_ = false;
    std::thread thread_;
};

}  // namespace

Thread* Thread::Create(Task& task) {
    return new ThreadImpl(task);
}

}  // namespace brask
