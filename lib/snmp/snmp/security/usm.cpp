// SNMPv3 User-based Security Model processing of one message: the security
// parameters on the wire, engine discovery, time windows, digests and privacy.
#include "snmp/security/usm.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cstdint>
#include <memory>

#include "snmp/asn.h"
#include "snmp/exception.h"
#include "snmp/init.h"
#include "snmp/message.h"
#include "snmp/security/usm_auth.h"
#include "snmp/security/usm_priv.h"
#include "snmp/target.h"
#include "snmp/target_lookup.h"
#include "snmp/usm_attributes.h"

namespace snmp {

namespace {

constexpr unsigned int kTagInteger = 0x02;
constexpr unsigned int kTagOctetString = 0x04;
constexpr unsigned int kTagSequence = 0x30;

// SnmpEngineID is 5 to 32 octets, SnmpAdminString user names at most 32.
constexpr unsigned int kMinEngineId = 5;
constexpr unsigned int kMaxEngineId = 32;
constexpr unsigned int kMaxUserName = 32;
// RFC 3414 section 3.2 step 7.
constexpr std::int64_t kTimeWindow = 150;
constexpr unsigned int kMaxEngineBoots = 2147483647;
constexpr std::int64_t kMaxEngineTime = 2147483647;
// Subtracted from the time elapsed since a peer's engine time was learnt, so
// that the estimate errs towards the past.
constexpr std::int64_t kEstimateMargin = 10;

// The securityParams piece: its content starts this far into the storage,
// leaving room for the SEQUENCE header and the OCTET STRING header (each a
// type octet and at most four length octets).
constexpr unsigned int kParamsReserve = 10;
constexpr unsigned int kMaxHeader = 5;

// Every OCTET STRING of received security parameters passes through a
// scratch area of this size: ample for engine ids, user names, digests and
// salts of every protocol, while a larger field is a malformed message.
constexpr unsigned int kScratchSize = 256;

// Releases the lookup's lock on every way out of the block.
class LookupLock {
public:
    explicit LookupLock(TargetLookup& lookup) : lookup_(lookup) { lookup_.Lock(); }
    LookupLock(const LookupLock&) = delete;
    LookupLock& operator=(const LookupLock&) = delete;
    ~LookupLock() { lookup_.Unlock(); }

private:
    TargetLookup& lookup_;
};

// Reads one OCTET STRING field through the scratch area.
void DecodeField(const unsigned char*& p, unsigned int& left, OctetString& out,
                 unsigned int maxLength, int tooLongType) {
    unsigned int type = 0;
    AsnDecodeType(p, left, type);
    if (type != kTagOctetString) throw Exception(1, "security parameter is not an OCTET STRING");
    const unsigned char* peek = p;
    unsigned int peekLeft = left;
    unsigned int length = 0;
    AsnDecodeLength(peek, peekLeft, length);
    if (length > maxLength) throw Exception(tooLongType, "security parameter too long");
    unsigned char scratch[kScratchSize];
    unsigned int size = sizeof scratch;
    AsnDecode(p, left, scratch, size);
    out.Set(scratch, size);
}

void DecodeUnsigned(const unsigned char*& p, unsigned int& left, unsigned int& value) {
    unsigned int type = 0;
    AsnDecodeType(p, left, type);
    if (type != kTagInteger) throw Exception(1, "security parameter is not an INTEGER");
    AsnDecode(p, left, value);
}

}  // namespace

USM::USM(TargetLookup* lookup) : lookup_(lookup) {}

USM::USM(const USM& other)
    : engineId_(other.engineId_),
      engineBoots_(other.engineBoots_),
      engineTime_(other.engineTime_),
      userNameOctets_(other.userNameOctets_),
      userName_(other.userName_),
      lookup_(other.lookup_) {}

USM& USM::operator=(const USM& other) {
    if (this == &other) return *this;
    engineId_ = other.engineId_;
    engineBoots_ = other.engineBoots_;
    engineTime_ = other.engineTime_;
    userNameOctets_ = other.userNameOctets_;
    userName_ = other.userName_;
    lookup_ = other.lookup_;
    authParams_ = OctetString();
    privParams_ = OctetString();
    digestPending_ = false;
    encoded_ = EncodedParams();
    return *this;
}

USM::~USM() {
    // The keys copied from the target go with the message.
    OPENSSL_cleanse(peer_.authKey.Data(), peer_.authKey.Size());
    OPENSSL_cleanse(peer_.privKey.Data(), peer_.privKey.Size());
}

void USM::SetUserName(const std::string& name) {
    userName_ = name;
    userNameOctets_.Set(reinterpret_cast<const unsigned char*>(name.data()),
                        static_cast<unsigned int>(name.size()));
}

std::unique_ptr<Target> USM::TakePeer(const Message& msg, bool outgoing) {
    if (lookup_ == nullptr) throw Exception(201, "no target lookup for the message");
    LookupLock lock(*lookup_);
    Target* stored = lookup_->FindTarget(msg);
    if (stored == nullptr) throw Exception(201, "unknown user name");
    USMAttributes* attributes = stored->SecAttributes();
    std::unique_ptr<Target> copy;
    if (outgoing) {
        if (attributes != nullptr && attributes->KeyChange())
            copy = std::make_unique<Target>(*stored);
    } else {
        // The same test InTimeWindow makes before it adopts the received
        // engine data.
        const bool newer =
            engineBoots_ > stored->EngineBoots() ||
            (engineBoots_ == stored->EngineBoots() && engineTime_ > stored->LastEngineTime());
        const bool adopts = lookup_->GetType() != TypeServer &&
                            msg.SecurityLevel() != SecLevelNoAuthNoPriv && newer;
        if (stored->EngineId().Empty() || adopts) copy = std::make_unique<Target>(*stored);
    }
    CopyPeer(*stored);
    if (outgoing && attributes != nullptr && !attributes->UnknownUser().empty())
        attributes->SetUnknownUser(std::string());
    return copy;
}

void USM::CopyPeer(const Target& target) {
    peer_.engineId = target.EngineId();
    peer_.engineBoots = target.EngineBoots();
    peer_.engineTime = target.EngineTime();
    peer_.lastEngineTime = target.LastEngineTime();
    peer_.timeStamp = target.TimeStamp();
    peer_.authKey = target.AuthKey();
    peer_.privKey = target.PrivKey();
    const USMAttributes* attributes = target.SecAttributes();
    peer_.hasAttributes = attributes != nullptr;
    if (attributes != nullptr) {
        peer_.userName =
            attributes->UnknownUser().empty() ? attributes->UserName() : attributes->UnknownUser();
        peer_.keyChange = attributes->KeyChange();
        peer_.authProtocol = attributes->AuthProtocol();
        peer_.privProtocol = attributes->PrivProtocol();
    } else {
        peer_.userName.clear();
        peer_.keyChange = false;
        peer_.authProtocol = USMAuthNone;
        peer_.privProtocol = USMPrivNone;
    }
}

USMAuth* USM::Auth() {
    if (!peer_.hasAttributes) return nullptr;
    if (auth_ == nullptr || authFor_ != peer_.authProtocol) {
        auth_ = MakeAuth(peer_.authProtocol);
        authFor_ = peer_.authProtocol;
    }
    return auth_.get();
}

USMPriv* USM::Priv() {
    if (!peer_.hasAttributes) return nullptr;
    if (priv_ == nullptr || privFor_ != peer_.privProtocol) {
        priv_ = MakePriv(peer_.privProtocol);
        privFor_ = peer_.privProtocol;
    }
    return priv_.get();
}

bool USM::ProcessOutgoing(const Message& msg, bool /*reuse*/) {
    // The encoder's reuse flag is not followed here: a kept salt or digest
    // would be stale once anything else in the message changed, so the
    // parameters are always rebuilt and the digest always recomputed.
    const v3SecurityLevel level = msg.SecurityLevel();
    std::unique_ptr<Target> copy = TakePeer(msg, true);
    USMAuth* auth = Auth();
    const bool keyChange = copy != nullptr;

    if (!digestPending_ || level == SecLevelNoAuthNoPriv) {
        engineTime_ = EstimateEngineTime();
        engineBoots_ = peer_.engineBoots;
        engineId_ = peer_.engineId;
        SetUserName(peer_.userName);
        privParams_.Resize(0);
        // A message re-encoded below authPriv must not carry the ciphertext
        // of an earlier encode.
        MsgEncBuf* enc = msg.EncBuffer();
        if (enc != nullptr && level != SecLevelAuthPriv) enc->encryptedPdu.length = 0;
        if (level == SecLevelAuthPriv) {
            USMPriv* priv = Priv();
            if (auth == nullptr || priv == nullptr)
                throw Exception(20, "authPriv needs authentication and privacy protocols");
            if (!priv->Encrypt(peer_.privKey, msg, privParams_))
                throw Exception(20, "encryption failed");
        }
        authParams_.Resize(0);
        if (level == SecLevelAuthNoPriv || level == SecLevelAuthPriv) {
            if (auth == nullptr || digestPending_)
                throw Exception(19, "authentication not possible");
            authParams_.Set(auth->DigestLength(), 0);
            digestPending_ = true;
        }
        EncodeParams(msg);
        if (digestPending_ && keyChange) lookup_->UpdateTarget(copy.get(), msg);
        return true;
    }

    // The signing call: the whole message is assembled around the zeroed
    // digest field, which the digest now replaces in place.
    if (auth == nullptr || peer_.authKey.Empty())
        throw Exception(19, "authentication not possible");
    MsgEncBuf* enc = msg.EncBuffer();
    const unsigned int digestLength = authParams_.Size();
    if (enc == nullptr || !encoded_.valid || enc->securityParams.start != encoded_.start ||
        encoded_.authOffset + digestLength > enc->securityParams.length)
        throw Exception(19, "no security parameters to sign");
    unsigned char* field = enc->securityParams.start + encoded_.authOffset;
    std::fill(field, field + digestLength, 0);
    if (!auth->CreateDigest(peer_.authKey, msg, authParams_) || authParams_.Size() != digestLength)
        throw Exception(19, "digest could not be computed");
    std::copy(authParams_.Data(), authParams_.Data() + digestLength, field);
    if (keyChange) lookup_->UpdateTarget(copy.get(), msg);
    return true;
}

void USM::EncodeParams(const Message& msg) {
    encoded_ = EncodedParams();
    MsgEncBuf* enc = msg.EncBuffer();
    if (enc == nullptr || enc->securityParams.buffer == nullptr)
        throw Exception(11, "no buffer for the security parameters");
    MsgEncPiece& piece = enc->securityParams;
    const unsigned int storage = std::min(piece.capacity, msg.MaxEnc());
    if (storage < kParamsReserve) throw CAsnException("[AsnEncode] buffer too small");

    unsigned char* const content = piece.buffer + kParamsReserve;
    unsigned char* p = content;
    unsigned int room = storage - kParamsReserve;
    AsnEncode(p, room, engineId_.Data(), engineId_.Size(), kTagOctetString);
    AsnEncode(p, room, engineBoots_, kTagInteger);
    AsnEncode(p, room, engineTime_, kTagInteger);
    AsnEncode(p, room, userNameOctets_.Data(), userNameOctets_.Size(), kTagOctetString);
    AsnEncode(p, room, authParams_.Data(), authParams_.Size(), kTagOctetString);
    const auto authContent = static_cast<unsigned int>(p - content) - authParams_.Size();
    AsnEncode(p, room, privParams_.Data(), privParams_.Size(), kTagOctetString);
    const auto contentLength = static_cast<unsigned int>(p - content);

    unsigned char* start = content;
    unsigned int headerRoom = kMaxHeader;
    AsnEncodeSequence(start, headerRoom, contentLength, kTagSequence);
    const auto sequenceLength = static_cast<unsigned int>(p - start);

    unsigned char header[32];
    unsigned char* h = header;
    unsigned int headerLeft = sizeof header;
    AsnEncodeType(h, headerLeft, kTagOctetString);
    AsnEncodeLength(h, headerLeft, sequenceLength);
    const auto headerLength = static_cast<unsigned int>(h - header);
    if (headerLength > kMaxHeader) throw Exception(14, "security parameters too long");
    start -= headerLength;
    std::copy(header, h, start);

    piece.start = start;
    piece.length = static_cast<unsigned int>(p - start);
    encoded_.start = start;
    encoded_.authOffset = static_cast<unsigned int>(content - start) + authContent;
    encoded_.valid = true;
}

unsigned int USM::EstimateEngineTime() const {
    if (lookup_->GetType() == TypeServer) return peer_.engineTime;
    if (peer_.engineTime == 0) return engineTime_;
    if (peer_.timeStamp == 0) return peer_.engineTime;
    // Elapsed time since the engine time was learnt, less the margin, in
    // signed arithmetic: a wall clock set back, or a margin larger than the
    // elapsed time, must not wrap the estimate around to a huge value.
    const std::int64_t now = snmp::TimeStamp();
    const std::int64_t elapsed = std::max<std::int64_t>(0, now - peer_.timeStamp);
    const std::int64_t estimate =
        static_cast<std::int64_t>(peer_.engineTime) + elapsed - kEstimateMargin;
    return static_cast<unsigned int>(std::clamp<std::int64_t>(estimate, 0, kMaxEngineTime));
}

bool USM::ProcessIncoming(const Message& msg, unsigned char* data, unsigned int& size,
                          unsigned int paramsOffset, unsigned int pduOffset) {
    const v3SecurityLevel level = msg.SecurityLevel();
    if (data != nullptr && paramsOffset < pduOffset && pduOffset <= size) {
        DecodeParams(data + paramsOffset, pduOffset - paramsOffset, paramsOffset);
    } else {
        const OctetString params = msg.SecurityParams();
        DecodeParams(params.Data(), params.Size(), paramsOffset);
    }
    if (engineId_.Size() < kMinEngineId || engineId_.Size() > kMaxEngineId)
        throw Exception(200, "unknown engine id");

    std::unique_ptr<Target> copy = TakePeer(msg, false);
    if (copy != nullptr && copy->EngineId().Empty()) {
        // The peer's engine is discovered: localise the keys to it and let
        // the host keep both.
        copy->SetEngineId(engineId_);
        copy->CalculateKeys();
        lookup_->UpdateTarget(copy.get(), msg);
        CopyPeer(*copy);
    }
    USMAuth* auth = Auth();
    if (level != SecLevelNoAuthNoPriv) {
        if (auth == nullptr) throw Exception(202, "unsupported security level");
        if (!auth->VerifyDigest(peer_.authKey, authParams_, data, size, paramsOffset))
            throw Exception(203, "wrong digest");
        if (!InTimeWindow(copy.get(), msg)) throw Exception(204, "not in time window");
    }
    if (level == SecLevelAuthPriv) {
        USMPriv* priv = Priv();
        if (priv == nullptr) throw Exception(202, "unsupported security level");
        if (!priv->Decrypt(peer_.privKey, privParams_, engineBoots_, engineTime_, data, size,
                           pduOffset))
            throw Exception(205, "decryption error");
    }
    return true;
}

bool USM::InTimeWindow(Target* copy, const Message& msg) {
    if (lookup_->GetType() == TypeServer) {
        const std::int64_t difference =
            static_cast<std::int64_t>(peer_.engineTime) - static_cast<std::int64_t>(engineTime_);
        return engineBoots_ == peer_.engineBoots && difference <= kTimeWindow &&
               difference >= -kTimeWindow;
    }
    if (engineBoots_ > peer_.engineBoots ||
        (engineBoots_ == peer_.engineBoots && engineTime_ > peer_.lastEngineTime)) {
        peer_.engineBoots = engineBoots_;
        peer_.engineTime = engineTime_;
        peer_.lastEngineTime = engineTime_;
        // TakePeer made the copy for this, by the same test.
        if (copy != nullptr) {
            copy->SetEngineBoots(engineBoots_);
            copy->SetEngineTime(engineTime_);
            copy->SetLastEngineTime(engineTime_);
            lookup_->UpdateTarget(copy, msg);
        }
    }
    if (peer_.engineBoots == kMaxEngineBoots || peer_.engineBoots > engineBoots_) return false;
    if (engineBoots_ == peer_.engineBoots &&
        static_cast<std::int64_t>(engineTime_) + kTimeWindow < peer_.lastEngineTime)
        return false;
    return true;
}

void USM::DecodeParams(const unsigned char* params, unsigned int size, unsigned int& paramsOffset) {
    const unsigned char* const begin = params;
    const unsigned char* p = begin;
    unsigned int left = size;
    unsigned int type = 0;
    unsigned int length = 0;
    AsnDecodeType(p, left, type);
    if (type != kTagSequence) throw Exception(1, "security parameters are not a SEQUENCE");
    AsnDecodeLength(p, left, length);
    if (length != left) throw Exception(5, "security parameters length mismatch");

    DecodeField(p, left, engineId_, kScratchSize, 1);
    DecodeUnsigned(p, left, engineBoots_);
    DecodeUnsigned(p, left, engineTime_);
    DecodeField(p, left, userNameOctets_, kMaxUserName, 0);
    userName_.assign(userNameOctets_.Data() == nullptr
                         ? ""
                         : reinterpret_cast<const char*>(userNameOctets_.Data()),
                     userNameOctets_.Size());

    // The datagram index of the digest's first octet, for VerifyDigest.
    const unsigned char* peek = p;
    unsigned int peekLeft = left;
    AsnDecodeType(peek, peekLeft, type);
    if (type == kTagOctetString) AsnDecodeLength(peek, peekLeft, length);
    DecodeField(p, left, authParams_, kScratchSize, 1);
    paramsOffset += static_cast<unsigned int>(peek - begin);

    DecodeField(p, left, privParams_, kScratchSize, 1);
    if (left != 0) throw Exception(1, "octets after the security parameters");
}

}  // namespace snmp
