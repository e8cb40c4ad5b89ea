// Server-mode routing between a dispatcher and its socket tasks: every
// incoming message goes to the host through Dispatcher::HandleRequest, and
// the sender is fed with the answered records.
#ifndef SNMP_DISPATCHER_SERVER_H
#define SNMP_DISPATCHER_SERVER_H

#include <memory>

#include "snmp/dispatcher/msg_queue.h"

namespace snmp {

class UDPTransporter;

class Server : public MsgQueue {
public:
    // `dispatcher` owns this object and is not owned by it.
    explicit Server(Dispatcher* dispatcher);
    ~Server() override;

    void CreateTransporter(Dispatcher::SockType sockType) override;
    Transporter* GetTransporter() override;
    Dispatcher* GetDispatcher() override;
    // Every message, reports and responses included, goes to HandleRequest.
    bool Receive(Message* msg) override;
    // The answer with the lowest request id, if any.
    bool NextToSend(Message** out) override;

private:
    Dispatcher* dispatcher_;
    std::unique_ptr<UDPTransporter> transporter_;
};

}  // namespace snmp

#endif
