// The request engine as host programs see it: Dispatcher (client or server
// mode over UDP), and the two callback interfaces Requestor and ServerRequestor.
#ifndef SNMP_DISPATCHER_H
#define SNMP_DISPATCHER_H

#include "snmp/export.h"

namespace brask {
class IpEndpoint;
}

namespace snmp {

class Message;
class TargetLookup;
class Dispatcher;

// Which side of the exchange a dispatcher (or a TargetLookup) serves.
// Only these two values are valid; the int base lets a wrong value be
// refused (Dispatcher::Create) rather than be undefined.
enum Type : int {
    TypeClient = 0,  // send requests, match responses
    TypeServer = 1   // receive requests, send answers and Reports
};

// Receives the response to one request given to Dispatcher::SendRequest.
// Implemented by the host; the dispatcher never creates, copies or deletes it.
class SNMP_API Requestor {
public:
    Requestor();
    Requestor(const Requestor&);
    Requestor& operator=(const Requestor&);

    // Called on the receive thread, without any dispatcher lock held, with the
    // matched response (or a Report other than a discovery report, or a local
    // tooBig Response). The callee owns `response` and must delete it. It may
    // call SendRequest or Cancel on `dispatcher` from inside the call.
    virtual void OnResponse(Dispatcher* dispatcher, Message* response) = 0;

protected:
    // Not deleted through this interface.
    ~Requestor() = default;
};

// Receives every message that reaches a server-mode dispatcher.
class SNMP_API ServerRequestor {
public:
    ServerRequestor();
    ServerRequestor(const ServerRequestor&);
    ServerRequestor& operator=(const ServerRequestor&);

    // Called on the receive thread with the dispatcher's lock held. The callee
    // owns `msg` and must delete it. For every message the host must later (or
    // from inside this call) either answer with Dispatcher::HandleResponse
    // using the same request id, or drop it with Dispatcher::Cancel(id, true);
    // until then further messages with that id are refused and Stop waits.
    virtual void OnRequest(Dispatcher* dispatcher, Message* msg) = 0;

protected:
    ~ServerRequestor() = default;
};

// The request engine. Obtain one with Create; it is used in this order:
// Set* calls, AddEndpoint (at least once), Start, traffic, Stop, delete.
// Deleting a dispatcher takes its receiver out of the host-filter registry;
// the process-wide watch list is emptied only when the last started
// dispatcher is deleted, so other dispatchers keep their observers.
// Operations taking a Message* own it when they return true; on false the
// caller keeps it (a null message is refused with false). Operations
// returning a Message* give it to the caller.
class SNMP_API Dispatcher {
public:
    enum SockType : int {
        SockTypeUdp = 0  // UDP over IPv4 and IPv6, the only transport kind
    };

    Dispatcher();
    Dispatcher(const Dispatcher&);
    Dispatcher& operator=(const Dispatcher&);

    // Builds a dispatcher of the given mode. A buffer size of 0, or above
    // Message::MaxMessageSize(), means Message::MaxMessageSize(). Returns null
    // when `sockType` is not a known transport kind or `type` is neither
    // TypeClient nor TypeServer. The caller deletes the result (after Stop).
    static Dispatcher* Create(Type type, unsigned int sendBufferSize,
                              unsigned int receiveBufferSize, SockType sockType);

    // The send-queue limit; 0 means none.
    virtual unsigned int QueueLimit() = 0;
    // Sets the send-queue limit (0 removes it): requests are refused while the
    // send queue holds more than `limit` messages. Always returns true.
    virtual bool SetQueueLimit(unsigned int limit) = 0;
    // Starts the sender and receiver threads. A dispatcher runs once: false
    // when it was started before (also after Stop).
    virtual bool Start() = 0;
    // Stops the threads. A server-mode dispatcher first waits until every
    // message handed to the host has been answered and sent, or cancelled.
    // Returns at once when not running. Must not be called from inside a
    // Requestor or ServerRequestor callback (the callback's thread is the one
    // that delivers the answers Stop waits for).
    virtual void Stop() = 0;
    // Takes (releases) the sender's and the receiver's hold on the endpoint
    // table. Must not be called from inside ServerRequestor::OnRequest.
    virtual void LockSockets() = 0;
    virtual void UnlockSockets() = 0;
    // Deletes every message the dispatcher holds: queued, stored responses and
    // requests kept for discovery. Records stay.
    virtual void Clear() = 0;
    virtual Type GetType() = 0;
    // Creates the transport and the socket tasks; called by Create only.
    virtual void Init(SockType sockType) = 0;
    virtual TargetLookup* GetTargetLookup() = 0;
    // The host's request handler (server mode); not owned.
    virtual void SetServerRequestor(ServerRequestor* requestor) = 0;
    // The host's SNMPv3 target store; not owned; needed before SNMPv3 traffic.
    virtual void SetTargetLookup(TargetLookup* lookup) = 0;
    // Opens and binds a UDP socket for `local`; port 0 lets the system choose
    // and writes the chosen port back into `local`. False when the endpoint is
    // already open or the socket cannot be opened or bound.
    virtual bool AddEndpoint(brask::IpEndpoint& local, bool reuseAddress) = 0;
    // Closes the socket of `local`; false when it is not open.
    virtual bool RemoveEndpoint(const brask::IpEndpoint& local) = 0;
    // SNMPv3 usmStatsUnknownEngineIDs report: resends the kept request (authPriv
    // lowered to authNoPriv). Takes the report; returns true.
    virtual bool HandleUnknownEngineId(Message* report) = 0;
    // SNMPv3 usmStatsNotInTimeWindows report: resends the kept request at its
    // own level. Takes the report; returns true.
    virtual bool HandleNotInTimeWindow(Message* report) = 0;
    // Server mode: registers an incoming message and hands it to the
    // ServerRequestor. False when not running, over the queue limit, or a
    // message with the same request id is still being handled.
    virtual bool HandleRequest(Message* msg) = 0;
    // Queues a request that expects a response. A request id of 0 in `msg` is
    // replaced by the next id, written to `requestId`; otherwise `requestId`
    // must hold the message's id. With `discover` an SNMPv3 request starts with
    // a noAuthNoPriv discovery probe. `requestor` (may be null) gets the
    // response; without one, fetch it with Cancel(id, false). False when not
    // running or over the queue limit.
    virtual bool SendRequest(Message* msg, int& requestId, bool discover, Requestor* requestor) = 0;
    // Queues a message without a record (traps). False when not running or
    // over the queue limit.
    virtual bool Enqueue(Message* msg) = 0;
    // Has an SNMPv3 Report for the failed `request` sent back to its source,
    // counting the failure of type `errorType`. Always returns true.
    virtual bool SendReport(const Message& request, int errorType) = 0;
    // Matches a response (client) or an answer (server) to its record by
    // request id. False when there is no record; the caller then keeps `msg`.
    virtual bool HandleResponse(Message* msg) = 0;
    // Client mode, sender thread: the next queued message still wanted. With
    // `forget` its record is dropped as it leaves.
    virtual bool NextOutgoing(Message** out, bool forget) = 0;
    // Ends the request `requestId` and returns its stored response, if any
    // (the caller owns it). With `discard` everything kept for it is deleted
    // and the result is null.
    virtual Message* Cancel(int requestId, bool discard) = 0;
    // Server mode, sender thread: the answer with the lowest request id, or
    // null when none is ready.
    virtual Message* NextResponse() = 0;

    virtual ~Dispatcher();
};

}  // namespace snmp

#endif
