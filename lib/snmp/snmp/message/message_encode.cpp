// Message encoding: each part of the datagram is built as a separate piece of the encode record,
// content first and headers prepended, so that the SNMPv3 security processing can encrypt and
// sign after the rest is in place; Encode then copies the pieces back to back.
#include <cstring>

#include "snmp/asn.h"
#include "snmp/ber_inline.h"
#include "snmp/exception.h"
#include "snmp/message.h"
#include "snmp/security/usm.h"
#include "snmp/target.h"
#include "snmp/target_lookup.h"

namespace snmp {

namespace {

// Bytes kept free in front of a piece's content for the headers prepended to it.
constexpr unsigned int kReserve = 5;
// msgGlobalData also keeps room for the 3-byte msgVersion INTEGER in front of its header.
constexpr unsigned int kGlobalReserve = 8;
constexpr unsigned int kTagSequence = 0x30;

unsigned int Span(const unsigned char* from, const unsigned char* to) {
    return static_cast<unsigned int>(to - from);
}

// Prepends a constructed header over `contentLength` bytes to a piece whose content begins at
// its reserve, and makes the piece cover header and content up to `end`.
void PrependHeader(MsgEncPiece& piece, unsigned int reserve, const unsigned char* end,
                   unsigned int contentLength, unsigned int tag) {
    piece.start = piece.buffer + reserve;
    unsigned int room = kReserve;
    AsnEncodeSequence(piece.start, room, contentLength, tag);
    piece.length = Span(piece.start, end);
}

// Where the fields a previous encode left in a piece end, or null when the piece holds none.
const unsigned char* PreviousFieldsEnd(const MsgEncPiece& piece, unsigned int reserve) {
    if (piece.start == nullptr) return nullptr;
    const unsigned char* end = piece.start + piece.length;
    return end < piece.buffer + reserve ? nullptr : end;
}

// Error-status of an SNMPv2 PDU as an SNMPv1 peer understands it (RFC 3584 section 4.3).
int TranslateForV1(int status) {
    switch (status) {
        case 6:        // noAccess
        case 11:       // noCreation
        case 16:       // authorizationError
        case 17:       // notWritable
        case 18:       // inconsistentName
            return 2;  // noSuchName
        case 7:        // wrongType
        case 8:        // wrongLength
        case 9:        // wrongEncoding
        case 10:       // wrongValue
        case 12:       // inconsistentValue
            return 3;  // badValue
        case 13:       // resourceUnavailable
        case 14:       // commitFailed
        case 15:       // undoFailed
            return 5;  // genErr
        default:
            return status;
    }
}

bool IsNormalPdu(unsigned int type) {
    return (type >= PduGetRequest && type <= PduSetRequest) ||
           (type >= PduGetBulkRequest && type <= PduReport);
}

}  // namespace

bool Message::Encode(unsigned char* buffer, unsigned int& size, bool /*incremental*/) const {
    const unsigned int capacity = size;
    EncodeInc(size, true);

    const MsgEncBuf& b = *enc_;
    const MsgEncPiece* v1Pieces[] = {&b.msgHeader, &b.pduHeader, &b.varBinds};
    const MsgEncPiece* v3Pieces[] = {&b.msgHeader,    &b.globalData, &b.securityParams,
                                     &b.scopedHeader, &b.pduHeader,  &b.varBinds};
    const MsgEncPiece* v3PrivPieces[] = {&b.msgHeader, &b.globalData, &b.securityParams,
                                         &b.encryptedPdu};
    const MsgEncPiece* const* first = v1Pieces;
    size_t count = 3;
    if (version_ == SnmpVersionV3) {
        const bool priv = securityLevel_ == SecLevelAuthPriv;
        first = priv ? v3PrivPieces : v3Pieces;
        count = priv ? 4 : 6;
    }
    unsigned int written = 0;
    for (size_t i = 0; i < count; ++i) {
        const MsgEncPiece& piece = *first[i];
        if (piece.length > capacity - written) throw Exception(14, "message too big for buffer");
        if (piece.length != 0) std::memcpy(buffer + written, piece.start, piece.length);
        written += piece.length;
    }
    size = written;
    return true;
}

bool Message::EncodeInc(unsigned int& size, bool restart) const {
    try {
        if (type_ != PduV1Trap) {
            if (version_ == SnmpVersionV1) {
                errStat_ = TranslateForV1(errStat_);
            } else if (version_ != SnmpVersionV2c && version_ != SnmpVersionV3) {
                errStat_ = 5;
            }
        }
        MsgEncBuf& b = EnsureEnc();
        if (version_ == SnmpVersionV3) {
            // Headers kept from a previous authPriv encode would no longer match the encrypted
            // piece, which holds them; such a message is always encoded afresh.
            if (securityLevel_ == SecLevelAuthPriv) restart = true;
            AllocV3Pieces(b);
            if (restart) {
                b.globalData.length = 0;
                b.securityParams.length = 0;
                b.scopedHeader.length = 0;
                b.encryptedPdu.length = 0;
            }
        }
        if (AllocVarBindPieces(b)) restart = true;
        AllocDecodeBuf(b);
        // Only this message's own previous encode may be kept, and only if it was completed.
        if (b.lastEncoded != this) restart = true;
        b.lastEncoded = nullptr;
        const bool reuse = !restart;

        EncodeVarBinds();

        if (type_ == PduV1Trap) {
            EncodeTrapHeader(reuse);
        } else if (IsNormalPdu(type_)) {
            EncodeNormalHeader(reuse);
        } else {
            throw Exception(12, "unknown PDU type");
        }

        if (version_ != SnmpVersionV3) {
            EncodeAuthHeader(reuse);
            const unsigned int total = b.msgHeader.length + b.pduHeader.length + b.varBinds.length;
            if (total > size) throw Exception(14, "message too big");
            size = total;
        } else {
            if (!security_) throw Exception(12, "SNMPv3 message without security state");
            EncodeV3PDUHeader(reuse);
            EncodeV3GlobalData(reuse);
            security_->SetDigestPending(false);
            security_->ProcessOutgoing(*this, reuse);
            EncodeV3MessageSeq(size);
            if (securityLevel_ > SecLevelNoAuthNoPriv) security_->ProcessOutgoing(*this, reuse);
            size = b.msgHeader.length + b.globalData.length + b.securityParams.length +
                   b.encryptedPdu.length + b.scopedHeader.length + b.pduHeader.length +
                   b.varBinds.length;
        }
        b.lastEncoded = this;
        return true;
    } catch (const EAsnException& e) {
        throw Exception(11, e.Text().c_str());
    }
}

void Message::EncodeVarBinds() const {
    // The whole list is encoded every time: continuing a list encoded before could keep a stale
    // SNMPv3 digest or ciphertext. Each binding is written in place behind the previous one.
    MsgEncPiece& piece = enc_->varBinds;
    unsigned char* const contentStart = piece.buffer + kReserve;
    unsigned char* write = contentStart;
    unsigned int room = piece.capacity - kReserve;
    for (const VarBind& vb : vbs_) EncodeVarBind(vb, write, room);
    PrependHeader(piece, kReserve, write, Span(contentStart, write), kTagSequence);
}

void Message::EncodeVarBind(const VarBind& vb, unsigned char*& write, unsigned int& room) const {
    const AsnValue& v = vb.Value();
    const unsigned int type = v.Type();
    switch (type) {
        case 0x02:
        case 0x03:
        case 0x04:
        case 0x05:
        case 0x06:
        case 0x40:
        case 0x41:
        case 0x42:
        case 0x43:
        case 0x44:
        case 0x46:
        case 0x47:
        case 0x4A:
        case 0x4B:
        case 0x80:
        case 0x81:
        case 0x82:
            break;
        default:
            throw Exception(13, "value type cannot be encoded");
    }
    // The content goes behind a two-octet SEQUENCE header, which a binding of 128 octets or
    // more widens once its length is known. A binding that does not fit makes the message too
    // big, which the answer to a request reports as tooBig.
    constexpr unsigned int kShortHeader = 2;
    if (room < kShortHeader) throw Exception(14, "variable bindings too big");
    unsigned char* const content = write + kShortHeader;
    unsigned char* p = content;
    unsigned int left = room - kShortHeader;
    try {
        ber::WriteObjectId(p, left, vb.Objid().Id(), vb.Objid().Length(), 0x06);
        switch (type) {
            case 0x02:
                ber::WriteInteger(p, left, v.Integer(), type);
                break;
            case 0x03:
                AsnEncodeBits(p, left, v.Bits().Data(), v.Bits().Size(), v.Bits().UnusedBits(),
                              type);
                break;
            case 0x04:
            case 0x40:
            case 0x44:
                ber::WriteBytes(p, left, v.String().Data(), v.String().Size(), type);
                break;
            case 0x82:
                // SNMPv1 has no endOfMibView; its peers get a NULL.
                ber::WriteNull(p, left, version_ == SnmpVersionV1 ? 0x05U : 0x82U);
                break;
            case 0x06:
                ber::WriteObjectId(p, left, v.Objid().Id(), v.Objid().Length(), type);
                break;
            case 0x41:
            case 0x42:
            case 0x43:
            case 0x47:
                ber::WriteUnsigned(p, left, v.Unsigned(), type);
                break;
            case 0x46:
            case 0x4A:
            case 0x4B:
                ber::WriteCounter64(p, left, v.Counter64());
                break;
            default:  // NULL and the exceptions
                ber::WriteNull(p, left, type);
                break;
        }
    } catch (const EAsnException&) {
        throw Exception(14, "variable bindings too big");
    }
    const unsigned int length = Span(content, p);
    unsigned char header[4] = {kTagSequence};
    unsigned int headerLength = 0;
    if (length < 0x80) {
        header[1] = static_cast<unsigned char>(length);
        headerLength = 2;
    } else if (length <= 0xFF) {
        header[1] = 0x81;
        header[2] = static_cast<unsigned char>(length);
        headerLength = 3;
    } else if (length <= 0xFFFF) {
        header[1] = 0x82;
        header[2] = static_cast<unsigned char>(length >> 8);
        header[3] = static_cast<unsigned char>(length);
        headerLength = 4;
    } else {
        throw Exception(14, "variable binding too big");
    }
    if (headerLength > kShortHeader) {
        if (left < headerLength - kShortHeader) throw Exception(14, "variable bindings too big");
        std::memmove(content + (headerLength - kShortHeader), content, length);
    }
    std::memcpy(write, header, headerLength);
    write += headerLength + length;
    room -= headerLength + length;
}

void Message::EncodeNormalHeader(bool reuse) const {
    MsgEncPiece& piece = enc_->pduHeader;
    const unsigned char* end = reuse ? PreviousFieldsEnd(piece, kReserve) : nullptr;
    if (end == nullptr) {
        unsigned char* p = piece.buffer + kReserve;
        unsigned int room = piece.capacity - kReserve;
        ber::WriteInteger(p, room, requestId_, 0x02);
        if (type_ == PduGetBulkRequest) {
            ber::WriteInteger(p, room, nonReps_, 0x02);
            ber::WriteInteger(p, room, maxReps_, 0x02);
        } else {
            ber::WriteInteger(p, room, errStat_, 0x02);
            ber::WriteInteger(p, room, errIndex_, 0x02);
        }
        end = p;
    }
    PrependHeader(piece, kReserve, end, Span(piece.buffer + kReserve, end) + enc_->varBinds.length,
                  type_);
}

void Message::EncodeTrapHeader(bool reuse) const {
    MsgEncPiece& piece = enc_->pduHeader;
    const unsigned char* end = reuse ? PreviousFieldsEnd(piece, kReserve) : nullptr;
    if (end == nullptr) {
        unsigned char* p = piece.buffer + kReserve;
        unsigned int room = piece.capacity - kReserve;
        AsnEncode(p, room, enterprise_.Id(), enterprise_.Length(), 0x06);
        const std::uint32_t addr = agentAddr_.Version() == 0 ? agentAddr_.Addr4() : 0;
        const unsigned char octets[4] = {
            static_cast<unsigned char>(addr >> 24), static_cast<unsigned char>(addr >> 16),
            static_cast<unsigned char>(addr >> 8), static_cast<unsigned char>(addr)};
        AsnEncode(p, room, octets, 4, 0x40);
        AsnEncode(p, room, genType_, 0x02);
        AsnEncode(p, room, specType_, 0x02);
        AsnEncode(p, room, stamp_, 0x43);
        end = p;
    }
    PrependHeader(piece, kReserve, end, Span(piece.buffer + kReserve, end) + enc_->varBinds.length,
                  PduV1Trap);
}

void Message::EncodeAuthHeader(bool reuse) const {
    if (version_ != SnmpVersionV1 && version_ != SnmpVersionV2c && version_ != SnmpVersionV3) {
        throw Exception(12, "unknown SNMP version");
    }
    MsgEncPiece& piece = enc_->msgHeader;
    const unsigned char* end = reuse ? PreviousFieldsEnd(piece, kReserve) : nullptr;
    if (end == nullptr) {
        unsigned char* p = piece.buffer + kReserve;
        unsigned int room = piece.capacity - kReserve;
        ber::WriteInteger(p, room, static_cast<int>(version_), 0x02);
        ber::WriteBytes(p, room, reinterpret_cast<const unsigned char*>(community_.data()),
                        static_cast<unsigned int>(community_.size()), 0x04);
        end = p;
    }
    PrependHeader(
        piece, kReserve, end,
        Span(piece.buffer + kReserve, end) + enc_->pduHeader.length + enc_->varBinds.length,
        kTagSequence);
}

void Message::EncodeV3PDUHeader(bool reuse) const {
    MsgEncPiece& piece = enc_->scopedHeader;
    const unsigned char* end = reuse ? PreviousFieldsEnd(piece, kReserve) : nullptr;
    if (end == nullptr) {
        TargetLookup* lookup = security_->Lookup();
        if (contextEngineId_.Empty() && lookup != nullptr) {
            // The peer's engine is the context engine unless the caller named another.
            lookup->Lock();
            try {
                if (const Target* target = lookup->FindTarget(*this)) {
                    contextEngineId_ = target->EngineId();
                }
            } catch (...) {
                lookup->Unlock();
                throw;
            }
            lookup->Unlock();
        }
        unsigned char* p = piece.buffer + kReserve;
        unsigned int room = piece.capacity - kReserve;
        AsnEncode(p, room, contextEngineId_.Data(), contextEngineId_.Size(), 0x04);
        AsnEncode(p, room, contextName_.Data(), contextName_.Size(), 0x04);
        end = p;
    }
    PrependHeader(
        piece, kReserve, end,
        Span(piece.buffer + kReserve, end) + enc_->pduHeader.length + enc_->varBinds.length,
        kTagSequence);
}

void Message::EncodeV3GlobalData(bool reuse) const {
    MsgEncPiece& piece = enc_->globalData;
    const unsigned char* end = reuse ? PreviousFieldsEnd(piece, kGlobalReserve) : nullptr;
    if (end == nullptr) {
        unsigned char flags = reportable_ ? 0x04 : 0x00;
        switch (securityLevel_) {
            case SecLevelNoAuthNoPriv:
                break;
            case SecLevelAuthNoPriv:
                flags |= 0x01;
                break;
            case SecLevelAuthPriv:
                flags |= 0x03;
                break;
            default:
                throw Exception(11, "invalid security level");
        }
        unsigned char* p = piece.buffer + kGlobalReserve;
        unsigned int room = piece.capacity - kGlobalReserve;
        AsnEncode(p, room, msgId_, 0x02);
        AsnEncode(p, room, msgMaxSize_, 0x02);
        AsnEncode(p, room, &flags, 1, 0x04);
        AsnEncode(p, room, static_cast<int>(securityModel_), 0x02);
        end = p;
    }
    PrependHeader(piece, kGlobalReserve, end, Span(piece.buffer + kGlobalReserve, end),
                  kTagSequence);
    // msgVersion goes in the 3 bytes the reserve keeps in front of the header.
    static const unsigned char kVersion3[] = {0x02, 0x01, 0x03};
    piece.start -= sizeof(kVersion3);
    std::memcpy(piece.start, kVersion3, sizeof(kVersion3));
    piece.length += sizeof(kVersion3);
}

void Message::EncodeV3MessageSeq(unsigned int size) const {
    const MsgEncBuf& b = *enc_;
    const unsigned int content = b.globalData.length + b.securityParams.length +
                                 b.encryptedPdu.length + b.scopedHeader.length +
                                 b.pduHeader.length + b.varBinds.length;
    MsgEncPiece& piece = enc_->msgHeader;
    unsigned char* const end = piece.buffer + kReserve;
    PrependHeader(piece, kReserve, end, content, kTagSequence);
    if (piece.length + content > size) throw Exception(14, "message too big");
}

}  // namespace snmp
