// SNMPv3 user attributes: protocol objects per user and the RFC 3414
// key-change algorithm.
#include "snmp/usm_attributes.h"

#include <openssl/crypto.h>

#include <vector>

#include "snmp/message.h"
#include "snmp/security/crypto_cache.h"
#include "snmp/security/usm_auth.h"
#include "snmp/security/usm_priv.h"

namespace snmp {

USMAttributes::USMAttributes(USMAuthProtocol auth, USMPrivProtocol priv)
    : authProtocol_(auth), privProtocol_(priv) {
    Init();
}

USMAttributes::USMAttributes(const USMAttributes& other)
    : userName_(other.userName_),
      unknownUser_(other.unknownUser_),
      authProtocol_(other.authProtocol_),
      privProtocol_(other.privProtocol_),
      authPass_(other.authPass_),
      privPass_(other.privPass_),
      active_(other.active_),
      keyChange_(other.keyChange_) {
    Init();
}

USMAttributes& USMAttributes::operator=(const USMAttributes& other) {
    if (this == &other) return *this;
    userName_ = other.userName_;
    unknownUser_ = other.unknownUser_;
    authProtocol_ = other.authProtocol_;
    privProtocol_ = other.privProtocol_;
    authPass_ = other.authPass_;
    privPass_ = other.privPass_;
    authKeyChange_ = other.authKeyChange_;
    privKeyChange_ = other.privKeyChange_;
    active_ = other.active_;
    keyChange_ = other.keyChange_;
    Init();
    return *this;
}

USMAttributes::~USMAttributes() = default;

void USMAttributes::Init() {
    auth_ = MakeAuth(authProtocol_);
    priv_ = MakePriv(privProtocol_);
}

bool USMAttributes::SetAuthPass(const std::string& password) {
    authPass_ = password;
    return auth_ != nullptr;
}

bool USMAttributes::SetPrivPass(const std::string& password) {
    privPass_ = password;
    return priv_ != nullptr;
}

int USMAttributes::SecurityLevel() const {
    if (authProtocol_ == USMAuthNone) return SecLevelNoAuthNoPriv;
    return privProtocol_ != USMPrivNone ? SecLevelAuthPriv : SecLevelAuthNoPriv;
}

namespace {

// RFC 3414 section 5: the mask for a key of `len` octets is H(oldKey | random),
// then, while the key is longer than the hash output, each further block is
// H(previous block | random).
bool KeyChangeMask(USMAuth& auth, const OctetString& oldKey, const unsigned char* random,
                   unsigned int len, OctetString& mask) {
    OctetString block;
    if (!auth.KeyChangeDigest(oldKey, block, random, len)) return false;
    mask = block;
    while (mask.Size() < len) {
        if (!auth.Digest(block, random, len, block) || block.Empty()) return false;
        mask += block;
    }
    mask.Resize(static_cast<int>(len));
    OPENSSL_cleanse(block.Data(), block.Size());
    return true;
}

}  // namespace

bool USMAttributes::KeyChangeRequest(const OctetString& oldKey, const std::string& newPassword,
                                     const OctetString& engineId, OctetString& keyChange) const {
    if (auth_ == nullptr || oldKey.Empty()) return false;
    const unsigned int len = oldKey.Size();
    OctetString ku;
    OctetString newKey;
    if (!auth_->PasswordToKey(newPassword, ku) || !auth_->LocalizeKey(engineId, ku, newKey))
        return false;
    // A key longer than the hash output is an extended privacy key: the new
    // one is extended the same way.
    if (len > newKey.Size() && (priv_ == nullptr || !priv_->ExtendKey(*auth_, engineId, newKey)))
        return false;
    newKey.Resize(static_cast<int>(len));

    // The random component must be unpredictable to an eavesdropper, so it
    // comes from OpenSSL's generator.
    std::vector<unsigned char> random(len);
    OctetString mask;
    if (!detail::RandomBytes(random.data(), len) ||
        !KeyChangeMask(*auth_, oldKey, random.data(), len, mask))
        return false;
    OctetString delta(newKey);
    OctetString::XOR(delta, mask, newKey);

    keyChange.Set(random.data(), len);
    keyChange += delta;
    OPENSSL_cleanse(random.data(), random.size());
    OPENSSL_cleanse(newKey.Data(), newKey.Size());
    OPENSSL_cleanse(mask.Data(), mask.Size());
    return true;
}

bool USMAttributes::KeyChangeReceive(const OctetString& oldKey, const OctetString& keyChange,
                                     OctetString& newKey) const {
    if (auth_ == nullptr || oldKey.Empty()) return false;
    const unsigned int len = oldKey.Size();
    if (keyChange.Size() != 2 * len) return false;
    OctetString delta(keyChange.Data() + len, len);
    OctetString mask;
    if (!KeyChangeMask(*auth_, oldKey, keyChange.Data(), len, mask)) return false;
    // Writing the first len octets needs that many; a shorter key is grown
    // rather than written past its end.
    if (newKey.Size() < len) newKey.Resize(static_cast<int>(len));
    OctetString::XOR(newKey, mask, delta);
    OPENSSL_cleanse(mask.Data(), mask.Size());
    return true;
}

}  // namespace snmp
