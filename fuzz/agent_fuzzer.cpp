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
// Communities: "public" (read-only), "private" (read-write). Users of engine
// 80001f8880aabbccdd00112233 at boots 1, time 1000: "plain" (no
// authentication), "md5auth" and "shaauth" (authentication only), "md5des"
// and "shades" (with privacy); the passwords are those of the seeds in
// corpus/dispatcher_server, so their SNMPv3 datagrams work here as well.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "../tools/zksnmp/server.h"
#include "snmp/asn.h"
#include "snmp/dispatcher/dispatcher_imp.h"
#include "snmp/dispatcher/server.h"
#include "snmp/exception.h"
#include "snmp/init.h"
#include "snmp/message.h"
#include "snmp/target.h"
#include "snmp/transport/sock_processor.h"
#include "snmp/usm_attributes.h"

namespace {

// A broken contract: crash so that the fuzzer keeps the input.
void Require(bool ok) {
    if (!ok) std::abort();
}

snmp::OctetString EngineId() {
    return snmp::OctetString(
        std::string("\x80\x00\x1f\x88\x80\xaa\xbb\xcc\xdd\x00\x11\x22\x33", 13));
}

std::vector<zksnmp::UserSpec> Users() {
    struct Spec {
        const char* name;
        snmp::USMAuthProtocol auth;
        const char* authPass;
        snmp::USMPrivProtocol priv;
        const char* privPass;
    };
    static const Spec kSpecs[] = {
        {"plain", snmp::USMAuthNone, "", snmp::USMPrivNone, ""},
        {"md5auth", snmp::USMAuthMD5, "md5authpass", snmp::USMPrivNone, ""},
        {"shaauth", snmp::USMAuthSHA1, "shaauthpass", snmp::USMPrivNone, ""},
        {"md5des", snmp::USMAuthMD5, "md5authpass", snmp::USMPrivDES, "md5despass"},
        {"shades", snmp::USMAuthSHA1, "shaauthpass", snmp::USMPrivDES, "shadespass"},
    };
    std::vector<zksnmp::UserSpec> users;
    for (const Spec& s : kSpecs) {
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

zksnmp::ServerOptions Options() {
    zksnmp::ServerOptions o;
    o.roCommunities = {"public"};
    o.rwCommunities = {"private"};
    o.users = Users();
    o.engineId = EngineId();
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

// The authentication key and digest of each user with authentication,
// localised to the agent's engine.
struct AuthKey {
    const EVP_MD* md;
    snmp::OctetString key;
};

std::map<std::string, AuthKey> AuthKeys() {
    std::map<std::string, AuthKey> keys;
    for (const zksnmp::UserSpec& u : Users()) {
        if (u.auth == snmp::USMAuthNone) continue;
        snmp::Target t;
        t.SetVersion(snmp::SnmpVersionV3);
        t.SetSecAttributes(zksnmp::MakeAttributes(u));
        t.SetEngineId(EngineId());
        Require(t.CalculateKeys());
        keys[u.name] = AuthKey{u.auth == snmp::USMAuthMD5 ? EVP_md5() : EVP_sha1(), t.AuthKey()};
    }
    return keys;
}

unsigned int Header(const unsigned char*& p, unsigned int& left, unsigned int tag) {
    unsigned int type = 0;
    unsigned int length = 0;
    AsnDecodeType(p, left, type);
    if (type != tag) throw CAsnException("unexpected tag");
    AsnDecodeLength(p, left, length);
    return length;
}

void Skip(const unsigned char*& p, unsigned int& left, unsigned int n) {
    if (n > left) throw CAsnException("cut");
    p += n;
    left -= n;
}

// Writes the right digest into an SNMPv3 datagram of a user with
// authentication: the HMAC over the whole datagram with the digest zeroed.
void RecomputeDigest(std::vector<unsigned char>& datagram,
                     const std::map<std::string, AuthKey>& keys) {
    const unsigned char* p = datagram.data();
    auto left = static_cast<unsigned int>(datagram.size());
    std::string user;
    size_t digestAt = 0;
    unsigned int digestLength = 0;
    try {
        Header(p, left, 0x30);                 // message
        Skip(p, left, Header(p, left, 0x02));  // msgVersion
        Skip(p, left, Header(p, left, 0x30));  // msgGlobalData
        Header(p, left, 0x04);                 // msgSecurityParameters
        Header(p, left, 0x30);                 // UsmSecurityParameters
        Skip(p, left, Header(p, left, 0x04));  // engine id
        Skip(p, left, Header(p, left, 0x02));  // boots
        Skip(p, left, Header(p, left, 0x02));  // time
        const unsigned int nameLength = Header(p, left, 0x04);
        user.assign(reinterpret_cast<const char*>(p), std::min(nameLength, left));
        Skip(p, left, nameLength);
        digestLength = Header(p, left, 0x04);
        digestAt = static_cast<size_t>(p - datagram.data());
        Skip(p, left, digestLength);
    } catch (const EAsnException&) {
        return;
    }
    auto it = keys.find(user);
    if (it == keys.end() || digestLength != 12) return;
    std::fill_n(datagram.begin() + static_cast<std::ptrdiff_t>(digestAt), 12, 0);
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int macLength = 0;
    const snmp::OctetString& key = it->second.key;
    if (HMAC(it->second.md, key.Data(), static_cast<int>(key.Size()), datagram.data(),
             datagram.size(), mac, &macLength) == nullptr)
        return;
    std::copy(mac, mac + 12, datagram.begin() + static_cast<std::ptrdiff_t>(digestAt));
}

// What the agent holds and must keep whatever it is sent: the number of
// instances and the read-only values that no request may change.
struct MibImage {
    size_t size = 0;
    std::vector<std::pair<snmp::ObjectId, snmp::AsnValue>> fixed;
};

snmp::ObjectId Oid(const char* text) {
    snmp::ObjectId oid;
    oid.Set(text);
    return oid;
}

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

struct Rig {
    Rig()
        : lookup(
              EngineId(), 1, [] { return 1000u; }, Users()),
          keys(AuthKeys()) {
        Require(snmp::Init());
        agent = std::make_unique<Agent>();
        dispatcher = std::make_unique<snmp::DispatcherImp>(snmp::TypeServer, 0, 0);
        dispatcher->SetTargetLookup(&lookup);
        dispatcher->SetServerRequestor(agent->Requestor());
        Require(dispatcher->Start());
        server = std::make_unique<snmp::Server>(dispatcher.get());
        receiver = std::make_unique<snmp::MsgReceiver>(&endpoints, 0, server.get());
        encode = snmp::Message::AllocEnc();
        buffer.resize(snmp::Message::MaxMessageSize());
        image = Snapshot(agent->Mib());
    }

    zksnmp::LocalUserLookup lookup;
    std::map<std::string, AuthKey> keys;
    std::unique_ptr<Agent> agent;
    snmp::EndpointTable endpoints;
    std::unique_ptr<snmp::DispatcherImp> dispatcher;
    std::unique_ptr<snmp::Server> server;
    std::unique_ptr<snmp::MsgReceiver> receiver;
    snmp::MsgEncBuf* encode = nullptr;
    std::string buffer;
    MibImage image;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Rig* rig = new Rig();
    if (size < 1 || size - 1 > rig->buffer.size()) return 0;  // the receiver reads no more
    std::vector<unsigned char> datagram(data + 1, data + size);
    if ((data[0] & 0x01) != 0) RecomputeDigest(datagram, rig->keys);

    snmp::UdpDataItem item;
    item.length = static_cast<int>(datagram.size());
    item.data = new unsigned char[datagram.size()];
    std::copy(datagram.begin(), datagram.end(), item.data);
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
            // Not encodable: the sender drops it.
        }
        delete out;
    }
    // The agent answered or dropped the request at once: nothing waits.
    Require(rig->dispatcher->OutstandingCount() == 0);
    Require(rig->dispatcher->SendQueueSize() == 0);
    RequireUnchanged(rig->agent->Mib(), rig->image);
    return 0;
}
