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
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "snmp/asn.h"
#include "snmp/exception.h"
#include "snmp/message.h"
#include "snmp/octet_string.h"
#include "snmp/target.h"
#include "snmp/target_lookup.h"
#include "snmp/usm_attributes.h"

namespace {

// A broken contract: crash so that the fuzzer keeps the input.
void Require(bool ok) {
    if (!ok) std::abort();
}

struct User {
    std::string name;
    snmp::USMAuthProtocol auth;
    snmp::USMPrivProtocol priv;
    std::string authPass;
    std::string privPass;
};

// The capture script's users: five with passwords of their own, and every
// other pair named after its protocols (sha256auth, md5aes192c, ...) with
// passwords "<name>-apass" and "<name>-ppass".
std::vector<User> Users() {
    std::vector<User> users = {
        {"plain", snmp::USMAuthNone, snmp::USMPrivNone, "", ""},
        {"md5auth", snmp::USMAuthMD5, snmp::USMPrivNone, "md5authpass", ""},
        {"shaauth", snmp::USMAuthSHA1, snmp::USMPrivNone, "shaauthpass", ""},
        {"md5des", snmp::USMAuthMD5, snmp::USMPrivDES, "md5authpass", "md5despass"},
        {"shades", snmp::USMAuthSHA1, snmp::USMPrivDES, "shaauthpass", "shadespass"},
    };
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

// OpenSSL's digest and the MAC length of an authentication protocol.
const EVP_MD* DigestOf(snmp::USMAuthProtocol auth, unsigned int& macLength) {
    switch (auth) {
        case snmp::USMAuthMD5:
            macLength = 12;
            return EVP_md5();
        case snmp::USMAuthSHA1:
            macLength = 12;
            return EVP_sha1();
        case snmp::USMAuthSHA224:
            macLength = 16;
            return EVP_sha224();
        case snmp::USMAuthSHA256:
            macLength = 24;
            return EVP_sha256();
        case snmp::USMAuthSHA384:
            macLength = 32;
            return EVP_sha384();
        default:
            macLength = 48;
            return EVP_sha512();
    }
}

const snmp::OctetString& EngineId() {
    static const snmp::OctetString id(
        std::string("\x80\x00\x1f\x88\x80\xaa\xbb\xcc\xdd\x00\x11\x22\x33", 13));
    return id;
}

// Knows the users by name; keeps nothing the processing hands back, so every
// input is decoded against the same state.
class FuzzLookup : public snmp::TargetLookup {
public:
    explicit FuzzLookup(snmp::Type type) : snmp::TargetLookup(type) {
        for (const User& u : Users()) {
            snmp::Target t(brask::IpAddr("127.0.0.1"), 161);
            t.SetVersion(snmp::SnmpVersionV3);
            auto* attributes = new snmp::USMAttributes(u.auth, u.priv);
            attributes->SetUserName(u.name);
            attributes->SetAuthPass(u.authPass);
            attributes->SetPrivPass(u.privPass);
            t.SetSecAttributes(attributes);
            t.SetSecLevel(static_cast<snmp::v3SecurityLevel>(attributes->SecurityLevel()));
            // The manager has not discovered the engine of the user without
            // authentication, so its messages run the discovery step.
            if (type == snmp::TypeServer || u.auth != snmp::USMAuthNone) t.SetEngineId(EngineId());
            t.CalculateKeys();
            targets_.emplace(u.name, std::make_unique<snmp::Target>(t));
        }
    }

    snmp::Target* FindTarget(const snmp::Message& msg) override { return Find(msg.UserName()); }

    snmp::Target* Find(const std::string& name) {
        auto it = targets_.find(name);
        return it == targets_.end() ? nullptr : it->second.get();
    }

private:
    std::map<std::string, std::unique_ptr<snmp::Target>> targets_;
};

FuzzLookup& Agent() {
    static FuzzLookup* lookup = new FuzzLookup(snmp::TypeServer);
    return *lookup;
}

FuzzLookup& Manager() {
    static FuzzLookup* lookup = new FuzzLookup(snmp::TypeClient);
    return *lookup;
}

void Skip(const unsigned char*& p, unsigned int& left, unsigned int n) {
    if (n > left) throw CAsnException("[AsnDecode] expected larger buffer");
    p += n;
    left -= n;
}

unsigned int Expect(const unsigned char*& p, unsigned int& left, unsigned int tag) {
    unsigned int type = 0;
    unsigned int length = 0;
    AsnDecodeType(p, left, type);
    if (type != tag) throw CAsnException("unexpected tag");
    AsnDecodeLength(p, left, length);
    return length;
}

// Finds the user name and the digest field of an SNMPv3 datagram and, when
// the user is known with an authentication key, writes the right digest.
void RecomputeDigest(std::vector<unsigned char>& datagram, FuzzLookup& lookup) {
    const unsigned char* const begin = datagram.data();
    const unsigned char* p = begin;
    auto left = static_cast<unsigned int>(datagram.size());
    std::string user;
    size_t digestOffset = 0;
    unsigned int digestLength = 0;
    try {
        Expect(p, left, 0x30);
        Skip(p, left, Expect(p, left, 0x02));
        Skip(p, left, Expect(p, left, 0x30));
        Expect(p, left, 0x04);
        Expect(p, left, 0x30);
        Skip(p, left, Expect(p, left, 0x04));
        Skip(p, left, Expect(p, left, 0x02));
        Skip(p, left, Expect(p, left, 0x02));
        const unsigned int userLength = Expect(p, left, 0x04);
        const unsigned char* name = p;
        Skip(p, left, userLength);
        user.assign(reinterpret_cast<const char*>(name), userLength);
        digestLength = Expect(p, left, 0x04);
        digestOffset = static_cast<size_t>(p - begin);
        Skip(p, left, digestLength);
    } catch (const EAsnException&) {
        return;
    }
    const snmp::Target* target = lookup.Find(user);
    if (target == nullptr || target->AuthKey().Empty()) return;
    unsigned int expectedLength = 0;
    const EVP_MD* md = DigestOf(target->SecAttributes()->AuthProtocol(), expectedLength);
    if (digestLength != expectedLength) return;
    std::fill(datagram.begin() + static_cast<std::ptrdiff_t>(digestOffset),
              datagram.begin() + static_cast<std::ptrdiff_t>(digestOffset + digestLength), 0);
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int macLength = 0;
    if (HMAC(md, target->AuthKey().Data(), static_cast<int>(target->AuthKey().Size()),
             datagram.data(), datagram.size(), mac, &macLength) == nullptr)
        return;
    std::copy(mac, mac + digestLength,
              datagram.begin() + static_cast<std::ptrdiff_t>(digestOffset));
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
    if ((mode & 0x01) != 0) RecomputeDigest(datagram, lookup);

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
