// The part of message routing that does not depend on the dispatcher's mode:
// ownership of the transport.
#include "snmp/dispatcher/msg_queue.h"

#include "snmp/transport/udp_transporter.h"

namespace snmp {

RoutingQueue::RoutingQueue(Dispatcher* dispatcher) : dispatcher_(dispatcher) {}

RoutingQueue::~RoutingQueue() = default;

void RoutingQueue::CreateTransporter(Dispatcher::SockType sockType) {
    if (sockType == Dispatcher::SockTypeUdp && !transporter_) {
        transporter_ = std::make_unique<UDPTransporter>();
    }
}

Transporter* RoutingQueue::GetTransporter() {
    return transporter_.get();
}

Dispatcher* RoutingQueue::GetDispatcher() {
    return dispatcher_;
}

}  // namespace snmp
