// Client-mode routing between a dispatcher and its socket tasks: incoming
// messages go to response matching (or to the discovery-report handlers),
// and the sender is fed from the dispatcher's send queue.
#ifndef SNMP_DISPATCHER_CLIENT_H
#define SNMP_DISPATCHER_CLIENT_H

#include "snmp/dispatcher/msg_queue.h"

namespace snmp {

class DispatcherImp;

class Client : public RoutingQueue {
public:
    // `dispatcher` owns this object and is not owned by it.
    explicit Client(Dispatcher* dispatcher);
    ~Client() override;

    // An SNMPv3 Report whose first binding names usmStatsUnknownEngineIDs or
    // usmStatsNotInTimeWindows goes to the matching discovery handler; every
    // other message to Dispatcher::HandleResponse.
    bool Receive(Message* msg) override;
    bool NextToSend(Message** out) override;
    size_t OutstandingRequests() override;

private:
    // The dispatcher's own implementation, which counts outstanding
    // requests; null for any other dispatcher. Cast once, not per datagram.
    const DispatcherImp* const imp_;
};

}  // namespace snmp

#endif
