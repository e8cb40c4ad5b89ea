// Server-mode routing: every incoming message to the host, answers to the
// sender in ascending request-id order.
#include "snmp/dispatcher/server.h"

#include "snmp/message.h"
#include "snmp/transport/udp_transporter.h"

namespace snmp {

Server::Server(Dispatcher* dispatcher) : dispatcher_(dispatcher) {}

Server::~Server() = default;

void Server::CreateTransporter(Dispatcher::SockType sockType) {
    if (sockType == Dispatcher::SockTypeUdp && !transporter_) {
        transporter_ = std::make_unique<UDPTransporter>();
    }
}

Transporter* Server::GetTransporter() {
    return transporter_.get();
}

Dispatcher* Server::GetDispatcher() {
    return dispatcher_;
}

bool Server::Receive(Message* msg) {
    return dispatcher_->HandleRequest(msg);
}

bool Server::NextToSend(Message** out) {
    *out = dispatcher_->NextResponse();
    return *out != nullptr;
}

}  // namespace snmp
