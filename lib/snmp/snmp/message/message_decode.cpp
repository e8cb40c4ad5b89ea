// Message decoding: parses one received datagram of any version into a Message, raising an
// snmp::Exception whose type tells the receive path and the statistics what was wrong. Every read
// is bounded by the count of unread bytes, whatever the lengths inside the datagram claim.
#include <vector>

#include "snmp/asn.h"
#include "snmp/ber_inline.h"
#include "snmp/exception.h"
#include "snmp/message.h"
#include "snmp/security/usm.h"

namespace snmp {

namespace {

// An SNMPv1 Trap's enterprise is decoded into a local array of this many arcs.
constexpr unsigned int kMaxEnterpriseArcs = 256;
constexpr int kMinMsgMaxSize = 484;

using ber::ReadLength;
using ber::ReadType;

void ExpectType(const unsigned char*& p, unsigned int& left, unsigned int tag, int errorType,
                const char* what) {
    if (ReadType(p, left) != tag) throw Exception(errorType, what);
}

int ReadInteger(const unsigned char*& p, unsigned int& left, int errorType, const char* what) {
    ExpectType(p, left, 0x02, errorType, what);
    return ber::ReadInteger(p, left);
}

}  // namespace

bool Message::Decode(const unsigned char* data, unsigned int size) {
    // The old bindings are set aside and refilled in place, so that decoding into the same
    // message again allocates nothing per binding.
    spareVbs_.splice(spareVbs_.end(), vbs_);
    ResetEnc();
    // The message keeps its own copy, so RawData() stays valid after the caller frees its buffer.
    if (size == 0 || data == nullptr) {
        raw_.clear();
        size = 0;
    } else {
        raw_.assign(data, data + size);
    }
    AllocDecodeBuf(EnsureEnc());

    try {
        const unsigned char* p = raw_.data();
        unsigned int left = size;

        ExpectType(p, left, 0x30, 1, "message is not a SEQUENCE");
        if (ReadLength(p, left) != left) throw Exception(5, "message length mismatch");
        ExpectType(p, left, 0x02, 1, "version is not an INTEGER");
        const int version = ber::ReadInteger(p, left);
        if (version == SnmpVersionV1 || version == SnmpVersionV2c) {
            version_ = static_cast<SnmpVersion>(version);
            ExpectType(p, left, 0x04, 1, "community is not an OCTET STRING");
            unsigned int n = enc_->decodeSize;
            AsnDecode(p, left, enc_->decodeBuf, n);
            if (n == 0) throw Exception(9, "empty community");
            community_.assign(reinterpret_cast<const char*>(enc_->decodeBuf), n);
        } else if (version == SnmpVersionV3) {
            version_ = SnmpVersionV3;
            if (!security_) throw Exception(5, "SNMPv3 message without security state");
            DecodeV3Header(p, left);

            ExpectType(p, left, 0x04, 1, "msgSecurityParameters is not an OCTET STRING");
            const unsigned int paramsLength = ReadLength(p, left);
            const auto paramsOffset = static_cast<unsigned int>(p - raw_.data());
            unsigned int n = enc_->decodeSize;
            AsnDecode(p, left, enc_->decodeBuf, n, paramsLength);
            securityParams_.Set(enc_->decodeBuf, n);
            const auto pduOffset = static_cast<unsigned int>(p - raw_.data());

            // The security processing zeroes the digest and decrypts in place; it works on a
            // copy so that RawData() keeps the bytes as received.
            work_.assign(raw_.begin(), raw_.end());
            unsigned int workSize = size;
            security_->ProcessIncoming(*this, work_.data(), workSize, paramsOffset, pduOffset);
            if (workSize < size) {
                // Decryption removed the encryptedPDU header and the padding.
                if (size - workSize > left) throw Exception(5, "scoped PDU length mismatch");
                left -= size - workSize;
            }
            p = work_.data() + pduOffset;
            DecodeV3Context(p, left);
        } else {
            throw Exception(2, "unsupported SNMP version");
        }

        const unsigned int pduType = ReadType(p, left);
        SetType(pduType);
        if (pduType == PduV1Trap) {
            DecodeTrap(p, left);
        } else if ((pduType >= PduGetRequest && pduType <= PduSetRequest) ||
                   (pduType >= PduGetBulkRequest && pduType <= PduReport)) {
            DecodeNormal(p, left);
        } else {
            throw Exception(6, "unknown PDU type");
        }
        if (left != 0) throw Exception(8, "bytes left over after the PDU");
        return true;
    } catch (const EAsnException& e) {
        throw Exception(0, e.Text().c_str());
    }
}

void Message::DecodeV3Header(const unsigned char*& p, unsigned int& left) {
    ExpectType(p, left, 0x30, 1, "msgGlobalData is not a SEQUENCE");
    if (ReadLength(p, left) > left) throw Exception(5, "msgGlobalData longer than the message");

    msgId_ = ReadInteger(p, left, 1, "msgID is not an INTEGER");
    if (msgId_ < 0) throw Exception(0, "msgID is negative");
    msgMaxSize_ = ReadInteger(p, left, 1, "msgMaxSize is not an INTEGER");
    if (msgMaxSize_ < kMinMsgMaxSize) throw Exception(0, "msgMaxSize below 484");

    ExpectType(p, left, 0x04, 1, "msgFlags is not an OCTET STRING");
    if (ReadLength(p, left) != 1) throw Exception(1, "msgFlags is not one octet");
    unsigned char flags = 0;
    unsigned int n = 1;
    AsnDecode(p, left, &flags, n, 1);
    reportable_ = (flags & 0x04) != 0;
    switch (flags & 0x03) {
        case 0x00:
            securityLevel_ = SecLevelNoAuthNoPriv;
            break;
        case 0x01:
            securityLevel_ = SecLevelAuthNoPriv;
            break;
        case 0x03:
            securityLevel_ = SecLevelAuthPriv;
            break;
        default:
            throw Exception(22, "privacy requested without authentication");
    }

    const int model = ReadInteger(p, left, 1, "msgSecurityModel is not an INTEGER");
    if (model < 1) throw Exception(0, "msgSecurityModel below 1");
    if (model != SecModelUSM) throw Exception(21, "unknown security model");
    securityModel_ = SecModelUSM;
}

void Message::DecodeV3Context(const unsigned char*& p, unsigned int& left) {
    ExpectType(p, left, 0x30, 1, "scopedPDU is not a SEQUENCE");
    if (ReadLength(p, left) > left) throw Exception(5, "scopedPDU longer than the message");
    ExpectType(p, left, 0x04, 1, "contextEngineID is not an OCTET STRING");
    DecodeString(p, left, contextEngineId_);
    ExpectType(p, left, 0x04, 1, "contextName is not an OCTET STRING");
    DecodeString(p, left, contextName_);
}

void Message::DecodeNormal(const unsigned char*& p, unsigned int& left) {
    ReadLength(p, left);
    requestId_ = ReadInteger(p, left, 3, "request-id is not an INTEGER");
    errStat_ = ReadInteger(p, left, 3, "error-status is not an INTEGER");
    errIndex_ = ReadInteger(p, left, 3, "error-index is not an INTEGER");
    if (type_ == PduGetBulkRequest) {
        nonReps_ = errStat_ >= 1 ? errStat_ : 0;
        maxReps_ = errIndex_ >= 1 ? errIndex_ : 0;
    }
    ReadType(p, left);
    DecodeVarBinds(p, left);
}

void Message::DecodeTrap(const unsigned char*& p, unsigned int& left) {
    ReadLength(p, left);
    enterprise_ = ObjectId();
    ExpectType(p, left, 0x06, 3, "enterprise is not an OBJECT IDENTIFIER");
    unsigned int arcs[kMaxEnterpriseArcs];
    unsigned int count = kMaxEnterpriseArcs;
    AsnDecode(p, left, arcs, count);
    enterprise_ = ObjectId(arcs, count);

    ExpectType(p, left, 0x40, 3, "agent-addr is not an IpAddress");
    unsigned int n = enc_->decodeSize;
    AsnDecode(p, left, enc_->decodeBuf, n);
    if (n == 4) {
        const unsigned char* a = enc_->decodeBuf;
        agentAddr_ = brask::IpAddr(static_cast<std::uint32_t>(a[0]) << 24 |
                                   static_cast<std::uint32_t>(a[1]) << 16 |
                                   static_cast<std::uint32_t>(a[2]) << 8 | a[3]);
    }
    genType_ = ReadInteger(p, left, 3, "generic-trap is not an INTEGER");
    specType_ = ReadInteger(p, left, 3, "specific-trap is not an INTEGER");
    ExpectType(p, left, 0x43, 3, "time-stamp is not TimeTicks");
    AsnDecode(p, left, stamp_);
    ExpectType(p, left, 0x30, 3, "variable-bindings is not a SEQUENCE");
    DecodeVarBinds(p, left);
}

void Message::DecodeVarBinds(const unsigned char*& p, unsigned int& left) {
    // Bindings end with the list. Bytes after it are left for the caller to reject, not read as
    // further bindings; a list that claims more than the datagram holds runs to its end.
    const unsigned int listLength = ReadLength(p, left);
    const unsigned int after = listLength <= left ? left - listLength : 0;
    while (left > after) {
        if (spareVbs_.empty()) {
            vbs_.emplace_back();
        } else {
            vbs_.splice(vbs_.end(), spareVbs_, spareVbs_.begin());
        }
        VarBind& vb = vbs_.back();
        // A refilled binding must not show the previous datagram's name or value when this one
        // fails before replacing them.
        bool named = false;
        bool typed = false;
        try {
            ExpectType(p, left, 0x30, 4, "variable binding is not a SEQUENCE");
            ReadLength(p, left);
            ExpectType(p, left, 0x06, 4, "variable name is not an OBJECT IDENTIFIER");
            DecodeObjid(p, left, vb.Objid());
            named = true;

            AsnValue& value = vb.Value();
            const unsigned int type = ReadType(p, left);
            value.SetType(type);
            typed = true;
            switch (type) {
                case 0x02:
                    value.Integer() = ber::ReadInteger(p, left);
                    break;
                case 0x03: {
                    unsigned int n = enc_->decodeSize;
                    unsigned char unused = 0;
                    AsnDecodeBits(p, left, enc_->decodeBuf, n, unused);
                    value.Bits().Set(enc_->decodeBuf, n);
                    value.Bits().SetUnusedBits(unused);
                    break;
                }
                case 0x04:
                case 0x40:
                case 0x44:
                    DecodeString(p, left, value.String());
                    break;
                case 0x05:
                case 0x80:
                case 0x81:
                case 0x82:
                    ber::ReadNull(p, left);
                    break;
                case 0x06:
                    DecodeObjid(p, left, value.Objid());
                    break;
                case 0x41:
                case 0x42:
                case 0x43:
                case 0x47:
                    value.Unsigned() = ber::ReadUnsigned(p, left);
                    break;
                case 0x46:
                case 0x4A:
                case 0x4B:
                    value.Counter64() = ber::ReadCounter64(p, left);
                    break;
                default:
                    throw Exception(7, "unknown value type");
            }
        } catch (...) {
            if (!named) vb.Objid().Resize(0);
            if (!typed) vb.Value().SetType(0x05);
            throw;
        }
    }
}

void Message::DecodeString(const unsigned char*& p, unsigned int& left, OctetString& out) {
    // decodeBuf bounds every string, and takes the ones the inline form leaves to the codec.
    ber::ReadBytes(p, left, out, enc_->decodeBuf, enc_->decodeSize);
}

void Message::DecodeObjid(const unsigned char*& p, unsigned int& left, ObjectId& out) {
    // decodeBuf is unsigned int storage, see AllocDecodeBuf; it bounds every identifier.
    ber::ReadObjectId(p, left, out, reinterpret_cast<unsigned int*>(enc_->decodeBuf),
                      enc_->decodeSize / sizeof(unsigned int));
}

}  // namespace snmp
