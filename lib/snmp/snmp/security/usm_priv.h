// USM privacy protocols: CBC-DES (RFC 3414 section 8) and CFB128-AES (RFC 3826,
// with the AES-192/256 key extensions agents use): encryption of an outgoing
// scoped PDU in the message's encode buffer and in-place decryption of a
// received one, on OpenSSL's EVP cipher interface.
#ifndef SNMP_SECURITY_USM_PRIV_H
#define SNMP_SECURITY_USM_PRIV_H

#include <cstdint>
#include <memory>

#include <openssl/types.h>

#include <vector>

#include "snmp/octet_string.h"
#include "snmp/security/crypto_cache.h"
#include "snmp/usm_attributes.h"

namespace snmp {

class Message;
class USMAuth;

// A privacy protocol. One object serves one call at a time: it keeps one
// cipher context per direction, keyed with the last key it was given, so that
// a run of messages under one key only sets a new IV.
class USMPriv {
public:
    USMPriv(const USMPriv&) = delete;
    USMPriv& operator=(const USMPriv&) = delete;
    virtual ~USMPriv();

    // Octets of privacy key the cipher uses (from the front of the key).
    unsigned int KeyLength() const { return keyLength_; }

    // Encrypts the scopedHeader, pduHeader and varBinds pieces of `msg`'s
    // encode buffer into its encryptedPdu piece, as an OCTET STRING element,
    // and sets the three plaintext lengths to 0. `privParams` receives the
    // salt to send. Uses the engine boots (and, for AES, the engine time) of
    // `msg`'s USM object. Returns false (nothing changed) when `key` is
    // shorter than KeyLength(), the ciphertext would not fit the encryptedPdu
    // buffer, or OpenSSL fails.
    virtual bool Encrypt(const OctetString& key, const Message& msg, OctetString& privParams) = 0;

    // Decrypts in place the encryptedPDU OCTET STRING at `msg` + `offset`
    // (its tag octet) of a received datagram of `msgLen` octets: the
    // plaintext scoped PDU then starts at `offset` and `msgLen` shrinks by
    // the OCTET STRING header (and any padding). Returns false (nothing read
    // beyond `msgLen`, `msgLen` unchanged) when the key or salt has the wrong
    // size, the element does not lie inside the datagram, or its length does
    // not suit the cipher. Throws Exception type 1 when the element is not an
    // OCTET STRING, or the plaintext is not a SEQUENCE that fits inside it
    // (the usual sign of a wrong key). A protocol whose IV needs the sender's
    // engine clock (AES) cannot decrypt through this form and returns false.
    virtual bool Decrypt(const OctetString& key, const OctetString& privParams, unsigned char* msg,
                         unsigned int& msgLen, unsigned int offset) = 0;

    // As above, with the received msgAuthoritativeEngineBoots and -Time,
    // from which AES builds its IV. The security processing calls this form;
    // for protocols that do not use the clock it is the form above.
    virtual bool Decrypt(const OctetString& key, const OctetString& privParams,
                         unsigned int engineBoots, unsigned int engineTime, unsigned char* msg,
                         unsigned int& msgLen, unsigned int offset);

    // Lengthens `key`, a privacy key localised to `engineId` with `auth`'s
    // hash, to KeyLength() octets when the hash gave fewer, by this
    // protocol's extension method. Keys already long enough are left alone.
    // False when the key stays too short (a protocol without an extension
    // method) or a hash step fails; `key` is then unchanged.
    virtual bool ExtendKey(USMAuth& auth, const OctetString& engineId, OctetString& key);

protected:
    // `cipherKeyLength` octets from the front of the privacy key key `cipher`.
    USMPriv(unsigned int keyLength, detail::CipherId cipher, unsigned int cipherKeyLength);

    // Encrypts the plaintext pieces of `msg`'s encode buffer into its
    // encryptedPdu piece as an OCTET STRING element and empties the plaintext
    // pieces. `padded` (CBC) pads to whole blocks; otherwise (CFB) the
    // ciphertext is as long as the plaintext.
    bool EncryptPieces(const unsigned char* key, const unsigned char* iv, bool padded,
                       const Message& msg);
    // Decrypts in place the encryptedPDU OCTET STRING at `msg` + `offset`,
    // whose length must be a multiple of `lengthMultiple`. See Decrypt.
    bool DecryptElement(const unsigned char* key, const unsigned char* iv,
                        unsigned int lengthMultiple, unsigned char* msg, unsigned int& msgLen,
                        unsigned int offset);

private:
    // A cipher context for one direction and the key it holds.
    struct Keyed {
        EVP_CIPHER_CTX* ctx = nullptr;
        unsigned char key[32] = {};
        bool keyed = false;
    };
    // `side`'s context, keyed with `key` and set to `iv`; null on failure.
    EVP_CIPHER_CTX* Ready(Keyed& side, bool encrypt, const unsigned char* key,
                          const unsigned char* iv);

    unsigned int keyLength_;
    detail::CipherId cipherId_;
    unsigned int cipherKeyLength_;
    const EVP_CIPHER* cipher_ = nullptr;
    Keyed encrypt_;
    Keyed decrypt_;
    // Scratch for a decrypted scoped PDU, wiped after each use.
    std::vector<unsigned char> plain_;
};

// CBC-DES: DES key = privacy key octets 0-7, pre-IV = octets 8-15; the salt is
// the engine boots followed by a 32-bit counter, both in network byte order.
// The counter is shared by the whole process (an atomic counter starting at a
// random value), so no two messages of the process share a salt.
class PrivDES : public USMPriv {
public:
    PrivDES();

    bool Encrypt(const OctetString& key, const Message& msg, OctetString& privParams) override;
    bool Decrypt(const OctetString& key, const OctetString& privParams, unsigned char* msg,
                 unsigned int& msgLen, unsigned int offset) override;
    using USMPriv::Decrypt;

    // The next value of the process-wide salt counter (post-increment).
    static unsigned int NextSaltCounter();

    static constexpr unsigned int kSaltLength = 8;
    static constexpr unsigned int kMinKeyLength = 16;
    static constexpr unsigned int kBlockSize = 8;
    // Room kept in front of the ciphertext for its OCTET STRING header.
    static constexpr unsigned int kHeaderRoom = 5;
};

// CFB128-AES (RFC 3826): the key is the first KeyLength() octets of the
// privacy key; the IV is the engine boots and engine time (network byte order)
// followed by the 8-octet salt sent as msgPrivacyParameters. The salt is a
// 64-bit counter shared by the whole process, starting at a random value. No
// padding: the ciphertext is as long as the plaintext.
class PrivAES : public USMPriv {
public:
    // How a privacy key shorter than the cipher key is lengthened.
    enum class KeyExtension {
        // Kul | H(Kul) | H(Kul | H(Kul)) ...: each step hashes all the key so
        // far (draft-blumenthal-aes-usm-04; net-snmp's AES-192/AES-256).
        kBlumenthal,
        // Kul | Kul2 | ...: each step runs password-to-key on the previous
        // block, used as the password, and localises the result to the
        // engine (draft-reeder-snmpv3-usm-3desede; net-snmp's AES-192-C and
        // AES-256-C).
        kReeder,
    };

    bool Encrypt(const OctetString& key, const Message& msg, OctetString& privParams) override;
    // Returns false: without the sender's engine clock there is no IV.
    bool Decrypt(const OctetString& key, const OctetString& privParams, unsigned char* msg,
                 unsigned int& msgLen, unsigned int offset) override;
    bool Decrypt(const OctetString& key, const OctetString& privParams, unsigned int engineBoots,
                 unsigned int engineTime, unsigned char* msg, unsigned int& msgLen,
                 unsigned int offset) override;
    bool ExtendKey(USMAuth& auth, const OctetString& engineId, OctetString& key) override;

    // The next value of the process-wide salt (post-increment).
    static std::uint64_t NextSalt();

    static constexpr unsigned int kSaltLength = 8;

protected:
    // `cipher` is the CFB128 cipher of KeyLength()-octet keys.
    PrivAES(unsigned int keyLength, detail::CipherId cipher, KeyExtension extension);

private:
    KeyExtension extension_;
};

// usmAesCfb128Protocol: 16-octet keys, which every authentication hash gives.
class PrivAES128 : public PrivAES {
public:
    PrivAES128();
};

// AES-192 with Blumenthal key extension (net-snmp "AES-192").
class PrivAES192 : public PrivAES {
public:
    PrivAES192();
};

// AES-256 with Blumenthal key extension (net-snmp "AES-256").
class PrivAES256 : public PrivAES {
public:
    PrivAES256();
};

// AES-192 with Reeder key extension (net-snmp "AES-192-C").
class PrivAES192C : public PrivAES {
public:
    PrivAES192C();
};

// AES-256 with Reeder key extension (net-snmp "AES-256-C").
class PrivAES256C : public PrivAES {
public:
    PrivAES256C();
};

// The protocol object for `protocol`, or null for none (USMPrivNone and any
// value without a protocol).
std::unique_ptr<USMPriv> MakePriv(USMPrivProtocol protocol);

}  // namespace snmp

#endif
