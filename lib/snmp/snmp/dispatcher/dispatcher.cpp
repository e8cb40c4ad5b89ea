// The exported dispatcher interfaces and Dispatcher::Create, the one way to
// obtain a working dispatcher.
#include <memory>

#include "snmp/dispatcher.h"
#include "snmp/dispatcher/dispatcher_imp.h"

namespace snmp {

Requestor::Requestor() = default;
Requestor::Requestor(const Requestor&) = default;
Requestor& Requestor::operator=(const Requestor&) = default;

ServerRequestor::ServerRequestor() = default;
ServerRequestor::ServerRequestor(const ServerRequestor&) = default;
ServerRequestor& ServerRequestor::operator=(const ServerRequestor&) = default;

Dispatcher::Dispatcher() = default;
Dispatcher::Dispatcher(const Dispatcher&) = default;
Dispatcher& Dispatcher::operator=(const Dispatcher&) = default;
Dispatcher::~Dispatcher() = default;

Dispatcher* Dispatcher::Create(Type type, unsigned int sendBufferSize,
                               unsigned int receiveBufferSize, SockType sockType) {
    // Refused rather than built half-way: without a transport the socket tasks
    // would have nothing to send or receive with.
    if (sockType != SockTypeUdp) {
        return nullptr;
    }
    if (type != TypeClient && type != TypeServer) {
        return nullptr;
    }
    auto dispatcher = std::make_unique<DispatcherImp>(type, sendBufferSize, receiveBufferSize);
    dispatcher->Init(sockType);
    return dispatcher.release();
}

}  // namespace snmp
