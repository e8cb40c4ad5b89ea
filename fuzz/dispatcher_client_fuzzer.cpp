// libFuzzer target for the receive path of a client-mode dispatcher: each
// input is one datagram handed to the receiver's datagram handler (no
// sockets, no threads), as if an agent at 127.0.0.1:161 had answered. Before
// each input the harness has four requests outstanding:
//   id 1  SNMPv2c Get with a requestor;
//   id 2  SNMPv3 authPriv Get for "md5des" (kept for discovery);
//   id 3  SNMPv3 authNoPriv Get for "md5auth", sent with discovery;
//   id 4  SNMPv1 Get without requestor (its response is fetched by Cancel).
// The datagram is matched, routed to a discovery handler or dropped; then the
// harness plays the sender, encoding whatever the dispatcher queued (resent
// SNMPv3 requests included), and ends the four requests again.
//
// The manager knows the users "plain", "md5auth", "md5des" and "shades" of
// engine 80001f8880aabbccdd00112233 (the engine of the seeds in
// corpus/dispatcher_client), with boots and time 0, and keeps nothing it learns.
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
#include "snmp/dispatcher/client.h"
#include "snmp/dispatcher/dispatcher_imp.h"
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

// The manager's users; the base UpdateTarget keeps nothing, so every input
// meets the same targets.
class ManagerLookup : public snmp::TargetLookup {
public:
    ManagerLookup() : snmp::TargetLookup(snmp::TypeClient) {
        const snmp::OctetString engine(
            std::string("\x80\x00\x1f\x88\x80\xaa\xbb\xcc\xdd\x00\x11\x22\x33", 13));
        for (const User& u : kUsers) {
            auto target = std::make_unique<snmp::Target>(brask::IpAddr("127.0.0.1"), 161);
            target->SetVersion(snmp::SnmpVersionV3);
            auto* attributes = new snmp::USMAttributes(u.auth, u.priv);
            attributes->SetUserName(u.name);
            if (u.auth != snmp::USMAuthNone) Require(attributes->SetAuthPass(u.authPass));
            if (u.priv != snmp::USMPrivNone) Require(attributes->SetPrivPass(u.privPass));
            target->SetSecAttributes(attributes);
            target->SetEngineId(engine);
            if (u.auth != snmp::USMAuthNone) Require(target->CalculateKeys());
            users_[u.name] = std::move(target);
        }
    }

    snmp::Target* FindTarget(const snmp::Message& msg) override {
        auto it = users_.find(msg.UserName());
        return it == users_.end() ? nullptr : it->second.get();
    }

private:
    std::map<std::string, std::unique_ptr<snmp::Target>> users_;
};

class Collector : public snmp::Requestor {
public:
    void OnResponse(snmp::Dispatcher*, snmp::Message* response) override {
        Require(response != nullptr);
        ++delivered;
        delete response;
    }
    int delivered = 0;
};

snmp::Message* NewGet(snmp::SnmpVersion version, int id) {
    auto* m = new snmp::Message();
    m->SetVersion(version);
    m->SetType(snmp::PduGetRequest);
    m->SetCommunity("public");
    m->SetDstAddr(brask::IpAddr("127.0.0.1"));
    m->SetDstPort(161);
    m->SetRequestId(id);
    snmp::ObjectId name;
    name.Set("1.3.6.1.2.1.1.1.0");
    m->AddVarBind(snmp::VarBind(name, snmp::AsnValue()));
    return m;
}

snmp::Message* NewV3Get(snmp::TargetLookup* lookup, const char* user, snmp::v3SecurityLevel level,
                        int id) {
    snmp::Message* m = NewGet(snmp::SnmpVersionV3, id);
    m->InitSecurity(lookup);
    m->SetUserName(user);
    m->SetSecurityLevel(level);
    return m;
}

struct Rig {
    Rig() {
        Require(snmp::Init());
        dispatcher = std::make_unique<snmp::DispatcherImp>(snmp::TypeClient, 0, 0);
        dispatcher->SetTargetLookup(&lookup);
        Require(dispatcher->Start());
        client = std::make_unique<snmp::Client>(dispatcher.get());
        receiver = std::make_unique<snmp::MsgReceiver>(&endpoints, 0, client.get());
        encode = snmp::Message::AllocEnc();
        buffer.resize(snmp::Message::MaxMessageSize());
    }

    void Arm() {
        int id = 1;
        Require(dispatcher->SendRequest(NewGet(snmp::SnmpVersionV2c, 1), id, false, &collector));
        id = 2;
        Require(dispatcher->SendRequest(NewV3Get(&lookup, "md5des", snmp::SecLevelAuthPriv, 2), id,
                                        false, &collector));
        id = 3;
        Require(dispatcher->SendRequest(NewV3Get(&lookup, "md5auth", snmp::SecLevelAuthNoPriv, 3),
                                        id, true, &collector));
        id = 4;
        Require(dispatcher->SendRequest(NewGet(snmp::SnmpVersionV1, 4), id, false, nullptr));
    }

    // The sender's part: encode and drop whatever is queued.
    void SendAll() {
        snmp::Message* out = nullptr;
        while (dispatcher->NextOutgoing(&out, false)) {
            out->SetEnc(encode);
            unsigned int length = static_cast<unsigned int>(buffer.size());
            try {
                out->Encode(reinterpret_cast<unsigned char*>(&buffer[0]), length, false);
            } catch (const snmp::Exception&) {
                // Not encodable: the sender would report it and drop it.
            }
            delete out;
        }
    }

    void EndAll() {
        for (int id = 1; id <= 4; ++id) delete dispatcher->Cancel(id, false);
        Require(dispatcher->OutstandingCount() == 0);
        Require(dispatcher->KeptV3RequestCount() == 0);
        SendAll();  // whatever was queued for them is dropped unsent
        Require(dispatcher->SendQueueSize() == 0);
    }

    ManagerLookup lookup;
    Collector collector;
    snmp::EndpointTable endpoints;
    std::unique_ptr<snmp::DispatcherImp> dispatcher;
    std::unique_ptr<snmp::Client> client;
    std::unique_ptr<snmp::MsgReceiver> receiver;
    snmp::MsgEncBuf* encode = nullptr;
    std::string buffer;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Rig* rig = new Rig();
    if (size > rig->buffer.size()) return 0;  // the receiver could not have read it

    rig->Arm();
    rig->SendAll();

    snmp::UdpDataItem item;
    item.data = new unsigned char[size];
    if (size != 0) std::memcpy(item.data, data, size);
    item.length = static_cast<int>(size);
    item.from.sin_family = AF_INET;
    item.from.sin_port = htons(161);
    item.from.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    item.localPort = 40000;
    item.consumer = rig->receiver.get();
    const int before = rig->collector.delivered;
    rig->receiver->OnUdpData(item);
    delete[] item.data;
    Require(rig->collector.delivered - before <= 1);  // one datagram, at most one answer

    rig->SendAll();
    rig->EndAll();
    return 0;
}
