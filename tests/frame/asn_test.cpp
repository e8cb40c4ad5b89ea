// Tests of the BER element codec: exact wire forms of every element, every error text, cursor
// behaviour on success and failure, reads confined to the input and writes confined to `left`.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "snmp/asn.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Encoder = std::function<void(unsigned char*&, unsigned int&)>;
using Decoder = std::function<void(const unsigned char*&, unsigned int&)>;

const std::string kBufferTooSmall = "[AsnEncode] buffer too small";
const std::string kLength16 = "[AsnEncode] lengths larger than 16 bits unsupported";
const std::string kSequenceTooLong = "[AsnEncode] SEQUENCE is too long";
const std::string kExpectedLarger = "[AsnDecode] expected larger buffer";
const std::string kDataTooSmall = "[AsnDecode] data buffer too small";
const std::string kIndefinite = "[AsnDecode] indefinite lengths not supported";
const std::string kLength32 = "[AsnDecode] lengths larger than 32 bits unsupported";
const std::string kInteger32 = "[AsnDecode] Integer32 is larger than 32 bits";
const std::string kCounter64 = "[AsnDecode] Counter64 is larger than 64 bits";
const std::string kNullLength = "[AsnDecode] Unexpected: non-zero length for ASN_NULL";
const std::string kArcTooLarge = "[AsnDecode] object identifier arc is larger than 32 bits";

// "02 01 7F" -> {0x02, 0x01, 0x7F}
Bytes Hex(const std::string& text) {
    Bytes out;
    for (size_t i = 0; i < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        out.push_back(static_cast<unsigned char>(std::stoul(text.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return out;
}

struct Outcome {
    std::string error;  // empty on success
    Bytes bytes;        // encoders: what was written; decoders: what was consumed
};

constexpr unsigned int kGuard = 16;
constexpr unsigned char kCanary = 0xA5;

// Runs an encoder with `capacity` bytes free, followed by guard bytes that must stay untouched.
// Checks the cursor contract: p and left move together, and not at all on failure.
Outcome RunEncoder(unsigned int capacity, const Encoder& encode) {
    Bytes buf(capacity + kGuard, kCanary);
    unsigned char* p = buf.data();
    unsigned int left = capacity;
    Outcome result;
    try {
        encode(p, left);
    } catch (const EAsnException& e) {
        result.error = e.Text();
    }
    const auto written = static_cast<size_t>(p - buf.data());
    EXPECT_EQ(written + left, capacity) << "cursor and left moved apart";
    if (!result.error.empty()) {
        EXPECT_EQ(written, 0u) << "cursor moved on failure";
    }
    for (size_t i = capacity; i < buf.size(); ++i)
        EXPECT_EQ(buf[i], kCanary) << "written past left at offset " << i;
    const size_t kept = std::min(written, buf.size());
    result.bytes.assign(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(kept));
    return result;
}

Outcome Encode(const Encoder& encode) {
    return RunEncoder(1024, encode);
}

// Runs a decoder over exactly `input`, held in an allocation of exactly its size so that an
// address sanitizer reports any read past it. Checks the same cursor contract as RunEncoder.
Outcome RunDecoder(const Bytes& input, const Decoder& decode) {
    std::unique_ptr<unsigned char[]> data(new unsigned char[input.size()]);
    std::copy(input.begin(), input.end(), data.get());
    const unsigned char* p = data.get();
    auto left = static_cast<unsigned int>(input.size());
    Outcome result;
    try {
        decode(p, left);
    } catch (const EAsnException& e) {
        result.error = e.Text();
    }
    const auto consumed = static_cast<size_t>(p - data.get());
    EXPECT_EQ(consumed + left, input.size()) << "cursor and left moved apart";
    if (!result.error.empty()) {
        EXPECT_EQ(consumed, 0u) << "cursor moved on failure";
    }
    const size_t kept = std::min(consumed, input.size());
    result.bytes.assign(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(kept));
    return result;
}

std::string Show(const Bytes& bytes) {
    std::string out;
    char piece[4];
    for (unsigned char b : bytes) {
        std::snprintf(piece, sizeof piece, "%02X ", b);
        out += piece;
    }
    return out;
}

// ---- Exceptions ------------------------------------------------------------------------------

TEST(AsnException, CarriesTextThroughCopiesAndBaseReferences) {
    CAsnException original("[AsnDecode] data buffer too small");
    CAsnException copy(original);
    CAsnException assigned("other");
    assigned = original;
    const EAsnException& base = assigned;
    EXPECT_EQ(copy.Text(), kDataTooSmall);
    EXPECT_EQ(base.Text(), kDataTooSmall);

    unsigned char* p = nullptr;
    unsigned int left = 0;
    EXPECT_THROW(AsnEncodeType(p, left, 0x30), CAsnException);
}

// ---- Type octet ------------------------------------------------------------------------------

TEST(AsnType, WritesLowOctetAndReadsZeroExtended) {
    EXPECT_EQ(Encode([](auto& p, auto& l) { AsnEncodeType(p, l, 0x1A4); }).bytes, Hex("A4"));
    EXPECT_EQ(RunEncoder(0, [](auto& p, auto& l) { AsnEncodeType(p, l, 0x30); }).error,
              kBufferTooSmall);

    unsigned int type = 0;
    const auto read =
        RunDecoder(Hex("FF 01"), [&](auto& p, auto& l) { AsnDecodeType(p, l, type); });
    EXPECT_EQ(read.bytes, Hex("FF"));
    EXPECT_EQ(type, 0xFFu);
    EXPECT_EQ(RunDecoder({}, [&](auto& p, auto& l) { AsnDecodeType(p, l, type); }).error,
              kExpectedLarger);
}

// ---- Length ----------------------------------------------------------------------------------

TEST(AsnLength, EncodesShortestDefiniteForm) {
    struct Case {
        unsigned int length;
        std::string wire;
        std::string error;
    };
    const Case cases[] = {
        {0, "00", ""},          {127, "7F", ""},
        {128, "81 80", ""},     {255, "81 FF", ""},
        {256, "82 01 00", ""},  {65535, "82 FF FF", ""},
        {65536, "", kLength16}, {0xFFFFFFFF, "", kLength16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        const auto out = Encode([&](auto& p, auto& l) { AsnEncodeLength(p, l, c.length); });
        EXPECT_EQ(out.error, c.error);
        EXPECT_EQ(out.bytes, Hex(c.wire));
    }
    // The range test comes before the space test.
    EXPECT_EQ(RunEncoder(0, [](auto& p, auto& l) { AsnEncodeLength(p, l, 70000); }).error,
              kLength16);
}

TEST(AsnLength, DecodesEveryFormAndRejectsTheUnsupported) {
    struct Case {
        std::string input;
        unsigned int length;
        size_t consumed;
        std::string error;
    };
    const Case cases[] = {
        {"00", 0, 1, ""},
        {"7F", 127, 1, ""},
        {"05 AA", 5, 1, ""},  // the length is not compared with what follows
        {"81 80", 128, 2, ""},
        {"81 05", 5, 2, ""},  // non-minimal forms are accepted
        {"82 01 00", 256, 3, ""},
        {"82 00 05", 5, 3, ""},
        {"83 01 00 00", 65536, 4, ""},
        {"84 00 00 00 05", 5, 5, ""},
        {"84 FF FF FF FF", 0xFFFFFFFF, 5, ""},
        {"80 00", 0, 0, kIndefinite},
        {"85 00 00 00 00 05", 0, 0, kLength32},
        {"FF", 0, 0, kLength32},
        {"", 0, 0, kExpectedLarger},
        {"81", 0, 0, kExpectedLarger},
        {"82 01", 0, 0, kExpectedLarger},
        {"84 00 00 00", 0, 0, kExpectedLarger},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        unsigned int length = 12345;
        const auto out =
            RunDecoder(Hex(c.input), [&](auto& p, auto& l) { AsnDecodeLength(p, l, length); });
        EXPECT_EQ(out.error, c.error);
        EXPECT_EQ(out.bytes.size(), c.consumed);
        if (c.error.empty()) {
            EXPECT_EQ(length, c.length);
        }
    }
}

// ---- Signed integer --------------------------------------------------------------------------

TEST(AsnInteger, EncodesShortestTwosComplement) {
    struct Case {
        int value;
        std::string wire;
    };
    const Case cases[] = {
        {0, "02 01 00"},
        {-1, "02 01 FF"},
        {127, "02 01 7F"},
        {128, "02 02 00 80"},
        {-128, "02 01 80"},
        {-129, "02 02 FF 7F"},
        {255, "02 02 00 FF"},
        {-256, "02 02 FF 00"},
        {32767, "02 02 7F FF"},
        {32768, "02 03 00 80 00"},
        {-32768, "02 02 80 00"},
        {-32769, "02 03 FF 7F FF"},
        {8388607, "02 03 7F FF FF"},
        {8388608, "02 04 00 80 00 00"},
        {-8388608, "02 03 80 00 00"},
        {INT_MAX, "02 04 7F FF FF FF"},
        {INT_MIN, "02 04 80 00 00 00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(Show(Encode([&](auto& p, auto& l) { AsnEncode(p, l, c.value, 0x02u); }).bytes),
                  Show(Hex(c.wire)));
    }
    // Only the low 8 bits of the tag are written.
    EXPECT_EQ(Encode([](auto& p, auto& l) { AsnEncode(p, l, 5, 0x102u); }).bytes, Hex("02 01 05"));
}

TEST(AsnInteger, DecodesSignExtendedAndRejectsOversizeOrCutContent) {
    struct Case {
        std::string input;  // after the type octet
        int value;
        size_t consumed;
        std::string error;
    };
    const Case cases[] = {
        {"01 00", 0, 2, ""},
        {"01 FF", -1, 2, ""},
        {"01 7F", 127, 2, ""},
        {"01 80", -128, 2, ""},
        {"02 00 80", 128, 3, ""},
        {"02 FF 7F", -129, 3, ""},
        {"02 FF FF", -1, 3, ""},  // non-minimal
        {"03 80 00 00", -8388608, 4, ""},
        {"04 7F FF FF FF", INT_MAX, 5, ""},
        {"04 80 00 00 00", INT_MIN, 5, ""},
        {"81 01 05", 5, 3, ""},
        {"84 00 00 00 02 01 00", 256, 7, ""},
        {"05 00 00 00 00 01", 0, 0, kInteger32},
        {"05 00 7F FF FF FF", 0, 0, kInteger32},
        {"01", 0, 0, kExpectedLarger},
        {"04 7F FF FF", 0, 0, kExpectedLarger},
        {"82 00", 0, 0, kExpectedLarger},
        {"80", 0, 0, kIndefinite},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        int value = 4711;
        const auto out =
            RunDecoder(Hex(c.input), [&](auto& p, auto& l) { AsnDecode(p, l, value); });
        EXPECT_EQ(out.error, c.error);
        EXPECT_EQ(out.bytes.size(), c.consumed);
        EXPECT_EQ(value, c.error.empty() ? c.value : 4711) << "value written on failure";
    }
}

TEST(AsnInteger, ZeroLengthIntegerDoesNotTakeSignFromNextElement) {
    // An empty content is followed here by an octet with bit 7 set; it belongs to the next
    // element and must neither be consumed nor decide the sign.
    int value = 99;
    auto out = RunDecoder(Hex("00 80"), [&](auto& p, auto& l) { AsnDecode(p, l, value); });
    EXPECT_EQ(out.error, "");
    EXPECT_EQ(out.bytes, Hex("00"));
    EXPECT_EQ(value, 0);
    // And with nothing after it at all, nothing past the input is touched.
    out = RunDecoder(Hex("00"), [&](auto& p, auto& l) { AsnDecode(p, l, value); });
    EXPECT_EQ(out.error, "");
    EXPECT_EQ(value, 0);
}

// Smallest content size in octets that holds `v` in two's complement.
unsigned int SignedWidth(long long v) {
    for (unsigned int n = 1; n < 8; ++n) {
        const long long bound = 1LL << (8 * n - 1);
        if (v >= -bound && v < bound) return n;
    }
    return 8;
}

TEST(AsnInteger, RoundTripsAroundEveryPowerOfTwoInMinimalForm) {
    for (int k = 0; k <= 32; ++k) {
        for (long long delta : {-1LL, 0LL, 1LL}) {
            for (long long sign : {1LL, -1LL}) {
                const long long wide = sign * ((1LL << k) + delta);
                if (wide < INT_MIN || wide > INT_MAX) continue;
                const auto v = static_cast<int>(wide);
                SCOPED_TRACE(v);
                const auto wire = Encode([&](auto& p, auto& l) { AsnEncode(p, l, v, 0x02u); });
                ASSERT_EQ(wire.error, "");
                EXPECT_EQ(wire.bytes[1], SignedWidth(v));
                int back = 0;
                const Bytes content(wire.bytes.begin() + 1, wire.bytes.end());
                const auto out =
                    RunDecoder(content, [&](auto& p, auto& l) { AsnDecode(p, l, back); });
                EXPECT_EQ(out.bytes.size(), content.size());
                EXPECT_EQ(back, v);
            }
        }
    }
}

// ---- Unsigned integer ------------------------------------------------------------------------

TEST(AsnUnsigned, EncodesWithoutSignBitAndDecodesWithoutSignExtension) {
    struct Case {
        unsigned int value;
        std::string wire;
    };
    const Case cases[] = {
        {0, "41 01 00"},
        {127, "41 01 7F"},
        {128, "41 02 00 80"},
        {65535, "41 03 00 FF FF"},
        {8388608, "41 04 00 80 00 00"},
        {0x7FFFFFFF, "41 04 7F FF FF FF"},
        {0x80000000, "41 05 00 80 00 00 00"},
        {0xFFFFFFFF, "41 05 00 FF FF FF FF"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        const auto wire = Encode([&](auto& p, auto& l) { AsnEncode(p, l, c.value, 0x41u); });
        EXPECT_EQ(Show(wire.bytes), Show(Hex(c.wire)));
        unsigned int back = 1;
        const Bytes content(wire.bytes.begin() + 1, wire.bytes.end());
        EXPECT_EQ(RunDecoder(content, [&](auto& p, auto& l) { AsnDecode(p, l, back); }).error, "");
        EXPECT_EQ(back, c.value);
    }
}

TEST(AsnUnsigned, DecodesLooseFormsAndRejectsWiderThan32Bits) {
    struct Case {
        std::string input;
        unsigned int value;
        size_t consumed;
        std::string error;
    };
    const Case cases[] = {
        {"00 80", 0, 1, ""},  // empty content takes nothing from the next element
        {"01 80", 128, 2, ""},
        {"04 FF FF FF FF", 0xFFFFFFFF, 5, ""},
        {"05 00 FF FF FF FF", 0xFFFFFFFF, 6, ""},
        {"05 00 00 00 00 01", 1, 6, ""},
        {"05 01 00 00 00 00", 0, 0, kInteger32},
        {"05 80 00 00 00 00", 0, 0, kInteger32},
        {"06 00 00 00 00 00 01", 0, 0, kInteger32},
        {"05", 0, 0, kExpectedLarger},  // the lead octet to test is missing
        {"05 00 FF FF FF", 0, 0, kExpectedLarger},
        {"02 01", 0, 0, kExpectedLarger},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        unsigned int value = 4711;
        const auto out =
            RunDecoder(Hex(c.input), [&](auto& p, auto& l) { AsnDecode(p, l, value); });
        EXPECT_EQ(out.error, c.error);
        EXPECT_EQ(out.bytes.size(), c.consumed);
        EXPECT_EQ(value, c.error.empty() ? c.value : 4711u);
    }
}

// ---- NULL ------------------------------------------------------------------------------------

TEST(AsnNull, EncodesEmptyElementAndDecodesOnlyZeroLength) {
    for (unsigned int type : {0x05u, 0x80u, 0x81u, 0x82u}) {
        SCOPED_TRACE(type);
        const auto out = Encode([&](auto& p, auto& l) { AsnEncode(p, l, type); });
        EXPECT_EQ(out.bytes, (Bytes{static_cast<unsigned char>(type), 0x00}));
    }
    struct Case {
        std::string input;
        size_t consumed;
        std::string error;
    };
    const Case cases[] = {
        {"00 02", 1, ""},       {"81 00", 2, ""},         {"01 00", 0, kNullLength},
        {"80", 0, kIndefinite}, {"", 0, kExpectedLarger},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        const auto out = RunDecoder(Hex(c.input), [](auto& p, auto& l) { AsnDecode(p, l); });
        EXPECT_EQ(out.error, c.error);
        EXPECT_EQ(out.bytes.size(), c.consumed);
    }
}

// ---- Byte runs -------------------------------------------------------------------------------

TEST(AsnOctets, EncodesHeaderAndDataOfEveryLengthForm) {
    for (unsigned int size : {0u, 1u, 127u, 128u, 300u}) {
        SCOPED_TRACE(size);
        Bytes data(size);
        for (unsigned int i = 0; i < size; ++i) data[i] = static_cast<unsigned char>(i * 7);
        const auto out = RunEncoder(
            size + 4, [&](auto& p, auto& l) { AsnEncode(p, l, data.data(), size, 0x04u); });
        ASSERT_EQ(out.error, "");
        const size_t header = size < 128 ? 2 : size < 256 ? 3 : 4;
        ASSERT_EQ(out.bytes.size(), header + size);
        EXPECT_EQ(out.bytes[0], 0x04);
        EXPECT_EQ(Bytes(out.bytes.begin() + static_cast<std::ptrdiff_t>(header), out.bytes.end()),
                  data);
    }
    const Bytes big(65536);
    EXPECT_EQ(
        RunEncoder(70000, [&](auto& p, auto& l) { AsnEncode(p, l, big.data(), 65536u, 4u); }).error,
        kLength16);
}

TEST(AsnOctets, DecodeChecksInputBeforeCapacity) {
    struct Case {
        std::string input;
        unsigned int capacity;
        std::string data;
        std::string error;
    };
    const Case cases[] = {
        {"03 0A 00 01", 3, "0A 00 01", ""},
        {"03 0A 00 01 FF", 8, "0A 00 01", ""},
        {"00", 0, "", ""},
        {"81 02 BE EF", 2, "BE EF", ""},
        {"03 0A 00 01", 2, "", kDataTooSmall},
        {"03 0A 00", 8, "", kExpectedLarger},
        {"03 0A 00", 1, "", kExpectedLarger},  // both short: the input is reported
        {"84 FF FF FF FF 00", 8, "", kExpectedLarger},
        {"80", 8, "", kIndefinite},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input + " cap " + std::to_string(c.capacity));
        Bytes out(c.capacity + 1, 0xEE);
        unsigned int size = c.capacity;
        const auto res =
            RunDecoder(Hex(c.input), [&](auto& p, auto& l) { AsnDecode(p, l, out.data(), size); });
        EXPECT_EQ(res.error, c.error);
        const Bytes data = Hex(c.data);
        if (c.error.empty()) {
            EXPECT_EQ(size, data.size());
            EXPECT_EQ(Bytes(out.begin(), out.begin() + size), data);
        } else {
            EXPECT_EQ(size, c.capacity) << "size changed on failure";
        }
        EXPECT_EQ(out[c.capacity], 0xEE) << "written past capacity";
    }
}

TEST(AsnOctets, CountedDecodeTakesExactlyCountOctets) {
    struct Case {
        std::string input;
        unsigned int capacity;
        unsigned int count;
        std::string error;
    };
    const Case cases[] = {
        {"01 02 03 04", 4, 3, ""},
        {"01 02 03", 3, 3, ""},
        {"", 0, 0, ""},
        {"01 02", 4, 3, kExpectedLarger},
        {"01 02", 1, 3, kExpectedLarger},
        {"01 02 03", 2, 3, kDataTooSmall},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input + " count " + std::to_string(c.count));
        Bytes out(c.capacity + 1, 0xEE);
        unsigned int size = c.capacity;
        const Bytes input = Hex(c.input);
        const auto res = RunDecoder(
            input, [&](auto& p, auto& l) { AsnDecode(p, l, out.data(), size, c.count); });
        EXPECT_EQ(res.error, c.error);
        if (c.error.empty()) {
            EXPECT_EQ(size, c.count);
            EXPECT_EQ(res.bytes.size(), c.count);
            EXPECT_EQ(Bytes(out.begin(), out.begin() + c.count),
                      Bytes(input.begin(), input.begin() + c.count));
        } else {
            EXPECT_EQ(size, c.capacity);
        }
        EXPECT_EQ(out[c.capacity], 0xEE);
    }
}

// ---- OBJECT IDENTIFIER -----------------------------------------------------------------------

TEST(AsnObjectId, EncodesArcsOfEverySize) {
    struct Case {
        std::vector<unsigned int> arcs;
        std::string wire;
    };
    const Case cases[] = {
        {{1, 3, 6, 1, 2, 1, 1, 3, 0}, "06 08 2B 06 01 02 01 01 03 00"},
        {{}, "06 01 00"},
        {{1}, "06 01 28"},
        {{0, 0}, "06 01 00"},
        {{1, 3, 127}, "06 02 2B 7F"},
        {{1, 3, 128}, "06 03 2B 81 00"},
        {{1, 3, 200}, "06 03 2B 81 48"},
        {{1, 3, 16383}, "06 03 2B FF 7F"},
        {{1, 3, 16384}, "06 04 2B 81 80 00"},
        {{1, 3, 2097151}, "06 04 2B FF FF 7F"},
        {{1, 3, 2097152}, "06 05 2B 81 80 80 00"},
        {{1, 3, 268435455}, "06 05 2B FF FF FF 7F"},
        {{1, 3, 268435456}, "06 06 2B 81 80 80 80 00"},
        {{1, 3, 4294967295u}, "06 06 2B 8F FF FF FF 7F"},
        // A combined first subidentifier of 128 or more is written base 128 like any other.
        {{2, 47}, "06 01 7F"},
        {{2, 48}, "06 02 81 00"},
        {{2, 999, 3}, "06 03 88 37 03"},
        {{2, 4294967295u}, "06 05 90 80 80 80 4F"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Show(Hex(c.wire)));
        const auto out = Encode([&](auto& p, auto& l) {
            AsnEncode(p, l, c.arcs.data(), static_cast<unsigned int>(c.arcs.size()), 0x06u);
        });
        EXPECT_EQ(out.error, "");
        EXPECT_EQ(Show(out.bytes), Show(Hex(c.wire)));
    }
    // A content longer than a length can say is refused, not truncated.
    const std::vector<unsigned int> many(20000, 4294967295u);
    EXPECT_EQ(
        RunEncoder(200000, [&](auto& p, auto& l) { AsnEncode(p, l, many.data(), 20000u, 0x06u); })
            .error,
        kLength16);
}

TEST(AsnObjectId, DecodesSplittingTheFirstSubidentifier) {
    struct Case {
        std::string input;  // after the type octet
        std::vector<unsigned int> arcs;
        std::string error;
    };
    const Case cases[] = {
        {"08 2B 06 01 02 01 01 03 00", {1, 3, 6, 1, 2, 1, 1, 3, 0}, ""},
        {"00", {0, 0}, ""},
        {"01 27", {0, 39}, ""},
        {"01 28", {1, 0}, ""},
        {"01 4F", {1, 39}, ""},
        {"01 50", {2, 0}, ""},
        {"01 77", {2, 39}, ""},
        {"01 78", {2, 40}, ""},
        {"03 88 37 03", {2, 999, 3}, ""},
        {"05 90 80 80 80 4F", {2, 4294967295u}, ""},
        {"03 2B 81 48", {1, 3, 200}, ""},
        {"06 2B 8F FF FF FF 7F", {1, 3, 4294967295u}, ""},
        {"03 2B 80 01", {1, 3, 1}, ""},  // redundant leading group accepted
        {"05 90 80 80 80 50", {}, kArcTooLarge},
        {"06 2B 90 80 80 80 00", {}, kArcTooLarge},
        {"07 2B 81 80 80 80 80 00", {}, kArcTooLarge},
        {"02 2B 86", {}, kExpectedLarger},  // last subidentifier cut off
        {"01 86", {}, kExpectedLarger},
        {"04 2B 06 01", {}, kExpectedLarger},
        {"80", {}, kIndefinite},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        std::vector<unsigned int> arcs(16, 777);
        unsigned int count = 16;
        const auto out = RunDecoder(Hex(c.input),
                                    [&](auto& p, auto& l) { AsnDecode(p, l, arcs.data(), count); });
        EXPECT_EQ(out.error, c.error);
        if (c.error.empty()) {
            EXPECT_EQ(out.bytes.size(), Hex(c.input).size());
            arcs.resize(count);
            EXPECT_EQ(arcs, c.arcs);
        } else {
            EXPECT_EQ(count, 16u) << "count changed on failure";
        }
    }
}

TEST(AsnObjectId, DecodeNeedsOneMoreSlotThanSubidentifiers) {
    struct Case {
        std::string input;
        unsigned int capacity;
        std::string error;
    };
    const Case cases[] = {
        {"03 2B 06 01", 4, ""},      {"03 2B 06 01", 3, kDataTooSmall}, {"01 2B", 2, ""},
        {"01 2B", 1, kDataTooSmall}, {"01 2B", 0, kDataTooSmall},       {"00", 2, ""},
        {"00", 1, kDataTooSmall},    {"00", 0, kDataTooSmall},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input + " cap " + std::to_string(c.capacity));
        std::vector<unsigned int> arcs(c.capacity + 1, 777);
        unsigned int count = c.capacity;
        const auto out = RunDecoder(Hex(c.input),
                                    [&](auto& p, auto& l) { AsnDecode(p, l, arcs.data(), count); });
        EXPECT_EQ(out.error, c.error);
        EXPECT_EQ(arcs[c.capacity], 777u) << "written past capacity";
        if (!c.error.empty()) {
            EXPECT_EQ(count, c.capacity);
        }
    }
}

TEST(AsnObjectId, RoundTripsEveryArcSize) {
    const std::vector<std::vector<unsigned int>> oids = {
        {1, 3, 6, 1, 4, 1, 2021, 10, 1, 3, 1},
        {0, 39, 127, 128, 16383, 16384, 2097151, 2097152, 268435455, 268435456, 4294967295u},
        {1, 0},
        {2, 100, 4294967295u},
        {2, 4294967295u, 0},
    };
    for (const auto& oid : oids) {
        SCOPED_TRACE(oid.size());
        const auto wire = Encode([&](auto& p, auto& l) {
            AsnEncode(p, l, oid.data(), static_cast<unsigned int>(oid.size()), 0x06u);
        });
        ASSERT_EQ(wire.error, "");
        std::vector<unsigned int> back(oid.size());
        auto count = static_cast<unsigned int>(back.size());
        const Bytes content(wire.bytes.begin() + 1, wire.bytes.end());
        EXPECT_EQ(
            RunDecoder(content, [&](auto& p, auto& l) { AsnDecode(p, l, back.data(), count); })
                .error,
            "");
        EXPECT_EQ(back, oid);
    }
}

// ---- Counter64 -------------------------------------------------------------------------------

TEST(AsnCounter64, EncodesBothFormsWithItsOwnTag) {
    struct Case {
        unsigned long long value;
        std::string wire;
    };
    const Case cases[] = {
        {0, "46 01 00"},
        {127, "46 01 7F"},
        {128, "46 02 00 80"},
        {0xFFFFFFFFULL, "46 05 00 FF FF FF FF"},
        {0x100000000ULL, "46 05 01 00 00 00 00"},
        {0x7FFFFFFFFFFFFFFFULL, "46 08 7F FF FF FF FF FF FF FF"},
        {0x8000000000000000ULL, "46 09 00 80 00 00 00 00 00 00 00"},
        {0xFFFFFFFFFFFFFFFFULL, "46 09 00 FF FF FF FF FF FF FF FF"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        // The tag argument is ignored: Counter64 always carries 0x46.
        EXPECT_EQ(Show(Encode([&](auto& p, auto& l) { AsnEncode(p, l, c.value, 0x02u); }).bytes),
                  Show(Hex(c.wire)));
        const unsigned int words[2] = {static_cast<unsigned int>(c.value >> 32),
                                       static_cast<unsigned int>(c.value)};
        EXPECT_EQ(Show(Encode([&](auto& p, auto& l) { AsnEncode(p, l, words); }).bytes),
                  Show(Hex(c.wire)));
    }
}

TEST(AsnCounter64, DecodesUpToNineOctetsIntoBothForms) {
    struct Case {
        std::string input;
        unsigned long long value;
        std::string error;
    };
    const Case cases[] = {
        {"00", 0, ""},
        {"01 80", 128, ""},
        {"05 01 00 00 00 02", 0x100000002ULL, ""},
        {"08 FF FF FF FF FF FF FF FF", 0xFFFFFFFFFFFFFFFFULL, ""},
        {"09 00 80 00 00 00 00 00 00 00", 0x8000000000000000ULL, ""},
        {"09 00 FF FF FF FF FF FF FF FF", 0xFFFFFFFFFFFFFFFFULL, ""},
        {"09 01 00 00 00 00 00 00 00 00", 0, kCounter64},
        {"0A 00 00 00 00 00 00 00 00 00 01", 0, kCounter64},
        {"09", 0, kExpectedLarger},
        {"09 00 FF FF FF FF FF FF FF", 0, kExpectedLarger},
        {"80", 0, kIndefinite},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        unsigned long long value = 4711;
        auto out = RunDecoder(Hex(c.input), [&](auto& p, auto& l) { AsnDecode(p, l, value); });
        EXPECT_EQ(out.error, c.error);
        EXPECT_EQ(value, c.error.empty() ? c.value : 4711u);
        if (c.error.empty()) {
            EXPECT_EQ(out.bytes.size(), Hex(c.input).size());
        }

        unsigned int words[2] = {11, 22};
        out = RunDecoder(Hex(c.input), [&](auto& p, auto& l) { AsnDecode(p, l, words); });
        EXPECT_EQ(out.error, c.error);
        if (c.error.empty()) {
            EXPECT_EQ(words[0], static_cast<unsigned int>(c.value >> 32));
            EXPECT_EQ(words[1], static_cast<unsigned int>(c.value));
        } else {
            EXPECT_EQ(words[0], 11u);
            EXPECT_EQ(words[1], 22u);
        }
    }
}

// ---- BIT STRING ------------------------------------------------------------------------------

TEST(AsnBits, EncodeClearsUnusedBitsOfTheCopyOnly) {
    struct Case {
        std::string data;
        unsigned char unused;
        std::string wire;
    };
    const Case cases[] = {
        {"FF", 3, "03 02 03 F8"}, {"AA FF", 7, "03 03 07 AA 80"},
        {"FF", 0, "03 02 00 FF"}, {"FF", 8, "03 02 08 FF"},  // out of range: left as given
        {"", 0, "03 01 00"},      {"", 3, "03 01 03"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wire);
        const Bytes data = Hex(c.data);
        const Bytes before = data;
        const auto out = Encode([&](auto& p, auto& l) {
            AsnEncodeBits(p, l, data.data(), static_cast<unsigned int>(data.size()), c.unused,
                          0x03u);
        });
        EXPECT_EQ(Show(out.bytes), Show(Hex(c.wire)));
        EXPECT_EQ(data, before);
    }
}

TEST(AsnBits, DecodeSplitsUnusedCountFromData) {
    struct Case {
        std::string input;
        unsigned int capacity;
        std::string data;
        unsigned char unused;
        std::string error;
    };
    const Case cases[] = {
        {"02 03 FF", 2, "F8", 3, ""},
        {"03 00 AA BB", 3, "AA BB", 0, ""},
        {"03 09 AA BB", 3, "AA BB", 9, ""},
        {"00", 0, "", 0, ""},
        {"03 00 AA BB", 2, "", 0, kDataTooSmall},  // capacity must cover the whole content
        {"03 00 AA", 8, "", 0, kExpectedLarger},
        {"80", 8, "", 0, kIndefinite},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        Bytes out(c.capacity + 1, 0xEE);
        unsigned int size = c.capacity;
        unsigned char unused = 0x55;
        const auto res = RunDecoder(
            Hex(c.input), [&](auto& p, auto& l) { AsnDecodeBits(p, l, out.data(), size, unused); });
        EXPECT_EQ(res.error, c.error);
        if (c.error.empty()) {
            EXPECT_EQ(Bytes(out.begin(), out.begin() + size), Hex(c.data));
            EXPECT_EQ(unused, c.unused);
            EXPECT_EQ(res.bytes.size(), Hex(c.input).size());
        } else {
            EXPECT_EQ(size, c.capacity);
            EXPECT_EQ(unused, 0x55);
        }
        EXPECT_EQ(out[c.capacity], 0xEE);
    }
}

TEST(AsnBits, EmptyBitStringDecodesEmptyNotAsOneZeroOctet) {
    const auto wire = Encode([](auto& p, auto& l) { AsnEncodeBits(p, l, nullptr, 0u, 0, 0x03u); });
    ASSERT_EQ(wire.bytes, Hex("03 01 00"));
    unsigned char out[4] = {};
    unsigned int size = sizeof out;
    unsigned char unused = 9;
    const Bytes content(wire.bytes.begin() + 1, wire.bytes.end());
    EXPECT_EQ(RunDecoder(content, [&](auto& p, auto& l) { AsnDecodeBits(p, l, out, size, unused); })
                  .error,
              "");
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(unused, 0);
}

// ---- SEQUENCE header -------------------------------------------------------------------------

TEST(AsnSequence, PrependsHeaderInFrontOfCursor) {
    struct Case {
        unsigned int length;
        unsigned int room;
        std::string header;
        std::string error;
    };
    const Case cases[] = {
        {0, 2, "30 00", ""},
        {127, 8, "30 7F", ""},
        {128, 3, "30 81 80", ""},
        {300, 4, "30 82 01 2C", ""},
        {65535, 4, "30 82 FF FF", ""},
        {300, 3, "", kBufferTooSmall},
        {0, 1, "", kBufferTooSmall},
        {65536, 8, "", kSequenceTooLong},
        {65536, 0, "", kSequenceTooLong},  // the length is judged before the room
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.length) + " room " + std::to_string(c.room));
        // Content already in place at `start`; the free room in front of it, guarded in front.
        Bytes buf(kGuard + c.room + 2, kCanary);
        unsigned char* start = buf.data() + kGuard + c.room;
        start[0] = 0x02;
        start[1] = 0x00;
        unsigned char* p = start;
        unsigned int left = c.room;
        std::string error;
        try {
            AsnEncodeSequence(p, left, c.length, 0x30);
        } catch (const EAsnException& e) {
            error = e.Text();
        }
        EXPECT_EQ(error, c.error);
        const Bytes header = Hex(c.header);
        EXPECT_EQ(start - p, static_cast<std::ptrdiff_t>(header.size()));
        EXPECT_EQ(left, c.room - header.size());
        EXPECT_EQ(Bytes(p, start), header);
        for (unsigned char* q = buf.data(); q < start - header.size(); ++q)
            EXPECT_EQ(*q, kCanary) << "written outside the header";
        EXPECT_EQ(start[0], 0x02);
    }
}

// ---- Properties over every element ------------------------------------------------------------

const unsigned int kArcs[] = {1, 3, 6, 1, 4, 1, 200, 16384, 4294967295u};
const unsigned char kData[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
const unsigned int kWords[] = {0x80000000u, 1};

struct NamedEncoder {
    const char* name;
    Encoder encode;
};

const std::vector<NamedEncoder>& Encoders() {
    static const Bytes run(300, 0x5A);
    static const std::vector<NamedEncoder> encoders = {
        {"type", [](auto& p, auto& l) { AsnEncodeType(p, l, 0x30); }},
        {"short length", [](auto& p, auto& l) { AsnEncodeLength(p, l, 5); }},
        {"0x81 length", [](auto& p, auto& l) { AsnEncodeLength(p, l, 200); }},
        {"0x82 length", [](auto& p, auto& l) { AsnEncodeLength(p, l, 4000); }},
        {"integer", [](auto& p, auto& l) { AsnEncode(p, l, INT_MIN, 0x02u); }},
        {"small integer", [](auto& p, auto& l) { AsnEncode(p, l, 3, 0x02u); }},
        {"unsigned", [](auto& p, auto& l) { AsnEncode(p, l, 0xFFFFFFFFu, 0x41u); }},
        {"null", [](auto& p, auto& l) { AsnEncode(p, l, 0x05u); }},
        {"octets", [](auto& p, auto& l) { AsnEncode(p, l, kData, 12u, 0x04u); }},
        {"long octets", [](auto& p, auto& l) { AsnEncode(p, l, run.data(), 300u, 0x04u); }},
        {"object id", [](auto& p, auto& l) { AsnEncode(p, l, kArcs, 9u, 0x06u); }},
        {"one-arc object id", [](auto& p, auto& l) { AsnEncode(p, l, kArcs, 1u, 0x06u); }},
        {"empty object id", [](auto& p, auto& l) { AsnEncode(p, l, kArcs, 0u, 0x06u); }},
        {"counter64 words", [](auto& p, auto& l) { AsnEncode(p, l, kWords); }},
        {"counter64", [](auto& p, auto& l) { AsnEncode(p, l, 0x1234ULL, 0x46u); }},
        {"bits", [](auto& p, auto& l) { AsnEncodeBits(p, l, kData, 12u, 3, 0x03u); }},
    };
    return encoders;
}

TEST(AsnEncoders, EveryEncoderFailsCleanlyAtEveryShortCapacity) {
    for (const auto& e : Encoders()) {
        SCOPED_TRACE(e.name);
        const auto full = Encode(e.encode);
        ASSERT_EQ(full.error, "");
        ASSERT_FALSE(full.bytes.empty());
        // Exactly enough room succeeds with the same bytes and leaves nothing free.
        EXPECT_EQ(RunEncoder(static_cast<unsigned int>(full.bytes.size()), e.encode).bytes,
                  full.bytes);
        for (unsigned int cap = 0; cap < full.bytes.size(); ++cap) {
            SCOPED_TRACE(cap);
            EXPECT_EQ(RunEncoder(cap, e.encode).error, kBufferTooSmall);
        }
    }
}

struct NamedDecoder {
    const char* name;
    std::string element;  // a complete, valid encoding of the value (after the type octet)
    Decoder decode;
};

TEST(AsnDecoders, EveryDecoderRejectsEveryTruncationWithoutMoving) {
    static int i32;
    static unsigned int u32;
    static unsigned long long u64;
    static unsigned int words[2];
    static unsigned char out[64];
    static unsigned int arcs[16];
    static unsigned char unused;
    const std::vector<NamedDecoder> decoders = {
        {"long length", "84 00 00 01 00", [](auto& p, auto& l) { AsnDecodeLength(p, l, u32); }},
        {"integer", "04 80 00 00 01", [](auto& p, auto& l) { AsnDecode(p, l, i32); }},
        {"integer, long length", "82 00 02 01 00", [](auto& p, auto& l) { AsnDecode(p, l, i32); }},
        {"unsigned", "05 00 FF FF FF FF", [](auto& p, auto& l) { AsnDecode(p, l, u32); }},
        {"null", "00", [](auto& p, auto& l) { AsnDecode(p, l); }},
        {"null, long length", "81 00", [](auto& p, auto& l) { AsnDecode(p, l); }},
        {"octets", "81 05 01 02 03 04 05",
         [](auto& p, auto& l) {
             unsigned int size = sizeof out;
             AsnDecode(p, l, out, size);
         }},
        {"counted octets", "01 02 03 04",
         [](auto& p, auto& l) {
             unsigned int size = sizeof out;
             AsnDecode(p, l, out, size, 4u);
         }},
        {"object id", "07 2B 06 01 8F FF FF 7F",
         [](auto& p, auto& l) {
             unsigned int count = 16;
             AsnDecode(p, l, arcs, count);
         }},
        {"counter64", "09 00 FF FF FF FF FF FF FF FF",
         [](auto& p, auto& l) { AsnDecode(p, l, u64); }},
        {"counter64 words", "03 01 00 00", [](auto& p, auto& l) { AsnDecode(p, l, words); }},
        {"bits", "03 05 A0 B0",
         [](auto& p, auto& l) {
             unsigned int size = sizeof out;
             AsnDecodeBits(p, l, out, size, unused);
         }},
    };
    for (const auto& d : decoders) {
        SCOPED_TRACE(d.name);
        const Bytes element = Hex(d.element);
        const auto full = RunDecoder(element, d.decode);
        ASSERT_EQ(full.error, "");
        EXPECT_EQ(full.bytes, element);
        for (size_t cut = 0; cut < element.size(); ++cut) {
            SCOPED_TRACE(cut);
            const Bytes part(element.begin(), element.begin() + static_cast<std::ptrdiff_t>(cut));
            EXPECT_EQ(RunDecoder(part, d.decode).error, kExpectedLarger);
        }
    }
}

}  // namespace
