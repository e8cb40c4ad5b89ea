// CVelThread: one worker thread together with a mutex and a condition that
// the worker waits on and other threads signal.
#ifndef VELBASE_VEL_THREAD_H
#define VELBASE_VEL_THREAD_H

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "snmp/export.h"

class SNMP_API CVelThread {
public:
    // The function a thread runs; its result is the thread's exit code.
    using ThreadFunction = unsigned int (*)(void* argument);

    CVelThread() = default;
    CVelThread(const CVelThread&) = delete;
    CVelThread& operator=(const CVelThread&) = delete;
    // Waits for a joinable thread that has not been joined yet (so a function
    // that never returns makes it block). The mutex must not be held.
    virtual ~CVelThread();

    // Starts a thread running function(argument). joinable = 1: the thread can
    // (and should) be waited for with VTJoinThread(); joinable = 0: the thread
    // is detached and ends on its own, and must not use this object after the
    // object is destroyed. Returns false, starting nothing, when a joinable
    // thread is still unjoined or the system could not create a thread.
    bool VTCreateThread(ThreadFunction function, void* argument, int joinable);
    // Waits until the joinable thread has ended. Returns false when there is
    // none, or when called from that thread itself.
    bool VTJoinThread();

    // Takes and releases the mutex (not re-entrant: the holder must not take it
    // again).
    void VTLock();
    void VTUnLock();

    // Wakes the thread waiting in VTConditionWaitNoLock or
    // VTConditionRelTimedWaitNoLock. May be called
    // with or without the mutex held. A signal given while nobody waits is kept
    // until the next wait, which then returns at once: signals are never lost.
    void VTSignal();
    // With the mutex held (VTLock): releases it, waits until signalled or until
    // `seconds` plus `milliseconds` have passed, and holds it again on return.
    // Returns true when woken by a signal (consuming it), false on time-out.
    bool VTConditionRelTimedWaitNoLock(int seconds, int milliseconds);
    // As VTConditionRelTimedWaitNoLock, without a time-out: returns only once
    // signalled (consuming the signal).
    void VTConditionWaitNoLock();

private:
    std::mutex mutex_;
    std::condition_variable condition_;
    std::atomic<std::thread::id> owner_{};  // the thread holding mutex_, if any
    bool signalled_ = false;                // guarded by mutex_
    std::thread thread_;                    // joinable while unjoined
};

#endif
