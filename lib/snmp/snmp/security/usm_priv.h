// USM privacy protocols (RFC 3414 section 8, CBC-DES): encryption of an
// outgoing scoped PDU in the message's encode buffer and in-place decryption
// of a received one, on OpenSSL's EVP cipher interface.
#ifndef SNMP_SECURITY_USM_PRIV_H
#define SNMP_SECURITY_USM_PRIV_H

#include <openssl/types.h>

#include "snmp/octet_string.h"

namespace snmp {

class Message;

// A privacy protocol. One object serves one call at a time.
class USMPriv {
public:
    USMPriv() = default;
    USMPriv(const USMPriv&) = delete;
    USMPriv& operator=(const USMPriv&) = delete;
    virtual ~USMPriv();

    // Encrypts the scopedHeader, pduHeader and varBinds pieces of `msg`'s
    // encode buffer into its encryptedPdu piece, as an OCTET STRING element,
    // and sets the three plaintext lengths to 0. `privParams` receives the
    // salt to send. Uses the engine boots of `msg`'s USM object. Returns false
    // (nothing changed) when `key` is too short, the ciphertext would not fit
    // the encryptedPdu buffer, or OpenSSL fails.
    virtual bool Encrypt(const OctetString& key, const Message& msg, OctetString& privParams) = 0;

    // Decrypts in place the encryptedPDU OCTET STRING at `msg` + `offset`
    // (its tag octet) of a received datagram of `msgLen` octets: the
    // plaintext scoped PDU then starts at `offset` and `msgLen` shrinks by
    // the OCTET STRING header and the padding. Returns false (nothing read
    // beyond `msgLen`, `msgLen` unchanged) when the key or salt has the wrong
    // size, the element does not lie inside the datagram, or its length is
    // not a whole number of cipher blocks. Throws Exception type 1 when the
    // element is not an OCTET STRING, or the plaintext is not a SEQUENCE that
    // fits inside it (the usual sign of a wrong key).
    virtual bool Decrypt(const OctetString& key, const OctetString& privParams, unsigned char* msg,
                         unsigned int& msgLen, unsigned int offset) = 0;
};

// CBC-DES: DES key = privacy key octets 0-7, pre-IV = octets 8-15; the salt is
// the engine boots followed by a 32-bit counter, both in network byte order.
// The counter is shared by the whole process (an atomic counter starting at a
// random value), so no two messages of the process share a salt.
class PrivDES : public USMPriv {
public:
    PrivDES() = default;

    bool Encrypt(const OctetString& key, const Message& msg, OctetString& privParams) override;
    bool Decrypt(const OctetString& key, const OctetString& privParams, unsigned char* msg,
                 unsigned int& msgLen, unsigned int offset) override;

    // The next value of the process-wide salt counter (post-increment).
    static unsigned int NextSaltCounter();

    static constexpr unsigned int kSaltLength = 8;
    static constexpr unsigned int kMinKeyLength = 16;
    static constexpr unsigned int kBlockSize = 8;
    // Room kept in front of the ciphertext for its OCTET STRING header.
    static constexpr unsigned int kHeaderRoom = 5;
};

}  // namespace snmp

#endif
