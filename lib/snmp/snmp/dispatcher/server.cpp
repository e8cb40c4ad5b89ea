// Server-mode routing: every incoming message to the host, answers to the
// sender in ascending request-id order.
#include "snmp/dispatcher/server.h"

#include "snmp/message.h"

namespace snmp {

Server::Server(Dispatcher* dispatcher) : RoutingQueue(dispatcher) {}

Server::~Server() = default;

bool Server::Receive(Message* msg) {
    return dispatcher_->HandleRequest(msg);
}

bool Server::NextToSend(Message** out) {
    *out = dispatcher_->NextResponse();
    return *out != nullptr;
}

}  // namespace snmp
