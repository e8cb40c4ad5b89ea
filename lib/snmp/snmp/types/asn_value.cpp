// Typed SNMP values: content management by tag, comparison, display text and
// the percent-escaped text form that host programs store values in.
#include "snmp/asn_value.h"

#include <cstring>
#include <stdexcept>
#include <utility>

namespace snmp {

namespace {

enum : unsigned int {
    kInteger = 0x02,
    kBitString = 0x03,
    kOctetString = 0x04,
    kNull = 0x05,
    kObjectId = 0x06,
    kIpAddress = 0x40,
    kCounter32 = 0x41,
    kGauge32 = 0x42,
    kTimeTicks = 0x43,
    kOpaque = 0x44,
    kCounter64 = 0x46,
    kUnsigned32 = 0x47,
    kCounter64A = 0x4A,
    kCounter64B = 0x4B,
};

bool IsUnsigned32(unsigned int t) {
    return t == kCounter32 || t == kGauge32 || t == kTimeTicks || t == kUnsigned32;
}

bool IsUnsigned64(unsigned int t) {
    return t == kCounter64 || t == kCounter64A || t == kCounter64B;
}

template <typename T>
int ThreeWay(T a, T b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

// Printable ASCII that the text form must still escape.
bool IsReserved(unsigned char c) {
    return c == ' ' || std::strchr("!\"#$%&'()+,/:;<=>?[\\]^`{}~", c) != nullptr;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

[[noreturn]] void WrongKind(const char* accessor) {
    throw std::logic_error(std::string("AsnValue::") + accessor +
                           " used on a value whose type holds no such content");
}

}  // namespace

AsnValue::AsnValue() : type_(kNull), num_{} {}

AsnValue::AsnValue(unsigned int type) : type_(kNull), num_{} {
    SetType(type);
}

AsnValue::AsnValue(const AsnValue& other) : type_(kNull), num_{} {
    CopyContentFrom(other);
}

AsnValue::AsnValue(AsnValue&& other) noexcept
    : type_(other.type_),
      num_(other.num_),
      str_(std::move(other.str_)),
      oid_(std::move(other.oid_)) {
    other.type_ = kNull;
    other.num_.u64 = 0;
}

AsnValue& AsnValue::operator=(const AsnValue& other) {
    if (this != &other) {
        CopyContentFrom(other);
    }
    return *this;
}

AsnValue& AsnValue::operator=(AsnValue&& other) noexcept {
    if (this != &other) {
        type_ = other.type_;
        num_ = other.num_;
        str_ = std::move(other.str_);
        oid_ = std::move(other.oid_);
        other.type_ = kNull;
        other.num_.u64 = 0;
    }
    return *this;
}

AsnValue::~AsnValue() = default;

void AsnValue::CopyContentFrom(const AsnValue& other) {
    // Build the copy first, so a failed allocation leaves this value intact.
    std::unique_ptr<OctetString> str;
    std::unique_ptr<ObjectId> oid;
    if (other.str_) {
        if (other.type_ == kBitString) {
            str = std::make_unique<BitString>(static_cast<const BitString&>(*other.str_));
        } else {
            str = std::make_unique<OctetString>(*other.str_);
        }
    }
    if (other.oid_) {
        oid = std::make_unique<ObjectId>(*other.oid_);
    }
    type_ = other.type_;
    num_ = other.num_;
    str_ = std::move(str);
    oid_ = std::move(oid);
}

void AsnValue::SetType(unsigned int type) {
    num_.u64 = 0;
    // A value refilled with the same kind of content (a decoder reusing its
    // bindings) keeps its object and that object's storage, emptied.
    const bool bits = type == kBitString;
    const bool octets = type == kOctetString || type == kIpAddress || type == kOpaque;
    if (str_ && (bits || octets) && bits == (type_ == kBitString)) {
        str_->Resize(0);
        if (bits) static_cast<BitString&>(*str_).SetUnusedBits(0);
        type_ = type;
        return;
    }
    if (oid_ && type == kObjectId) {
        oid_->Resize(0);
        return;
    }
    str_.reset();
    oid_.reset();
    type_ = type;
    switch (type) {
        case kBitString:
            str_ = std::make_unique<BitString>();
            break;
        case kOctetString:
        case kIpAddress:
        case kOpaque:
            str_ = std::make_unique<OctetString>();
            break;
        case kObjectId:
            oid_ = std::make_unique<ObjectId>();
            break;
        default:
            break;
    }
}

OctetString& AsnValue::String() {
    if (!str_) WrongKind("String");
    return *str_;
}

const OctetString& AsnValue::String() const {
    if (!str_) WrongKind("String");
    return *str_;
}

BitString& AsnValue::Bits() {
    if (type_ != kBitString || !str_) WrongKind("Bits");
    return static_cast<BitString&>(*str_);
}

const BitString& AsnValue::Bits() const {
    if (type_ != kBitString || !str_) WrongKind("Bits");
    return static_cast<const BitString&>(*str_);
}

ObjectId& AsnValue::Objid() {
    if (!oid_) WrongKind("Objid");
    return *oid_;
}

const ObjectId& AsnValue::Objid() const {
    if (!oid_) WrongKind("Objid");
    return *oid_;
}

void AsnValue::SetString(const OctetString& s) {
    // Assign the bytes only: a BitString keeps its unused-bits count.
    String().Set(s.Data(), s.Size());
}

void AsnValue::SetBits(const BitString& b) {
    Bits() = b;
}

void AsnValue::SetObjid(const ObjectId& oid) {
    Objid() = oid;
}

void AsnValue::SetIpAddr(const OctetString& addr) {
    String().Set(addr.Data(), addr.Size());
}

void AsnValue::SetIpAddr(unsigned int address) {
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(address >> 24), static_cast<unsigned char>(address >> 16),
        static_cast<unsigned char>(address >> 8), static_cast<unsigned char>(address)};
    String().Set(bytes, 4);
}

int AsnValue::Compare(const AsnValue& other) const {
    if (type_ == kInteger) {
        return ThreeWay(num_.i32, other.num_.i32);
    }
    if (IsUnsigned32(type_)) {
        return ThreeWay(num_.u32, other.num_.u32);
    }
    if (IsUnsigned64(type_)) {
        return ThreeWay(num_.u64, other.num_.u64);
    }
    if (str_) {
        if (!other.str_) return ThreeWay(type_, other.type_);
        return str_->Compare(*other.str_);
    }
    if (oid_) {
        if (!other.oid_) return ThreeWay(type_, other.type_);
        return oid_->Compare(*other.oid_);
    }
    return 0;
}

void AsnValue::MakeStr(std::string& out) const {
    switch (type_) {
        case kInteger:
            out += std::to_string(num_.i32);
            break;
        case kBitString:
        case kOctetString:
        case kOpaque:
            out.append(reinterpret_cast<const char*>(str_->Data()), str_->Size());
            break;
        case kObjectId:
            oid_->MakeStr(out);
            break;
        case kIpAddress:
            if (str_->Size() == 4) {
                const OctetString& a = *str_;
                out += std::to_string(a[0]) + '.' + std::to_string(a[1]) + '.' +
                       std::to_string(a[2]) + '.' + std::to_string(a[3]);
            }
            break;
        case kCounter32:
        case kGauge32:
        case kTimeTicks:
        case kUnsigned32:
            out += std::to_string(num_.u32);
            break;
        case kCounter64:
        case kCounter64A:
        case kCounter64B:
            out += std::to_string(num_.u64);
            break;
        default:
            break;
    }
}

void AsnValue::MakeStrType(std::string& out) const {
    switch (type_) {
        case kInteger:
            out += "Integer32";
            break;
        case kBitString:
            out += "BIT STRING";
            break;
        case kOctetString:
            out += "OCTET STRING";
            break;
        case kNull:
            out += "NULL";
            break;
        case kObjectId:
            out += "OBJECT IDENTIFIER";
            break;
        case kIpAddress:
            out += "IpAddress";
            break;
        case kCounter32:
            out += "Counter32";
            break;
        case kGauge32:
            out += "Gauge32";
            break;
        case kTimeTicks:
            out += "TimeTicks";
            break;
        case kOpaque:
            out += "OPAQUE";
            break;
        case kCounter64:
        case kCounter64A:
        case kCounter64B:
            out += "Counter64";
            break;
        case kUnsigned32:
            out += "Unsigned32";
            break;
        default:
            break;
    }
}

void AsnValue::ToURLStr(std::string& out) const {
    static const char kHex[] = "0123456789ABCDEF";
    switch (type_) {
        case kIpAddress:
            for (unsigned int i = 0; i < str_->Size(); ++i) {
                if (i != 0) out += '.';
                out += std::to_string((*str_)[static_cast<int>(i)]);
            }
            break;
        case kBitString:
        case kOctetString:
        case kOpaque:
            for (unsigned int i = 0; i < str_->Size(); ++i) {
                const unsigned char c = (*str_)[static_cast<int>(i)];
                if (c >= 32 && c <= 126 && !IsReserved(c)) {
                    out += static_cast<char>(c);
                } else {
                    out += '%';
                    out += kHex[c >> 4];
                    out += kHex[c & 0x0F];
                }
            }
            break;
        default:
            MakeStr(out);
            break;
    }
}

void AsnValue::FromURLStr(const std::string& in) {
    SetType(kOctetString);
    OctetString& s = *str_;
    const size_t n = in.size();
    for (size_t i = 0; i < n; ++i) {
        if (in[i] != '%') {
            s += in[i];
            continue;
        }
        if (i + 1 == n) {
            break;  // a final '%' carries nothing
        }
        if (in[i + 1] == '%') {
            s += '%';
            ++i;
            continue;
        }
        const int hi = HexDigit(in[i + 1]);
        const int lo = i + 2 < n ? HexDigit(in[i + 2]) : -1;
        if (hi >= 0 && lo >= 0) {
            s += static_cast<unsigned char>(hi * 16 + lo);
            i += 2;
        } else {
            s += '%';  // not an escape: keep the '%' and read on after it
        }
    }
}

}  // namespace snmp
