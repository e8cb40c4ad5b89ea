// Up-time clock on the monotonic steady clock, counting hundredths of a second.
#include "kalrt/up_time.h"

#include <atomic>
#include <chrono>

namespace kalrt {
namespace {

using Clock = std::chrono::steady_clock;
using Ticks = std::chrono::duration<long long, std::centi>;

class UpTimeImpl final : public IUpTime {
public:
    UpTimeImpl() : start_(Now()) {}

    unsigned int UpTime() const override {
        // Wrapping modulo 2^32 is the TimeTicks behaviour.
        return static_cast<unsigned int>(
            std::chrono::duration_cast<Ticks>(Clock::duration(Now() - start_.load())).count());
    }

    void Reset() override { start_.store(Now()); }

private:
    // The start is kept as a raw count so readers and Reset() on other threads
    // need no lock.
    static Clock::rep Now() { return Clock::now().time_since_epoch().count(); }

    std::atomic<Clock::rep> start_;
};

}  // namespace

IUpTime* IUpTime::Create() {
    return new UpTimeImpl();
}

}  // namespace kalrt
