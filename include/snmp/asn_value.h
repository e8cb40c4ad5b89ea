// Typed SNMP values: a BER tag and the content that the tag calls for, with
// comparison, display text and the reversible percent-escaped (URL) text form.
#ifndef SNMP_ASN_VALUE_H
#define SNMP_ASN_VALUE_H

#include <memory>
#include <string>

#include "snmp/export.h"
#include "snmp/object_id.h"
#include "snmp/octet_string.h"

namespace snmp {

// Tags and their content:
//   0x02 Integer32 (signed 32-bit)        0x03 BIT STRING (owned BitString)
//   0x04 OCTET STRING (owned OctetString)  0x05 NULL (none)
//   0x06 OBJECT IDENTIFIER (owned ObjectId)
//   0x40 IpAddress (owned OctetString, 4 bytes in network order)
//   0x41 Counter32, 0x42 Gauge32, 0x43 TimeTicks, 0x47 Unsigned32 (unsigned 32-bit)
//   0x44 Opaque (owned OctetString)
//   0x46 Counter64, and 0x4A, 0x4B handled as Counter64 (unsigned 64-bit)
//   0x80 noSuchObject, 0x81 noSuchInstance, 0x82 endOfMibView (none)
// Any other tag may be held: it has no content, renders as nothing and
// compares equal to everything.
//
// The owned object exists exactly while the type is 0x03, 0x04, 0x06, 0x40 or
// 0x44. Accessors and setters never change the type: give the value its type
// first (constructor or SetType), then set the content.
class SNMP_API AsnValue {
public:
    // A NULL (0x05) value.
    AsnValue();
    // As SetType(type).
    explicit AsnValue(unsigned int type);
    // Copies the type and content; an owned object is deep-copied.
    AsnValue(const AsnValue& other);
    // Takes the content of `other`, which becomes NULL.
    AsnValue(AsnValue&& other) noexcept;
    // Releases this value's content, then copies; self-assignment is a no-op.
    AsnValue& operator=(const AsnValue& other);
    AsnValue& operator=(AsnValue&& other) noexcept;
    virtual ~AsnValue();

    // Releases the content and sets the type, with a fresh empty object
    // (BitString with 0 unused bits, OctetString, ObjectId) or a zero number.
    void SetType(unsigned int type);
    unsigned int Type() const { return type_; }

    // The owned byte string: for 0x03, 0x04, 0x40 and 0x44.
    // Throws std::logic_error when the type holds no byte string.
    OctetString& String();
    const OctetString& String() const;
    // The owned BitString: for 0x03 only; throws std::logic_error otherwise.
    BitString& Bits();
    const BitString& Bits() const;
    // The owned ObjectId: for 0x06 only; throws std::logic_error otherwise.
    ObjectId& Objid();
    const ObjectId& Objid() const;
    // The owned address bytes: as String().
    OctetString& IpAddr() { return String(); }
    const OctetString& IpAddr() const { return String(); }

    // The number. The numeric storage is kept apart from the owned object, so
    // using these on a value of another kind never damages that object.
    int Integer() const { return num_.i32; }
    int& Integer() { return num_.i32; }
    unsigned int Unsigned() const { return num_.u32; }
    unsigned int& Unsigned() { return num_.u32; }
    unsigned int Counter() const { return num_.u32; }
    unsigned int& Counter() { return num_.u32; }
    unsigned int Ticks() const { return num_.u32; }
    unsigned int& Ticks() { return num_.u32; }
    unsigned long long Counter64() const { return num_.u64; }
    unsigned long long& Counter64() { return num_.u64; }

    // Assign into the owned object; throw std::logic_error when the type does
    // not hold that kind of object (see the accessors).
    void SetString(const OctetString& s);
    void SetBits(const BitString& b);
    void SetObjid(const ObjectId& oid);
    void SetIpAddr(const OctetString& addr);
    // The owned string becomes the 4 bytes of `address`, most significant first.
    void SetIpAddr(unsigned int address);

    void SetInteger(int v) {
        num_.u64 = 0;
        num_.i32 = v;
    }
    void SetUnsigned(unsigned int v) {
        num_.u64 = 0;
        num_.u32 = v;
    }
    void SetCounter(unsigned int v) {
        num_.u64 = 0;
        num_.u32 = v;
    }
    void SetTicks(unsigned int v) {
        num_.u64 = 0;
        num_.u32 = v;
    }
    void SetCounter64(unsigned long long v) { num_.u64 = v; }

    // Compares by this value's type: signed for 0x02, unsigned for the 32-bit
    // and 64-bit numbers (-1, 0 or 1); OctetString::Compare for 0x03, 0x04,
    // 0x40, 0x44 and ObjectId::Compare for 0x06 (both may return a length
    // difference); 0 for any other type. When `other` does not hold the same
    // kind of content, the tags are compared instead (-1 or 1).
    int Compare(const AsnValue& other) const;

    // Appends the display text: "%d", "%u", 64-bit decimal, the bytes of a
    // string unchanged, ".1.3.6" for an identifier, "a.b.c.d" for an IpAddress
    // of exactly 4 bytes; nothing for other types.
    void MakeStr(std::string& out) const;
    // Appends the type name ("Integer32", "OCTET STRING", "Counter64", ...);
    // nothing for 0x80 to 0x82 and unknown tags.
    void MakeStrType(std::string& out) const;
    // Appends the reversible text: numbers and identifiers as MakeStr, an
    // IpAddress as its bytes in decimal joined by '.', whatever its length,
    // and 0x03, 0x04, 0x44 byte by byte, with every byte outside 32 to 126 and
    // every reserved character (blank !"#$%&'()+,/:;<=>?[\]^`{}~) as "%XX".
    void ToURLStr(std::string& out) const;
    // Makes this an OCTET STRING decoded from `in`: "%XX" (either case) gives
    // that byte, "%%" gives '%', a final '%' is dropped, and a '%' followed by
    // anything else is kept as a literal '%'; other characters are bytes.
    void FromURLStr(const std::string& in);

private:
    void CopyContentFrom(const AsnValue& other);

    unsigned int type_;
    union Number {
        int i32;
        unsigned int u32;
        unsigned long long u64;
    } num_;
    std::unique_ptr<OctetString> str_;  // a BitString for 0x03
    std::unique_ptr<ObjectId> oid_;
};

}  // namespace snmp

#endif
