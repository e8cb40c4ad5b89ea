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
// The first input octet selects the mode, the rest is the datagram:
//   bit 0  recompute the digest: when the datagram is an SNMPv3 message of one
//          of the manager's users with authentication, the harness writes the
//          right HMAC (with the manager's key for that user) into its digest,
//          so that mutated responses and Reports get past the digest check
//          and reach response matching and the discovery handlers.
//
// The manager knows the users "plain", "md5auth", "md5des" and "shades" of
// engine 80001f8880aabbccdd00112233 (the engine of the seeds in
// corpus/dispatcher_client), with boots and time 0, and keeps nothing it learns.
// The seeds carry their mode octet: 0x01 on the authenticated SNMPv3 answers
// (the *_altered ones have a changed value or error status and a stale digest
// that only the repair makes valid), 0x00 on the others, v3_report_wrong_digest
// included.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "brask/ip_addr.h"
#include "fuzz_support.h"
#include "snmp/dispatcher.h"
#include "snmp/message.h"
#include "snmp/target.h"
#include "snmp/target_lookup.h"

namespace {

using zkfuzz::Require;

// The manager's users; the base UpdateTarget keeps nothing, so every input
// meets the same targets.
class ManagerLookup : public snmp::TargetLookup {
public:
    ManagerLookup() : snmp::TargetLookup(snmp::TypeClient) {
        for (const zkfuzz::User& u : zkfuzz::DispatcherUsers()) {
            auto target = std::make_unique<snmp::Target>(brask::IpAddr("127.0.0.1"), 161);
            target->SetEngineId(zkfuzz::EngineId());
            users_.Add(u, std::move(target));
        }
    }

    snmp::Target* FindTarget(const snmp::Message& msg) override {
        return users_.Find(msg.UserName());
    }

    const zkfuzz::UserTable& Table() const { return users_; }

private:
    zkfuzz::UserTable users_;
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
    void Arm() {
        int id = 1;
        Require(
            stack.dispatcher->SendRequest(NewGet(snmp::SnmpVersionV2c, 1), id, false, &collector));
        id = 2;
        Require(stack.dispatcher->SendRequest(
            NewV3Get(&lookup, "md5des", snmp::SecLevelAuthPriv, 2), id, false, &collector));
        id = 3;
        Require(stack.dispatcher->SendRequest(
            NewV3Get(&lookup, "md5auth", snmp::SecLevelAuthNoPriv, 3), id, true, &collector));
        id = 4;
        Require(stack.dispatcher->SendRequest(NewGet(snmp::SnmpVersionV1, 4), id, false, nullptr));
    }

    // The sender's part: encode and drop whatever is queued.
    void SendAll() {
        snmp::Message* out = nullptr;
        while (stack.dispatcher->NextOutgoing(&out, false)) stack.EncodeAndDrop(out);
    }

    void EndAll() {
        for (int id = 1; id <= 4; ++id) delete stack.dispatcher->Cancel(id, false);
        Require(stack.dispatcher->OutstandingCount() == 0);
        Require(stack.dispatcher->KeptV3RequestCount() == 0);
        SendAll();  // whatever was queued for them is dropped unsent
        Require(stack.dispatcher->SendQueueSize() == 0);
    }

    ManagerLookup lookup;
    Collector collector;
    zkfuzz::Stack stack{snmp::TypeClient, &lookup};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Rig* rig = new Rig();
    if (size < 1 || size - 1 > rig->stack.buffer.size()) return 0;  // the receiver reads no more
    std::vector<unsigned char> datagram(data + 1, data + size);
    if ((data[0] & 0x01) != 0) zkfuzz::RecomputeDigest(datagram, rig->lookup.Table());

    rig->Arm();
    rig->SendAll();

    const int before = rig->collector.delivered;
    rig->stack.Deliver(datagram.data(), datagram.size(), 161, 40000);
    Require(rig->collector.delivered - before <= 1);  // one datagram, at most one answer

    rig->SendAll();
    rig->EndAll();
    return 0;
}
