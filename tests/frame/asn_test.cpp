// Tests of the BER element codec: wire forms, error texts, and the cursor contract every call
// keeps (p and left move together, not at all on failure; no read past the input, no write past
// `left`, nothing written past an output's capacity).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "snmp/asn.h"
#include "test_util.h"

namespace {

using zktest::Bytes;
using zktest::FromHex;
using zktest::Tlv;
using Encoder = std::function<void(unsigned char*&, unsigned int&)>;
using Decoder = std::function<void(const unsigned char*&, unsigned int&)>;

const std::string kBufferTooSmall = "[AsnEncode] buffer too small";
const std::string kLength16 = "[AsnEncode] lengths larger than 16 bits unsupported";
const std::string kExpectedLarger = "[AsnDecode] expected larger buffer";
const std::string kDataTooSmall = "[AsnDecode] data buffer too small";
const std::string kIndefinite = "[AsnDecode] indefinite lengths not supported";
const std::string kLength32 = "[AsnDecode] lengths larger than 32 bits unsupported";
const std::string kInteger32 = "[AsnDecode] Integer32 is larger than 32 bits";
const std::string kCounter64 = "[AsnDecode] Counter64 is larger than 64 bits";
const std::string kNullLength = "[AsnDecode] Unexpected: non-zero length for ASN_NULL";
const std::string kArcTooLarge = "[AsnDecode] object identifier arc is larger than 32 bits";

std::string Show(const Bytes& bytes) {
    std::string out;
    for (unsigned char b : bytes) out += (out.empty() ? "" : " ") + zktest::ToHex(&b, 1);
    std::transform(out.begin(), out.end(), out.begin(), ::toupper);
    return out;
}

struct Outcome {
    std::string error;  // empty on success
    Bytes bytes;        // encoders: what was written; decoders: what was consumed
};

// Runs `code` on the cursor `start` with `size` octets left and checks the contract; `data`
// holds what the cursor covers, of which `bytes` keeps the part it moved over.
template <typename Cursor, typename Code>
Outcome Run(Cursor start, unsigned int size, const Bytes& data, const Code& code) {
    Cursor p = start;
    unsigned int left = size;
    Outcome result;
    try {
        code(p, left);
    } catch (const EAsnException& e) {
        result.error = e.Text();
    }
    const auto moved = static_cast<size_t>(p - start);
    EXPECT_EQ(moved + left, size) << "cursor and left moved apart";
    EXPECT_TRUE(result.error.empty() || moved == 0) << "cursor moved on failure";
    result.bytes.assign(data.begin(),
                        data.begin() + static_cast<std::ptrdiff_t>(std::min(moved, data.size())));
    return result;
}

// Runs an encoder with `capacity` bytes free, followed by guard bytes that must stay untouched.
Outcome RunEncoder(unsigned int capacity, const Encoder& encode) {
    Bytes buf(capacity + 16, 0xA5);
    Outcome result = Run(buf.data(), capacity, buf, encode);
    for (size_t i = capacity; i < buf.size(); ++i)
        EXPECT_EQ(buf[i], 0xA5) << "written past left at offset " << i;
    return result;
}

// Runs a decoder over exactly `input`, held in an allocation of exactly its size so that the
// address sanitizer reports any read past it.
Outcome RunDecoder(const Bytes& input, const Decoder& decode) {
    std::unique_ptr<unsigned char[]> data(new unsigned char[input.size()]);
    std::copy(input.begin(), input.end(), data.get());
    const unsigned char* start = data.get();
    return Run(start, static_cast<unsigned int>(input.size()), input, decode);
}

// ---- Expected wire forms, stated independently of the codec -------------------------------------

Bytes BigEndian(std::uint64_t v, unsigned int width) {
    Bytes out;
    for (unsigned int i = width; i-- > 0;)
        out.push_back(i >= 8 ? 0 : static_cast<unsigned char>(v >> (8 * i)));
    return out;
}

// Shortest content of `v` whose first octet has bit 7 clear (a leading 0x00 where needed).
Bytes UnsignedContent(std::uint64_t v) {
    unsigned int n = 1;
    while (n < 9 && v >= (std::uint64_t{1} << (8 * n - 1))) ++n;
    return BigEndian(v, n);
}

// 2^k - 1, 2^k and 2^k + 1 for every k up to 63, and the largest value.
std::vector<std::uint64_t> NearPowersOfTwo() {
    std::vector<std::uint64_t> values{~std::uint64_t{0}};
    for (int k = 0; k < 64; ++k)
        for (std::uint64_t d : {~std::uint64_t{0}, std::uint64_t{0}, std::uint64_t{1}})
            values.push_back((std::uint64_t{1} << k) + d);
    return values;
}

Bytes ContentOf(const Bytes& element) {
    return Bytes(element.begin() + 1, element.end());
}

// ---- Every decoder through one table ------------------------------------------------------------

enum class Dec { Type, Length, Int, Uint, Null, Octets, Counted, Oid, C64, Bits };

struct DecodeCase {
    Dec kind;
    const char* input;  // after the type octet; octets after " | " must be left unread
    std::string want;   // the value as text, or the error text
    unsigned int cap = 16;
    unsigned int count = 0;  // Counted only
};

// Runs the decoder of `c` over `input` and renders the value, or returns the error text. On
// failure every output and in/out count must be unchanged; nothing may land past a capacity.
std::string DecodeAs(const DecodeCase& c, const Bytes& input, Bytes* consumed = nullptr) {
    Bytes out(c.cap + 1, 0xEE);
    std::vector<unsigned int> arcs(c.cap + 1, 777);
    unsigned int size = c.cap;
    unsigned char unused = 0x55;
    int i32 = 4711;
    unsigned int u32 = 4711;
    unsigned long long u64 = 4711;
    const Decoder decoders[] = {
        // in the order of Dec
        [&](auto& p, auto& l) { AsnDecodeType(p, l, u32); },
        [&](auto& p, auto& l) { AsnDecodeLength(p, l, u32); },
        [&](auto& p, auto& l) { AsnDecode(p, l, i32); },
        [&](auto& p, auto& l) { AsnDecode(p, l, u32); },
        [&](auto& p, auto& l) { AsnDecode(p, l); },
        [&](auto& p, auto& l) { AsnDecode(p, l, out.data(), size); },
        [&](auto& p, auto& l) { AsnDecode(p, l, out.data(), size, c.count); },
        [&](auto& p, auto& l) { AsnDecode(p, l, arcs.data(), size); },
        [&](auto& p, auto& l) { AsnDecode(p, l, u64); },
        [&](auto& p, auto& l) { AsnDecodeBits(p, l, out.data(), size, unused); },
    };
    static_assert(sizeof decoders / sizeof decoders[0] == static_cast<size_t>(Dec::Bits) + 1);
    const Outcome o = RunDecoder(input, decoders[static_cast<int>(c.kind)]);
    if (consumed != nullptr) *consumed = o.bytes;
    EXPECT_EQ(out[c.cap], 0xEE) << "written past capacity";
    EXPECT_EQ(arcs[c.cap], 777u) << "written past capacity";
    if (c.kind == Dec::C64) {
        // The two-word form agrees with the 64-bit one.
        unsigned int words[2] = {11, 22};
        const Outcome w = RunDecoder(input, [&](auto& p, auto& l) { AsnDecode(p, l, words); });
        EXPECT_EQ(w.error, o.error);
        const auto joined = (static_cast<unsigned long long>(words[0]) << 32) | words[1];
        EXPECT_EQ(joined, o.error.empty() ? u64 : (11ULL << 32) | 22);
    }
    if (!o.error.empty()) {
        EXPECT_EQ(size, c.cap) << "size changed on failure";
        EXPECT_EQ(unused, 0x55);
        EXPECT_EQ(i32, 4711);
        EXPECT_EQ(u32, 4711u);
        EXPECT_EQ(u64, 4711u);
        return o.error;
    }
    if (c.kind == Dec::Int) return std::to_string(i32);
    if (c.kind == Dec::C64) return std::to_string(u64);
    if (c.kind == Dec::Type || c.kind == Dec::Length || c.kind == Dec::Uint)
        return std::to_string(u32);
    if (c.kind == Dec::Null) return "";
    if (c.kind == Dec::Oid) {
        std::string text;
        for (unsigned int k = 0; k < size; ++k)
            text += (k == 0 ? "" : ".") + std::to_string(arcs[k]);
        return text;
    }
    const std::string data = Show(Bytes(out.begin(), out.begin() + size));
    return c.kind == Dec::Bits ? data + "/" + std::to_string(unused) : data;
}

TEST(AsnDecoders, DecodeEveryFormRejectTheUnsupportedAndEveryTruncation) {
    using D = Dec;
    // clang-format off
    const DecodeCase cases[] = {
        {D::Type, "FF | 01", "255"},  // zero-extended
        {D::Length, "05 | AA", "5"},  // the length is not compared with what follows
        {D::Length, "81 05", "5"},    // non-minimal long forms are accepted
        {D::Length, "83 01 00 00", "65536"}, {D::Length, "84 FF FF FF FF", "4294967295"},
        {D::Length, "80 00", kIndefinite}, {D::Length, "85 00 00 00 00 05", kLength32},
        {D::Int, "02 FF FF", "-1"}, {D::Int, "03 80 00 00 | 01", "-8388608"},  // non-minimal; sign
        {D::Int, "84 00 00 00 02 01 00", "256"}, {D::Int, "05 00 00 00 00 01", kInteger32},
        // An empty content is 0: the next element's octet decides no sign and stays unread.
        {D::Int, "00 | 80", "0"}, {D::Uint, "00 | 80", "0"},
        {D::Uint, "04 FF FF FF FF", "4294967295"},  // no sign extension
        {D::Uint, "05 00 00 00 00 01", "1"}, {D::Uint, "05 01 00 00 00 00", kInteger32},
        {D::Uint, "06 00 00 00 00 00 01", kInteger32},
        {D::Null, "00 | 02", ""}, {D::Null, "81 00", ""}, {D::Null, "01 00", kNullLength},
        {D::Octets, "03 0A 00 01 | FF", "0A 00 01", 3}, {D::Octets, "81 02 BE EF", "BE EF", 2},
        {D::Octets, "00", "", 0}, {D::Octets, "03 0A 00 01", kDataTooSmall, 2},
        {D::Octets, "03 0A 00", kExpectedLarger, 1},  // the input is judged before the capacity
        {D::Octets, "84 FF FF FF FF 00", kExpectedLarger},
        {D::Counted, "01 02 03 | 04", "01 02 03", 3, 3}, {D::Counted, "", "", 0, 0},
        {D::Counted, "01 02", kExpectedLarger, 1, 3}, {D::Counted, "01 02 03", kDataTooSmall, 2, 3},
        {D::Oid, "08 2B 06 01 02 01 01 03 00", "1.3.6.1.2.1.1.3.0"},
        {D::Oid, "00", "0.0", 2}, {D::Oid, "00", kDataTooSmall, 1}, {D::Oid, "01 27", "0.39"},
        {D::Oid, "01 28", "1.0"}, {D::Oid, "01 4F", "1.39"}, {D::Oid, "01 50", "2.0"},
        {D::Oid, "01 78", "2.40"}, {D::Oid, "03 2B 80 01", "1.3.1"},  // redundant leading group
        // The first two arcs are one subidentifier, in base 128 above 127.
        {D::Oid, "01 7F", "2.47"}, {D::Oid, "02 81 00", "2.48"}, {D::Oid, "03 88 37 03", "2.999.3"},
        {D::Oid, "05 90 80 80 80 4F", "2.4294967295"},  // a first subidentifier beyond 32 bits
        {D::Oid, "03 2B 06 01", "1.3.6.1", 4},  // n subidentifiers need n + 1 slots
        {D::Oid, "03 2B 06 01", kDataTooSmall, 3}, {D::Oid, "01 2B", kDataTooSmall, 1},
        {D::Oid, "02 2B 86", kExpectedLarger},  // the last subidentifier is cut off
        // Arcs beyond 32 bits are refused, not wrapped; also the first two.
        {D::Oid, "05 90 80 80 80 50", kArcTooLarge}, {D::Oid, "06 2B 90 80 80 80 00", kArcTooLarge},
        {D::Oid, "07 2B 81 80 80 80 80 00", kArcTooLarge},
        {D::C64, "05 01 00 00 00 02", "4294967298"},
        {D::C64, "09 00 FF FF FF FF FF FF FF FF", "18446744073709551615"},
        {D::C64, "09 01 00 00 00 00 00 00 00 00", kCounter64},
        {D::C64, "0A 00 00 00 00 00 00 00 00 00 01", kCounter64},
        {D::Bits, "02 03 FF", "F8/3", 2},  // the unused bits of the last octet are cleared
        {D::Bits, "03 09 AA BB", "AA BB/9", 3},
        {D::Bits, "03 00 AA BB", kDataTooSmall, 2},  // the capacity must cover the whole content
        {D::Bits, "01 00", "/0"}, {D::Bits, "00", "/0", 0},  // empty, not one zero octet
    };
    // clang-format on
    for (const DecodeCase& c : cases) {
        const std::string input = c.input;
        SCOPED_TRACE("decoder " + std::to_string(static_cast<int>(c.kind)) + ": " + input);
        const size_t bar = input.find(" | ");
        const Bytes element = FromHex(input.substr(0, bar));
        const Bytes rest = FromHex(bar == std::string::npos ? "" : input.substr(bar + 3));
        const Bytes whole = zktest::Cat({element, rest});
        Bytes consumed;
        EXPECT_EQ(DecodeAs(c, whole, &consumed), c.want);
        if (c.want.rfind("[Asn", 0) == 0) continue;
        EXPECT_EQ(Show(consumed), Show(element));
        // Every cut of the element fails for want of input: no decoder reads past it.
        for (size_t cut = 0; cut < element.size(); ++cut) {
            SCOPED_TRACE(cut);
            const Bytes part(element.begin(), element.begin() + static_cast<std::ptrdiff_t>(cut));
            EXPECT_EQ(DecodeAs(c, part), kExpectedLarger);
        }
    }
}

// ---- Encoders ---------------------------------------------------------------------------------

struct EncodeCase {
    const char* name;
    Encoder encode;
    std::string want;  // the wire form, or the error text
    unsigned int capacity = 1024;
};

// An encoder case's code: a lambda over the cursor p and what is left, l.
#define ENC(code) [&](auto& p, auto& l) { code; }

const unsigned int kSysUpTime[] = {1, 3, 6, 1, 2, 1, 1, 3, 0};

Encoder Oid(std::vector<unsigned int> arcs) {
    return [arcs](auto& p, auto& l) {
        AsnEncode(p, l, arcs.data(), static_cast<unsigned int>(arcs.size()), 0x06u);
    };
}

Encoder Bits(const Bytes& data, unsigned char unused) {
    return [data, unused](auto& p, auto& l) {
        AsnEncodeBits(p, l, data.data(), static_cast<unsigned int>(data.size()), unused, 0x03u);
    };
}

TEST(AsnEncoders, WriteTheWireFormAndFailCleanlyAtEveryShortCapacity) {
    static const Bytes big(65536, 0x5A);
    static const std::vector<unsigned int> manyArcs(20000, 4294967295u);
    static const unsigned int words[2] = {1, 0};
    const EncodeCase cases[] = {
        {"type keeps the low octet", ENC(AsnEncodeType(p, l, 0x1A4)), "A4"},
        {"length 65536", ENC(AsnEncodeLength(p, l, 65536)), kLength16},
        {"length range before room", ENC(AsnEncodeLength(p, l, 70000)), kLength16, 0},
        {"integer tag keeps the low octet", ENC(AsnEncode(p, l, 5, 0x102u)), "02 01 05"},
        {"integer -129", ENC(AsnEncode(p, l, -129, 0x02u)), "02 02 FF 7F"},
        {"unsigned with bit 31", ENC(AsnEncode(p, l, 0xFFFFFFFFu, 0x41u)), "41 05 00 FF FF FF FF"},
        {"NULL", ENC(AsnEncode(p, l, 0x05u)), "05 00"},
        {"endOfMibView", ENC(AsnEncode(p, l, 0x82u)), "82 00"},
        {"octets", ENC(AsnEncode(p, l, big.data(), 3u, 0x44u)), "44 03 5A 5A 5A"},
        {"octets in the 0x82 length form", ENC(AsnEncode(p, l, big.data(), 300u, 0x04u)),
         Show(Tlv(0x04, Bytes(300, 0x5A)))},
        {"octets of 65536", ENC(AsnEncode(p, l, big.data(), 65536u, 4u)), kLength16, 70000},
        {"object id", ENC(AsnEncode(p, l, kSysUpTime, 9u, 0x06u)), "06 08 2B 06 01 02 01 01 03 00"},
        {"empty object id", Oid({}), "06 01 00"},
        {"one-arc object id", Oid({1}), "06 01 28"},
        {"first arcs 2.47", Oid({2, 47}), "06 01 7F"},
        {"first arcs 2.48 in base 128", Oid({2, 48}), "06 02 81 00"},
        {"first arcs 2.999", Oid({2, 999, 3}), "06 03 88 37 03"},
        {"first arcs 2.4294967295", Oid({2, 4294967295u}), "06 05 90 80 80 80 4F"},
        {"object id content beyond 16 bits", ENC(AsnEncode(p, l, manyArcs.data(), 20000u, 0x06u)),
         kLength16, 200000},
        {"counter64 ignores the tag", ENC(AsnEncode(p, l, 0x8000000000000000ULL, 0x02u)),
         "46 09 00 80 00 00 00 00 00 00 00"},
        {"counter64 words", ENC(AsnEncode(p, l, words)), "46 05 01 00 00 00 00"},
        {"bits clear the unused bits", Bits({0xFF}, 3), "03 02 03 F8"},
        {"bits of two octets", Bits({0xAA, 0xFF}, 7), "03 03 07 AA 80"},
        {"bits with unused out of range", Bits({0xFF}, 8), "03 02 08 FF"},
        {"empty bits", Bits({}, 3), "03 01 03"},
        {"empty bits, no unused bits", Bits({}, 0), "03 01 00"},
    };
    for (const EncodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome full = RunEncoder(c.capacity, c.encode);
        EXPECT_EQ(full.error.empty() ? Show(full.bytes) : full.error, c.want);
        if (!full.error.empty()) continue;
        EXPECT_EQ(RunEncoder(static_cast<unsigned int>(full.bytes.size()), c.encode).bytes,
                  full.bytes);
        for (unsigned int cap = 0; cap < full.bytes.size(); ++cap) {
            SCOPED_TRACE(cap);
            EXPECT_EQ(RunEncoder(cap, c.encode).error, kBufferTooSmall);
        }
    }
}

TEST(AsnIntegers, EncodeMinimallyAndDecodeBackAroundEveryPowerOfTwo) {
    for (std::uint64_t v : NearPowersOfTwo()) {
        SCOPED_TRACE(v);
        if (v <= 0x80000000ULL) {
            for (long long s : {static_cast<long long>(v), -static_cast<long long>(v)}) {
                if (s > INT_MAX) continue;
                const auto i = static_cast<int>(s);
                const Bytes wire = zktest::Int(s);
                EXPECT_EQ(RunEncoder(16, ENC(AsnEncode(p, l, i, 0x02u))).bytes, wire);
                EXPECT_EQ(DecodeAs({Dec::Int, "", ""}, ContentOf(wire)), std::to_string(i));
            }
        }
        if (v <= 0xFFFFFFFFULL) {
            const auto u = static_cast<unsigned int>(v);
            const Bytes wire = Tlv(0x41, UnsignedContent(v));
            EXPECT_EQ(RunEncoder(16, ENC(AsnEncode(p, l, u, 0x41u))).bytes, wire);
            EXPECT_EQ(DecodeAs({Dec::Uint, "", ""}, ContentOf(wire)), std::to_string(u));
        }
        const Bytes wire = Tlv(0x46, UnsignedContent(v));
        const unsigned long long value = v;
        const unsigned int words[2] = {static_cast<unsigned int>(v >> 32),
                                       static_cast<unsigned int>(v)};
        EXPECT_EQ(RunEncoder(16, ENC(AsnEncode(p, l, value, 0x46u))).bytes, wire);
        EXPECT_EQ(RunEncoder(16, ENC(AsnEncode(p, l, words))).bytes, wire);
        EXPECT_EQ(DecodeAs({Dec::C64, "", ""}, ContentOf(wire)), std::to_string(v));
        if (v <= 0xFFFF) {
            const auto n = static_cast<unsigned int>(v);
            const Bytes element = Tlv(0x04, Bytes(n));  // its length octets, stated by Tlv
            const Bytes length(element.begin() + 1, element.end() - n);
            EXPECT_EQ(RunEncoder(4, ENC(AsnEncodeLength(p, l, n))).bytes, length);
            EXPECT_EQ(DecodeAs({Dec::Length, "", ""}, length), std::to_string(n));
        }
    }
}

}  // namespace
