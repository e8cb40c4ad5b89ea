// libFuzzer target for the receive path of a server-mode dispatcher: each
// input is one datagram handed to the receiver's datagram handler (no
// sockets, no threads), as if it had arrived from 127.0.0.1:40000 on port 161.
// The host behind the dispatcher answers every request and drops every
// notification; afterwards the harness plays the sender and encodes every
// answer and Report that is ready, so the answer records, the Report table
// and the encoding of both see fuzzed input.
//
// The agent knows the users "plain", "md5auth", "md5des" and "shades" of
// engine 80001f8880aabbccdd00112233 (boots 1, time 1000), the same users as
// the seeds in corpus/dispatcher_server were built for.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz_support.h"
#include "snmp/dispatcher.h"
#include "snmp/message.h"
#include "snmp/target.h"
#include "snmp/target_lookup.h"

namespace {

using zkfuzz::Require;

// The agent's users, with a fixed engine time so that runs repeat exactly.
class AgentLookup : public snmp::TargetLookup {
public:
    AgentLookup() : snmp::TargetLookup(snmp::TypeServer) {
        for (const zkfuzz::User& u : zkfuzz::DispatcherUsers()) {
            auto target = std::make_unique<snmp::Target>();
            Prepare(*target);
            users_.Add(u, std::move(target));
        }
        anonymous_.SetVersion(snmp::SnmpVersionV3);
        anonymous_.SetUserName("");
        Prepare(anonymous_);
    }

    snmp::Target* FindTarget(const snmp::Message& msg) override {
        if (snmp::Target* user = users_.Find(msg.UserName())) return user;
        if (msg.Type() != snmp::PduReport) return nullptr;
        anonymous_.SetUserName(msg.UserName());
        return &anonymous_;
    }

private:
    static void Prepare(snmp::Target& t) {
        t.SetEngineId(zkfuzz::EngineId());
        t.SetEngineBoots(1);
        t.SetEngineTime(1000);
    }

    zkfuzz::UserTable users_;
    snmp::Target anonymous_;
};

// Answers requests with their own bindings; drops notifications, responses
// and reports.
class Host : public snmp::ServerRequestor {
public:
    void OnRequest(snmp::Dispatcher* dispatcher, snmp::Message* msg) override {
        switch (msg->Type()) {
            case snmp::PduGetRequest:
            case snmp::PduGetNextRequest:
            case snmp::PduGetBulkRequest:
            case snmp::PduSetRequest:
            case snmp::PduInformRequest: {
                auto* answer = new snmp::Message(*msg);
                answer->SwapAddrs();
                answer->SetType(snmp::PduResponse);
                answer->SetReportable(false);
                Require(dispatcher->HandleResponse(answer));
                break;
            }
            default:
                Require(dispatcher->Cancel(msg->RequestId(), true) == nullptr);
                break;
        }
        delete msg;
    }
};

struct Rig {
    AgentLookup lookup;
    Host host;
    zkfuzz::Stack stack{snmp::TypeServer, &lookup, &host};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Rig* rig = new Rig();
    if (size > rig->stack.buffer.size()) return 0;  // the receiver could not have read it

    rig->stack.Deliver(data, size, 40000, 161);
    // The sender's part: every ready answer and Report leaves, in id order.
    rig->stack.SendResponses();
    // Every message was answered or dropped by the host: nothing stays.
    Require(rig->stack.dispatcher->OutstandingCount() == 0);
    Require(rig->stack.dispatcher->SendQueueSize() == 0);
    return 0;
}
