// Tests of zksnmp's value texts: printed bindings, JSON, and the typed values
// of `set` at their range limits.
#include "value_text.h"

#include <gtest/gtest.h>

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
    struct Case {
        snmp::VarBind vb;
        const char* text;
    };
    snmp::ObjectId target;
    target.Set("1.3.6.1.4.1.8072");
    const unsigned char binary[] = {0x00, 0xFF, 0x80};
    const Case cases[] = {
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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(FormatBinding(c.vb), std::string(".1.3.6.1.2.1.1.1.0 = ") + c.text);
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
    struct Case {
        const char* type;
        const char* text;
        bool ok;
        unsigned int tag;
    };
    const Case cases[] = {
        {"i", "-2147483648", true, 0x02},
        {"i", "2147483647", true, 0x02},
        {"i", "2147483648", false, 0},
        {"i", "-2147483649", false, 0},
        {"i", "12a", false, 0},
        {"i", "", false, 0},
        {"u", "4294967295", true, 0x42},
        {"u", "4294967296", false, 0},
        {"u", "-1", false, 0},
        {"c", "0", true, 0x41},
        {"g", "1", true, 0x42},
        {"t", "4294967295", true, 0x43},
        {"C", "18446744073709551615", true, 0x46},
        {"C", "18446744073709551616", false, 0},
        {"a", "255.255.255.255", true, 0x40},
        {"a", "256.1.1.1", false, 0},
        {"a", "1.2.3", false, 0},
        {"a", "1.2.3.4.5", false, 0},
        {"o", ".1.3.6.1", true, 0x06},
        {"o", "1.3..6", false, 0},
        {"o", "1.3.6.", false, 0},
        {"s", "", true, 0x04},
        {"x", "00 ff:80", true, 0x04},
        {"x", "0x00ff", true, 0x04},
        {"x", "abc", false, 0},
        {"x", "zz", false, 0},
        {"n", "", true, 0x05},
        {"q", "1", false, 0},
        {"INTEGER", "up(1)", true, 0x02},
        {"Timeticks", "(42) 0:00:00.42", true, 0x43},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " '" + c.text + "'");
        snmp::AsnValue v;
        std::string error;
        EXPECT_EQ(ParseTypedValue(c.type, c.text, v, error), c.ok) << error;
        if (c.ok) {
            EXPECT_EQ(v.Type(), c.tag);
        } else {
            EXPECT_FALSE(error.empty());
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
    struct Case {
        const char* text;
        unsigned long long max;
        bool ok;
    };
    const Case cases[] = {{"6", 6, true},         {"7", 6, false},
                          {"0", 0, true},         {"1", 0, false},
                          {"65535", 65535, true}, {"65536", 65535, false},
                          {"99", 9, false},       {"18446744073709551615", ~0ULL, true},
                          {"00012", 12, true},    {"+1", 9, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        unsigned long long v = 12345;
        EXPECT_EQ(ParseUnsigned(c.text, c.max, v), c.ok);
        if (!c.ok) {
            EXPECT_EQ(v, 12345U);
        }
    }
}

TEST(ValueTextTest, DumpLinesOfBothFormsAndTheirFailures) {
    snmp::VarBind vb;
    bool skip = false;
    std::string error;
    ASSERT_TRUE(ParseDumpLine("1.3.6.1.2.1.1.5.0 s router one", vb, skip, error));
    EXPECT_FALSE(skip);
    EXPECT_EQ(vb.Value().String(), snmp::OctetString("router one"));
    ASSERT_TRUE(ParseDumpLine(".1.3.6.1.2.1.1.5.0 = STRING: \"router one\"", vb, skip, error));
    EXPECT_EQ(vb.Value().String(), snmp::OctetString("router one"));
    ASSERT_TRUE(ParseDumpLine(".1.3.6.1.2.1.2.2.1.10.1 = Counter32: 17", vb, skip, error));
    EXPECT_EQ(vb.Value().Type(), 0x41U);
    ASSERT_TRUE(ParseDumpLine("   # comment", vb, skip, error));
    EXPECT_TRUE(skip);
    ASSERT_TRUE(ParseDumpLine(".1.3.6.1 = No Such Object available on this agent at this OID", vb,
                              skip, error));
    EXPECT_TRUE(skip);
    EXPECT_FALSE(ParseDumpLine("1.3.6.1.2.1.1.5.0", vb, skip, error));
    EXPECT_FALSE(ParseDumpLine("iso.3.6 = INTEGER: 1", vb, skip, error));
    EXPECT_FALSE(ParseDumpLine(".1.3.6.1.2.0 = Float: 1.5", vb, skip, error));
}

}  // namespace
}  // namespace zksnmp
