// SNMP messages of every version (v1, v2c, v3 with USM): the message model, its encoding into
// one datagram, its decoding from one, its printed form, and the SNMPv3 security-name helpers.
#ifndef SNMP_MESSAGE_H
#define SNMP_MESSAGE_H

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "brask/ip_addr.h"
#include "snmp/export.h"
#include "snmp/object_id.h"
#include "snmp/octet_string.h"
#include "snmp/var_bind.h"

namespace snmp {

class Message;
class Target;
class TargetLookup;
class USM;

// The msgVersion / version number on the wire.
enum SnmpVersion : int { SnmpVersionV1 = 0, SnmpVersionV2c = 1, SnmpVersionV3 = 3 };

// The PDU's BER tag.
enum PduType : unsigned int {
    PduGetRequest = 0xA0,
    PduGetNextRequest = 0xA1,
    PduResponse = 0xA2,
    PduSetRequest = 0xA3,
    PduV1Trap = 0xA4,
    PduGetBulkRequest = 0xA5,
    PduInformRequest = 0xA6,
    PduV2Trap = 0xA7,
    PduReport = 0xA8,
};

// RFC 3411 SnmpSecurityLevel.
enum v3SecurityLevel : int {
    SecLevelNoAuthNoPriv = 1,
    SecLevelAuthNoPriv = 2,
    SecLevelAuthPriv = 3
};

// RFC 3411 SnmpSecurityModel.
enum v3SecurityModel : int {
    SecModelAny = 0,
    SecModelSNMPv1 = 1,
    SecModelSNMPv2c = 2,
    SecModelUSM = 3
};

// One piece of an encoded message. The content lies at [start, start + length) inside the
// piece's storage [buffer, buffer + capacity). Pieces are built back to front: the content is
// written at a fixed reserve behind `buffer`, then headers are prepended, moving `start` back.
struct MsgEncPiece {
    unsigned char* buffer = nullptr;  // storage; null until allocated
    unsigned int capacity = 0;        // bytes of storage
    unsigned char* start = nullptr;   // first byte of the piece
    unsigned int length = 0;          // bytes of the piece
};

// The encode record of one message: the pieces that Encode assembles, in wire order, into the
// datagram. A record may be shared by the messages one thread encodes in turn (Message::SetEnc).
// Storage of the heap pieces is released by the record's destructor (Message::FreeEnc).
struct SNMP_API MsgEncBuf {
    MsgEncBuf();
    ~MsgEncBuf();
    MsgEncBuf(const MsgEncBuf&) = delete;
    MsgEncBuf& operator=(const MsgEncBuf&) = delete;

    // Outer message SEQUENCE header; for SNMPv1/v2c also version and community.
    MsgEncPiece msgHeader;
    // PDU tag and length and the PDU fields before the bindings.
    MsgEncPiece pduHeader;
    // SNMPv3 msgVersion and msgGlobalData.
    MsgEncPiece globalData;
    // SNMPv3 msgSecurityParameters (OCTET STRING around the USM SEQUENCE).
    MsgEncPiece securityParams;
    // SNMPv3 scopedPDU header, contextEngineID, contextName.
    MsgEncPiece scopedHeader;
    // SNMPv3 encryptedPDU OCTET STRING (authPriv only).
    MsgEncPiece encryptedPdu;
    // The variable-bindings SEQUENCE.
    MsgEncPiece varBinds;
    // Not used: each binding is encoded in place in varBinds. Left unallocated.
    MsgEncPiece varBind;
    // Scratch for Decode (strings and object identifiers are decoded here first); its storage is
    // aligned for unsigned int arcs.
    unsigned char* decodeBuf = nullptr;
    unsigned int decodeSize = 0;
    // The message whose encode the pieces hold, or null when they are stale (ResetEnc, a
    // failed encode): only that message may keep its header fields in place (EncodeInc).
    const Message* lastEncoded = nullptr;

    // Inline storage of msgHeader and pduHeader.
    unsigned char msgHeaderArea[64];
    unsigned char pduHeaderArea[64];
};

// One SNMP message of any version. Not locked: one thread uses a message at a time.
class SNMP_API Message {
public:
    // SNMPv1, PDU type 5 (none), empty community, reportable, noAuthNoPriv, security model 0,
    // msgMaxSize MaxMessageSize(), no USM state, no encode record.
    Message();
    // Copies addressing, version, community, bindings and every PDU field, and the received
    // datagram's bytes. Only for SNMPv3 also msgID, msgMaxSize, reportable, security level and
    // model, contextName, contextEngineID and a copy of the USM state (when the source has one).
    // The copy has no encode record and empty security parameters.
    Message(const Message& other);
    // ResetEnc, then copies as the copy constructor does; for SNMPv3 the USM state is replaced
    // by a copy of the source's (or none).
    Message& operator=(const Message& other);
    virtual ~Message();

    // ---- Building ------------------------------------------------------------------------------

    // An SNMPv2 trap or inform: ports 0, community empty; the bindings become sysUpTime.0
    // (TimeTicks `upTime`), snmpTrapOID.0 (`trapOid`), then a copy of `vbs`. An SNMPv3 message of
    // a type other than InformRequest becomes non-reportable.
    void Init(SnmpVersion version, PduType type, const ObjectId& trapOid, unsigned long upTime,
              const VarBindList& vbs);
    // An SNMPv1 trap (callers pass type 164): version SNMPv1, ports 0, community empty, the trap
    // fields set (`agentAddr` is a host-order IPv4 number) and the bindings a copy of `vbs`.
    void Init(unsigned int type, const ObjectId& enterprise, unsigned long agentAddr,
              unsigned int genericTrap, unsigned int specificTrap, unsigned int timeStamp,
              const VarBindList& vbs);
    // Destination address, port and version from `target`. SNMPv1/v2c: community = the target's
    // community directly followed by its context name. SNMPv3: security level, contextName and
    // contextEngineID from the target.
    void SetTarget(Target& target);
    // Creates the USM state bound to `lookup` (not owned; it must outlive the message's
    // encoding and decoding) and sets the security model to USM, unless the state exists.
    // Required before an SNMPv3 message is encoded or decoded.
    void InitSecurity(TargetLookup* lookup);
    // Sets every binding's value to NULL, keeping the names.
    void ClearValues();
    // Exchanges source and destination addresses and ports.
    void SwapAddrs();

    // ---- Fields --------------------------------------------------------------------------------

    // The bytes of the datagram last given to Decode, owned by the message (a copy, so they stay
    // valid whatever becomes of the caller's buffer); null and 0 before any Decode.
    const unsigned char* RawData() const { return raw_.empty() ? nullptr : raw_.data(); }
    unsigned int RawSize() const { return static_cast<unsigned int>(raw_.size()); }

    const brask::IpAddr& SrcAddr() const { return srcAddr_; }
    void SetSrcAddr(const brask::IpAddr& addr) { srcAddr_ = addr; }
    const brask::IpAddr& DstAddr() const { return dstAddr_; }
    void SetDstAddr(const brask::IpAddr& addr) { dstAddr_ = addr; }
    unsigned short SrcPort() const { return srcPort_; }
    void SetSrcPort(unsigned short port) { srcPort_ = port; }
    unsigned short DstPort() const { return dstPort_; }
    void SetDstPort(unsigned short port) { dstPort_ = port; }

    SnmpVersion Version() const { return version_; }
    void SetVersion(SnmpVersion version) { version_ = version; }
    const std::string& Community() const { return community_; }
    void SetCommunity(const std::string& community) { community_ = community; }

    const VarBindList& VarBinds() const { return vbs_; }
    VarBindList& VarBinds() { return vbs_; }
    void AddVarBind(const VarBind& vb) { vbs_.push_back(vb); }
    void ClearVarBinds();

    unsigned int Type() const { return type_; }
    void SetType(unsigned int type) { type_ = type; }

    int MsgId() const { return msgId_; }
    void SetMsgId(int id) { msgId_ = id; }
    int MsgMaxSize() const { return msgMaxSize_; }
    void SetMsgMaxSize(int size) { msgMaxSize_ = size; }
    bool Reportable() const { return reportable_; }
    void SetReportable(bool reportable) { reportable_ = reportable; }
    // The msgSecurityParameters octets of the last decoded datagram (encoding does not read it).
    OctetString SecurityParams() const { return securityParams_; }
    void SetSecurityParams(const OctetString& params) { securityParams_ = params; }
    v3SecurityLevel SecurityLevel() const { return securityLevel_; }
    void SetSecurityLevel(v3SecurityLevel level) { securityLevel_ = level; }
    v3SecurityModel SecurityModel() const { return securityModel_; }
    void SetSecurityModel(v3SecurityModel model) { securityModel_ = model; }
    // The USM state, or null before InitSecurity.
    USM* SecAttributes() const { return security_.get(); }

    // The USM user name and authoritative engine id. The getters give empty values without USM
    // state; the setters throw std::logic_error without it (call InitSecurity first).
    const std::string& UserName() const;
    void SetUserName(const std::string& name);
    const OctetString& EngineId() const;
    void SetEngineId(const OctetString& engineId);

    const OctetString& ContextEngineId() const { return contextEngineId_; }
    void SetContextEngineId(const OctetString& id) { contextEngineId_ = id; }
    const OctetString& ContextName() const { return contextName_; }
    void SetContextName(const OctetString& name) { contextName_ = name; }

    // msgID for SNMPv3, the PDU's request-id otherwise.
    int RequestId() const { return version_ == SnmpVersionV3 ? msgId_ : requestId_; }
    // Sets both the PDU's request-id and msgID.
    void SetRequestId(int id) { requestId_ = msgId_ = id; }
    // The PDU's request-id field whatever the version.
    int PduRequestId() const { return requestId_; }
    int ErrStat() const { return errStat_; }
    void SetErrStat(int status) { errStat_ = status; }
    int ErrIndex() const { return errIndex_; }
    void SetErrIndex(int index) { errIndex_ = index; }
    void SetError(int status, int index) {
        errStat_ = status;
        errIndex_ = index;
    }
    int NonReps() const { return nonReps_; }
    void SetNonReps(int n) { nonReps_ = n; }
    int MaxReps() const { return maxReps_; }
    void SetMaxReps(int n) { maxReps_ = n; }

    const ObjectId& Enterprise() const { return enterprise_; }
    void SetEnterprise(const ObjectId& enterprise) { enterprise_ = enterprise; }
    brask::IpAddr AgentAddr() const { return agentAddr_; }
    void SetAgentAddr(const brask::IpAddr& addr) { agentAddr_ = addr; }
    int GenType() const { return genType_; }
    void SetGenType(int type) { genType_ = type; }
    int SpecType() const { return specType_; }
    void SetSpecType(int type) { specType_ = type; }
    unsigned int Stamp() const { return stamp_; }
    void SetStamp(unsigned int stamp) { stamp_ = stamp; }

    // ---- Encode record -------------------------------------------------------------------------

    // The message uses `buf` (owned by the caller, who keeps it alive while the message uses
    // it) from now on; null makes it allocate a record of its own at the next encode or decode.
    // A record the message owned until then is released.
    void SetEnc(MsgEncBuf* buf) const;
    // Marks the encoded pieces stale: the next encode builds every piece anew.
    void ResetEnc() const;
    MsgEncBuf* EncBuffer() const { return enc_; }

    // ---- Sizes ---------------------------------------------------------------------------------

    // _maxenc = size, _maxvbenc = size - 128. Call at start-up; records allocated before keep
    // their sizes. Throws std::invalid_argument for a size of 128 or less (nothing changes).
    static void SetMaxMessageSize(unsigned int size);
    static unsigned int MaxMessageSize() { return _maxenc; }
    static unsigned int MaxEnc() { return _maxenc; }
    // A record with every buffer allocated at the current sizes; release it with FreeEnc.
    static MsgEncBuf* AllocEnc();
    static void FreeEnc(MsgEncBuf* buf);

    // Largest datagram (1400 unless set) and room for the variable-bindings SEQUENCE.
    static unsigned int _maxenc;
    static unsigned int _maxvbenc;

    // ---- Encoding ------------------------------------------------------------------------------

    // Encodes the message into `buffer`; `size` is its capacity on entry and the datagram's
    // length on return. Returns true; every failure throws snmp::Exception:
    //   11 a codec error (the codec's text) or a security level other than 1, 2, 3;
    //   12 a PDU type outside 160..168, a version other than 0, 1, 3, SNMPv3 without USM state;
    //   13 a binding value of a type that cannot be encoded;
    //   14 tooBig: the bindings or the datagram do not fit;
    //   19, 20, 201 from the SNMPv3 security processing.
    // An SNMPv1 message (other than a trap) has its error-status translated to SNMPv1 values
    // first, and that value stays in the message. Every Encode builds all pieces anew:
    // `incremental` is accepted for compatibility and changes nothing, since an encode never
    // leaves a binding list half done for a later one to continue.
    bool Encode(unsigned char* buffer, unsigned int& size, bool incremental) const;
    // Builds the pieces only; `size` as for Encode. `restart` false keeps the PDU and message
    // header fields of this message's previous encode in place and rebuilds the bindings and the
    // headers around them; when the record holds no such encode (first use, ResetEnc, another
    // message used it since) every piece is built anew.
    bool EncodeInc(unsigned int& size, bool restart) const;

    // ---- Decoding ------------------------------------------------------------------------------

    // Decodes one datagram of `size` bytes into this message, keeping a copy of its bytes
    // (RawData). The caller's buffer is never written. Returns true; every failure throws
    // snmp::Exception:
    //   0 codec error (the codec's text), msgID negative, msgMaxSize below 484, msgSecurityModel
    //     below 1;  1 wrong tag in the message or SNMPv3 header framing, msgFlags not one octet;
    //   2 unsupported version;  3 wrong tag among the PDU fields;  4 a binding or its name with a
    //   wrong tag;  5 outer length not the datagram's remainder, an SNMPv3 header or scoped PDU
    //   longer than the remainder, SNMPv3 without USM state;  6 unknown PDU type;  7 unknown
    //   value type;  8 bytes left after the PDU;  9 empty community;  21 unknown security model;
    //   22 privacy without authentication;  200..205 USM failures.
    // On a throw the message holds what was decoded so far. Nothing beyond `size` is read.
    bool Decode(const unsigned char* data, unsigned int size);

    // ---- Printing ------------------------------------------------------------------------------

    // Replaces `out` by a multi-line diagnostic text; `verbose` adds the PDU and version names
    // and one line per binding.
    void Print(bool verbose, std::string& out) const;

private:
    static void AllocV3Pieces(MsgEncBuf& buf);
    static bool AllocVarBindPieces(MsgEncBuf& buf);
    static void AllocDecodeBuf(MsgEncBuf& buf);
    MsgEncBuf& EnsureEnc() const;
    void CopyFrom(const Message& other);

    void EncodeVarBinds() const;
    void EncodeVarBind(const VarBind& vb, unsigned char*& write, unsigned int& room) const;
    void EncodeNormalHeader(bool reuse) const;
    void EncodeTrapHeader(bool reuse) const;
    void EncodeAuthHeader(bool reuse) const;
    void EncodeV3PDUHeader(bool reuse) const;
    void EncodeV3GlobalData(bool reuse) const;
    void EncodeV3MessageSeq(unsigned int size) const;

    void DecodeV3Header(const unsigned char*& p, unsigned int& left);
    void DecodeV3Context(const unsigned char*& p, unsigned int& left);
    void DecodeNormal(const unsigned char*& p, unsigned int& left);
    void DecodeTrap(const unsigned char*& p, unsigned int& left);
    void DecodeVarBinds(const unsigned char*& p, unsigned int& left);
    void DecodeString(const unsigned char*& p, unsigned int& left, OctetString& out);
    void DecodeObjid(const unsigned char*& p, unsigned int& left, ObjectId& out);

    std::vector<unsigned char> raw_;
    // The SNMPv3 security processing's working copy of the datagram, kept so
    // that decoding again reuses its storage.
    std::vector<unsigned char> work_;
    brask::IpAddr srcAddr_;
    brask::IpAddr dstAddr_;
    unsigned short srcPort_ = 0;
    unsigned short dstPort_ = 0;
    SnmpVersion version_ = SnmpVersionV1;
    std::string community_;
    VarBindList vbs_;
    VarBindList spareVbs_;  // bindings of the previous Decode, refilled by the next one
    unsigned int type_ = 5;
    int msgId_ = 0;
    int msgMaxSize_;
    bool reportable_ = true;
    OctetString securityParams_;
    v3SecurityLevel securityLevel_ = SecLevelNoAuthNoPriv;
    v3SecurityModel securityModel_ = SecModelAny;
    std::unique_ptr<USM> security_;
    mutable OctetString contextEngineId_;  // encoding fills an empty one from the peer's target
    OctetString contextName_;
    int requestId_ = 0;
    mutable int errStat_ = 0;  // encoding translates it for SNMPv1
    int errIndex_ = 0;
    int nonReps_ = 0;
    int maxReps_ = 0;
    ObjectId enterprise_;
    brask::IpAddr agentAddr_;
    int genType_ = 0;
    int specType_ = 0;
    unsigned int stamp_ = 0;
    mutable MsgEncBuf* enc_ = nullptr;
    mutable bool ownsEncBuf_ = true;
};

// Reads a security model word, case-insensitively: "any" 0, "usm" 3, "1" 1, "2c" 2. Returns
// false and leaves `model` unchanged for any other text (blanks are not trimmed).
SNMP_API bool ParseSecModel(const std::string& text, v3SecurityModel& model);
// Reads a security level word, case-insensitively: "noauthnopriv" 1, "authnopriv" 2,
// "authpriv" 3. Returns false and leaves `level` unchanged for any other text.
SNMP_API bool ParseSecLevel(const std::string& text, v3SecurityLevel& level);
// "any", "1", "2c", "usm", or "unknown".
SNMP_API std::string TranslateSecModel(v3SecurityModel model);
// "noAuthNoPriv", "authNoPriv", "authPriv", or "unknown".
SNMP_API std::string TranslateSecLevel(v3SecurityLevel level);
// "SNMPv1", "SNMPv2c", "SNMPv3" or "Unknown SNMP version"; no line end.
SNMP_API std::ostream& operator<<(std::ostream& os, SnmpVersion version);
// "noAuthNoPriv", "authNoPriv", "authPriv" or "Unknown SNMPv3 security level"; no line end.
SNMP_API std::ostream& operator<<(std::ostream& os, v3SecurityLevel level);

}  // namespace snmp

#endif
