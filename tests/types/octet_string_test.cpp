// Tests of OctetString and BitString: construction, editing, ordering and XOR.
#include "snmp/octet_string.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using snmp::BitString;
using snmp::OctetString;

std::vector<unsigned char> Bytes(const OctetString& s) {
    return std::vector<unsigned char>(s.Data(), s.Data() + s.Size());
}

TEST(OctetStringTest, ConstructionAndEditingKeepExactBytes) {
    const unsigned char raw[] = {0x00, 0x80, 0xFF, 0x41};
    OctetString fromRaw(raw, 4);
    EXPECT_EQ(Bytes(fromRaw), (std::vector<unsigned char>{0x00, 0x80, 0xFF, 0x41}));

    // Embedded NUL bytes survive the std::string constructor.
    OctetString fromStd(std::string("a\0b", 3));
    EXPECT_EQ(fromStd.Size(), 3U);
    EXPECT_EQ(fromStd[1], 0x00);

    OctetString s("ab");
    s.Resize(4);
    EXPECT_EQ(Bytes(s), (std::vector<unsigned char>{0x61, 0x62, 0x00, 0x00}));
    s.Resize(1);
    EXPECT_EQ(Bytes(s), (std::vector<unsigned char>{0x61}));
    s.Resize(-3);
    EXPECT_TRUE(s.Empty());

    s = std::string("xyz");
    s.Set(3, 0xFF);
    EXPECT_EQ(Bytes(s), (std::vector<unsigned char>{0xFF, 0xFF, 0xFF}));
    s.Set(raw, 2);
    EXPECT_EQ(Bytes(s), (std::vector<unsigned char>{0x00, 0x80}));

    s += static_cast<unsigned char>(0xE9);
    s += 'z';
    s += OctetString("12");
    EXPECT_EQ(Bytes(s), (std::vector<unsigned char>{0x00, 0x80, 0xE9, 'z', '1', '2'}));

    OctetString copy(s);
    copy[0] = 0x55;
    EXPECT_EQ(s[0], 0x00) << "copy shares storage with its source";
}

TEST(OctetStringTest, EmptyStringHasNoDataAndEqualsEmptyText) {
    OctetString empty;
    EXPECT_EQ(empty.Data(), nullptr);
    EXPECT_TRUE(empty.Empty());
    EXPECT_TRUE(empty == std::string());
    EXPECT_FALSE(empty == std::string("a"));

    OctetString emptied("abc");
    emptied.Set(0U, static_cast<unsigned char>(0));
    EXPECT_EQ(emptied.Data(), nullptr);

    EXPECT_TRUE(OctetString(std::string()).Empty());
    EXPECT_TRUE(OctetString("abc") == std::string("abc"));
    EXPECT_FALSE(OctetString("abc") == std::string("abcd"));
    EXPECT_FALSE(OctetString("abc") == std::string("abd"));
}

TEST(OctetStringTest, NullSourcePointerGivesEmptyString) {
    OctetString s(nullptr, 16);
    EXPECT_TRUE(s.Empty());
    s = std::string("keep");
    s.Set(nullptr, 8);
    EXPECT_TRUE(s.Empty());
}

TEST(OctetStringTest, AppendingToItselfDoublesTheContent) {
    OctetString s("abc");
    s += s;
    EXPECT_TRUE(s == std::string("abcabc"));
    // Setting from a pointer into the string's own storage.
    s.Set(s.Data() + 3, 3);
    EXPECT_TRUE(s == std::string("abc"));
}

TEST(OctetStringTest, CompareOrdersBytesUnsignedAndPrefixesByLength) {
    struct Case {
        std::string a, b;
        int expected;
    };
    const Case cases[] = {
        {"abc", "abd", -1},   {"abd", "abc", 1},  {"abc", "ab", 1}, {"ab", "abcd", -2},
        {"abc", "abc", 0},    {"", "", 0},        {"", "xyz", -3},  {"\x80", "\x7F", 1},
        {"\x7F", "\xFF", -1}, {"b", "abcdef", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("'" + c.a + "' vs '" + c.b + "'");
        EXPECT_EQ(OctetString(c.a).Compare(OctetString(c.b)), c.expected);
    }
}

TEST(OctetStringTest, XorCombinesBytesAndAllowsAliasing) {
    const OctetString a(std::string("\x0F\xF0\xAA", 3));
    const OctetString b(std::string("\xFF\xFF\x55", 3));
    OctetString out;
    out.Resize(3);
    OctetString::XOR(out, a, b);
    EXPECT_EQ(Bytes(out), (std::vector<unsigned char>{0xF0, 0x0F, 0xFF}));

    OctetString inPlace(a);
    OctetString::XOR(inPlace, inPlace, b);
    EXPECT_EQ(Bytes(inPlace), Bytes(out));
    OctetString::XOR(inPlace, a, inPlace);
    EXPECT_EQ(Bytes(inPlace), Bytes(b));

    // Only a's length is used when the others are longer.
    OctetString longer(std::string("\x01\x02\x03\x04", 4));
    OctetString::XOR(longer, OctetString(std::string("\x01", 1)), b);
    EXPECT_EQ(Bytes(longer), (std::vector<unsigned char>{0xFE, 0x02, 0x03, 0x04}));
}

TEST(OctetStringTest, XorWithShortOperandsTouchesOnlyHeldBytes) {
    const OctetString a("abcdefgh");
    const OctetString shortB(std::string("\x20\x20", 2));
    OctetString out;
    out.Resize(8);
    OctetString::XOR(out, a, shortB);
    EXPECT_EQ(out.Size(), 8U);
    EXPECT_EQ(out[0], 'A');
    EXPECT_EQ(out[1], 'B');
    EXPECT_EQ(out[2], 0x00);

    OctetString shortOut("xy");
    OctetString::XOR(shortOut, a, OctetString("ABCDEFGH"));
    EXPECT_EQ(shortOut.Size(), 2U) << "XOR must never resize its output";
    EXPECT_EQ(Bytes(shortOut), (std::vector<unsigned char>{0x20, 0x20}));
}

TEST(BitStringTest, CarriesUnusedBitsThroughCopies) {
    BitString fresh;
    EXPECT_EQ(fresh.UnusedBits(), 0);
    EXPECT_TRUE(fresh.Empty());

    unsigned char raw[] = {0xF0, 0x0F};
    BitString bits(raw, 2);
    EXPECT_EQ(bits.UnusedBits(), 0);
    bits.SetUnusedBits(3);
    BitString copy(bits);
    EXPECT_EQ(copy.UnusedBits(), 3);
    EXPECT_EQ(copy.Compare(bits), 0);

    BitString assigned;
    assigned = bits;
    EXPECT_EQ(assigned.UnusedBits(), 3);
    EXPECT_EQ(Bytes(assigned), (std::vector<unsigned char>{0xF0, 0x0F}));
}

}  // namespace
