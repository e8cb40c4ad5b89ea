// Shared helpers of the security tests: a target lookup that records how the
// library uses it, and user and message builders.
#ifndef TESTS_SECURITY_SECURITY_TEST_SUPPORT_H
#define TESTS_SECURITY_SECURITY_TEST_SUPPORT_H

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "snmp/message.h"
#include "snmp/target.h"
#include "snmp/target_lookup.h"
#include "snmp/usm_attributes.h"
#include "test_util.h"

namespace sectest {

using namespace zktest;

// OpenSSL's digest of an authentication protocol, and its key and MAC lengths.
struct AuthProtocol {
    const char* name;
    const EVP_MD* (*md)();
    unsigned int keyLength;
    unsigned int macLength;
};

inline const AuthProtocol& AuthProtocolOf(snmp::USMAuthProtocol id) {
    static const AuthProtocol all[] = {
        {"MD5", EVP_md5, 16, 12},       {"SHA1", EVP_sha1, 20, 12},
        {"SHA224", EVP_sha224, 28, 16}, {"SHA256", EVP_sha256, 32, 24},
        {"SHA384", EVP_sha384, 48, 32}, {"SHA512", EVP_sha512, 64, 48},
    };
    return all[id - snmp::USMAuthMD5];
}

// OpenSSL's one-shot HMAC of `data` under `key`, its first `length` octets in hex.
inline std::string HmacHex(const EVP_MD* md, const snmp::OctetString& key, const Bytes& data,
                           unsigned int length) {
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int macLength = 0;
    if (HMAC(md, key.Data(), static_cast<int>(key.Size()), data.data(), data.size(), mac,
             &macLength) == nullptr ||
        macLength < length)
        return "HMAC failed";
    return ToHex(mac, length);
}

// A lookup holding targets by user name, checking how the library uses it and
// keeping a copy of every target handed to UpdateTarget.
class RecordingLookup : public snmp::TargetLookup {
public:
    explicit RecordingLookup(snmp::Type type) : TargetLookup(type) {}

    // Adds a target; the one added first also answers messages whose user name is not known
    // (outgoing messages carry no name before processing), unless `strict`.
    snmp::Target& Add(const snmp::Target& target) {
        auto& stored = targets_[target.UserName()];
        stored = std::make_unique<snmp::Target>(target);
        if (first_ == nullptr) first_ = stored.get();
        return *stored;
    }

    snmp::Target* FindTarget(const snmp::Message& msg) override {
        if (locks == unlocks) ++findsUnlocked;
        auto it = targets_.find(msg.UserName());
        if (it != targets_.end()) return it->second.get();
        return strict ? nullptr : first_;
    }

    void UpdateTarget(snmp::Target* target, const snmp::Message& /*msg*/) override {
        if (locks != unlocks) ++updatesLocked;
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

    int locks = 0;
    int unlocks = 0;
    int findsUnlocked = 0;
    int updatesLocked = 0;
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

// RFC 3414 appendix A.3's engine id.
inline const snmp::OctetString kRfcEngineId = Octets("000000000000000000000002");

// An SNMPv3 target for `user` with the given protocols and passwords (by default made of the
// user's name), engine id `engineId` (keys calculated when it is not empty), boots and time.
inline snmp::Target MakeTarget(const std::string& user, snmp::USMAuthProtocol auth,
                               snmp::USMPrivProtocol priv, const snmp::OctetString& engineId,
                               unsigned int boots = 0, unsigned int engineTime = 0,
                               const std::string& authPass = "", const std::string& privPass = "") {
    snmp::Target t(brask::IpAddr("127.0.0.1"), 161);
    t.SetVersion(snmp::SnmpVersionV3);
    auto* attributes = new snmp::USMAttributes(auth, priv);
    attributes->SetUserName(user);
    attributes->SetAuthPass(authPass.empty() ? "auth-" + user + "-password" : authPass);
    attributes->SetPrivPass(privPass.empty() ? "priv-" + user + "-password" : privPass);
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
    msg->AddVarBind(StringBind("1.3.6.1.2.1.1.1.0", "a value worth protecting"));
    snmp::AsnValue ticks(0x43);
    ticks.SetTicks(123456);
    msg->AddVarBind(snmp::VarBind(Oid("1.3.6.1.2.1.1.3.0"), ticks));
    return msg;
}

inline std::vector<unsigned char> Encode(const snmp::Message& msg) {
    return EncodeToBytes(msg, snmp::Message::MaxEnc());
}

inline std::unique_ptr<snmp::Message> Decode(const std::vector<unsigned char>& datagram,
                                             snmp::TargetLookup* lookup) {
    auto msg = std::make_unique<snmp::Message>();
    msg->InitSecurity(lookup);
    msg->Decode(datagram.data(), static_cast<unsigned int>(datagram.size()));
    return msg;
}

}  // namespace sectest

#endif
