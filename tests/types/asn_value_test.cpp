// Tests of AsnValue: content by tag, copies, comparison and the text forms.
#include "snmp/asn_value.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

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

std::string TypeName(const AsnValue& v) {
    std::string s;
    v.MakeStrType(s);
    return s;
}

std::string Hex(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        out += kHex[b >> 4];
        out += kHex[b & 0x0F];
    }
    return out;
}

ObjectId Oid(const char* text) {
    ObjectId oid;
    EXPECT_TRUE(oid.Set(text));
    return oid;
}

// One value of each kind, filled with some content, for the table tests.
AsnValue Sample(unsigned int type) {
    AsnValue v(type);
    switch (type) {
        case 0x02:
            v.SetInteger(-42);
            break;
        case 0x03: {
            const unsigned char raw[] = {0xA5, 0xF0};
            BitString bits(raw, 2);
            bits.SetUnusedBits(4);
            v.SetBits(bits);
            break;
        }
        case 0x04:
            v.SetString(OctetString("a b"));
            break;
        case 0x06:
            v.SetObjid(Oid("1.3.6.1.4"));
            break;
        case 0x40:
            v.SetIpAddr(0xC0A80001U);
            break;
        case 0x41:
            v.SetCounter(4294967295U);
            break;
        case 0x42:
            v.SetUnsigned(7);
            break;
        case 0x43:
            v.SetTicks(12345);
            break;
        case 0x44:
            v.SetString(OctetString(std::string("\x9F\x78", 2)));
            break;
        case 0x46:
        case 0x4A:
        case 0x4B:
            v.SetCounter64(18446744073709551615ULL);
            break;
        case 0x47:
            v.SetUnsigned(100);
            break;
        default:
            break;
    }
    return v;
}

TEST(AsnValueTest, EveryTagHasItsNameDisplayAndUrlForm) {
    struct Case {
        unsigned int type;
        const char* name;
        std::string display;
        std::string url;
    };
    const Case cases[] = {
        {0x02, "Integer32", "-42", "-42"},
        {0x03, "BIT STRING", "\xA5\xF0", "%A5%F0"},
        {0x04, "OCTET STRING", "a b", "a%20b"},
        {0x05, "NULL", "", ""},
        {0x06, "OBJECT IDENTIFIER", ".1.3.6.1.4", ".1.3.6.1.4"},
        {0x40, "IpAddress", "192.168.0.1", "192.168.0.1"},
        {0x41, "Counter32", "4294967295", "4294967295"},
        {0x42, "Gauge32", "7", "7"},
        {0x43, "TimeTicks", "12345", "12345"},
        {0x44, "OPAQUE", "\x9F\x78", "%9Fx"},
        {0x46, "Counter64", "18446744073709551615", "18446744073709551615"},
        {0x47, "Unsigned32", "100", "100"},
        {0x4A, "Counter64", "18446744073709551615", "18446744073709551615"},
        {0x4B, "Counter64", "18446744073709551615", "18446744073709551615"},
        {0x80, "", "", ""},
        {0x81, "", "", ""},
        {0x82, "", "", ""},
        {0x30, "", "", ""},
        {0xFF, "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        const AsnValue v = Sample(c.type);
        EXPECT_EQ(v.Type(), c.type);
        EXPECT_EQ(TypeName(v), c.name);
        EXPECT_EQ(Hex(Str(v)), Hex(c.display));
        EXPECT_EQ(Url(v), c.url);

        // Text forms append to what the caller already has.
        std::string out = "x=";
        v.MakeStr(out);
        EXPECT_EQ(Hex(out), Hex("x=" + c.display));

        // A copy has the same type and content and compares equal.
        const AsnValue copy(v);
        EXPECT_EQ(copy.Type(), c.type);
        EXPECT_EQ(Url(copy), c.url);
        EXPECT_EQ(copy.Compare(v), 0);
        AsnValue assigned(0x04);
        assigned.String() = OctetString("old");
        assigned = v;
        EXPECT_EQ(assigned.Type(), c.type);
        EXPECT_EQ(Hex(Str(assigned)), Hex(c.display));
        EXPECT_EQ(assigned.Compare(v), 0);
    }
}

TEST(AsnValueTest, SetTypeGivesFreshContent) {
    const AsnValue null;
    EXPECT_EQ(null.Type(), 0x05U);
    EXPECT_EQ(TypeName(null), "NULL");

    AsnValue v(0x02);
    v.SetInteger(99);
    v.SetType(0x04);
    EXPECT_TRUE(v.String().Empty());
    v.String() = OctetString("abc");
    v.SetType(0x04);
    EXPECT_TRUE(v.String().Empty()) << "SetType must replace the old string";

    v.SetType(0x03);
    EXPECT_TRUE(v.Bits().Empty());
    EXPECT_EQ(v.Bits().UnusedBits(), 0);
    v.SetType(0x06);
    EXPECT_TRUE(v.Objid().Empty());

    const unsigned int numeric[] = {0x02, 0x41, 0x42, 0x43, 0x46, 0x47, 0x4A, 0x4B};
    for (const unsigned int t : numeric) {
        SCOPED_TRACE(t);
        AsnValue n(0x46);
        n.SetCounter64(~0ULL);
        n.SetType(t);
        EXPECT_EQ(n.Counter64(), 0ULL);
        EXPECT_EQ(n.Integer(), 0);
    }
}

TEST(AsnValueTest, CopiesAreDeep) {
    for (const unsigned int type : {0x03U, 0x04U, 0x06U, 0x40U, 0x44U}) {
        SCOPED_TRACE(type);
        const AsnValue source = Sample(type);
        const std::string before = Url(source);

        AsnValue copy(source);
        AsnValue assigned;
        assigned = source;
        if (type == 0x06) {
            copy.Objid() += 9U;
            assigned.Objid()[0] = 2;
        } else {
            copy.String() += 'z';
            assigned.String()[0] = '!';
        }
        EXPECT_EQ(Url(source), before);
        EXPECT_NE(Url(copy), before);
        EXPECT_NE(Url(assigned), before);
    }

    AsnValue bits = Sample(0x03);
    const AsnValue bitsCopy(bits);
    EXPECT_EQ(bitsCopy.Bits().UnusedBits(), 4);
    bits.Bits().SetUnusedBits(1);
    EXPECT_EQ(bitsCopy.Bits().UnusedBits(), 4);

    AsnValue self = Sample(0x04);
    const AsnValue& alias = self;
    self = alias;
    EXPECT_EQ(Url(self), "a%20b");
}

TEST(AsnValueTest, MovedFromValueBecomesNull) {
    AsnValue source = Sample(0x06);
    AsnValue moved(std::move(source));
    EXPECT_EQ(Url(moved), ".1.3.6.1.4");
    EXPECT_EQ(source.Type(), 0x05U);  // NOLINT(bugprone-use-after-move): state is defined

    AsnValue target = Sample(0x04);
    target = std::move(moved);
    EXPECT_EQ(target.Type(), 0x06U);
    EXPECT_EQ(Url(target), ".1.3.6.1.4");
    EXPECT_EQ(moved.Type(), 0x05U);  // NOLINT(bugprone-use-after-move): state is defined
}

TEST(AsnValueTest, CompareByKind) {
    struct Case {
        const char* what;
        AsnValue a, b;
        int expected;
    };
    auto num = [](unsigned int type, long long n) {
        AsnValue v(type);
        if (type == 0x02) {
            v.SetInteger(static_cast<int>(n));
        } else if (type == 0x46 || type == 0x4A || type == 0x4B) {
            v.SetCounter64(static_cast<unsigned long long>(n));
        } else {
            v.SetUnsigned(static_cast<unsigned int>(n));
        }
        return v;
    };
    auto str = [](unsigned int type, const std::string& s) {
        AsnValue v(type);
        v.SetString(OctetString(s));
        return v;
    };
    auto oid = [](const char* text) {
        AsnValue v(0x06);
        v.SetObjid(Oid(text));
        return v;
    };
    const Case cases[] = {
        {"int signed", num(0x02, -5), num(0x02, 3), -1},
        {"int greater", num(0x02, 1000), num(0x02, -1000), 1},
        {"int equal", num(0x02, 7), num(0x02, 7), 0},
        {"counter unsigned", num(0x41, 0x80000000LL), num(0x41, 1), 1},
        {"gauge", num(0x42, 1), num(0x42, 2), -1},
        {"ticks", num(0x43, 5), num(0x43, 5), 0},
        {"unsigned32", num(0x47, 0xFFFFFFFFLL), num(0x47, 0), 1},
        {"counter64 high half decides", num(0x46, 0x200000000LL), num(0x46, 0x1FFFFFFFFLL), 1},
        {"counter64 low half", num(0x46, 0x100000001LL), num(0x46, 0x100000002LL), -1},
        {"0x4A", num(0x4A, 1), num(0x4A, 0), 1},
        {"0x4B", num(0x4B, 0), num(0x4B, 0), 0},
        {"string length difference", str(0x04, "ab"), str(0x04, "abcd"), -2},
        {"string bytes", str(0x04, "abd"), str(0x04, "abc"), 1},
        {"ip", str(0x40, std::string("\x0A\x00\x00\x01", 4)),
         str(0x40, std::string("\x0A\x00\x00\x02", 4)), -1},
        {"opaque", str(0x44, "\x80"), str(0x44, "\x7F"), 1},
        {"bits", str(0x03, "a"), str(0x03, "a"), 0},
        {"oid length difference", oid("1.3.6"), oid("1.3.6.1.2"), -2},
        {"oid arcs", oid("1.3.7"), oid("1.3.6.1"), 1},
        {"null", AsnValue(), AsnValue(), 0},
        {"noSuchObject", AsnValue(0x80), AsnValue(0x81), 0},
        {"unknown tag vs string", AsnValue(0x99), str(0x04, "x"), 0},
        {"NULL vs string", AsnValue(), str(0x04, "x"), 0},
        // Another kind of content is ordered by tag, never dereferenced.
        {"string vs integer", str(0x04, "abc"), num(0x02, 1), 1},
        {"string vs oid", str(0x04, "abc"), oid("1.3"), -1},
        {"oid vs string", oid("1.3"), str(0x04, "abc"), 1},
        {"oid vs NULL", oid("1.3"), AsnValue(), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.a.Compare(c.b), c.expected);
    }
}

TEST(AsnValueTest, WrongKindAccessThrowsInsteadOfCorrupting) {
    AsnValue number(0x02);
    EXPECT_THROW(number.String(), std::logic_error);
    EXPECT_THROW(number.Objid(), std::logic_error);
    EXPECT_THROW(number.SetString(OctetString("x")), std::logic_error);
    EXPECT_THROW(number.SetIpAddr(1U), std::logic_error);
    EXPECT_THROW(number.SetObjid(Oid("1.3")), std::logic_error);
    const AsnValue& constNumber = number;
    EXPECT_THROW(constNumber.IpAddr(), std::logic_error);

    AsnValue text(0x04);
    EXPECT_THROW(text.Bits(), std::logic_error) << "an OCTET STRING holds no BitString";
    EXPECT_THROW(text.SetBits(BitString()), std::logic_error);
    EXPECT_THROW(text.Objid(), std::logic_error);

    // Numeric setters on an object-holding value leave the object alone.
    text.SetString(OctetString("keep"));
    text.SetCounter64(~0ULL);
    text.Integer() = 12345;
    EXPECT_EQ(Str(text), "keep");
    AsnValue copy(text);
    EXPECT_EQ(Str(copy), "keep");

    // A BIT STRING's bytes are reachable as a string, keeping its unused bits.
    AsnValue bits = Sample(0x03);
    bits.SetString(OctetString("z"));
    EXPECT_EQ(Str(bits), "z");
    EXPECT_EQ(bits.Bits().UnusedBits(), 4);
}

TEST(AsnValueTest, NumbersAndAddresses) {
    AsnValue counter(0x41);
    counter.SetCounter(4294967295U);
    EXPECT_EQ(Str(counter), "4294967295");
    EXPECT_EQ(counter.Counter(), 4294967295U);
    counter.Counter() += 1;
    EXPECT_EQ(Str(counter), "0");

    AsnValue integer(0x02);
    integer.SetInteger(-1);
    EXPECT_EQ(Str(integer), "-1");
    integer.Integer() = -2147483647 - 1;
    EXPECT_EQ(Str(integer), "-2147483648");

    AsnValue ticks(0x43);
    ticks.Ticks() = 360000;
    EXPECT_EQ(ticks.Ticks(), 360000U);

    AsnValue ip(0x40);
    ip.SetIpAddr(OctetString(std::string("\x0A\x00\x00\x01", 4)));
    EXPECT_EQ(Str(ip), "10.0.0.1");
    EXPECT_EQ(Url(ip), "10.0.0.1");
    ip.SetIpAddr(OctetString(std::string("\x0A\x00\x00", 3)));
    EXPECT_EQ(Str(ip), "");
    EXPECT_EQ(Url(ip), "10.0.0");
    ip.SetIpAddr(0x01020304U);
    EXPECT_EQ(ip.IpAddr().Size(), 4U);
    EXPECT_EQ(ip.IpAddr()[0], 1);
    EXPECT_EQ(ip.IpAddr()[3], 4);
    ip.IpAddr() = OctetString(std::string());
    EXPECT_EQ(Str(ip), "");
    EXPECT_EQ(Url(ip), "");
}

TEST(AsnValueTest, UrlFormEscapesExactlyTheReservedAndNonPrintableBytes) {
    const std::string reserved = " !\"#$%&'()+,/:;<=>?[\\]^`{}~";
    ASSERT_EQ(reserved.size(), 27U);
    for (int b = 0; b < 256; ++b) {
        SCOPED_TRACE(b);
        const auto c = static_cast<char>(b);
        AsnValue v(0x04);
        v.SetString(OctetString(std::string(1, c)));
        const bool plain = b >= 32 && b <= 126 && reserved.find(c) == std::string::npos;
        const std::string url = Url(v);
        if (plain) {
            EXPECT_EQ(url, std::string(1, c));
        } else {
            ASSERT_EQ(url.size(), 3U);
            EXPECT_EQ(url[0], '%');
            EXPECT_EQ(std::stoi(url.substr(1), nullptr, 16), b);
            EXPECT_EQ(url.substr(1), Hex(std::string(1, c))) << "upper-case digits";
        }
        AsnValue back(0x02);
        back.FromURLStr(url);
        EXPECT_EQ(back.Type(), 0x04U);
        EXPECT_EQ(back.Compare(v), 0);
    }
}

TEST(AsnValueTest, UrlFormRoundTrips) {
    const std::string samples[] = {
        std::string("a %\n\xE9", 5),
        std::string("\x00\x01\x7F\x80\xFF", 5),
        "plain-text_with.dots*and@signs",
        "100% {sure}?",
        "",
    };
    for (const std::string& s : samples) {
        SCOPED_TRACE(Hex(s));
        for (const unsigned int type : {0x03U, 0x04U, 0x44U}) {
            AsnValue v(type);
            v.SetString(OctetString(s));
            AsnValue back;
            back.FromURLStr(Url(v));
            EXPECT_EQ(back.Type(), 0x04U);
            EXPECT_EQ(Hex(Str(back)), Hex(s));
        }
    }
    AsnValue v(0x04);
    v.SetString(OctetString(std::string("a %\n\xE9", 5)));
    EXPECT_EQ(Url(v), "a%20%25%0A%E9");
}

TEST(AsnValueTest, FromUrlDecodesEscapesAndOddPercentSigns) {
    struct Case {
        std::string in;
        std::string bytes;
    };
    const Case cases[] = {
        {"a%20%25%0A%E9", std::string("a %\n\xE9", 5)},
        {"%e9%Ab", "\xE9\xAB"},
        {"%%", "%"},
        {"50%%off", "50%off"},
        {"end%", "end"},
        {"%", ""},
        {"%G1", "%G1"},
        {"%4", "%4"},
        {"%4z", "%4z"},
        {"%%41", "%41"},
        {"%00x", std::string("\0x", 2)},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        AsnValue v(0x06);
        v.SetObjid(Oid("1.3"));
        v.FromURLStr(c.in);
        EXPECT_EQ(v.Type(), 0x04U);
        EXPECT_EQ(Hex(Str(v)), Hex(c.bytes));
    }
}

}  // namespace
