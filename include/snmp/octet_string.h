// Byte-string values of libZorKalSnmp: OctetString holds every OCTET STRING,
// IpAddress and Opaque value, engine id, context name, key and security
// parameter; BitString adds the unused-bits count of a BIT STRING.
#ifndef SNMP_OCTET_STRING_H
#define SNMP_OCTET_STRING_H

#include <string>
#include <vector>

#include "snmp/export.h"

namespace snmp {

// A growable, owned, contiguous array of bytes with value semantics.
class SNMP_API OctetString {
public:
    // An empty string.
    OctetString() = default;
    // A copy of `size` bytes at `data`. A null `data` gives an empty string.
    OctetString(const unsigned char* data, unsigned int size);
    // The bytes of `s` (an empty `s` gives an empty string).
    OctetString(const std::string& s);
    OctetString(const OctetString&) = default;
    OctetString(OctetString&&) noexcept = default;
    OctetString& operator=(const OctetString&) = default;
    OctetString& operator=(OctetString&&) noexcept = default;
    virtual ~OctetString();

    // Replaces the content by the bytes of `s`.
    OctetString& operator=(const std::string& s);

    // Replaces the content by `size` bytes copied from `data` (which may point
    // into this string). A null `data` empties the string.
    void Set(const unsigned char* data, unsigned int size);
    // Replaces the content by `count` copies of `value`.
    void Set(unsigned int count, unsigned char value);
    // Grows (new bytes are 0) or shrinks to `size` bytes; a negative size empties.
    void Resize(int size);

    // Append one byte, or every byte of `other` (which may be this string).
    OctetString& operator+=(unsigned char byte);
    OctetString& operator+=(char byte);
    OctetString& operator+=(const OctetString& other);

    // The byte at `index`. Not range-tested: `index` must be below Size().
    unsigned char& operator[](int index) { return bytes_[static_cast<size_t>(index)]; }
    const unsigned char& operator[](int index) const { return bytes_[static_cast<size_t>(index)]; }

    // Pointer to the first byte, or null when the string is empty.
    const unsigned char* Data() const { return bytes_.empty() ? nullptr : bytes_.data(); }
    unsigned char* Data() { return bytes_.empty() ? nullptr : bytes_.data(); }
    // Number of bytes.
    unsigned int Size() const { return static_cast<unsigned int>(bytes_.size()); }
    bool Empty() const { return bytes_.empty(); }

    // True when the sizes are equal and the bytes are equal (two empty
    // strings are equal).
    bool operator==(const std::string& s) const;
    bool operator==(const OctetString& other) const { return bytes_ == other.bytes_; }
    bool operator!=(const OctetString& other) const { return bytes_ != other.bytes_; }

    // Orders byte by byte as unsigned values: -1 or 1 at the first differing
    // byte; with a common prefix, this size minus the other size (clamped to
    // the range of int).
    int Compare(const OctetString& other) const;

    // out[i] = a[i] XOR b[i] for every index below a.Size() that `b` and `out`
    // also hold; `out` is never resized, so callers size `out` and `b` to at
    // least a.Size(). `out` may be the same object as `a` or `b`.
    static void XOR(OctetString& out, const OctetString& a, const OctetString& b);

private:
    std::vector<unsigned char> bytes_;
};

// An OctetString carrying the number of unused low-order bits of its last byte.
class SNMP_API BitString : public OctetString {
public:
    // Empty, 0 unused bits.
    BitString() = default;
    // A copy of `size` bytes at `data`, 0 unused bits.
    BitString(const unsigned char* data, unsigned int size) : OctetString(data, size) {}
    BitString(const BitString&) = default;
    BitString(BitString&&) noexcept = default;
    BitString& operator=(const BitString&) = default;
    BitString& operator=(BitString&&) noexcept = default;
    ~BitString() override;

    unsigned char UnusedBits() const { return unused_; }
    // Sets the unused-bits count; the value is not range-tested.
    void SetUnusedBits(unsigned char unused) { unused_ = unused; }

private:
    unsigned char unused_ = 0;
};

}  // namespace snmp

#endif
