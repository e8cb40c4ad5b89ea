// Client-mode routing between a dispatcher and its socket tasks: incoming
// messages go to response matching (or to the discovery-report handlers),
// and the sender is fed from the dispatcher's send queue.
#ifndef SNMP_DISPATCHER_CLIENT_H
#define SNMP_DISPATCHER_CLIENT_H

#include <memory>

#include "snmp/dispatcher/msg_queue.h"

namespace snmp {

class UDPTransporter;

class Client : public MsgQueue {
public:
    // `dispatcher` owns this object and is not owned by it.
    explicit Client(Dispatcher* dispatcher);
    ~Client() override;

    void CreateTransporter(Dispatcher::SockType sockType) override;
    Transporter* GetTransporter() override;
    Dispatcher* GetDispatcher() override;
    // An SNMPv3 Report whose first binding names usmStatsUnknownEngineIDs or
    // usmStatsNotInTimeWindows goes to the matching discovery handler; every
    // other message to Dispatcher::HandleResponse.
    bool Receive(Message* msg) override;
    bool NextToSend(Message** out) override;

private:
    Dispatcher* dispatcher_;
    std::unique_ptr<UDPTransporter> transporter_;
};

}  // namespace snmp

#endif
