// SNMPv3 user attributes: protocol objects per user and the RFC 3414
// key-change algorithm.
#include "snmp/usm_attributes.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <vector>

#include "snmp/message.h"
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
    switch (authProtocol_) {
        case USMAuthMD5:
            auth_ = std::make_unique<AuthMD5>();
            break;
        case USMAuthSHA1:
            auth_ = std::make_unique<AuthSHA1>();
            break;
        default:
            auth_.reset();
            break;
    }
    switch (privProtocol_) {
        case USMPrivDES:
            priv_ = std::make_unique<PrivDES>();
            break;
        default:
            priv_.reset();
            break;
    }
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

bool USMAttributes::KeyChangeRequest(const OctetString& oldKey, const std::string& newPassword,
                                     const OctetString& engineId, OctetString& keyChange) const {
    if (auth_ == nullptr || oldKey.Empty()) return false;
    const unsigned int len = oldKey.Size();
    OctetString ku;
    OctetString newKey;
    if (!auth_->PasswordToKey(newPassword, ku) || !auth_->LocalizeKey(engineId, ku, newKey))
        return false;
    newKey.Resize(static_cast<int>(len));

    // The random component must be unpredictable to an eavesdropper, so it
    // comes from OpenSSL's generator.
    std::vector<unsigned char> random(len);
    if (RAND_bytes(random.data(), static_cast<int>(len)) != 1) return false;
    OctetString digest;
    if (!auth_->KeyChangeDigest(oldKey, digest, random.data(), len)) return false;
    digest.Resize(static_cast<int>(len));
    OctetString delta(newKey);
    OctetString::XOR(delta, digest, newKey);

    keyChange.Set(random.data(), len);
    keyChange += delta;
    OPENSSL_cleanse(random.data(), random.size());
    OPENSSL_cleanse(newKey.Data(), newKey.Size());
    return true;
}

bool USMAttributes::KeyChangeReceive(const OctetString& oldKey, const OctetString& keyChange,
                                     OctetString& newKey) const {
    if (auth_ == nullptr || oldKey.Empty()) return false;
    const unsigned int len = oldKey.Size();
    if (keyChange.Size() != 2 * len) return false;
    OctetString delta(keyChange.Data() + len, len);
    OctetString digest;
    if (!auth_->KeyChangeDigest(oldKey, digest, keyChange.Data(), len)) return false;
    digest.Resize(static_cast<int>(len));
    // Writing the first len octets needs that many; a shorter key is grown
    // rather than written past its end.
    if (newKey.Size() < len) newKey.Resize(static_cast<int>(len));
    OctetString::XOR(newKey, digest, delta);
    return true;
}

}  // namespace snmp
