// USM authentication protocols (RFC 3414, RFC 7860): password-to-key, key
// localisation, message digests and the key-change hash, on OpenSSL's EVP
// digests and HMAC.
#ifndef SNMP_SECURITY_USM_AUTH_H
#define SNMP_SECURITY_USM_AUTH_H

#include <cstddef>
#include <memory>
#include <string>

#include <openssl/evp.h>
#include <openssl/types.h>

#include "snmp/octet_string.h"
#include "snmp/security/crypto_cache.h"
#include "snmp/usm_attributes.h"

namespace snmp {

class Message;

// An authentication protocol: HMAC over one hash H with keys of KeyLength()
// octets (the hash output) and digests of DigestLength() octets. One object
// serves one call at a time: it keeps its OpenSSL contexts, and its HMAC
// context stays keyed with the last key, so that a run of messages under one
// key pays for neither a new context nor a re-keying. Every operation
// returns false on a failed precondition (or an OpenSSL failure) and leaves
// its output argument unchanged; none throws.
class USMAuth {
public:
    USMAuth(const USMAuth&) = delete;
    USMAuth& operator=(const USMAuth&) = delete;
    virtual ~USMAuth();

    // Octets of the hash output, of keys and of localised keys.
    unsigned int KeyLength() const { return keyLength_; }
    // Octets of msgAuthenticationParameters this protocol sends.
    unsigned int DigestLength() const { return digestLength_; }

    // The digest of an encoded outgoing message: HMAC keyed by `key` (exactly
    // KeyLength() octets) over the message's encode pieces in wire order,
    // truncated to DigestLength() octets.
    virtual bool CreateDigest(const OctetString& key, const Message& msg, OctetString& digest);

    // Checks a received message: zeroes the DigestLength() octets of `msg` at
    // `digestOffset` (they stay zero whatever the outcome) and compares, in
    // constant time, the HMAC of the first `msgLen` octets with `digest`.
    // False, with the buffer untouched, when `key` is not KeyLength() octets,
    // `digest` not DigestLength() octets, or the field does not lie inside
    // the first `msgLen` octets.
    virtual bool VerifyDigest(const OctetString& key, const OctetString& digest, unsigned char* msg,
                              unsigned int msgLen, unsigned int digestOffset);

    // RFC 3414 A.2.1: hashes 1 MiB of the password repeated; `key` gets the
    // KeyLength()-octet result. False for an empty password.
    virtual bool PasswordToKey(const std::string& password, OctetString& key);

    // RFC 3414 A.2.2: H(key | engineId | key). False when `key` is not
    // KeyLength() octets or `engineId` is empty. Any engine id length works.
    virtual bool LocalizeKey(const OctetString& engineId, const OctetString& key,
                             OctetString& localizedKey);

    // H(first `len` octets of key | `len` octets at `random`), the full hash
    // output, for the key-change algorithm. False when `key` holds fewer than
    // `len` octets.
    virtual bool KeyChangeDigest(const OctetString& key, OctetString& digest,
                                 const unsigned char* random, unsigned int len);

    // H(first | `len` octets at `second`), the full hash output, for the
    // further blocks of a long key change and for privacy-key extension.
    // False when `second` is null with a non-zero `len`.
    bool Digest(const OctetString& first, const unsigned char* second, unsigned int len,
                OctetString& digest);

protected:
    USMAuth(detail::HashId hash, unsigned int keyLength, unsigned int digestLength);

private:
    // A run of octets fed to a hash or MAC.
    struct Span {
        const unsigned char* data;
        size_t size;
    };
    // H over the concatenated parts; `out` gets KeyLength() octets.
    bool Hash(const Span* parts, unsigned int count, OctetString& out);
    // HMAC keyed by `key` over the concatenated parts; the first `outLen`
    // octets go to `out`.
    bool Mac(const OctetString& key, const Span* parts, unsigned int count, unsigned char* out,
             unsigned int outLen);

    // The digest and a digest context ready for it, or false.
    bool ReadyDigest();

    detail::HashId hash_;
    unsigned int keyLength_;
    unsigned int digestLength_;
    const EVP_MD* md_ = nullptr;
    EVP_MD_CTX* mdCtx_ = nullptr;
    EVP_MAC_CTX* macCtx_ = nullptr;
    // The key macCtx_ is keyed with (macKeyLength_ 0: none yet).
    unsigned char macKey_[EVP_MAX_MD_SIZE] = {};
    unsigned int macKeyLength_ = 0;
};

// HMAC-MD5-96: 16-octet keys, 12-octet digests.
class AuthMD5 : public USMAuth {
public:
    AuthMD5();
};

// HMAC-SHA-96: 20-octet keys, 12-octet digests.
class AuthSHA1 : public USMAuth {
public:
    AuthSHA1();
};

// RFC 7860's HMAC-SHA-2 protocols: the key is the full hash output, the MAC
// about two thirds of it.

// usmHMAC128SHA224AuthProtocol: 28-octet keys, 16-octet digests.
class AuthSHA224 : public USMAuth {
public:
    AuthSHA224();
};

// usmHMAC192SHA256AuthProtocol: 32-octet keys, 24-octet digests.
class AuthSHA256 : public USMAuth {
public:
    AuthSHA256();
};

// usmHMAC256SHA384AuthProtocol: 48-octet keys, 32-octet digests.
class AuthSHA384 : public USMAuth {
public:
    AuthSHA384();
};

// usmHMAC384SHA512AuthProtocol: 64-octet keys, 48-octet digests.
class AuthSHA512 : public USMAuth {
public:
    AuthSHA512();
};

// The protocol object for `protocol`, or null for none (USMAuthNone and any
// value without a protocol).
std::unique_ptr<USMAuth> MakeAuth(USMAuthProtocol protocol);

}  // namespace snmp

#endif
