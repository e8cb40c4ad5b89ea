// Server-mode routing between a dispatcher and its socket tasks: every
// incoming message goes to the host through Dispatcher::HandleRequest, and
// the sender is fed with the answered records.
#ifndef SNMP_DISPATCHER_SERVER_H
#define SNMP_DISPATCHER_SERVER_H

#include "snmp/dispatcher/msg_queue.h"

namespace snmp {

class Server : public RoutingQueue {
public:
    // `dispatcher` owns this object and is not owned by it.
    explicit Server(Dispatcher* dispatcher);
    ~Server() override;

    // Every message, reports and responses included, goes to HandleRequest.
    bool Receive(Message* msg) override;
    // The answer with the lowest request id, if any.
    bool NextToSend(Message** out) override;
};

}  // namespace snmp

#endif
