// Process-wide start and stop of the library: the init count, the up-time
// clock and the cryptographic set-up.
#include "snmp/init.h"

#include <ctime>
#include <memory>
#include <mutex>

#include "kalrt/up_time.h"
#include "snmp/crypto_setup.h"
#include "snmp/snmp_stats.h"
#include "snmp/stack_interface.h"

namespace snmp {
namespace {

// The frame's state. The mutex makes Init/Shutdown from different threads
// safe and keeps UpTime/Reset from reaching a clock that Shutdown destroys.
struct Frame {
    std::mutex mutex;
    int count = 0;
    std::unique_ptr<kalrt::IUpTime> clock;
};

Frame& State() {
    static Frame frame;
    return frame;
}

}  // namespace

bool Init() {
    Frame& frame = State();
    std::lock_guard<std::mutex> lock(frame.mutex);
    // POSIX sockets need no start-up call, so there is no failure to report
    // before counting the caller in.
    if (++frame.count == 1) {
        frame.clock.reset(kalrt::IUpTime::Create());
        // OpenSSL 3 locks its own state; all that is left is to make the legacy
        // algorithms (DES-CBC) reachable. A failure shows later, when privacy
        // operations report false, and does not stop the rest of the library.
        detail::EnsureCryptoReady();
    }
    return true;
}

void Shutdown() {
    Frame& frame = State();
    std::lock_guard<std::mutex> lock(frame.mutex);
    if (frame.count == 0) {
        return;
    }
    if (--frame.count == 0) {
        frame.clock.reset();
        // The stack singleton owns the watch list; the statistics watch may be on
        // it, so the stack goes first.
        StackInterface::Destroy();
        SnmpStats::Destroy();
    }
}

unsigned int UpTime() {
    Frame& frame = State();
    std::lock_guard<std::mutex> lock(frame.mutex);
    return frame.clock ? frame.clock->UpTime() : 0;
}

void Reset() {
    Frame& frame = State();
    std::lock_guard<std::mutex> lock(frame.mutex);
    if (frame.clock) {
        frame.clock->Reset();
    }
}

unsigned int TimeStamp() {
    return static_cast<unsigned int>(std::time(nullptr));
}

}  // namespace snmp
