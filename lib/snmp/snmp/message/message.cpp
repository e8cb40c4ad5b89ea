// The message model: construction, copying, building operations, the class-wide size limits and
// the encode record that encoding and decoding work in.
#include <stdexcept>

#include "snmp/message.h"
#include "snmp/security/usm.h"
#include "snmp/target.h"

namespace snmp {

unsigned int Message::_maxenc = 1400;
unsigned int Message::_maxvbenc = 1400 - 128;

namespace {

const OctetString kEmptyOctets;
const std::string kEmptyText;

void AllocPiece(MsgEncPiece& piece, unsigned int size) {
    piece.buffer = new unsigned char[size];
    piece.capacity = size;
    piece.start = piece.buffer;
    piece.length = 0;
}

void FreePiece(MsgEncPiece& piece) {
    delete[] piece.buffer;
    piece = MsgEncPiece();
}

}  // namespace

MsgEncBuf::MsgEncBuf() {
    msgHeader.buffer = msgHeaderArea;
    msgHeader.capacity = sizeof(msgHeaderArea);
    msgHeader.start = msgHeaderArea;
    pduHeader.buffer = pduHeaderArea;
    pduHeader.capacity = sizeof(pduHeaderArea);
    pduHeader.start = pduHeaderArea;
}

MsgEncBuf::~MsgEncBuf() {
    FreePiece(globalData);
    FreePiece(securityParams);
    FreePiece(scopedHeader);
    FreePiece(encryptedPdu);
    FreePiece(varBinds);
    FreePiece(varBind);
    // The scratch was allocated as unsigned int storage so that arcs can be decoded into it.
    delete[] reinterpret_cast<unsigned int*>(decodeBuf);
}

MsgEncBuf* Message::AllocEnc() {
    auto* buf = new MsgEncBuf();
    try {
        AllocV3Pieces(*buf);
        AllocVarBindPieces(*buf);
        AllocDecodeBuf(*buf);
    } catch (...) {
        delete buf;
        throw;
    }
    return buf;
}

void Message::FreeEnc(MsgEncBuf* buf) {
    delete buf;
}

void Message::AllocV3Pieces(MsgEncBuf& buf) {
    for (MsgEncPiece* piece :
         {&buf.globalData, &buf.securityParams, &buf.scopedHeader, &buf.encryptedPdu}) {
        if (piece->buffer == nullptr) AllocPiece(*piece, _maxenc);
    }
}

bool Message::AllocVarBindPieces(MsgEncBuf& buf) {
    if (buf.varBinds.buffer != nullptr) return false;
    AllocPiece(buf.varBinds, _maxvbenc);
    return true;
}

void Message::AllocDecodeBuf(MsgEncBuf& buf) {
    if (buf.decodeBuf != nullptr) return;
    const unsigned int words = (_maxvbenc + sizeof(unsigned int) - 1) / sizeof(unsigned int);
    buf.decodeBuf = reinterpret_cast<unsigned char*>(new unsigned int[words]);
    buf.decodeSize = _maxvbenc;
}

void Message::SetMaxMessageSize(unsigned int size) {
    // The binding room is the size less 128: a smaller size would wrap it to gigabytes.
    if (size <= 128)
        throw std::invalid_argument("Message::SetMaxMessageSize needs a size above 128");
    _maxenc = size;
    _maxvbenc = size - 128;
}

Message::Message() : msgMaxSize_(static_cast<int>(MaxMessageSize())) {}

Message::Message(const Message& other) : msgMaxSize_(static_cast<int>(MaxMessageSize())) {
    CopyFrom(other);
}

Message& Message::operator=(const Message& other) {
    if (this == &other) return *this;
    ResetEnc();
    CopyFrom(other);
    return *this;
}

Message::~Message() {
    if (ownsEncBuf_) {
        FreeEnc(enc_);
    } else if (enc_ != nullptr && enc_->lastEncoded == this) {
        // A later message at this address must not take the pieces for its own.
        enc_->lastEncoded = nullptr;
    }
}

void Message::CopyFrom(const Message& other) {
    raw_ = other.raw_;
    srcAddr_ = other.srcAddr_;
    dstAddr_ = other.dstAddr_;
    srcPort_ = other.srcPort_;
    dstPort_ = other.dstPort_;
    version_ = other.version_;
    community_ = other.community_;
    vbs_ = other.vbs_;
    type_ = other.type_;
    requestId_ = other.requestId_;
    errStat_ = other.errStat_;
    errIndex_ = other.errIndex_;
    nonReps_ = other.nonReps_;
    maxReps_ = other.maxReps_;
    enterprise_ = other.enterprise_;
    agentAddr_ = other.agentAddr_;
    genType_ = other.genType_;
    specType_ = other.specType_;
    stamp_ = other.stamp_;
    if (other.version_ != SnmpVersionV3) return;
    msgId_ = other.msgId_;
    msgMaxSize_ = other.msgMaxSize_;
    reportable_ = other.reportable_;
    securityLevel_ = other.securityLevel_;
    securityModel_ = other.securityModel_;
    contextName_ = other.contextName_;
    contextEngineId_ = other.contextEngineId_;
    security_.reset(other.security_ ? new USM(*other.security_) : nullptr);
}

void Message::Init(SnmpVersion version, PduType type, const ObjectId& trapOid, unsigned long upTime,
                   const VarBindList& vbs) {
    ResetEnc();
    srcPort_ = 0;
    dstPort_ = 0;
    type_ = type;
    version_ = version;
    if (version == SnmpVersionV3 && type != PduInformRequest) reportable_ = false;
    community_.clear();

    static const unsigned int kSysUpTime[] = {1, 3, 6, 1, 2, 1, 1, 3, 0};
    static const unsigned int kSnmpTrapOid[] = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};
    AsnValue ticks(0x43);
    ticks.SetTicks(static_cast<unsigned int>(upTime));
    AsnValue oid(0x06);
    oid.SetObjid(trapOid);
    VarBindList list;
    list.emplace_back(ObjectId(kSysUpTime, sizeof(kSysUpTime) / sizeof(kSysUpTime[0])), ticks);
    list.emplace_back(ObjectId(kSnmpTrapOid, sizeof(kSnmpTrapOid) / sizeof(kSnmpTrapOid[0])), oid);
    list.insert(list.end(), vbs.begin(), vbs.end());
    vbs_.swap(list);
}

void Message::Init(unsigned int type, const ObjectId& enterprise, unsigned long agentAddr,
                   unsigned int genericTrap, unsigned int specificTrap, unsigned int timeStamp,
                   const VarBindList& vbs) {
    ResetEnc();
    srcPort_ = 0;
    dstPort_ = 0;
    version_ = SnmpVersionV1;
    community_.clear();
    type_ = type;
    enterprise_ = enterprise;
    agentAddr_ = brask::IpAddr(static_cast<std::uint32_t>(agentAddr));
    genType_ = static_cast<int>(genericTrap);
    specType_ = static_cast<int>(specificTrap);
    stamp_ = timeStamp;
    vbs_ = vbs;
}

void Message::SetTarget(Target& target) {
    dstAddr_ = target.Addr();
    dstPort_ = target.Port();
    version_ = target.Version();
    if (version_ == SnmpVersionV1 || version_ == SnmpVersionV2c) {
        community_ = target.Community() + target.ContextName();
    } else if (version_ == SnmpVersionV3) {
        securityLevel_ = target.SecLevel();
        contextName_ = target.ContextName();
        contextEngineId_ = target.EngineId();
    }
}

void Message::InitSecurity(TargetLookup* lookup) {
    if (security_) return;
    security_.reset(new USM(lookup));
    securityModel_ = SecModelUSM;
}

const std::string& Message::UserName() const {
    return security_ ? security_->UserName() : kEmptyText;
}

void Message::SetUserName(const std::string& name) {
    if (!security_) throw std::logic_error("Message::SetUserName needs InitSecurity first");
    security_->SetUserName(name);
}

const OctetString& Message::EngineId() const {
    return security_ ? security_->EngineId() : kEmptyOctets;
}

void Message::SetEngineId(const OctetString& engineId) {
    if (!security_) throw std::logic_error("Message::SetEngineId needs InitSecurity first");
    security_->SetEngineId(engineId);
}

void Message::ClearVarBinds() {
    vbs_.clear();
}

void Message::ClearValues() {
    for (VarBind& vb : vbs_) vb.Value().SetType(0x05);
}

void Message::SwapAddrs() {
    std::swap(srcAddr_, dstAddr_);
    std::swap(srcPort_, dstPort_);
}

void Message::SetEnc(MsgEncBuf* buf) const {
    if (buf == enc_) {
        ownsEncBuf_ = buf == nullptr || ownsEncBuf_;
        return;
    }
    if (ownsEncBuf_) FreeEnc(enc_);
    enc_ = buf;
    ownsEncBuf_ = buf == nullptr;
}

void Message::ResetEnc() const {
    if (enc_ != nullptr) enc_->lastEncoded = nullptr;
}

MsgEncBuf& Message::EnsureEnc() const {
    if (enc_ == nullptr) {
        enc_ = new MsgEncBuf();
        ownsEncBuf_ = true;
    }
    return *enc_;
}

}  // namespace snmp
