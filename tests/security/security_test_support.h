// Shared helpers of the security tests: a target lookup that records how the
// library uses it, user and message builders, and hex conversion.
#ifndef TESTS_SECURITY_SECURITY_TEST_SUPPORT_H
#define TESTS_SECURITY_SECURITY_TEST_SUPPORT_H

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "snmp/exception.h"
#include "snmp/message.h"
#include "snmp/octet_string.h"
#include "snmp/target.h"
#include "snmp/target_lookup.h"
#include "snmp/usm_attributes.h"

namespace sectest {

inline std::vector<unsigned char> FromHex(const std::string& hex) {
    std::vector<unsigned char> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

inline snmp::OctetString Octets(const std::string& hex) {
    const std::vector<unsigned char> bytes = FromHex(hex);
    return snmp::OctetString(bytes.data(), static_cast<unsigned int>(bytes.size()));
}

inline std::string ToHex(const unsigned char* data, size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out += kDigits[data[i] >> 4];
        out += kDigits[data[i] & 0x0F];
    }
    return out;
}

inline std::string ToHex(const snmp::OctetString& s) {
    return ToHex(s.Data(), s.Size());
}

// OpenSSL's one-shot digest of `data`, in hex.
inline std::string Hash(const EVP_MD* md, const std::string& data) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), out, &length, md, nullptr) != 1) return "failed";
    return ToHex(out, length);
}

// Every authentication protocol with OpenSSL's digest and its key and MAC
// lengths.
struct AuthProtocol {
    snmp::USMAuthProtocol id;
    const char* name;
    const EVP_MD* (*md)();
    unsigned int keyLength;
    unsigned int macLength;
};

inline const std::vector<AuthProtocol>& AuthProtocols() {
    static const std::vector<AuthProtocol> all = {
        {snmp::USMAuthMD5, "MD5", EVP_md5, 16, 12},
        {snmp::USMAuthSHA1, "SHA1", EVP_sha1, 20, 12},
        {snmp::USMAuthSHA224, "SHA224", EVP_sha224, 28, 16},
        {snmp::USMAuthSHA256, "SHA256", EVP_sha256, 32, 24},
        {snmp::USMAuthSHA384, "SHA384", EVP_sha384, 48, 32},
        {snmp::USMAuthSHA512, "SHA512", EVP_sha512, 64, 48},
    };
    return all;
}

inline const AuthProtocol& AuthProtocolOf(snmp::USMAuthProtocol id) {
    for (const AuthProtocol& p : AuthProtocols())
        if (p.id == id) return p;
    throw std::invalid_argument("no such authentication protocol");
}

// Runs `f` and returns the snmp::Exception type it throws, or -1.
inline int ThrownType(const std::function<void()>& f) {
    try {
        f();
    } catch (const snmp::Exception& e) {
        return e.Type();
    }
    return -1;
}

// A lookup holding targets by user name, counting every use the library makes
// of it and keeping a copy of every target handed to UpdateTarget.
class RecordingLookup : public snmp::TargetLookup {
public:
    explicit RecordingLookup(snmp::Type type) : TargetLookup(type) {}

    // Adds a target; the one added first also answers messages whose user
    // name is not known (outgoing messages carry no name before processing).
    snmp::Target& Add(const snmp::Target& target) {
        auto stored = std::make_unique<snmp::Target>(target);
        snmp::Target& ref = *stored;
        const std::string name = ref.UserName();
        if (first_ == nullptr) first_ = &ref;
        targets_[name] = std::move(stored);
        return ref;
    }

    snmp::Target* FindTarget(const snmp::Message& msg) override {
        ++finds;
        if (!heldNow()) ++findsUnlocked;
        if (throwOnFind) throw std::runtime_error("lookup failed");
        if (answerNull) return nullptr;
        const std::string& name = msg.UserName();
        auto it = targets_.find(name);
        if (it != targets_.end()) return it->second.get();
        return strict ? nullptr : first_;
    }

    void UpdateTarget(snmp::Target* target, const snmp::Message& /*msg*/) override {
        if (heldNow()) ++updatesLocked;
        updates.push_back(*target);
    }

    void Lock() override {
        TargetLookup::Lock();
        ++locks;
    }
    void Unlock() override {
        ++unlocks;
        TargetLookup::Unlock();
    }

    bool heldNow() const { return locks > unlocks; }

    int locks = 0;
    int unlocks = 0;
    int finds = 0;
    int findsUnlocked = 0;
    int updatesLocked = 0;
    bool throwOnFind = false;
    bool answerNull = false;
    // Answer only for the user names held.
    bool strict = false;
    std::vector<snmp::Target> updates;

private:
    std::map<std::string, std::unique_ptr<snmp::Target>> targets_;
    snmp::Target* first_ = nullptr;
};

// The lookup was used as the library promises: every lock released, the
// target found under the lock, updates made without it.
inline void ExpectLookupDiscipline(const RecordingLookup& lookup) {
    EXPECT_EQ(lookup.locks, lookup.unlocks);
    EXPECT_EQ(lookup.findsUnlocked, 0);
    EXPECT_EQ(lookup.updatesLocked, 0);
}

// RFC 3414 appendix A.3's engine id and password.
inline const snmp::OctetString& RfcEngineId() {
    static const snmp::OctetString id = Octets("000000000000000000000002");
    return id;
}

// An SNMPv3 target for `user` with the given protocols and passwords, engine
// id `engineId` (keys calculated when it is not empty), boots and time.
inline snmp::Target MakeTarget(const std::string& user, snmp::USMAuthProtocol auth,
                               snmp::USMPrivProtocol priv, const snmp::OctetString& engineId,
                               unsigned int boots = 0, unsigned int engineTime = 0) {
    snmp::Target t(brask::IpAddr("127.0.0.1"), 161);
    t.SetVersion(snmp::SnmpVersionV3);
    auto* attributes = new snmp::USMAttributes(auth, priv);
    attributes->SetUserName(user);
    attributes->SetAuthPass("auth-" + user + "-password");
    attributes->SetPrivPass("priv-" + user + "-password");
    t.SetSecAttributes(attributes);
    t.SetSecLevel(static_cast<snmp::v3SecurityLevel>(attributes->SecurityLevel()));
    t.SetUserId(user);
    t.SetEngineId(engineId);
    t.SetEngineBoots(boots);
    if (engineTime != 0) t.SetEngineTime(engineTime);
    t.SetLastEngineTime(engineTime);
    if (!engineId.Empty()) t.CalculateKeys();
    return t;
}

// A GetRequest for `target` with two bindings, bound to `lookup`.
inline std::unique_ptr<snmp::Message> MakeRequest(snmp::Target& target, snmp::TargetLookup* lookup,
                                                  snmp::PduType type = snmp::PduGetRequest) {
    auto msg = std::make_unique<snmp::Message>();
    msg->SetTarget(target);
    msg->InitSecurity(lookup);
    // Lookups find the target of an outgoing message by its user name.
    msg->SetUserName(target.UserName());
    msg->SetType(type);
    msg->SetRequestId(4242);
    snmp::ObjectId name;
    name.Set("1.3.6.1.2.1.1.1.0");
    snmp::AsnValue text(0x04);
    text.SetString(snmp::OctetString(std::string("a value worth protecting")));
    msg->AddVarBind(snmp::VarBind(name, text));
    name.Set("1.3.6.1.2.1.1.3.0");
    snmp::AsnValue ticks(0x43);
    ticks.SetTicks(123456);
    msg->AddVarBind(snmp::VarBind(name, ticks));
    return msg;
}

// Encodes `msg` into a datagram.
inline std::vector<unsigned char> Encode(const snmp::Message& msg) {
    std::vector<unsigned char> out(snmp::Message::MaxEnc());
    unsigned int size = static_cast<unsigned int>(out.size());
    msg.Encode(out.data(), size, false);
    out.resize(size);
    return out;
}

// Decodes `datagram` into a new message bound to `lookup`.
inline std::unique_ptr<snmp::Message> Decode(const std::vector<unsigned char>& datagram,
                                             snmp::TargetLookup* lookup) {
    auto msg = std::make_unique<snmp::Message>();
    msg->InitSecurity(lookup);
    msg->Decode(datagram.data(), static_cast<unsigned int>(datagram.size()));
    return msg;
}

}  // namespace sectest

#endif
