// A unit of work (Task) and the thread that runs it once (Thread).
#ifndef BRASK_THREAD_H
#define BRASK_THREAD_H

#include "snmp/export.h"

namespace brask {

// Work to run on a thread of its own: derive and implement Run().
class SNMP_API Task {
public:
    Task() = default;
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;
    virtual ~Task() = default;

    // The body the thread runs; the thread ends when it returns. Exceptions
    // must not leave it (the process would terminate).
    virtual void Run() = 0;
};

// A thread that runs one task's Run() once. The task is not owned and must
// outlive the thread's run.
class SNMP_API Thread {
public:
    // Returns a new thread for `task`, not yet started, owned by the caller.
    // Never returns null.
    static Thread* Create(Task& task);

    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    // Waits for a started thread to end if nobody has waited yet: a Run() that
    // never returns makes the destructor block.
    virtual ~Thread() = default;

    // Starts the thread, which calls task.Run(). Returns false when it was
    // already started or the system could not create a thread.
    virtual bool Start() = 0;
    // Blocks until a started thread has ended. Returns false when it was not
    // started, has already been waited for, or is the calling thread itself.
    virtual bool Wait() = 0;

protected:
    Thread() = default;
};

}  // namespace brask

#endif
