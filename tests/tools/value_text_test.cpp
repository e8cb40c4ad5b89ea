// zksnmp's value texts: printed bindings, JSON, and the typed values of `set`
// and the small-limit numbers at their range limits.
#include "value_text.h"

#include <gtest/gtest.h>

#include <tuple>

#include "test_util.h"

namespace zksnmp {
namespace {

using zktest::Oid;

// The value that `set` reads from `text` of `type`.
snmp::AsnValue Typed(const char* type, const char* text) {
    snmp::AsnValue v;
    std::string error;
    EXPECT_TRUE(ParseTypedValue(type, text, v, error)) << error;
    return v;
}

snmp::VarBind Vb(const snmp::AsnValue& v) {
    return snmp::VarBind(Oid("1.3.6.1.2.1.1.1.0"), v);
}

TEST(ValueTextTest, FormatsEveryTypeInTheFamiliarForm) {
    const std::pair<snmp::AsnValue, const char*> cases[] = {
        {Typed("i", "-2147483648"), "INTEGER: -2147483648"},
        {Typed("s", "a \"b\" \\c"), "STRING: \"a \\\"b\\\" \\\\c\""},
        {Typed("x", "00ff80"), "Hex-STRING: 00 ff 80"},
        {Typed("s", ""), "STRING: \"\""},
        {Typed("o", ".1.3.6.1.4.1.8072"), "OID: .1.3.6.1.4.1.8072"},
        {Typed("a", "192.0.2.1"), "IpAddress: 192.0.2.1"},
        {Typed("c", "4294967295"), "Counter32: 4294967295"},
        {Typed("g", "7"), "Gauge32: 7"},
        {Typed("t", "8640000"), "Timeticks: (8640000) 1 day, 0:00:00.00"},
        {Typed("t", "4294967295"), "Timeticks: (4294967295) 497 days, 2:27:52.95"},
        {Typed("Opaque", "00ff"), "Opaque: 00 ff"},
        {Typed("n", ""), "NULL"},
        {snmp::AsnValue(0x80), "No Such Object available on this agent at this OID"},
        {snmp::AsnValue(0x81), "No Such Instance currently exists at this OID"},
        {snmp::AsnValue(0x82),
         "No more variables left in this MIB View (It is past the end of the MIB tree)"},
    };
    for (const auto& [value, text] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(FormatBinding(Vb(value)), std::string(".1.3.6.1.2.1.1.1.0 = ") + text);
    }
}

TEST(ValueTextTest, JsonKeepsBytesRecoverable) {
    EXPECT_EQ(JsonBinding(Vb(Typed("x", "61225c01e9"))),
              "{\"oid\":\".1.3.6.1.2.1.1.1.0\",\"tag\":4,\"type\":\"Hex-STRING\","
              "\"value\":\"a\\\"\\\\\\u0001\\u00e9\",\"hex\":\"61225c01e9\"}");
    EXPECT_EQ(
        JsonBinding(Vb(snmp::AsnValue(0x82))),
        "{\"oid\":\".1.3.6.1.2.1.1.1.0\",\"tag\":130,\"type\":\"endOfMibView\",\"value\":null}");
    EXPECT_EQ(JsonBinding(Vb(Typed("C", "9223372036854775808"))),
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
        {"C", 0x46, {"18446744073709551615"}, {"18446744073709551616"}},
        {"a", 0x40, {"255.255.255.255"}, {"256.1.1.1", "1.2.3", "1.2.3.4.5"}},
        {"o", 0x06, {".1.3.6.1"}, {"1.3..6", "1.3.6."}},
        {"x", 0x04, {"00 ff:80", "0x00ff"}, {"abc", "zz"}},
        {"q", 0, {}, {"1"}},
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
    EXPECT_EQ(Typed("s", "  keeps blanks ").String(), snmp::OctetString("  keeps blanks "));
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
