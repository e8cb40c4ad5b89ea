// Tests of OctetString and BitString: construction, editing, ordering and XOR.
#include "snmp/octet_string.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using snmp::BitString;
using snmp::OctetString;
using Bytes = std::vector<unsigned char>;

Bytes Of(const OctetString& s) {
    return Bytes(s.Data(), s.Data() + s.Size());
}

TEST(OctetStringTest, CompareOrdersBytesUnsignedAndPrefixesByLength) {
    struct Case {
        std::string a, b;
        int expected;
    };
    const Case cases[] = {{"abc", "abd", -1},  {"abc", "ab", 1},     {"ab", "abcd", -2},
                          {"abc", "abc", 0},   {"", "", 0},          {"", "xyz", -3},
                          {"\x80", "\x7F", 1}, {"\x7F", "\xFF", -1}, {"b", "abcdef", 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE("'" + c.a + "' vs '" + c.b + "'");
        EXPECT_EQ(OctetString(c.a).Compare(OctetString(c.b)), c.expected);
    }
}

TEST(OctetStringTest, XorStaysWithinEveryOperandAndAppendSetAndXorAllowAliasing) {
    OctetString self("abc");
    self += self;
    EXPECT_TRUE(self == std::string("abcabc"));
    self.Set(self.Data() + 3, 3);
    EXPECT_TRUE(self == std::string("abc"));
    const OctetString a(std::string("\x0F\xF0\xAA", 3));
    const OctetString b(std::string("\xFF\xFF\x55", 3));
    OctetString out;
    out.Resize(3);
    OctetString::XOR(out, a, b);
    EXPECT_EQ(Of(out), (Bytes{0xF0, 0x0F, 0xFF}));
    OctetString inPlace(a);
    OctetString::XOR(inPlace, inPlace, b);
    OctetString::XOR(inPlace, a, inPlace);
    EXPECT_EQ(Of(inPlace), Of(b));

    // Only a's length is used when the others are longer; bytes past a short b stay as they
    // were; the output is never resized.
    OctetString longer(std::string("\x01\x02\x03\x04", 4));
    OctetString::XOR(longer, OctetString(std::string("\x01", 1)), b);
    EXPECT_EQ(Of(longer), (Bytes{0xFE, 0x02, 0x03, 0x04}));
    OctetString wide;
    wide.Resize(8);
    OctetString::XOR(wide, OctetString("abcdefgh"), OctetString(std::string("\x20\x20", 2)));
    EXPECT_EQ(Of(wide), (Bytes{'A', 'B', 0, 0, 0, 0, 0, 0}));
    OctetString shortOut("xy");
    OctetString::XOR(shortOut, OctetString("abcdefgh"), OctetString("ABCDEFGH"));
    EXPECT_EQ(Of(shortOut), (Bytes{0x20, 0x20}));
}

}  // namespace
