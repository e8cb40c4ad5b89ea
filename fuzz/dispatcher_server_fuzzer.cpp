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
#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "brask/ip_addr.h"
#include "snmp/dispatcher/dispatcher_imp.h"
#include "snmp/dispatcher/server.h"
#include "snmp/exception.h"
#include "snmp/init.h"
#include "snmp/message.h"
#include "snmp/target.h"
#include "snmp/target_lookup.h"
#include "snmp/transport/sock_processor.h"
#include "snmp/usm_attributes.h"

namespace {

// A broken contract: crash so that the fuzzer keeps the input.
void Require(bool ok) {
    if (!ok) std::abort();
}

struct User {
    const char* name;
    snmp::USMAuthProtocol auth;
    snmp::USMPrivProtocol priv;
    const char* authPass;
    const char* privPass;
};

const User kUsers[] = {
    {"plain", snmp::USMAuthNone, snmp::USMPrivNone, "", ""},
    {"md5auth", snmp::USMAuthMD5, snmp::USMPrivNone, "md5authpass", ""},
    {"md5des", snmp::USMAuthMD5, snmp::USMPrivDES, "md5authpass", "md5despass"},
    {"shades", snmp::USMAuthSHA1, snmp::USMPrivDES, "shaauthpass", "shadespass"},
};

snmp::OctetString EngineId() {
    return snmp::OctetString(
        std::string("\x80\x00\x1f\x88\x80\xaa\xbb\xcc\xdd\x00\x11\x22\x33", 13));
}

// The agent's users, with a fixed engine time so that runs repeat exactly.
class AgentLookup : public snmp::TargetLookup {
public:
    AgentLookup() : snmp::TargetLookup(snmp::TypeServer) {
        for (const User& u : kUsers) {
            auto target = std::make_unique<snmp::Target>();
            target->SetVersion(snmp::SnmpVersionV3);
            auto* attributes = new snmp::USMAttributes(u.auth, u.priv);
            attributes->SetUserName(u.name);
            if (u.auth != snmp::USMAuthNone) Require(attributes->SetAuthPass(u.authPass));
            if (u.priv != snmp::USMPrivNone) Require(attributes->SetPrivPass(u.privPass));
            target->SetSecAttributes(attributes);
            Prepare(*target);
            if (u.auth != snmp::USMAuthNone) Require(target->CalculateKeys());
            users_[u.name] = std::move(target);
        }
        anonymous_.SetVersion(snmp::SnmpVersionV3);
        anonymous_.SetUserName("");
        Prepare(anonymous_);
    }

    snmp::Target* FindTarget(const snmp::Message& msg) override {
        auto it = users_.find(msg.UserName());
        if (it != users_.end()) return it->second.get();
        if (msg.Type() != snmp::PduReport) return nullptr;
        anonymous_.SetUserName(msg.UserName());
        return &anonymous_;
    }

private:
    static void Prepare(snmp::Target& t) {
        t.SetEngineId(EngineId());
        t.SetEngineBoots(1);
        t.SetEngineTime(1000);
    }

    std::map<std::string, std::unique_ptr<snmp::Target>> users_;
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
    Rig() {
        Require(snmp::Init());
        dispatcher = std::make_unique<snmp::DispatcherImp>(snmp::TypeServer, 0, 0);
        dispatcher->SetTargetLookup(&lookup);
        dispatcher->SetServerRequestor(&host);
        Require(dispatcher->Start());
        server = std::make_unique<snmp::Server>(dispatcher.get());
        receiver = std::make_unique<snmp::MsgReceiver>(&endpoints, 0, server.get());
        encode = snmp::Message::AllocEnc();
        buffer.resize(snmp::Message::MaxMessageSize());
    }

    AgentLookup lookup;
    Host host;
    snmp::EndpointTable endpoints;
    std::unique_ptr<snmp::DispatcherImp> dispatcher;
    std::unique_ptr<snmp::Server> server;
    std::unique_ptr<snmp::MsgReceiver> receiver;
    snmp::MsgEncBuf* encode = nullptr;
    std::string buffer;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Rig* rig = new Rig();
    if (size > rig->buffer.size()) return 0;  // the receiver could not have read it

    snmp::UdpDataItem item;
    item.data = new unsigned char[size];
    if (size != 0) std::memcpy(item.data, data, size);
    item.length = static_cast<int>(size);
    item.from.sin_family = AF_INET;
    item.from.sin_port = htons(40000);
    item.from.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    item.localPort = 161;
    item.consumer = rig->receiver.get();
    rig->receiver->OnUdpData(item);
    delete[] item.data;

    // The sender's part: every ready answer and Report leaves, in id order.
    int last = 0;
    bool first = true;
    while (snmp::Message* out = rig->dispatcher->NextResponse()) {
        Require(first || out->RequestId() > last);
        first = false;
        last = out->RequestId();
        out->SetEnc(rig->encode);
        unsigned int length = static_cast<unsigned int>(rig->buffer.size());
        try {
            out->Encode(reinterpret_cast<unsigned char*>(&rig->buffer[0]), length, false);
        } catch (const snmp::Exception&) {
            // An answer that cannot be encoded is dropped, as the sender does.
        }
        delete out;
    }
    // Every message was answered or dropped by the host: nothing stays.
    Require(rig->dispatcher->OutstandingCount() == 0);
    Require(rig->dispatcher->SendQueueSize() == 0);
    return 0;
}
