// zksnmp's value texts: printed bindings, JSON, and the typed values of `set`
// and the small-limit numbers at their range limits.
#include "value_text.h"

#include <gtest/gtest.h>

#include <tuple>

namespace zksnmp {
namespace {

snmp::VarBind Vb(unsigned int type, const std::function<void(snmp::AsnValue&)>& fill) {
    snmp::ObjectId oid;
    oid.Set("1.3.6.1.2.1.1.1.0");
    snmp::AsnValue v(type);
    fill(v);
    return snmp::VarBind(oid, v);
}

TEST(ValueTextTest, FormatsEveryTypeInTheFamiliarForm) {
    snmp::ObjectId target;
    target.Set("1.3.6.1.4.1.8072");
    const unsigned char binary[] = {0x00, 0xFF, 0x80};
    const std::pair<snmp::VarBind, const char*> cases[] = {
        {Vb(0x02, [](snmp::AsnValue& v) { v.SetInteger(-2147483647 - 1); }),
         "INTEGER: -2147483648"},
        {Vb(0x04, [](snmp::AsnValue& v) { v.SetString(snmp::OctetString("a \"b\" \\c")); }),
         "STRING: \"a \\\"b\\\" \\\\c\""},
        {Vb(0x04, [](snmp::AsnValue&) {}), "STRING: \"\""},
        {Vb(0x04, [&](snmp::AsnValue& v) { v.SetString(snmp::OctetString(binary, 3)); }),
         "Hex-STRING: 00 ff 80"},
        {Vb(0x06, [&](snmp::AsnValue& v) { v.SetObjid(target); }), "OID: .1.3.6.1.4.1.8072"},
        {Vb(0x40, [](snmp::AsnValue& v) { v.SetIpAddr(0xC0000201U); }), "IpAddress: 192.0.2.1"},
        {Vb(0x41, [](snmp::AsnValue& v) { v.SetCounter(4294967295U); }), "Counter32: 4294967295"},
        {Vb(0x42, [](snmp::AsnValue& v) { v.SetUnsigned(7); }), "Gauge32: 7"},
        {Vb(0x43, [](snmp::AsnValue& v) { v.SetTicks(123456); }), "Timeticks: (123456) 0:20:34.56"},
        {Vb(0x43, [](snmp::AsnValue& v) { v.SetTicks(8640000); }),
         "Timeticks: (8640000) 1 day, 0:00:00.00"},
        {Vb(0x43, [](snmp::AsnValue& v) { v.SetTicks(4294967295U); }),
         "Timeticks: (4294967295) 497 days, 2:27:52.95"},
        {Vb(0x44, [&](snmp::AsnValue& v) { v.SetString(snmp::OctetString(binary, 2)); }),
         "Opaque: 00 ff"},
        {Vb(0x46, [](snmp::AsnValue& v) { v.SetCounter64(~0ULL); }),
         "Counter64: 18446744073709551615"},
        {Vb(0x05, [](snmp::AsnValue&) {}), "NULL"},
        {Vb(0x80, [](snmp::AsnValue&) {}), "No Such Object available on this agent at this OID"},
        {Vb(0x81, [](snmp::AsnValue&) {}), "No Such Instance currently exists at this OID"},
        {Vb(0x82, [](snmp::AsnValue&) {}),
         "No more variables left in this MIB View (It is past the end of the MIB tree)"},
    };
    for (const auto& [vb, text] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(FormatBinding(vb), std::string(".1.3.6.1.2.1.1.1.0 = ") + text);
    }
}

TEST(ValueTextTest, JsonKeepsBytesRecoverable) {
    const unsigned char bytes[] = {'a', '"', '\\', 0x01, 0xE9};
    const snmp::VarBind vb =
        Vb(0x04, [&](snmp::AsnValue& v) { v.SetString(snmp::OctetString(bytes, 5)); });
    EXPECT_EQ(JsonBinding(vb),
              "{\"oid\":\".1.3.6.1.2.1.1.1.0\",\"tag\":4,\"type\":\"Hex-STRING\","
              "\"value\":\"a\\\"\\\\\\u0001\\u00e9\",\"hex\":\"61225c01e9\"}");
    EXPECT_EQ(
        JsonBinding(Vb(0x82, [](snmp::AsnValue&) {})),
        "{\"oid\":\".1.3.6.1.2.1.1.1.0\",\"tag\":130,\"type\":\"endOfMibView\",\"value\":null}");
    EXPECT_EQ(JsonBinding(Vb(0x46, [](snmp::AsnValue& v) { v.SetCounter64(1ULL << 63); })),
              "{\"oid\":\".1.3.6.1.2.1.1.1.0\",\"tag\":70,\"type\":\"Counter64\",\"value\":"
              "9223372036854775808}");
}

TEST(ValueTextTest, TypedValuesAcceptTheirRangeAndRejectBeyondIt) {
    const struct {
        const char* type;
        unsigned int tag;
        std::vector<const char*> good, bad;
    } cases[] = {
        {"i", 0x02, {"-2147483648", "2147483647"}, {"2147483648", "-2147483649", "12a", ""}},
        {"u", 0x42, {"4294967295"}, {"4294967296", "-1"}},
        {"c", 0x41, {"0"}, {}},
        {"g", 0x42, {"1"}, {}},
        {"t", 0x43, {"4294967295"}, {}},
        {"C", 0x46, {"18446744073709551615"}, {"18446744073709551616"}},
        {"a", 0x40, {"255.255.255.255"}, {"256.1.1.1", "1.2.3", "1.2.3.4.5"}},
        {"o", 0x06, {".1.3.6.1"}, {"1.3..6", "1.3.6."}},
        {"s", 0x04, {""}, {}},
        {"x", 0x04, {"00 ff:80", "0x00ff"}, {"abc", "zz"}},
        {"n", 0x05, {""}, {}},
        {"q", 0, {}, {"1"}},
        {"INTEGER", 0x02, {"up(1)"}, {}},
        {"Timeticks", 0x43, {"(42) 0:00:00.42"}, {}},
    };
    for (const auto& c : cases) {
        for (const bool ok : {true, false}) {
            for (const char* text : ok ? c.good : c.bad) {
                SCOPED_TRACE(std::string(c.type) + " '" + text + "'");
                snmp::AsnValue v;
                std::string error;
                EXPECT_EQ(ParseTypedValue(c.type, text, v, error), ok) << error;
                EXPECT_TRUE(!ok || v.Type() == c.tag);
                EXPECT_EQ(error.empty(), ok);
            }
        }
    }
    snmp::AsnValue v;
    std::string error;
    ASSERT_TRUE(ParseTypedValue("i", "-2147483648", v, error));
    EXPECT_EQ(v.Integer(), -2147483647 - 1);
    ASSERT_TRUE(ParseTypedValue("C", "18446744073709551615", v, error));
    EXPECT_EQ(v.Counter64(), ~0ULL);
    ASSERT_TRUE(ParseTypedValue("a", "10.0.0.1", v, error));
    EXPECT_EQ(HexText(v.IpAddr(), false), "0a000001");
    ASSERT_TRUE(ParseTypedValue("s", "  keeps blanks ", v, error));
    EXPECT_EQ(v.String(), snmp::OctetString("  keeps blanks "));
}

TEST(ValueTextTest, UnsignedNumbersRespectSmallLimits) {
    const std::tuple<const char*, unsigned long long, bool> cases[] = {
        {"6", 6, true},         {"7", 6, false},
        {"0", 0, true},         {"1", 0, false},
        {"65535", 65535, true}, {"65536", 65535, false},
        {"99", 9, false},       {"18446744073709551615", ~0ULL, true},
        {"00012", 12, true},    {"+1", 9, false}};
    for (const auto& [text, max, ok] : cases) {
        SCOPED_TRACE(text);
        unsigned long long v = 12345;
        EXPECT_EQ(ParseUnsigned(text, max, v), ok);
        EXPECT_TRUE(ok || v == 12345U);
    }
}

}  // namespace
}  // namespace zksnmp
