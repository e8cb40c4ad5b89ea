// The seam between a dispatcher and its sender and receiver tasks: the tasks
// reach the transport, the dispatcher, the next message to send and the place
// where decoded incoming messages go only through a MsgQueue.
#ifndef SNMP_DISPATCHER_MSG_QUEUE_H
#define SNMP_DISPATCHER_MSG_QUEUE_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "snmp/dispatcher.h"

namespace snmp {

class Message;
class Transporter;
class UDPTransporter;

class MsgQueue {
public:
    MsgQueue() = default;
    MsgQueue(const MsgQueue&) = delete;
    MsgQueue& operator=(const MsgQueue&) = delete;

    // Creates the transport for `sockType`; an unknown kind creates none.
    virtual void CreateTransporter(Dispatcher::SockType sockType) = 0;
    // The transport, or null before CreateTransporter or for an unknown kind.
    virtual Transporter* GetTransporter() = 0;
    // The dispatcher that owns this object.
    virtual Dispatcher* GetDispatcher() = 0;
    // Delivers a decoded incoming message (or a local tooBig answer). True when
    // the dispatcher took it; on false the caller still owns and deletes it.
    virtual bool Receive(Message* msg) = 0;
    // Leaves the next message to send in `*out` (the caller then owns it) and
    // returns true, or sets `*out` to null and returns false.
    virtual bool NextToSend(Message** out) = 0;
    // About how many requests await an answer, read without blocking; the
    // largest value when this queue does not know (a server never does).
    virtual size_t OutstandingRequests() { return SIZE_MAX; }

    virtual ~MsgQueue() = default;
};

// What both routing modes (Client, Server) share: the dispatcher that owns
// them and the transport they create for it.
class RoutingQueue : public MsgQueue {
public:
    // For SockTypeUdp a UDPTransporter, once; any other kind creates none.
    void CreateTransporter(Dispatcher::SockType sockType) override;
    Transporter* GetTransporter() override;
    Dispatcher* GetDispatcher() override;

protected:
    // `dispatcher` owns this object and is not owned by it.
    explicit RoutingQueue(Dispatcher* dispatcher);
    ~RoutingQueue() override;

    Dispatcher* const dispatcher_;

private:
    std::unique_ptr<UDPTransporter> transporter_;
};

}  // namespace snmp

#endif
