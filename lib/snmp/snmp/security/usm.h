// Per-message SNMPv3 USM state (the msgSecurityParameters fields of one
// message) and the User-based Security Model processing that fills them for an
// outgoing message and checks them for a received one.
#ifndef SNMP_SECURITY_USM_H
#define SNMP_SECURITY_USM_H

#include <string>

#include "snmp/octet_string.h"

namespace snmp {

class Message;
class Target;
class TargetLookup;

// Owned by its Message (Message::InitSecurity) and used by one thread at a time.
//
// Exception types thrown by the processing:
//   0   received msgUserName longer than 32 octets
//   1   security parameters with a wrong tag, a field longer than the decoder's
//       scratch area, or octets after the last field
//   5   security-parameters SEQUENCE length differs from the octets available
//   14  the msgSecurityParameters OCTET STRING header would exceed 5 octets
//   19  authentication impossible: no authentication protocol, no key, or a
//       digest already pending
//   20  authPriv without both protocols, or the encryption failed
//   200 received authoritative engine id shorter than 5 or longer than 32 octets
//   201 the lookup knows no target for the message
//   202 the message's security level needs a protocol the user lacks
//   203 the digest does not verify
//   204 the message is outside the time window
//   205 the decryption failed
// Codec errors of the BER functions (CAsnException) pass through unchanged.
class USM {
public:
    // Empty strings, boots and time 0, no digest pending, bound to `lookup`
    // (not owned; may be null until the message is processed).
    explicit USM(TargetLookup* lookup = nullptr);
    // Copies engine id, boots, time, both forms of the user name and the
    // lookup; the copy starts with empty authentication and privacy
    // parameters and no digest pending.
    USM(const USM& other);
    // The same rule as the copy constructor.
    USM& operator=(const USM& other);
    ~USM();

    // msgAuthoritativeEngineID, -Boots and -Time as last sent or received.
    const OctetString& EngineId() const { return engineId_; }
    void SetEngineId(const OctetString& engineId) { engineId_ = engineId; }
    unsigned int EngineBoots() const { return engineBoots_; }
    void SetEngineBoots(unsigned int boots) { engineBoots_ = boots; }
    unsigned int EngineTime() const { return engineTime_; }
    void SetEngineTime(unsigned int engineTime) { engineTime_ = engineTime; }
    // msgUserName as octets, and as text; SetUserName sets both.
    const OctetString& UserNameOctets() const { return userNameOctets_; }
    const std::string& UserName() const { return userName_; }
    void SetUserName(const std::string& name);
    // msgAuthenticationParameters and msgPrivacyParameters.
    const OctetString& AuthParams() const { return authParams_; }
    const OctetString& PrivParams() const { return privParams_; }

    TargetLookup* Lookup() const { return lookup_; }
    void SetLookup(TargetLookup* lookup) { lookup_ = lookup; }

    // True between the filling call of ProcessOutgoing for an authenticated
    // message and its signing call. The encoder clears it before each encode.
    bool DigestPending() const { return digestPending_; }
    void SetDigestPending(bool pending) { digestPending_ = pending; }

    // Called by encoding once the scoped PDU pieces of `msg` (whose USM object
    // this is) are built, and, for authenticated levels, a second time after
    // the whole message is assembled. The filling call takes the peer's
    // target through the lookup, sets engine id, boots, estimated engine time
    // and user name, encrypts the scoped PDU for authPriv, leaves a zeroed
    // digest for authenticated levels and writes the securityParams piece.
    // The signing call computes the digest over the assembled pieces and
    // writes it into the piece, whose length does not change. `reuse` is
    // accepted for the encoder's sake but the parameters are always rebuilt
    // and the digest always recomputed: kept ones would be stale. Returns
    // true or throws (types 11, 14, 19, 20, 201; codec errors pass through).
    bool ProcessOutgoing(const Message& msg, bool reuse);

    // Called by decoding once the SNMPv3 header of `msg` is decoded and its
    // SecurityParams() hold the msgSecurityParameters octets. `data`/`size`
    // are the datagram; `paramsOffset` indexes the first octet inside the
    // msgSecurityParameters OCTET STRING and `pduOffset` the tag of what
    // follows it. Decodes the parameters into this object, learns the peer's
    // engine, verifies the digest (zeroing it in `data`), checks the time
    // window and decrypts the scoped PDU in place, shortening `size`.
    // Returns true or throws (types 0, 1, 5, 200 to 205; codec errors pass
    // through).
    bool ProcessIncoming(const Message& msg, unsigned char* data, unsigned int& size,
                         unsigned int paramsOffset, unsigned int pduOffset);

private:
    // Where the last encoded securityParams piece started and where in it
    // the authentication parameters' content lies, for the signing call.
    struct EncodedParams {
        unsigned char* start = nullptr;
        unsigned int authOffset = 0;
        bool valid = false;
    };

    // Writes the securityParams piece of `msg`'s encode buffer from the fields.
    void EncodeParams(const Message& msg);
    // Reads the fields from received msgSecurityParameters octets and moves
    // `paramsOffset` on to the digest's first octet.
    void DecodeParams(const OctetString& params, unsigned int& paramsOffset);
    unsigned int EstimateEngineTime(const Target& target) const;
    // May adopt newer engine data into `target` (and hand it to the lookup).
    bool InTimeWindow(Target& target, const Message& msg) const;

    OctetString engineId_;
    unsigned int engineBoots_ = 0;
    unsigned int engineTime_ = 0;
    OctetString userNameOctets_;
    OctetString authParams_;
    OctetString privParams_;
    std::string userName_;
    TargetLookup* lookup_;
    bool digestPending_ = false;
    EncodedParams encoded_;
};

}  // namespace snmp

#endif
