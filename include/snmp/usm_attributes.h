// One SNMPv3 user of the User-based Security Model (RFC 3414): name, protocols,
// passwords and the protocol objects that do the user's cryptography, plus both
// halves of the RFC 3414 key-change algorithm.
#ifndef SNMP_USM_ATTRIBUTES_H
#define SNMP_USM_ATTRIBUTES_H

#include <memory>
#include <string>

#include "snmp/export.h"
#include "snmp/octet_string.h"

namespace snmp {

class USMAuth;
class USMPriv;

// Authentication protocols. Any other value (the fixed underlying type makes
// every int a valid value) gives no protocol object.
enum USMAuthProtocol : int {
    USMAuthNone = 1,    // no authentication
    USMAuthMD5 = 2,     // HMAC-MD5-96
    USMAuthSHA1 = 3,    // HMAC-SHA-96
    USMAuthSHA224 = 4,  // HMAC-SHA-224 truncated to 128 bits (RFC 7860)
    USMAuthSHA256 = 5,  // HMAC-SHA-256 truncated to 192 bits (RFC 7860)
    USMAuthSHA384 = 6,  // HMAC-SHA-384 truncated to 256 bits (RFC 7860)
    USMAuthSHA512 = 7   // HMAC-SHA-512 truncated to 384 bits (RFC 7860)
};

// Privacy protocols. Any other value gives no protocol object. The privacy
// key is localised with the authentication protocol's hash; the AES-192 and
// AES-256 protocols extend it when the hash gives fewer octets than the cipher
// needs, in one of the two ways agents use (net-snmp's AES-192/AES-256 and
// AES-192-C/AES-256-C).
enum USMPrivProtocol : int {
    USMPrivNone = 1,     // no privacy
    USMPrivDES = 2,      // CBC-DES
    USMPrivAES128 = 3,   // CFB128-AES-128 (RFC 3826)
    USMPrivAES192 = 4,   // CFB128-AES-192, key extended by hashing (Blumenthal draft)
    USMPrivAES256 = 5,   // CFB128-AES-256, key extended by hashing (Blumenthal draft)
    USMPrivAES192C = 6,  // CFB128-AES-192, key extended by re-localising (Reeder draft)
    USMPrivAES256C = 7   // CFB128-AES-256, key extended by re-localising (Reeder draft)
};

// An SNMPv3 user. Owns its authentication and privacy protocol objects; no two
// attribute objects share one. Not locked: reach it through its Target, under
// the TargetLookup lock when the target is shared with message processing.
class SNMP_API USMAttributes {
public:
    // Empty names and passwords, active, no key change under way; creates the
    // protocol objects that `auth` and `priv` name.
    USMAttributes(USMAuthProtocol auth, USMPrivProtocol priv);
    // Copies user name, unknown-user name, protocols, passwords and the active
    // and key-change flags, with protocol objects of its own. The two stored
    // KeyChange values are NOT copied: the copy starts with them empty.
    USMAttributes(const USMAttributes& other);
    // Copies every field, the KeyChange values included, and replaces its
    // protocol objects by new ones for the copied protocols.
    USMAttributes& operator=(const USMAttributes& other);
    ~USMAttributes();

    const std::string& UserName() const { return userName_; }
    void SetUserName(const std::string& name) { userName_ = name; }
    // When not empty, the next outgoing message is sent with this name in
    // place of UserName(), and the stored target's copy of it is emptied.
    const std::string& UnknownUser() const { return unknownUser_; }
    void SetUnknownUser(const std::string& name) { unknownUser_ = name; }

    USMAuthProtocol AuthProtocol() const { return authProtocol_; }
    USMPrivProtocol PrivProtocol() const { return privProtocol_; }

    const std::string& AuthPass() const { return authPass_; }
    const std::string& PrivPass() const { return privPass_; }
    // Store the password. Return true when there is a protocol object that
    // will use it, false otherwise (the password is stored all the same).
    bool SetAuthPass(const std::string& password);
    bool SetPrivPass(const std::string& password);

    // KeyChange values kept for the caller; never used by the library.
    const OctetString& AuthKeyChange() const { return authKeyChange_; }
    void SetAuthKeyChange(const OctetString& value) { authKeyChange_ = value; }
    const OctetString& PrivKeyChange() const { return privKeyChange_; }
    void SetPrivKeyChange(const OctetString& value) { privKeyChange_ = value; }

    // The protocol objects, null when there is none; ownership stays here.
    USMAuth* Auth() const { return auth_.get(); }
    USMPriv* Priv() const { return priv_.get(); }

    // Stored for the caller.
    bool Active() const { return active_; }
    void SetActive(bool active) { active_ = active; }
    // Set by the caller while a key change for this user is under way: the
    // security processing then hands the target of every authenticated
    // outgoing message to TargetLookup::UpdateTarget.
    bool KeyChange() const { return keyChange_; }
    void SetKeyChange(bool keyChange) { keyChange_ = keyChange; }

    // The v3SecurityLevel these protocols allow: 1 (noAuthNoPriv) without an
    // authentication protocol (privacy alone counts as none), 3 (authPriv)
    // with both, else 2 (authNoPriv).
    int SecurityLevel() const;

    // Builds the RFC 3414 KeyChange value that changes `oldKey` (a localised
    // key, whose length is taken as the key length) to the key that
    // `newPassword` gives localised to `engineId`: a fresh random component
    // followed by the new key XOR H(oldKey | random), 2 x oldKey.Size()
    // octets in all. A key longer than the hash output (an extended AES
    // privacy key) is masked block by block as RFC 3414 section 5 does, with
    // the new key extended the way this user's privacy protocol extends it. Returns false (and
    // leaves `keyChange` alone) without an authentication protocol, with an empty old key, an empty
    // password or an empty engine id. Changes nothing in the attributes.
    bool KeyChangeRequest(const OctetString& oldKey, const std::string& newPassword,
                          const OctetString& engineId, OctetString& keyChange) const;

    // Recovers the new key from a received KeyChange value: the first
    // oldKey.Size() octets of `newKey` become H(oldKey | random) XOR delta.
    // `newKey` is grown to oldKey.Size() octets when it is shorter; longer
    // keys keep their further octets. Returns false (and leaves `newKey`
    // alone) without an authentication protocol, with an empty old key, or
    // when `keyChange` is not exactly 2 x oldKey.Size() octets.
    bool KeyChangeReceive(const OctetString& oldKey, const OctetString& keyChange,
                          OctetString& newKey) const;

private:
    // Creates the protocol objects for the current protocol values.
    void Init();

    std::string userName_;
    std::string unknownUser_;
    USMAuthProtocol authProtocol_;
    USMPrivProtocol privProtocol_;
    std::string authPass_;
    std::string privPass_;
    OctetString authKeyChange_;
    OctetString privKeyChange_;
    std::unique_ptr<USMAuth> auth_;
    std::unique_ptr<USMPriv> priv_;
    bool active_ = true;
    bool keyChange_ = false;
};

}  // namespace snmp

#endif
