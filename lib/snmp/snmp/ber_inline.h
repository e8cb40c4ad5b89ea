// Internal: inline forms of the BER element codec for the message encoder and decoder. Each
// handles the forms SNMP messages nearly always carry (short lengths, small arcs) in line and
// hands anything else, every malformed element included, to the exported function of the same
// element, so results and error texts are exactly the exported codec's.
#ifndef SNMP_BER_INLINE_H
#define SNMP_BER_INLINE_H

#include <cstdint>
#include <cstring>

#include "snmp/asn.h"
#include "snmp/object_id.h"
#include "snmp/octet_string.h"

namespace snmp::ber {

// ---- Decoding (the type octet already read, `p` at the length octet) ----------------------------

inline unsigned int ReadType(const unsigned char*& p, unsigned int& left) {
    if (left != 0) {
        --left;
        return *p++;
    }
    unsigned int type = 0;
    AsnDecodeType(p, left, type);
    return type;
}

inline unsigned int ReadLength(const unsigned char*& p, unsigned int& left) {
    if (left != 0 && *p < 0x80) {
        --left;
        return *p++;
    }
    unsigned int length = 0;
    AsnDecodeLength(p, left, length);
    return length;
}

inline int ReadInteger(const unsigned char*& p, unsigned int& left) {
    if (left >= 2) {
        const unsigned int length = p[0];
        if (length >= 1 && length <= 4 && length <= left - 1) {
            std::uint32_t v = (p[1] & 0x80) != 0 ? 0xFFFFFFFFU : 0U;
            for (unsigned int i = 1; i <= length; ++i) v = (v << 8) | p[i];
            p += length + 1;
            left -= length + 1;
            return static_cast<int>(v);
        }
    }
    int value = 0;
    AsnDecode(p, left, value);
    return value;
}

// Unsigned content of at most `octets` value octets (4: 32-bit, 8: Counter64), optionally led by
// one 0x00 octet.
template <unsigned int octets>
inline bool ReadUnsignedFast(const unsigned char*& p, unsigned int& left, std::uint64_t& value) {
    if (left < 2) return false;
    const unsigned int length = p[0];
    if (length < 1 || length > octets + 1 || length > left - 1) return false;
    unsigned int i = 1;
    if (length == octets + 1) {
        if (p[1] != 0) return false;
        i = 2;
    }
    std::uint64_t v = 0;
    for (; i <= length; ++i) v = (v << 8) | p[i];
    p += length + 1;
    left -= length + 1;
    value = v;
    return true;
}

inline unsigned int ReadUnsigned(const unsigned char*& p, unsigned int& left) {
    std::uint64_t v = 0;
    if (ReadUnsignedFast<4>(p, left, v)) return static_cast<unsigned int>(v);
    unsigned int value = 0;
    AsnDecode(p, left, value);
    return value;
}

inline unsigned long long ReadCounter64(const unsigned char*& p, unsigned int& left) {
    std::uint64_t v = 0;
    if (ReadUnsignedFast<8>(p, left, v)) return v;
    unsigned long long value = 0;
    AsnDecode(p, left, value);
    return value;
}

inline void ReadNull(const unsigned char*& p, unsigned int& left) {
    if (left != 0 && *p == 0) {
        ++p;
        --left;
        return;
    }
    AsnDecode(p, left);
}

// A byte run into `out`; `scratch` of `capacity` octets bounds it (and takes it on the slow path).
inline void ReadBytes(const unsigned char*& p, unsigned int& left, OctetString& out,
                      unsigned char* scratch, unsigned int capacity) {
    if (left != 0 && *p < 0x80) {
        const unsigned int length = *p;
        if (length <= left - 1 && length <= capacity) {
            out.Set(p + 1, length);
            p += length + 1;
            left -= length + 1;
            return;
        }
    }
    unsigned int size = capacity;
    AsnDecode(p, left, scratch, size);
    out.Set(scratch, size);
}

// One subidentifier of two or more octets, `first` already read, at most `limit`; false when it
// runs past `end` or beyond the limit.
inline bool ReadLongSubid(const unsigned char*& c, const unsigned char* end, unsigned int first,
                          std::uint64_t limit, std::uint64_t& x) {
    x = first & 0x7FU;
    unsigned char octet = 0;
    do {
        if (c == end) return false;
        octet = *c++;
        x = (x << 7) | (octet & 0x7FU);
        if (x > limit) return false;
    } while ((octet & 0x80) != 0);
    return true;
}

// An object identifier of a short-form length whose subidentifiers all fit their ranges, or false
// (nothing consumed) for the exported decoder to settle.
inline bool ReadObjectIdFast(const unsigned char*& p, unsigned int& left, ObjectId& out,
                             unsigned int capacity) {
    if (left < 2) return false;
    const unsigned int length = p[0];
    if (length == 0 || length >= 0x80 || length > left - 1) return false;
    const unsigned char* c = p + 1;
    const unsigned char* const end = c + length;
    // At most one subidentifier per octet, the first giving two arcs.
    unsigned int arcs[0x80 + 1];
    std::uint64_t x = *c++;
    if (x >= 0x80 && !ReadLongSubid(c, end, static_cast<unsigned int>(x), 0xFFFFFFFFULL + 80, x))
        return false;
    const unsigned int top = x < 40 ? 0 : (x < 80 ? 1 : 2);
    arcs[0] = top;
    arcs[1] = static_cast<unsigned int>(x - 40 * top);
    unsigned int* a = arcs + 2;
    while (c != end) {
        const unsigned int octet = *c++;
        if (octet < 0x80) {
            *a++ = octet;
            continue;
        }
        if (!ReadLongSubid(c, end, octet, 0xFFFFFFFFULL, x)) return false;
        *a++ = static_cast<unsigned int>(x);
    }
    const auto count = static_cast<unsigned int>(a - arcs);
    if (count > capacity) return false;
    out.Set(arcs, count);
    p = end;
    left -= length + 1;
    return true;
}

inline void ReadObjectId(const unsigned char*& p, unsigned int& left, ObjectId& out,
                         unsigned int* scratch, unsigned int capacity) {
    if (ReadObjectIdFast(p, left, out, capacity)) return;
    unsigned int count = capacity;
    AsnDecode(p, left, scratch, count);
    out.Set(scratch, count);
}

// ---- Encoding (forwards at `p`, `left` free octets behind it)
// -------------------------------------

// Octets of `v` in base 128.
inline unsigned int Base128Size(std::uint32_t v) {
    return v < 0x80 ? 1 : v < 0x4000 ? 2 : v < 0x200000 ? 3 : v < 0x10000000 ? 4 : 5;
}

inline void PutBase128(unsigned char*& q, std::uint32_t v) {
    if (v < 0x80) {
        *q++ = static_cast<unsigned char>(v);
        return;
    }
    const unsigned int n = Base128Size(v);
    for (unsigned int i = n; i-- > 1;) *q++ = static_cast<unsigned char>(0x80 | (v >> (7 * i)));
    *q++ = static_cast<unsigned char>(v & 0x7F);
}

// An OBJECT IDENTIFIER whose first subidentifier is below 128 and whose content is below 128
// octets, written in one pass where the room allows any arcs; anything else goes to the
// exported encoder.
inline void WriteObjectId(unsigned char*& p, unsigned int& left, const unsigned int* arcs,
                          unsigned int count, unsigned int type) {
    if (count >= 2 && count < 0x80 && arcs[0] <= 2 && arcs[1] < 128 - 40 * arcs[0] &&
        3 + 5 * (count - 2) <= left) {
        unsigned char* q = p + 2;
        *q++ = static_cast<unsigned char>(arcs[0] * 40 + arcs[1]);
        for (unsigned int i = 2; i < count; ++i) {
            const unsigned int arc = arcs[i];
            if (arc < 0x80) {
                *q++ = static_cast<unsigned char>(arc);
            } else {
                PutBase128(q, arc);
            }
        }
        const auto content = static_cast<unsigned int>(q - (p + 2));
        if (content < 0x80) {
            p[0] = static_cast<unsigned char>(type);
            p[1] = static_cast<unsigned char>(content);
            p = q;
            left -= content + 2;
            return;
        }
    }
    AsnEncode(p, left, arcs, count, type);
}

// Octets of the shortest two's complement form of `v`.
inline unsigned int SignedSize(std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    const std::uint32_t x = u ^ static_cast<std::uint32_t>(v >> 31);  // leading sign bits become 0
    return x < 0x80 ? 1 : x < 0x8000 ? 2 : x < 0x800000 ? 3 : 4;
}

inline void WriteInteger(unsigned char*& p, unsigned int& left, int value, unsigned int type) {
    const unsigned int n = SignedSize(value);
    if (n + 2 <= left) {
        unsigned char* q = p;
        *q++ = static_cast<unsigned char>(type);
        *q++ = static_cast<unsigned char>(n);
        const auto u = static_cast<std::uint32_t>(value);
        for (unsigned int i = n; i-- > 0;) *q++ = static_cast<unsigned char>(u >> (8 * i));
        p = q;
        left -= n + 2;
        return;
    }
    AsnEncode(p, left, value, type);
}

// An unsigned value of `octets` octets (4 or 8): a leading 0x00 when its top bit is set, else the
// shortest form whose first octet has bit 7 clear.
template <unsigned int octets>
inline bool WriteUnsignedFast(unsigned char*& p, unsigned int& left, std::uint64_t v,
                              unsigned int type) {
    unsigned int n = 1;
    while (n < octets + 1 && (v >> (8 * n - 1)) != 0) ++n;
    if (n + 2 > left) return false;
    unsigned char* q = p;
    *q++ = static_cast<unsigned char>(type);
    *q++ = static_cast<unsigned char>(n);
    for (unsigned int i = n; i-- > 0;) *q++ = i >= 8 ? 0 : static_cast<unsigned char>(v >> (8 * i));
    p = q;
    left -= n + 2;
    return true;
}

inline void WriteUnsigned(unsigned char*& p, unsigned int& left, unsigned int value,
                          unsigned int type) {
    if (!WriteUnsignedFast<4>(p, left, value, type)) AsnEncode(p, left, value, type);
}

inline void WriteCounter64(unsigned char*& p, unsigned int& left, unsigned long long value) {
    if (!WriteUnsignedFast<8>(p, left, value, 0x46)) AsnEncode(p, left, value, 0x46U);
}

inline void WriteNull(unsigned char*& p, unsigned int& left, unsigned int type) {
    if (left >= 2) {
        p[0] = static_cast<unsigned char>(type);
        p[1] = 0;
        p += 2;
        left -= 2;
        return;
    }
    AsnEncode(p, left, type);
}

inline void WriteBytes(unsigned char*& p, unsigned int& left, const unsigned char* data,
                       unsigned int size, unsigned int type) {
    if (size < 0x80 && size + 2 <= left) {
        p[0] = static_cast<unsigned char>(type);
        p[1] = static_cast<unsigned char>(size);
        if (size != 0) std::memcpy(p + 2, data, size);
        p += size + 2;
        left -= size + 2;
        return;
    }
    AsnEncode(p, left, data, size, type);
}

}  // namespace snmp::ber

#endif
