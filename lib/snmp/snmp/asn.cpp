// BER element codec: encoders and decoders for the single BER elements SNMP uses, and the codec
// exception classes.
//
// Every public function runs its steps on a private copy of the caller's cursor and commits the
// copy only when all steps succeeded, so a failed call leaves the caller's cursor untouched.
// Every read and every write is checked against the remaining count first.
#include "snmp/asn.h"

#include <cstdint>
#include <cstring>

EAsnException::EAsnException() = default;
EAsnException::EAsnException(const EAsnException&) = default;
EAsnException& EAsnException::operator=(const EAsnException&) = default;
EAsnException::~EAsnException() = default;

CAsnException::CAsnException(const std::string& text) : text_(text) {}
CAsnException::CAsnException(const CAsnException& other) = default;
CAsnException& CAsnException::operator=(const CAsnException& other) = default;
CAsnException::~CAsnException() = default;

const std::string& CAsnException::Text() const {
    return text_;
}

namespace {

const char kEncBufferTooSmall[] = "[AsnEncode] buffer too small";
const char kEncLengthTooLarge[] = "[AsnEncode] lengths larger than 16 bits unsupported";
const char kEncSequenceTooLong[] = "[AsnEncode] SEQUENCE is too long";
const char kDecExpectedLarger[] = "[AsnDecode] expected larger buffer";
const char kDecDataTooSmall[] = "[AsnDecode] data buffer too small";
const char kDecIndefinite[] = "[AsnDecode] indefinite lengths not supported";
const char kDecLengthTooLarge[] = "[AsnDecode] lengths larger than 32 bits unsupported";
const char kDecInteger32[] = "[AsnDecode] Integer32 is larger than 32 bits";
const char kDecCounter64[] = "[AsnDecode] Counter64 is larger than 64 bits";
const char kDecNullLength[] = "[AsnDecode] Unexpected: non-zero length for ASN_NULL";
const char kDecArcTooLarge[] = "[AsnDecode] object identifier arc is larger than 32 bits";

constexpr unsigned int kMaxEncodedLength = 0xFFFF;
constexpr std::uint8_t kCounter64Tag = 0x46;

[[noreturn]] void Raise(const char* text) {
    throw CAsnException(text);
}

using WCursor = unsigned char*;
using RCursor = const unsigned char*;

// Runs `body` on a copy of the cursor and hands the advanced copy back only on success.
template <typename Cursor, typename Body>
void Transact(Cursor& p, unsigned int& left, Body&& body) {
    Cursor q = p;
    unsigned int l = left;
    body(q, l);
    p = q;
    left = l;
}

// ---- Building blocks working directly on a cursor -------------------------------------------

void PutType(WCursor& q, unsigned int& l, unsigned int type) {
    if (l == 0) Raise(kEncBufferTooSmall);
    *q++ = static_cast<unsigned char>(type & 0xFF);
    --l;
}

void PutLength(WCursor& q, unsigned int& l, unsigned int length) {
    if (length > kMaxEncodedLength) Raise(kEncLengthTooLarge);
    if (length < 0x80) {
        if (l < 1) Raise(kEncBufferTooSmall);
        *q++ = static_cast<unsigned char>(length);
        l -= 1;
    } else if (length <= 0xFF) {
        if (l < 2) Raise(kEncBufferTooSmall);
        *q++ = 0x81;
        *q++ = static_cast<unsigned char>(length);
        l -= 2;
    } else {
        if (l < 3) Raise(kEncBufferTooSmall);
        *q++ = 0x82;
        *q++ = static_cast<unsigned char>(length >> 8);
        *q++ = static_cast<unsigned char>(length & 0xFF);
        l -= 3;
    }
}

// A length computed in 64 bits (sums of sizes may exceed 32): anything beyond the encodable
// range is reported like any other over-long length.
void PutWideLength(WCursor& q, unsigned int& l, std::uint64_t length) {
    PutLength(
        q, l,
        length > kMaxEncodedLength ? kMaxEncodedLength + 1 : static_cast<unsigned int>(length));
}

void PutBytes(WCursor& q, unsigned int& l, const unsigned char* data, unsigned int size) {
    if (l < size) Raise(kEncBufferTooSmall);
    if (size != 0) std::memcpy(q, data, size);
    q += size;
    l -= size;
}

// Writes the low `n` octets of `v`, most significant first (space already checked).
void PutBigEndian(WCursor& q, std::uint64_t v, unsigned int n) {
    while (n-- > 0) *q++ = static_cast<unsigned char>(v >> (8 * n));
}

// Octets of `v` in base 128.
unsigned int Base128Size(std::uint64_t v) {
    unsigned int n = 1;
    while (v >= 0x80) {
        v >>= 7;
        ++n;
    }
    return n;
}

// Writes `v` in base 128, most significant group first, bit 7 set on all octets but the last.
void PutBase128(WCursor& q, std::uint64_t v) {
    const unsigned int n = Base128Size(v);
    for (unsigned int i = n; i-- > 0;) {
        const auto group = static_cast<unsigned char>((v >> (7 * i)) & 0x7F);
        *q++ = i == 0 ? group : static_cast<unsigned char>(group | 0x80);
    }
}

// Length and content of an unsigned value of `octets` octets: when its top bit is set, a leading
// 0x00 keeps it positive; otherwise the shortest form whose first octet has bit 7 clear.
void PutUnsigned(WCursor& q, unsigned int& l, std::uint64_t v, unsigned int octets) {
    const std::uint64_t top = std::uint64_t{1} << (8 * octets - 1);
    const std::uint64_t top9 = ~std::uint64_t{0} << (8 * octets - 9);
    const std::uint64_t mask = top9 & ((top << 1) - 1);  // wraps to all ones for 8 octets
    if ((v & top) != 0) {
        PutLength(q, l, octets + 1);
        if (l < octets + 1) Raise(kEncBufferTooSmall);
        *q++ = 0x00;
        PutBigEndian(q, v, octets);
        l -= octets + 1;
        return;
    }
    unsigned int n = octets;
    std::uint64_t shifted = v;
    while (n >= 2 && (shifted & mask) == 0) {
        --n;
        shifted <<= 8;
    }
    PutLength(q, l, n);
    if (l < n) Raise(kEncBufferTooSmall);
    PutBigEndian(q, v, n);
    l -= n;
}

void GetLength(RCursor& q, unsigned int& l, unsigned int& length) {
    if (l == 0) Raise(kDecExpectedLarger);
    const unsigned char first = *q;
    if ((first & 0x80) == 0) {
        ++q;
        --l;
        length = first;
        return;
    }
    const unsigned int n = first & 0x7F;
    if (n == 0) Raise(kDecIndefinite);
    if (n > 4) Raise(kDecLengthTooLarge);
    if (l - 1 < n) Raise(kDecExpectedLarger);
    unsigned int value = 0;
    for (unsigned int i = 1; i <= n; ++i) value = (value << 8) | q[i];
    q += n + 1;
    l -= n + 1;
    length = value;
}

// Every value decoder consumes its whole content; the content must lie within the input.
void RequireContent(unsigned int l, unsigned int length) {
    if (l < length) Raise(kDecExpectedLarger);
}

// Big-endian unsigned content of at most `octets` value octets, optionally led by one 0x00.
std::uint64_t GetUnsigned(RCursor& q, unsigned int& l, unsigned int octets, const char* tooLarge) {
    unsigned int length = 0;
    GetLength(q, l, length);
    if (length > octets + 1) Raise(tooLarge);
    RequireContent(l, length);
    unsigned int i = 0;
    if (length == octets + 1) {
        if (q[0] != 0x00) Raise(tooLarge);
        i = 1;
    }
    std::uint64_t v = 0;
    for (; i < length; ++i) v = (v << 8) | q[i];
    q += length;
    l -= length;
    return v;
}

}  // namespace

// ---- Type octet --------------------------------------------------------------------------------

void AsnEncodeType(unsigned char*& p, unsigned int& left, unsigned int type) {
    Transact(p, left, [&](WCursor& q, unsigned int& l) { PutType(q, l, type); });
}

void AsnDecodeType(const unsigned char*& p, unsigned int& left, unsigned int& type) {
    if (left == 0) Raise(kDecExpectedLarger);
    type = *p++;
    --left;
}

// ---- Length ------------------------------------------------------------------------------------

void AsnEncodeLength(unsigned char*& p, unsigned int& left, unsigned int length) {
    Transact(p, left, [&](WCursor& q, unsigned int& l) { PutLength(q, l, length); });
}

void AsnDecodeLength(const unsigned char*& p, unsigned int& left, unsigned int& length) {
    Transact(p, left, [&](RCursor& q, unsigned int& l) { GetLength(q, l, length); });
}

// ---- Signed integer ----------------------------------------------------------------------------

void AsnEncode(unsigned char*& p, unsigned int& left, int value, unsigned int type) {
    Transact(p, left, [&](WCursor& q, unsigned int& l) {
        PutType(q, l, type);
        const auto v = static_cast<std::uint32_t>(value);
        unsigned int n = 4;
        std::uint32_t shifted = v;
        // Drop leading octets while the next one still carries the sign.
        while (n >= 2 && ((shifted & 0xFF800000U) == 0 || (shifted & 0xFF800000U) == 0xFF800000U)) {
            --n;
            shifted <<= 8;
        }
        PutLength(q, l, n);
        if (l < n) Raise(kEncBufferTooSmall);
        PutBigEndian(q, v, n);
        l -= n;
    });
}

void AsnDecode(const unsigned char*& p, unsigned int& left, int& value) {
    Transact(p, left, [&](RCursor& q, unsigned int& l) {
        unsigned int length = 0;
        GetLength(q, l, length);
        if (length > 4) Raise(kDecInteger32);
        RequireContent(l, length);
        // The sign comes from the first content octet; an empty content has none and is 0.
        std::uint32_t v = (length > 0 && (q[0] & 0x80) != 0) ? 0xFFFFFFFFU : 0U;
        for (unsigned int i = 0; i < length; ++i) v = (v << 8) | q[i];
        q += length;
        l -= length;
        value = static_cast<int>(v);
    });
}

// ---- Unsigned integer --------------------------------------------------------------------------

void AsnEncode(unsigned char*& p, unsigned int& left, unsigned int value, unsigned int type) {
    Transact(p, left, [&](WCursor& q, unsigned int& l) {
        PutType(q, l, type);
        PutUnsigned(q, l, value, 4);
    });
}

void AsnDecode(const unsigned char*& p, unsigned int& left, unsigned int& value) {
    Transact(p, left, [&](RCursor& q, unsigned int& l) {
        value = static_cast<unsigned int>(GetUnsigned(q, l, 4, kDecInteger32));
    });
}

// ---- NULL --------------------------------------------------------------------------------------

void AsnEncode(unsigned char*& p, unsigned int& left, unsigned int type) {
    Transact(p, left, [&](WCursor& q, unsigned int& l) {
        PutType(q, l, type);
        PutLength(q, l, 0);
    });
}

void AsnDecode(const unsigned char*& p, unsigned int& left) {
    Transact(p, left, [&](RCursor& q, unsigned int& l) {
        unsigned int length = 0;
        GetLength(q, l, length);
        if (length != 0) Raise(kDecNullLength);
    });
}

// ---- Byte runs ---------------------------------------------------------------------------------

void AsnEncode(unsigned char*& p, unsigned int& left, const unsigned char* data, unsigned int size,
               unsigned int type) {
    Transact(p, left, [&](WCursor& q, unsigned int& l) {
        PutType(q, l, type);
        PutLength(q, l, size);
        PutBytes(q, l, data, size);
    });
}

void AsnDecode(const unsigned char*& p, unsigned int& left, unsigned char* out,
               unsigned int& size) {
    Transact(p, left, [&](RCursor& q, unsigned int& l) {
        unsigned int length = 0;
        GetLength(q, l, length);
        AsnDecode(q, l, out, size, length);
    });
}

void AsnDecode(const unsigned char*& p, unsigned int& left, unsigned char* out, unsigned int& size,
               unsigned int count) {
    if (left < count) Raise(kDecExpectedLarger);
    if (size < count) Raise(kDecDataTooSmall);
    if (count != 0) std::memcpy(out, p, count);
    p += count;
    left -= count;
    size = count;
}

// ---- OBJECT IDENTIFIER -------------------------------------------------------------------------

void AsnEncode(unsigned char*& p, unsigned int& left, const unsigned int* arcs, unsigned int count,
               unsigned int type) {
    Transact(p, left, [&](WCursor& q, unsigned int& l) {
        PutType(q, l, type);
        // The first two arcs share one subidentifier. Computed in 64 bits so that large second
        // arcs under 2 neither wrap nor get truncated to one octet: they are written base 128
        // like any other subidentifier, which is how BER carries them.
        std::uint64_t first = 0;
        if (count == 1) {
            first = std::uint64_t{arcs[0]} * 40;
            if (l < 1) Raise(kEncBufferTooSmall);
        } else if (count >= 2) {
            first = std::uint64_t{arcs[0]} * 40 + arcs[1];
            if (l < 2) Raise(kEncBufferTooSmall);
        }
        std::uint64_t content = Base128Size(first);
        for (unsigned int i = 2; i < count; ++i) content += Base128Size(arcs[i]);
        PutWideLength(q, l, content);
        if (l < content) Raise(kEncBufferTooSmall);
        PutBase128(q, first);
        for (unsigned int i = 2; i < count; ++i) PutBase128(q, arcs[i]);
        l -= static_cast<unsigned int>(content);
    });
}

void AsnDecode(const unsigned char*& p, unsigned int& left, unsigned int* arcs,
               unsigned int& count) {
    Transact(p, left, [&](RCursor& q, unsigned int& l) {
        unsigned int length = 0;
        GetLength(q, l, length);
        RequireContent(l, length);
        const unsigned int capacity = count;
        if (length == 0) {
            if (capacity < 2) Raise(kDecDataTooSmall);
            arcs[0] = 0;
            arcs[1] = 0;
            count = 2;
            return;
        }
        // The first subidentifier holds 2.x for any 32-bit x, so it may exceed 32 bits by 80.
        constexpr std::uint64_t kMaxArc = 0xFFFFFFFFULL;
        constexpr std::uint64_t kMaxFirst = kMaxArc + 80;
        unsigned int k = 0;
        unsigned int pos = 0;
        std::uint64_t first = 0;
        while (pos < length) {
            ++k;
            const std::uint64_t limit = k == 1 ? kMaxFirst : kMaxArc;
            std::uint64_t x = 0;
            unsigned char octet = 0;
            do {
                // A subidentifier whose last octet still has bit 7 set runs past the content.
                if (pos == length) Raise(kDecExpectedLarger);
                octet = q[pos++];
                x = (x << 7) | (octet & 0x7FU);
                if (x > limit) Raise(kDecArcTooLarge);
            } while ((octet & 0x80) != 0);
            if (k >= capacity) Raise(kDecDataTooSmall);
            if (k == 1) {
                first = x;
            } else {
                arcs[k] = static_cast<unsigned int>(x);
            }
        }
        if (first < 40) {
            arcs[0] = 0;
            arcs[1] = static_cast<unsigned int>(first);
        } else if (first < 80) {
            arcs[0] = 1;
            arcs[1] = static_cast<unsigned int>(first - 40);
        } else {
            arcs[0] = 2;
            arcs[1] = static_cast<unsigned int>(first - 80);
        }
        q += length;
        l -= length;
        count = k + 1;
    });
}

// ---- Counter64 ---------------------------------------------------------------------------------

void AsnEncode(unsigned char*& p, unsigned int& left, const unsigned int* const words) {
    Transact(p, left, [&](WCursor& q, unsigned int& l) {
        PutType(q, l, kCounter64Tag);
        PutUnsigned(q, l, (std::uint64_t{words[0]} << 32) | words[1], 8);
    });
}

void AsnEncode(unsigned char*& p, unsigned int& left, unsigned long long value,
               unsigned int /*type: Counter64 always carries its own tag*/) {
    const unsigned int words[2] = {static_cast<unsigned int>(value >> 32),
                                   static_cast<unsigned int>(value & 0xFFFFFFFFULL)};
    AsnEncode(p, left, words);
}

void AsnDecode(const unsigned char*& p, unsigned int& left, unsigned int (&words)[2]) {
    unsigned long long value = 0;
    AsnDecode(p, left, value);
    words[0] = static_cast<unsigned int>(value >> 32);
    words[1] = static_cast<unsigned int>(value & 0xFFFFFFFFULL);
}

void AsnDecode(const unsigned char*& p, unsigned int& left, unsigned long long& value) {
    Transact(p, left,
             [&](RCursor& q, unsigned int& l) { value = GetUnsigned(q, l, 8, kDecCounter64); });
}

// ---- BIT STRING --------------------------------------------------------------------------------

void AsnEncodeBits(unsigned char*& p, unsigned int& left, const unsigned char* data,
                   unsigned int size, unsigned char unused, unsigned int type) {
    Transact(p, left, [&](WCursor& q, unsigned int& l) {
        PutType(q, l, type);
        const std::uint64_t content = std::uint64_t{size} + 1;
        PutWideLength(q, l, content);
        if (l < content) Raise(kEncBufferTooSmall);
        *q++ = unused;
        if (size != 0) std::memcpy(q, data, size);
        q += size;
        if (unused < 8 && size >= 1) q[-1] = static_cast<unsigned char>(q[-1] & (0xFFU << unused));
        l -= static_cast<unsigned int>(content);
    });
}

void AsnDecodeBits(const unsigned char*& p, unsigned int& left, unsigned char* out,
                   unsigned int& size, unsigned char& unused) {
    Transact(p, left, [&](RCursor& q, unsigned int& l) {
        unsigned int length = 0;
        GetLength(q, l, length);
        RequireContent(l, length);
        if (size < length) Raise(kDecDataTooSmall);
        unsigned char bits = 0;
        unsigned int n = 0;
        if (length >= 1) {
            // The first content octet is always the unused-bits count, even with no data after
            // it: that is how an empty bit string is written.
            bits = q[0];
            n = length - 1;
            if (n != 0) std::memcpy(out, q + 1, n);
            if (n != 0 && bits < 8)
                out[n - 1] = static_cast<unsigned char>(out[n - 1] & (0xFFU << bits));
        }
        q += length;
        l -= length;
        unused = bits;
        size = n;
    });
}

// ---- SEQUENCE header ---------------------------------------------------------------------------

void AsnEncodeSequence(unsigned char*& p, unsigned int& left, unsigned int contentLength,
                       unsigned int type) {
    unsigned char header[32];
    unsigned char* h = header;
    unsigned int room = sizeof header;
    try {
        PutType(h, room, type);
        PutLength(h, room, contentLength);
    } catch (const CAsnException&) {
        Raise(kEncSequenceTooLong);
    }
    const auto size = static_cast<unsigned int>(h - header);
    if (left < size) Raise(kEncBufferTooSmall);
    std::memcpy(p - size, header, size);
    p -= size;
    left -= size;
}
