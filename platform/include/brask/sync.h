// Locks and wake-up primitives of the platform layer: a mutex that may be
// re-entrant, an event whose signal is never lost, and a counting semaphore.
// Objects are made by a static Create() and owned (deleted) by the caller.
#ifndef BRASK_SYNC_H
#define BRASK_SYNC_H

#include "snmp/export.h"

namespace brask {

// A mutual-exclusion lock.
class SNMP_API Mutex {
public:
    // recursive = true: the thread that holds the lock may take it again and
    // must then unlock it as often as it locked it. recursive = false: a plain
    // lock that its holder must not take twice. Never returns null.
    static Mutex* Create(bool recursive);

    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    // Blocks until the calling thread holds the lock.
    virtual void Lock() = 0;
    // Releases one hold; only the holding thread may call it.
    virtual void Unlock() = 0;
    // Takes the lock when that needs no wait and returns true; returns false
    // at once when another thread holds it (a re-entrant lock's holder
    // succeeds, as with Lock).
    virtual bool TryLock() = 0;
    // The lock must not be held when it is destroyed.
    virtual ~Mutex() = default;

protected:
    Mutex() = default;
};

// An event a thread waits on until another signals it.
class SNMP_API Event {
public:
    enum Type {
        kManualReset = 0,  // stays signalled (waking every waiter) until Reset()
        kAutoReset = 1,    // each signal releases one Wait and is then consumed
    };

    // Returns a new, unsignalled event of the given type, or null for a type
    // that is neither kManualReset nor kAutoReset.
    static Event* Create(int type);

    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    virtual ~Event() = default;

    // Blocks until the event is signalled. A signal given before the wait is
    // not lost: the wait then returns at once (and, auto-reset, consumes it).
    virtual void Wait() = 0;
    // As Wait(), for at most `milliseconds`; returns false on time-out.
    virtual bool Wait(unsigned int milliseconds) = 0;
    // Sets the event. Signalling an already signalled event changes nothing.
    virtual void Signal() = 0;
    // Clears the event (the way to end a manual-reset event's signal).
    virtual void Reset() = 0;

protected:
    Event() = default;
};

// A counting semaphore, starting at zero.
class SNMP_API Semaphore {
public:
    // Never returns null.
    static Semaphore* Create();

    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;
    virtual ~Semaphore() = default;

    // Adds one to the count, waking one waiter.
    virtual void Post() = 0;
    // Blocks until the count is above zero, then takes one.
    virtual void Wait() = 0;
    // As Wait(), for at most `milliseconds`; returns true when it took one,
    // false on time-out (the count is then unchanged). 0 only polls.
    virtual bool Wait(unsigned int milliseconds) = 0;

protected:
    Semaphore() = default;
};

}  // namespace brask

#endif
