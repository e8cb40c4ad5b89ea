// Client-mode routing: discovery reports to their handlers, everything else
// to response matching; the sender takes from the send queue.
#include "snmp/dispatcher/client.h"

#include <string>

#include "snmp/dispatcher/dispatcher_imp.h"
#include "snmp/message.h"
#include "snmp/snmp_stats.h"

namespace snmp {

Client::Client(Dispatcher* dispatcher)
    : RoutingQueue(dispatcher), imp_(dynamic_cast<const DispatcherImp*>(dispatcher)) {}

Client::~Client() = default;

bool Client::Receive(Message* msg) {
    if (msg->Version() == SnmpVersionV3 && msg->Type() == PduReport && !msg->VarBinds().empty()) {
        // Only the first binding decides; a report naming both counters is an
        // unknown-engine report.
        std::string name;
        msg->VarBinds().front().Objid().MakeStr(name);
        if (name == USM_UNKNOWNENGINE) {
            return dispatcher_->HandleUnknownEngineId(msg);
        }
        if (name == USM_TIMEWINDOW) {
            return dispatcher_->HandleNotInTimeWindow(msg);
        }
    }
    return dispatcher_->HandleResponse(msg);
}

bool Client::NextToSend(Message** out) {
    return dispatcher_->NextOutgoing(out, false);
}

size_t Client::OutstandingRequests() {
    return imp_ != nullptr ? imp_->OutstandingHint() : SIZE_MAX;
}

}  // namespace snmp
