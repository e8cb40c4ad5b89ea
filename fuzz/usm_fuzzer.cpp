// libFuzzer target for the SNMPv3 security processing: arbitrary datagrams are
// decoded with target lookups that know one user per protocol pair (the users
// of the net-snmp captures in tests/security/netsnmp: every authentication
// protocol, MD5 to SHA-512, alone and with DES and every AES variant), so that
// the security parameters decoder, the digest check of every MAC length, both
// time-window rules, engine discovery, the AES key extensions and DES and AES
// decryption all see fuzzed input.
//
// The first input octet selects the mode, the rest is the datagram:
//   bit 0  recompute the digest: when the datagram is authenticated for a
//          known user and carries a digest of that user's length, the harness
//          replaces it by the right HMAC, so that mutations get past the
//          digest check;
//   bit 1  decode as the non-authoritative side (a manager receiving a
//          response or trap) instead of the authoritative one (an agent).
// A message that decodes is answered at its own level by the agent's side
// and the answer must pass the manager's security processing.
//
// Seeds (fuzz/corpus/usm/): netsnmp_* are the net-snmp captures (requests
// with mode 0x01, traps with 0x03; the SHA-2 and AES ones named after their
// user, e.g. netsnmp_sha256aes192c_get); request_<user> are our manager's requests
// (0x01); response_<user> and report_<user> the agent's answers at boots 0,
// time 0 (0x03, 0x02); discovery_probe a request with an empty engine id.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "brask/ip_addr.h"
#include "fuzz_support.h"
#include "snmp/exception.h"
#include "snmp/message.h"
#include "snmp/target.h"
#include "snmp/target_lookup.h"
#include "snmp/usm_attributes.h"

namespace {

using zkfuzz::Require;

// The capture script's users: the five seed users with passwords of their
// own, and every other pair named after its protocols (sha256auth,
// md5aes192c, ...) with passwords "<name>-apass" and "<name>-ppass".
std::vector<zkfuzz::User> Users() {
    std::vector<zkfuzz::User> users = zkfuzz::SeedUsers();
    const char* const authLabel[] = {"md5", "sha", "sha224", "sha256", "sha384", "sha512"};
    const char* const privLabel[] = {"auth",   "des",     "aes",    "aes192",
                                     "aes256", "aes192c", "aes256c"};
    for (int a = snmp::USMAuthMD5; a <= snmp::USMAuthSHA512; ++a) {
        for (int p = snmp::USMPrivNone; p <= snmp::USMPrivAES256C; ++p) {
            const std::string name =
                std::string(authLabel[a - snmp::USMAuthMD5]) + privLabel[p - snmp::USMPrivNone];
            if (a <= snmp::USMAuthSHA1 && p <= snmp::USMPrivDES) continue;
            users.push_back({name, static_cast<snmp::USMAuthProtocol>(a),
                             static_cast<snmp::USMPrivProtocol>(p), name + "-apass",
                             p == snmp::USMPrivNone ? "" : name + "-ppass"});
        }
    }
    return users;
}

// Knows the users by name; keeps nothing the processing hands back, so every
// input is decoded against the same state.
class FuzzLookup : public snmp::TargetLookup {
public:
    explicit FuzzLookup(snmp::Type type) : snmp::TargetLookup(type) {
        for (const zkfuzz::User& u : Users()) {
            auto target = std::make_unique<snmp::Target>(brask::IpAddr("127.0.0.1"), 161);
            // The manager has not discovered the engine of the user without
            // authentication, so its messages run the discovery step.
            if (type == snmp::TypeServer || u.auth != snmp::USMAuthNone)
                target->SetEngineId(zkfuzz::EngineId());
            snmp::Target& added = users_.Add(u, std::move(target));
            added.SetSecLevel(
                static_cast<snmp::v3SecurityLevel>(added.SecAttributes()->SecurityLevel()));
        }
    }

    snmp::Target* FindTarget(const snmp::Message& msg) override {
        return users_.Find(msg.UserName());
    }

    const zkfuzz::UserTable& Table() const { return users_; }

private:
    zkfuzz::UserTable users_;
};

FuzzLookup& Agent() {
    static FuzzLookup* lookup = new FuzzLookup(snmp::TypeServer);
    return *lookup;
}

FuzzLookup& Manager() {
    static FuzzLookup* lookup = new FuzzLookup(snmp::TypeClient);
    return *lookup;
}

bool IsSecurityType(int type) {
    return type == 19 || type == 20 || type >= 200;
}

// The agent answers a decoded request at the request's level; the manager
// must accept the answer's security parameters, digest and encryption.
void AnswerAndCheck(const snmp::Message& request) {
    snmp::Message response(request);
    response.SetType(snmp::PduResponse);
    unsigned int size = 65535;
    std::vector<unsigned char> out(size);
    try {
        response.Encode(out.data(), size, false);
    } catch (const snmp::Exception& e) {
        // Too big, or a value the encoder refuses; never a security failure
        // for a user the agent just accepted.
        Require(!IsSecurityType(e.Type()));
        return;
    }
    // An exactly sized copy, so that a read past the answer is caught.
    auto exact = std::make_unique<unsigned char[]>(size);
    std::copy(out.begin(), out.begin() + size, exact.get());
    snmp::Message answer;
    answer.InitSecurity(&Manager());
    try {
        answer.Decode(exact.get(), size);
    } catch (const snmp::Exception& e) {
        Require(!IsSecurityType(e.Type()));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 65536) return 0;
    const uint8_t mode = data[0];
    FuzzLookup& lookup = (mode & 0x02) != 0 ? Manager() : Agent();
    std::vector<unsigned char> datagram(data + 1, data + size);
    if ((mode & 0x01) != 0) zkfuzz::RecomputeDigest(datagram, lookup.Table());

    // An allocation of exactly the datagram's size.
    auto exact = std::make_unique<unsigned char[]>(datagram.size());
    std::copy(datagram.begin(), datagram.end(), exact.get());
    snmp::Message msg;
    msg.InitSecurity(&lookup);
    try {
        msg.Decode(exact.get(), static_cast<unsigned int>(datagram.size()));
    } catch (const snmp::Exception&) {
        return 0;
    }
    if (msg.Version() == snmp::SnmpVersionV3 && (mode & 0x02) == 0) AnswerAndCheck(msg);
    return 0;
}
