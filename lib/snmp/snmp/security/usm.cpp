// SNMPv3 User-based Security Model processing of one message: the security
// parameters on the wire, engine discovery, time windows, digests and privacy.
#include "snmp/security/usm.h"

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

// Finds the message's target and copies it while the lookup is locked; an
// outgoing message also consumes the stored target's unknown-user name.
std::unique_ptr<Target> TakeTarget(TargetLookup* lookup, const Message& msg, bool outgoing) {
    if (lookup == nullptr) throw Exception(201, "no target lookup for the message");
    LookupLock lock(*lookup);
    Target* stored = lookup->FindTarget(msg);
    if (stored == nullptr) throw Exception(201, "unknown user name");
    auto copy = std::make_unique<Target>(*stored);
    USMAttributes* attributes = stored->SecAttributes();
    if (outgoing && attributes != nullptr && !attributes->UnknownUser().empty())
        attributes->SetUnknownUser(std::string());
    return copy;
}

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

USM::~USM() = default;

void USM::SetUserName(const std::string& name) {
    userName_ = name;
    userNameOctets_ = OctetString(name);
}

bool USM::ProcessOutgoing(const Message& msg, bool /*reuse*/) {
    // The encoder's reuse flag is not followed here: a kept salt or digest
    // would be stale once anything else in the message changed, so the
    // parameters are always rebuilt and the digest always recomputed.
    const v3SecurityLevel level = msg.SecurityLevel();
    std::unique_ptr<Target> target = TakeTarget(lookup_, msg, true);
    const USMAttributes* attributes = target->SecAttributes();
    USMAuth* auth = attributes != nullptr ? attributes->Auth() : nullptr;
    const bool keyChange = attributes != nullptr && attributes->KeyChange();

    if (!digestPending_ || level == SecLevelNoAuthNoPriv) {
        engineTime_ = EstimateEngineTime(*target);
        engineBoots_ = target->EngineBoots();
        engineId_ = target->EngineId();
        if (attributes != nullptr) {
            SetUserName(attributes->UnknownUser().empty() ? attributes->UserName()
                                                          : attributes->UnknownUser());
        } else {
            SetUserName(std::string());
        }
        privParams_ = OctetString();
        // A message re-encoded below authPriv must not carry the ciphertext
        // of an earlier encode.
        MsgEncBuf* enc = msg.EncBuffer();
        if (enc != nullptr && level != SecLevelAuthPriv) enc->encryptedPdu.length = 0;
        if (level == SecLevelAuthPriv) {
            USMPriv* priv = attributes != nullptr ? attributes->Priv() : nullptr;
            if (auth == nullptr || priv == nullptr)
                throw Exception(20, "authPriv needs authentication and privacy protocols");
            if (!priv->Encrypt(target->PrivKey(), msg, privParams_))
                throw Exception(20, "encryption failed");
        }
        authParams_ = OctetString();
        if (level == SecLevelAuthNoPriv || level == SecLevelAuthPriv) {
            if (auth == nullptr || digestPending_)
                throw Exception(19, "authentication not possible");
            authParams_.Set(auth->DigestLength(), 0);
            digestPending_ = true;
        }
        EncodeParams(msg);
        if (digestPending_ && keyChange) lookup_->UpdateTarget(target.get(), msg);
        return true;
    }

    // The signing call: the whole message is assembled around the zeroed
    // digest field, which the digest now replaces in place.
    if (auth == nullptr || target->AuthKey().Empty())
        throw Exception(19, "authentication not possible");
    MsgEncBuf* enc = msg.EncBuffer();
    const unsigned int digestLength = authParams_.Size();
    if (enc == nullptr || !encoded_.valid || enc->securityParams.start != encoded_.start ||
        encoded_.authOffset + digestLength > enc->securityParams.length)
        throw Exception(19, "no security parameters to sign");
    unsigned char* field = enc->securityParams.start + encoded_.authOffset;
    std::fill(field, field + digestLength, 0);
    OctetString digest;
    if (!auth->CreateDigest(target->AuthKey(), msg, digest) || digest.Size() != digestLength)
        throw Exception(19, "digest could not be computed");
    std::copy(digest.Data(), digest.Data() + digestLength, field);
    authParams_ = digest;
    if (keyChange) lookup_->UpdateTarget(target.get(), msg);
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

unsigned int USM::EstimateEngineTime(const Target& target) const {
    if (lookup_->GetType() == TypeServer) return target.EngineTime();
    if (target.EngineTime() == 0) return engineTime_;
    if (target.TimeStamp() == 0) return target.EngineTime();
    // Elapsed time since the engine time was learnt, less the margin, in
    // signed arithmetic: a wall clock set back, or a margin larger than the
    // elapsed time, must not wrap the estimate around to a huge value.
    const std::int64_t now = snmp::TimeStamp();
    const std::int64_t elapsed = std::max<std::int64_t>(0, now - target.TimeStamp());
    const std::int64_t estimate =
        static_cast<std::int64_t>(target.EngineTime()) + elapsed - kEstimateMargin;
    return static_cast<unsigned int>(std::clamp<std::int64_t>(estimate, 0, kMaxEngineTime));
}

bool USM::ProcessIncoming(const Message& msg, unsigned char* data, unsigned int& size,
                          unsigned int paramsOffset, unsigned int pduOffset) {
    const v3SecurityLevel level = msg.SecurityLevel();
    DecodeParams(msg.SecurityParams(), paramsOffset);
    if (engineId_.Size() < kMinEngineId || engineId_.Size() > kMaxEngineId)
        throw Exception(200, "unknown engine id");

    std::unique_ptr<Target> target = TakeTarget(lookup_, msg, false);
    if (target->EngineId().Empty()) {
        // The peer's engine is discovered: localise the keys to it and let
        // the host keep both.
        target->SetEngineId(engineId_);
        target->CalculateKeys();
        lookup_->UpdateTarget(target.get(), msg);
    }
    const USMAttributes* attributes = target->SecAttributes();
    USMAuth* auth = attributes != nullptr ? attributes->Auth() : nullptr;
    if (level != SecLevelNoAuthNoPriv) {
        if (auth == nullptr) throw Exception(202, "unsupported security level");
        if (!auth->VerifyDigest(target->AuthKey(), authParams_, data, size, paramsOffset))
            throw Exception(203, "wrong digest");
        if (!InTimeWindow(*target, msg)) throw Exception(204, "not in time window");
    }
    if (level == SecLevelAuthPriv) {
        USMPriv* priv = attributes->Priv();
        if (priv == nullptr) throw Exception(202, "unsupported security level");
        if (!priv->Decrypt(target->PrivKey(), privParams_, engineBoots_, engineTime_, data, size,
                           pduOffset))
            throw Exception(205, "decryption error");
    }
    return true;
}

bool USM::InTimeWindow(Target& target, const Message& msg) const {
    if (lookup_->GetType() == TypeServer) {
        const std::int64_t difference =
            static_cast<std::int64_t>(target.EngineTime()) - static_cast<std::int64_t>(engineTime_);
        return engineBoots_ == target.EngineBoots() && difference <= kTimeWindow &&
               difference >= -kTimeWindow;
    }
    if (engineBoots_ > target.EngineBoots() ||
        (engineBoots_ == target.EngineBoots() && engineTime_ > target.LastEngineTime())) {
        target.SetEngineBoots(engineBoots_);
        target.SetEngineTime(engineTime_);
        target.SetLastEngineTime(engineTime_);
        lookup_->UpdateTarget(&target, msg);
    }
    if (target.EngineBoots() == kMaxEngineBoots || target.EngineBoots() > engineBoots_)
        return false;
    if (engineBoots_ == target.EngineBoots() &&
        static_cast<std::int64_t>(engineTime_) + kTimeWindow < target.LastEngineTime())
        return false;
    return true;
}

void USM::DecodeParams(const OctetString& params, unsigned int& paramsOffset) {
    const unsigned char* const begin = params.Data();
    const unsigned char* p = begin;
    unsigned int left = params.Size();
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
