// libFuzzer target for the request handling of `zksnmp agent`: each input is
// one datagram handed to the receive path of a server-mode dispatcher (no
// sockets, no threads) whose host is the agent itself, with its MIB (system
// group, statistics, a ten-row table of every value type) and its users. The
// datagram comes from 127.0.0.1:40000 to port 161.
//
// The first input octet selects the mode, the rest is the datagram:
//   bit 0  recompute the digest: when the datagram is an SNMPv3 message of a
//          known user with authentication, the harness writes the right HMAC
//          into its 12 digest octets, so that mutations of the PDU (GetBulk
//          parameters, Set values) reach the agent instead of failing as
//          wrong digests.
//
// After each datagram the harness plays the sender, encoding every answer and
// Report that is ready, and checks that the agent answered or dropped every
// request, that answers leave in id order, and that the MIB kept its
// instances and every read-only value.
//
// Communities: "public" (read-only), "private" (read-write), "sysview"
// (read-write, system group only), "tableview" (read-only, the table's string
// column only). Users of engine 80001f8880aabbccdd00112233 at boots 1, time
// 1000: "plain" (no authentication), "md5auth" and "shaauth" (authentication
// only), "md5des" and "shades" (with privacy); the passwords are those of the
// seeds in corpus/dispatcher_server, so their SNMPv3 datagrams work here as
// well. "plain", "shaauth" and "shades" may set; "md5auth" sees only the
// table, "md5des" only the system group and only at authPriv; "shades" is
// served from authNoPriv up, every other user from the level its passwords
// allow. Every answer is checked against these rules:
// nothing outside a view comes back, and a request below a user's level is
// refused with authorizationError.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "../tools/zksnmp/server.h"
#include "fuzz_support.h"
#include "snmp/dispatcher.h"
#include "snmp/init.h"
#include "snmp/message.h"
#include "snmp/target.h"

namespace {

using zkfuzz::Require;

std::vector<zksnmp::UserSpec> Users() {
    std::vector<zksnmp::UserSpec> users;
    for (const zkfuzz::User& s : zkfuzz::SeedUsers()) {
        zksnmp::UserSpec u;
        u.name = s.name;
        u.auth = s.auth;
        u.authPass = s.authPass;
        u.priv = s.priv;
        u.privPass = s.privPass;
        users.push_back(u);
    }
    return users;
}

snmp::ObjectId Oid(const char* text) {
    snmp::ObjectId oid;
    oid.Set(text);
    return oid;
}

zksnmp::MibView View(const char* root) {
    zksnmp::MibView view;
    view.Add(Oid(root));
    return view;
}

zksnmp::ServerOptions Options() {
    zksnmp::ServerOptions o;
    o.roCommunities = {"public", "tableview"};
    o.rwCommunities = {"private", "sysview"};
    o.communityViews["sysview"] = View("1.3.6.1.2.1.1");
    o.communityViews["tableview"] = View("1.3.6.1.4.1.99999.2.1.1.2");
    o.users = Users();
    o.rwUsers = {"plain", "shaauth", "shades"};
    o.userViews["md5auth"] = View("1.3.6.1.4.1.99999.2");
    o.userViews["md5des"] = View("1.3.6.1.2.1.1");
    o.minLevels["shades"] = snmp::SecLevelAuthNoPriv;
    o.engineId = zkfuzz::EngineId();
    o.rows = 10;
    return o;
}

// The agent; only a class derived from it may hand it to a dispatcher as the
// server requestor it is.
class Agent : public zksnmp::AgentServer {
public:
    Agent() : zksnmp::AgentServer(Options()) {}
    snmp::ServerRequestor* Requestor() { return this; }
};

std::unique_ptr<Agent> NewAgent() {
    Require(snmp::Init());
    return std::make_unique<Agent>();
}

// The users with authentication, with their keys localised to the agent's
// engine, for the digest repair.
zkfuzz::UserTable AuthUsers() {
    zkfuzz::UserTable users;
    for (const zkfuzz::User& u : zkfuzz::SeedUsers()) {
        if (u.auth == snmp::USMAuthNone) continue;
        auto target = std::make_unique<snmp::Target>();
        target->SetEngineId(zkfuzz::EngineId());
        users.Add(u, std::move(target));
    }
    return users;
}

// What the agent holds and must keep whatever it is sent: the number of
// instances and the read-only values that no request may change.
struct MibImage {
    size_t size = 0;
    std::vector<std::pair<snmp::ObjectId, snmp::AsnValue>> fixed;
};

MibImage Snapshot(zksnmp::AgentMib& mib) {
    static const char* const kFixed[] = {
        "1.3.6.1.2.1.1.1.0",             // sysDescr
        "1.3.6.1.2.1.1.2.0",             // sysObjectID
        "1.3.6.1.2.1.1.7.0",             // sysServices
        "1.3.6.1.6.3.10.2.1.1.0",        // snmpEngineID
        "1.3.6.1.4.1.99999.2.1.1.2.5",   // table row 5, string column
        "1.3.6.1.4.1.99999.2.1.1.8.10",  // table row 10, Counter64 column
        "1.3.6.1.4.1.99999.2.2.0",       // row count
    };
    MibImage image;
    image.size = mib.Size();
    for (const char* text : kFixed) {
        snmp::AsnValue value;
        Require(mib.Lookup(Oid(text), value));
        image.fixed.emplace_back(Oid(text), value);
    }
    return image;
}

void RequireUnchanged(zksnmp::AgentMib& mib, const MibImage& image) {
    Require(mib.Size() == image.size);
    for (const auto& entry : image.fixed) {
        snmp::AsnValue now;
        Require(mib.Lookup(entry.first, now));
        Require(now.Type() == entry.second.Type() && now.Compare(entry.second) == 0);
    }
}

// What the options above allow the principal of an answer.
// Passes each request to the agent, noting its PDU type: the answer to an
// InformRequest echoes the sender's own bindings, which no view restricts.
struct TypeNoter : snmp::ServerRequestor {
    explicit TypeNoter(snmp::ServerRequestor* agent) : agent(agent) {}
    void OnRequest(snmp::Dispatcher* dispatcher, snmp::Message* msg) override {
        lastType = msg->Type();
        agent->OnRequest(dispatcher, msg);
    }
    snmp::ServerRequestor* agent;
    unsigned int lastType = 0;
};

void RequireWithinAccess(const snmp::Message& answer, const zksnmp::ServerOptions& o,
                         unsigned int requestType) {
    if (answer.Type() != snmp::PduResponse) return;
    if (requestType == snmp::PduInformRequest) {
        Require(answer.Version() != snmp::SnmpVersionV1);
        return;
    }
    const bool v3 = answer.Version() == snmp::SnmpVersionV3;
    if (v3) {
        // The level each user is served from: what its passwords allow,
        // lowered for "shades".
        static const std::pair<const char*, snmp::v3SecurityLevel> kLowest[] = {
            {"plain", snmp::SecLevelNoAuthNoPriv}, {"md5auth", snmp::SecLevelAuthNoPriv},
            {"shaauth", snmp::SecLevelAuthNoPriv}, {"md5des", snmp::SecLevelAuthPriv},
            {"shades", snmp::SecLevelAuthNoPriv},
        };
        bool below = false;
        for (const auto& user : kLowest) {
            below =
                below || (answer.UserName() == user.first && answer.SecurityLevel() < user.second);
        }
        Require(below == (answer.ErrStat() == zksnmp::kAuthorizationError));
    }
    // Error answers carry the request's own bindings back.
    if (answer.ErrStat() != 0) return;
    const auto& views = v3 ? o.userViews : o.communityViews;
    auto view = views.find(v3 ? answer.UserName() : answer.Community());
    if (view == views.end()) return;
    for (const snmp::VarBind& vb : answer.VarBinds()) {
        const unsigned int type = vb.Value().Type();
        Require(type == 0x80 || type == 0x81 || type == 0x82 || view->second.Contains(vb.Objid()));
    }
}

struct Rig {
    Rig()
        : options(Options()),
          lookup(
              zkfuzz::EngineId(), 1, [] { return 1000u; }, Users()),
          keys(AuthUsers()),
          agent(NewAgent()),
          noter(agent->Requestor()),
          stack(snmp::TypeServer, &lookup, &noter),
          image(Snapshot(agent->Mib())) {}

    zksnmp::ServerOptions options;
    zksnmp::LocalUserLookup lookup;
    zkfuzz::UserTable keys;
    std::unique_ptr<Agent> agent;
    TypeNoter noter;
    zkfuzz::Stack stack;
    MibImage image;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Rig* rig = new Rig();
    if (size < 1 || size - 1 > rig->stack.buffer.size()) return 0;  // the receiver reads no more
    std::vector<unsigned char> datagram(data + 1, data + size);
    if ((data[0] & 0x01) != 0) zkfuzz::RecomputeDigest(datagram, rig->keys);

    rig->noter.lastType = 0;
    rig->stack.Deliver(datagram.data(), datagram.size(), 40000, 161);
    // The sender's part: every ready answer and Report leaves, in id order.
    rig->stack.SendResponses([](const snmp::Message& answer) {
        RequireWithinAccess(answer, rig->options, rig->noter.lastType);
    });
    // The agent answered or dropped the request at once: nothing waits.
    Require(rig->stack.dispatcher->OutstandingCount() == 0);
    Require(rig->stack.dispatcher->SendQueueSize() == 0);
    RequireUnchanged(rig->agent->Mib(), rig->image);
    return 0;
}
