// The dispatcher behind the exported interface: send queue, table of
// outstanding requests, SNMPv3 requests kept for engine discovery, the
// endpoint table shared with the socket tasks, and the lifecycle of the tasks.
#ifndef SNMP_DISPATCHER_DISPATCHER_IMP_H
#define SNMP_DISPATCHER_DISPATCHER_IMP_H

#include <atomic>
#include <deque>
#include <map>
#include <memory>

#include "brask/ip_addr.h"
#include "brask/sync.h"
#include "snmp/dispatcher.h"
#include "snmp/dispatcher/msg_queue.h"

namespace snmp {

class MsgSender;
class MsgReceiver;

// Lock order: a socket task's own mutex, then `lock_`, then the observer
// list's mutex. `lock_` is re-entrant because the server requestor may answer
// from inside OnRequest and NextOutgoing may cancel while holding it; no task
// mutex is ever taken while `lock_` is held.
class DispatcherImp : public Dispatcher {
public:
    // `type` selects the routing object: TypeClient a Client, anything else a
    // Server. Buffer sizes go to the sender and receiver tasks in Init.
    DispatcherImp(Type type, unsigned int sendBufferSize, unsigned int receiveBufferSize);
    DispatcherImp(const DispatcherImp&) = delete;
    DispatcherImp& operator=(const DispatcherImp&) = delete;
    // Stops the tasks if the host did not (without draining), waits for their
    // threads, then deletes every message held and closes every socket.
    ~DispatcherImp() override;

    unsigned int QueueLimit() override;
    bool SetQueueLimit(unsigned int limit) override;
    // Starts the tasks. False when the dispatcher was started before (a
    // dispatcher runs once). Without tasks (a DispatcherImp built directly and
    // never given a transport by Init) only the request engine runs: messages
    // are queued and matched, and whoever drives it calls NextOutgoing and
    // NextResponse in the tasks' place.
    bool Start() override;
    void Stop() override;
    void LockSockets() override;
    void UnlockSockets() override;
    void Clear() override;
    Type GetType() override;
    // Creates the transport and the tasks once; a second call does nothing.
    // An unknown socket type creates neither, so no task can reach the
    // missing transport (and AddEndpoint refuses).
    void Init(SockType sockType) override;
    TargetLookup* GetTargetLookup() override;
    void SetServerRequestor(ServerRequestor* requestor) override;
    void SetTargetLookup(TargetLookup* lookup) override;
    bool AddEndpoint(brask::IpEndpoint& local, bool reuseAddress) override;
    bool RemoveEndpoint(const brask::IpEndpoint& local) override;
    bool HandleUnknownEngineId(Message* report) override;
    bool HandleNotInTimeWindow(Message* report) override;
    bool HandleRequest(Message* msg) override;
    bool SendRequest(Message* msg, int& requestId, bool discover, Requestor* requestor) override;
    bool Enqueue(Message* msg) override;
    bool SendReport(const Message& request, int errorType) override;
    bool HandleResponse(Message* msg) override;
    bool NextOutgoing(Message** out, bool forget) override;
    Message* Cancel(int requestId, bool discard) override;
    Message* NextResponse() override;

    // Host-set system buffer sizes (0: the library's default), applied to the
    // open sockets now and to those opened later. False when an open socket
    // refused a size.
    bool SetSocketBuffers(unsigned int sendBytes, unsigned int receiveBytes);
    // The system's sizes for the socket of `local`; false when not open.
    bool SocketBuffers(const brask::IpEndpoint& local, unsigned int& sendBytes,
                       unsigned int& receiveBytes);

    // The next request id to be given out; for tests of the id sequence.
    int PeekNextRequestId();
    // Sets the next request id to be given out (a positive value).
    void SetNextRequestId(int id);
    // Sizes of the tables, read under the lock; for tests and diagnostics.
    size_t SendQueueSize();
    size_t OutstandingCount();
    // The number of outstanding requests when the lock was last released,
    // without taking it: a hint for the receiver, which holds its own mutex
    // and must not wait for this lock.
    size_t OutstandingHint() const { return outstandingHint_.load(std::memory_order_relaxed); }
    size_t KeptV3RequestCount();
    size_t EndpointCount() const { return endpoints_.size(); }

private:
    struct RequestRecord {
        Message* response = nullptr;     // owned when set
        Requestor* requestor = nullptr;  // not owned
    };

    // Re-entrant scope guard for `lock_`. The outermost guard wakes the
    // sender after releasing the lock when a message was queued under it, so
    // that the woken sender does not at once block on the lock it needs.
    class Guard {
    public:
        explicit Guard(DispatcherImp& d) : d_(d) {
            d_.lock_->Lock();
            ++d_.guardDepth_;
        }
        ~Guard() {
            if (d_.guardDepth_ == 1) {
                d_.outstandingHint_.store(d_.outstanding_.size(), std::memory_order_relaxed);
            }
            const bool wake = --d_.guardDepth_ == 0 && d_.wakePending_;
            if (wake) d_.wakePending_ = false;
            d_.lock_->Unlock();
            if (wake) d_.WakeSenderNow();
        }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

    private:
        DispatcherImp& d_;
    };

    // With `lock_` held.
    bool AcceptingLocked() const;
    void AssignRequestId(Message* m);
    bool Discover(Message* msg, int& requestId, Requestor* requestor);
    void KeepV3Request(int id, Message* msg);
    void DropV3Request(int id);
    void PutRecord(int id, Requestor* requestor);
    void SignalIfDrainedLocked();
    // With `lock_` held through a Guard: the sender is woken once the
    // outermost Guard has released the lock.
    void WakeSender();
    void WakeSenderNow();
    bool IsRunning();

    std::unique_ptr<brask::Mutex> lock_;
    int guardDepth_ = 0;        // guarded by lock_
    bool wakePending_ = false;  // guarded by lock_
    std::unique_ptr<MsgQueue> msgQueue_;
    std::atomic<unsigned int> queueLimit_{0};
    int nextRequestId_ = 1;
    std::unique_ptr<brask::Event> drained_;
    std::deque<Message*> sendQueue_;
    std::map<int, RequestRecord> outstanding_;
    std::atomic<size_t> outstandingHint_{0};
    std::map<int, Message*> v3Requests_;
    std::map<brask::IpEndpoint, int> endpoints_;
    std::unique_ptr<MsgSender> sender_;
    std::unique_ptr<MsgReceiver> receiver_;
    std::atomic<TargetLookup*> targetLookup_{nullptr};
    std::atomic<ServerRequestor*> serverRequestor_{nullptr};
    bool running_ = false;
    Type type_;
    unsigned int sendBufferSize_;
    unsigned int receiveBufferSize_;
    std::atomic<unsigned int> socketSendBytes_{0};
    std::atomic<unsigned int> socketReceiveBytes_{0};
    bool started_ = false;   // Start has run once
    bool draining_ = false;  // a server-mode Stop waits for the records to empty
};

}  // namespace snmp

#endif
