// Per-message SNMPv3 USM state (the msgSecurityParameters fields of one
// message) and the User-based Security Model processing that fills them for an
// outgoing message and checks them for a received one.
#ifndef SNMP_SECURITY_USM_H
#define SNMP_SECURITY_USM_H

#include <memory>
#include <string>

#include "snmp/octet_string.h"
#include "snmp/usm_attributes.h"

namespace snmp {

class Message;
class Target;
class TargetLookup;
class USMAuth;
class USMPriv;

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
    // follows it. When the two offsets frame the parameters inside `data`
    // they are read there (the same octets, without a copy). Decodes the parameters into this
    // object, learns the peer's engine, verifies the digest (zeroing it in `data`), checks the time
    // window and decrypts the scoped PDU in place, shortening `size`.
    // Returns true or throws (types 0, 1, 5, 200 to 205; codec errors pass
    // through).
    bool ProcessIncoming(const Message& msg, unsigned char* data, unsigned int& size,
                         unsigned int paramsOffset, unsigned int pduOffset);

private:
    // What the processing of one message needs of the peer's stored target,
    // copied under the lookup's lock into storage this object keeps: a run of
    // messages copies no Target and, once the strings have their sizes,
    // allocates nothing for it.
    struct Peer {
        OctetString engineId;
        unsigned int engineBoots = 0;
        unsigned int engineTime = 0;
        unsigned int lastEngineTime = 0;
        unsigned int timeStamp = 0;
        OctetString authKey;
        OctetString privKey;
        // The name an outgoing message carries: the unknown-user name when
        // one is set, else the user name.
        std::string userName;
        bool hasAttributes = false;
        bool keyChange = false;
        USMAuthProtocol authProtocol = USMAuthNone;
        USMPrivProtocol privProtocol = USMPrivNone;
    };

    // Finds the message's target under the lookup's lock and copies what
    // the processing needs into peer_; an outgoing message also consumes the
    // stored target's unknown-user name. Returns a full copy of the target
    // as well when the processing will hand one to UpdateTarget: for an
    // outgoing message of a user with a key change under way; for a received
    // one whose peer's engine is not yet known, or (on the client side, for
    // an authenticated message) whose engine boots and time are newer than
    // the stored ones. Throws 201 when no target is found.
    std::unique_ptr<Target> TakePeer(const Message& msg, bool outgoing);
    void CopyPeer(const Target& target);
    // This object's protocol objects for peer_'s protocols (made when the
    // protocols change), or null when the user has none.
    USMAuth* Auth();
    USMPriv* Priv();

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
    void DecodeParams(const unsigned char* params, unsigned int size, unsigned int& paramsOffset);
    unsigned int EstimateEngineTime() const;
    // May adopt newer engine data into peer_ and `copy` (the full copy
    // TakePeer made for it), and hand `copy` to the lookup.
    bool InTimeWindow(Target* copy, const Message& msg);

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
    Peer peer_;
    std::unique_ptr<USMAuth> auth_;
    USMAuthProtocol authFor_ = USMAuthNone;  // the protocol auth_ was made for
    std::unique_ptr<USMPriv> priv_;
    USMPrivProtocol privFor_ = USMPrivNone;
};

}  // namespace snmp

#endif
