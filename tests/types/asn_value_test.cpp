// Tests of AsnValue: content by tag, copies, comparison and the text forms.
#include "snmp/asn_value.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "test_util.h"

namespace {

using snmp::AsnValue;
using snmp::BitString;
using snmp::ObjectId;
using snmp::OctetString;

std::string Str(const AsnValue& v) {
    std::string s;
    v.MakeStr(s);
    return s;
}

std::string Url(const AsnValue& v) {
    std::string s;
    v.ToURLStr(s);
    return s;
}

AsnValue Text(unsigned int type, const std::string& s) {
    AsnValue v(type);
    v.SetString(OctetString(s));
    return v;
}

AsnValue Num(unsigned int type, long long n) {
    AsnValue v(type);
    if (type == 0x02) {
        v.SetInteger(static_cast<int>(n));
    } else if (type == 0x46 || type == 0x4A || type == 0x4B) {
        v.SetCounter64(static_cast<unsigned long long>(n));
    } else {
        v.SetUnsigned(static_cast<unsigned int>(n));
    }
    return v;
}

AsnValue OidValue(const char* text) {
    AsnValue v(0x06);
    v.SetObjid(zktest::Oid(text));
    return v;
}

// Two bytes with four unused bits.
AsnValue Bits() {
    const unsigned char raw[] = {0xA5, 0xF0};
    BitString bits(raw, 2);
    bits.SetUnusedBits(4);
    AsnValue v(0x03);
    v.SetBits(bits);
    return v;
}

TEST(AsnValueTest, EveryTagHasItsNameDisplayAndUrlFormAndCopiesEqual) {
    struct Case {
        AsnValue v;
        const char* name;
        std::string display;
        std::string url;
    };
    AsnValue ip(0x40);
    ip.SetIpAddr(0xC0A80001U);
    const std::string max64 = "18446744073709551615";
    const Case cases[] = {{Num(0x02, -2147483647 - 1), "Integer32", "-2147483648", "-2147483648"},
                          {Bits(), "BIT STRING", "\xA5\xF0", "%A5%F0"},
                          {Text(0x04, "a b"), "OCTET STRING", "a b", "a%20b"},
                          {AsnValue(), "NULL", "", ""},
                          {OidValue("1.3.6.1.4"), "OBJECT IDENTIFIER", ".1.3.6.1.4", ".1.3.6.1.4"},
                          {ip, "IpAddress", "192.168.0.1", "192.168.0.1"},
                          {Text(0x40, std::string("\x0A\x00\x00", 3)), "IpAddress", "", "10.0.0"},
                          {Num(0x41, 0xFFFFFFFFLL), "Counter32", "4294967295", "4294967295"},
                          {Num(0x42, 7), "Gauge32", "7", "7"},
                          {Num(0x43, 12345), "TimeTicks", "12345", "12345"},
                          {Text(0x44, "\x9F\x78"), "OPAQUE", "\x9F\x78", "%9Fx"},
                          {Num(0x46, -1), "Counter64", max64, max64},
                          {Num(0x47, 100), "Unsigned32", "100", "100"},
                          {Num(0x4A, -1), "Counter64", max64, max64},
                          {Num(0x4B, -1), "Counter64", max64, max64},
                          {AsnValue(0x80), "", "", ""},
                          {AsnValue(0xFF), "", "", ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.v.Type());
        std::string name;
        c.v.MakeStrType(name);
        EXPECT_EQ(name, c.name);
        std::string out = "x=";
        c.v.MakeStr(out);
        EXPECT_EQ(out, "x=" + c.display) << "text forms append";
        EXPECT_EQ(Url(c.v), c.url);

        AsnValue assigned = Text(0x04, "old");
        assigned = c.v;
        for (const AsnValue& copy : {AsnValue(c.v), assigned}) {
            EXPECT_EQ(copy.Type(), c.v.Type());
            EXPECT_EQ(Str(copy), c.display);
            EXPECT_EQ(copy.Compare(c.v), 0);
        }
    }
}

TEST(AsnValueTest, UrlFormEscapesExactlyTheReservedAndNonPrintableBytesAndDecodesBack) {
    const std::string reserved = " !\"#$%&'()+,/:;<=>?[\\]^`{}~";
    for (int b = 0; b < 256; ++b) {
        SCOPED_TRACE(b);
        const std::string one(1, static_cast<char>(b));
        char escaped[4];
        std::snprintf(escaped, sizeof escaped, "%%%02X", b);
        const AsnValue v = Text(b % 2 ? 0x04 : 0x44, one);
        const bool plain = b >= 32 && b <= 126 && reserved.find(one[0]) == std::string::npos;
        EXPECT_EQ(Url(v), plain ? one : escaped);
        AsnValue back(0x02);
        back.FromURLStr(Url(v));
        EXPECT_EQ(back.Type(), 0x04U);
        EXPECT_EQ(Str(back), one);
    }
    // Escapes in either case, and percent signs that start none.
    struct Case {
        std::string in;
        std::string bytes;
    };
    const Case cases[] = {{"a%20%25%0A%E9", "a %\n\xE9"},
                          {"%e9%Ab", "\xE9\xAB"},
                          {"50%%off", "50%off"},
                          {"end%", "end"},
                          {"%G1", "%G1"},
                          {"%4", "%4"},
                          {"%%41", "%41"},
                          {"%00x", std::string("\0x", 2)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        AsnValue v = OidValue("1.3");
        v.FromURLStr(c.in);
        EXPECT_EQ(v.Type(), 0x04U);
        EXPECT_EQ(Str(v), c.bytes);
    }
}

}  // namespace
