// Tests of the agent's MIB: SNMPv1 and SNMPv2 error semantics of Get,
// GetNext, GetBulk and Set, the size accounting of GetBulk answers, and
// loading recorded walks.
#include "agent_mib.h"

#include <gtest/gtest.h>

#include <sstream>

#include "snmp/asn.h"

namespace zksnmp {
namespace {

using snmp::SnmpVersionV1;
using snmp::SnmpVersionV2c;

snmp::ObjectId O(const char* text) {
    snmp::ObjectId oid;
    EXPECT_TRUE(oid.Set(text)) << text;
    return oid;
}

snmp::VarBindList Names(std::initializer_list<const char*> names) {
    snmp::VarBindList vbs;
    for (const char* n : names) {
        vbs.push_back(snmp::VarBind(O(n), snmp::AsnValue()));
    }
    return vbs;
}

snmp::AsnValue Text(const std::string& s) {
    snmp::AsnValue v(0x04);
    v.SetString(snmp::OctetString(s));
    return v;
}

std::string Name(const snmp::VarBind& vb) {
    std::string s;
    vb.Objid().MakeStr(s);
    return s;
}

class AgentMibTest : public ::testing::Test {
protected:
    void SetUp() override {
        mib.AddSystemGroup("descr", "name", [this] { return ++upTimeReads; });
        mib.AddTable(3);
    }
    MibAnswer Run(snmp::SnmpVersion v, unsigned int pdu, const snmp::VarBindList& vbs, int n = 0,
                  int m = 0, bool write = true, unsigned int room = 100000) {
        return mib.Process(v, pdu, vbs, n, m, write, room);
    }
    AgentMib mib;
    unsigned int upTimeReads = 0;
};

TEST_F(AgentMibTest, GetTellsMissingObjectsFromMissingInstancesInV2AndUsesNoSuchNameInV1) {
    const snmp::VarBindList request =
        Names({"1.3.6.1.2.1.1.5.0", "1.3.6.1.2.1.1.5.1", "1.3.6.1.2.1.1.99.0",
               "1.3.6.1.4.1.99999.2.1.1.2.77", "1.3.6.1.2.1.1.5"});
    MibAnswer a = Run(SnmpVersionV2c, snmp::PduGetRequest, request);
    ASSERT_EQ(a.errorStatus, kNoError);
    ASSERT_EQ(a.vbs.size(), 5U);
    std::vector<unsigned int> types;
    for (const auto& vb : a.vbs) {
        types.push_back(vb.Value().Type());
    }
    EXPECT_EQ(types, (std::vector<unsigned int>{0x04, 0x81, 0x80, 0x81, 0x80}));
    EXPECT_EQ(a.vbs.front().Value().String(), snmp::OctetString("name"));

    // SNMPv1: the first missing name is the error, and the request's bindings
    // come back unchanged.
    a = Run(SnmpVersionV1, snmp::PduGetRequest, request);
    EXPECT_EQ(a.errorStatus, kNoSuchName);
    EXPECT_EQ(a.errorIndex, 2);
    ASSERT_EQ(a.vbs.size(), 5U);
    EXPECT_EQ(a.vbs.front().Value().Type(), 0x05U);
}

TEST_F(AgentMibTest, SnmpV1NeverSeesCounter64) {
    // Get of a Counter64 cell fails in v1 and works in v2c.
    const snmp::VarBindList cell = Names({"1.3.6.1.4.1.99999.2.1.1.8.2"});
    EXPECT_EQ(Run(SnmpVersionV1, snmp::PduGetRequest, cell).errorStatus, kNoSuchName);
    MibAnswer a = Run(SnmpVersionV2c, snmp::PduGetRequest, cell);
    ASSERT_EQ(a.vbs.size(), 1U);
    EXPECT_EQ(a.vbs.front().Value().Counter64(), (2ULL << 32) + 2);
    // GetNext from the last cell of column 7 skips column 8 in v1.
    const snmp::VarBindList last7 = Names({"1.3.6.1.4.1.99999.2.1.1.7.3"});
    EXPECT_EQ(Name(Run(SnmpVersionV1, snmp::PduGetNextRequest, last7).vbs.front()),
              ".1.3.6.1.4.1.99999.2.1.1.9.1");
    EXPECT_EQ(Name(Run(SnmpVersionV2c, snmp::PduGetNextRequest, last7).vbs.front()),
              ".1.3.6.1.4.1.99999.2.1.1.8.1");
}

TEST_F(AgentMibTest, GetNextPastTheEndIsEndOfMibViewOrNoSuchName) {
    const snmp::VarBindList request = Names({"1.3.6.1.2.1.1.9", "1.3.6.1.4.1.99999.9"});
    MibAnswer a = Run(SnmpVersionV2c, snmp::PduGetNextRequest, request);
    ASSERT_EQ(a.vbs.size(), 2U);
    EXPECT_EQ(Name(a.vbs.front()), ".1.3.6.1.4.1.99999.2.1.1.1.1");
    EXPECT_EQ(a.vbs.back().Value().Type(), 0x82U);
    EXPECT_EQ(Name(a.vbs.back()), ".1.3.6.1.4.1.99999.9");
    a = Run(SnmpVersionV1, snmp::PduGetNextRequest, request);
    EXPECT_EQ(a.errorStatus, kNoSuchName);
    EXPECT_EQ(a.errorIndex, 2);
}

TEST_F(AgentMibTest, ComputedValuesAreReadOnEveryRequest) {
    const snmp::VarBindList request = Names({"1.3.6.1.2.1.1.3.0"});
    EXPECT_EQ(Run(SnmpVersionV2c, snmp::PduGetRequest, request).vbs.front().Value().Ticks(), 1U);
    EXPECT_EQ(Run(SnmpVersionV2c, snmp::PduGetRequest, request).vbs.front().Value().Ticks(), 2U);
}

TEST_F(AgentMibTest, GetBulkRepeatsColumnsInterleavedAndStopsWhenAllHaveEnded) {
    // One non-repeater, then two columns of three rows each.
    const snmp::VarBindList request =
        Names({"1.3.6.1.2.1.1.4", "1.3.6.1.4.1.99999.2.1.1.1", "1.3.6.1.4.1.99999.2.1.1.2"});
    MibAnswer a = Run(SnmpVersionV2c, snmp::PduGetBulkRequest, request, 1, 3);
    ASSERT_EQ(a.errorStatus, kNoError);
    std::vector<std::string> names;
    for (const auto& vb : a.vbs) {
        names.push_back(Name(vb));
    }
    EXPECT_EQ(names, (std::vector<std::string>{
                         ".1.3.6.1.2.1.1.4.0", ".1.3.6.1.4.1.99999.2.1.1.1.1",
                         ".1.3.6.1.4.1.99999.2.1.1.2.1", ".1.3.6.1.4.1.99999.2.1.1.1.2",
                         ".1.3.6.1.4.1.99999.2.1.1.2.2", ".1.3.6.1.4.1.99999.2.1.1.1.3",
                         ".1.3.6.1.4.1.99999.2.1.1.2.3"}));

    // Near the end of the MIB: a row of endOfMibView ends the repetitions
    // however many were asked for.
    a = Run(SnmpVersionV2c, snmp::PduGetBulkRequest, Names({"1.3.6.1.4.1.99999.2.1.1.9.3"}), 0, 50);
    ASSERT_EQ(a.vbs.size(), 2U);
    EXPECT_EQ(Name(a.vbs.front()), ".1.3.6.1.4.1.99999.2.2.0");
    EXPECT_EQ(a.vbs.back().Value().Type(), 0x82U);

    // Negative and oversized parameters are clamped, not trusted.
    a = Run(SnmpVersionV2c, snmp::PduGetBulkRequest, Names({"1.3.6.1.2.1.1.1.0"}), -4, -1);
    EXPECT_TRUE(a.vbs.empty());
    a = Run(SnmpVersionV2c, snmp::PduGetBulkRequest, Names({"1.3.6.1.2.1.1.1.0"}), 10, 10);
    ASSERT_EQ(a.vbs.size(), 1U);
    EXPECT_EQ(Name(a.vbs.front()), ".1.3.6.1.2.1.1.2.0");
}

TEST_F(AgentMibTest, GetBulkAnswersFitTheRoomGiven) {
    const snmp::VarBindList request = Names({"1.3.6.1.4.1.99999.2.1.1"});
    const MibAnswer all = Run(SnmpVersionV2c, snmp::PduGetBulkRequest, request, 0, 1000);
    unsigned int total = 0;
    for (const auto& vb : all.vbs) {
        total += EncodedSize(vb);
    }
    ASSERT_GT(all.vbs.size(), 20U);
    for (unsigned int room : {total, total - 1, total / 2, 30U}) {
        SCOPED_TRACE(room);
        const MibAnswer a =
            Run(SnmpVersionV2c, snmp::PduGetBulkRequest, request, 0, 1000, true, room);
        unsigned int used = 0;
        for (const auto& vb : a.vbs) {
            used += EncodedSize(vb);
        }
        EXPECT_LE(used, room);
        EXPECT_EQ(a.vbs.size() == all.vbs.size(), room >= total);
        EXPECT_FALSE(a.vbs.empty());
    }
    // When not even the non-repeaters fit, the answer is tooBig.
    const MibAnswer a = Run(SnmpVersionV2c, snmp::PduGetBulkRequest, request, 1, 5, true, 10);
    EXPECT_EQ(a.errorStatus, kTooBig);
    EXPECT_TRUE(a.vbs.empty());
}

TEST_F(AgentMibTest, SetChecksEveryBindingFirstAndAppliesAllOrNone) {
    struct Case {
        const char* name;
        snmp::SnmpVersion version;
        bool mayWrite;
        const char* oid;
        snmp::AsnValue value;
        int status;
    };
    snmp::AsnValue number(0x02);
    number.SetInteger(1);
    const Case cases[] = {
        {"read-only community v2", SnmpVersionV2c, false, "1.3.6.1.2.1.1.4.0", Text("x"),
         kNoAccess},
        {"read-only community v1", SnmpVersionV1, false, "1.3.6.1.2.1.1.4.0", Text("x"),
         kNoSuchName},
        {"read-only object v2", SnmpVersionV2c, true, "1.3.6.1.2.1.1.1.0", Text("x"), kNotWritable},
        {"read-only object v1", SnmpVersionV1, true, "1.3.6.1.2.1.1.1.0", Text("x"), kNoSuchName},
        {"missing object v2", SnmpVersionV2c, true, "1.3.6.1.2.1.1.99.0", Text("x"), kNoCreation},
        {"wrong type v2", SnmpVersionV2c, true, "1.3.6.1.2.1.1.4.0", number, kWrongType},
        {"wrong type v1", SnmpVersionV1, true, "1.3.6.1.2.1.1.4.0", number, kBadValue},
        {"too long v2", SnmpVersionV2c, true, "1.3.6.1.2.1.1.4.0", Text(std::string(256, 'a')),
         kWrongLength},
        {"too long v1", SnmpVersionV1, true, "1.3.6.1.2.1.1.4.0", Text(std::string(256, 'a')),
         kBadValue},
        {"longest allowed", SnmpVersionV2c, true, "1.3.6.1.2.1.1.4.0", Text(std::string(255, 'a')),
         kNoError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The failing binding comes second: the first must not be applied.
        snmp::VarBindList request;
        request.push_back(snmp::VarBind(O("1.3.6.1.2.1.1.6.0"), Text(c.name)));
        request.push_back(snmp::VarBind(O(c.oid), c.value));
        const MibAnswer a = Run(c.version, snmp::PduSetRequest, request, 0, 0, c.mayWrite);
        EXPECT_EQ(a.errorStatus, c.status);
        snmp::AsnValue location;
        ASSERT_TRUE(mib.Lookup(O("1.3.6.1.2.1.1.6.0"), location));
        if (c.status == kNoError) {
            EXPECT_EQ(a.errorIndex, 0);
            EXPECT_EQ(location.String(), snmp::OctetString(c.name));
        } else {
            EXPECT_EQ(a.errorIndex, c.mayWrite ? 2 : 1);
            EXPECT_NE(location.String(), snmp::OctetString(c.name));
        }
        ASSERT_EQ(a.vbs.size(), 2U);
        EXPECT_TRUE(a.vbs.back() == request.back());
    }
}

// Encodes one binding with the library's BER codec.
unsigned int LibrarySize(const snmp::VarBind& vb) {
    unsigned char buf[600];
    unsigned char* p = buf + 8;
    unsigned int left = sizeof buf - 8;
    AsnEncode(p, left, vb.Objid().Id(), vb.Objid().Length(), 0x06);
    const snmp::AsnValue& v = vb.Value();
    switch (v.Type()) {
        case 0x02:
            AsnEncode(p, left, v.Integer(), 0x02);
            break;
        case 0x04:
        case 0x40:
            AsnEncode(p, left, v.String().Data(), v.String().Size(), v.Type());
            break;
        case 0x06:
            AsnEncode(p, left, v.Objid().Id(), v.Objid().Length(), 0x06);
            break;
        case 0x46:
            AsnEncode(p, left, v.Counter64(), 0x46);
            break;
        case 0x05:
            AsnEncode(p, left, 0x05U);
            break;
        default:
            AsnEncode(p, left, v.Unsigned(), v.Type());
            break;
    }
    const unsigned int content = static_cast<unsigned int>(p - (buf + 8));
    unsigned char* start = buf + 8;
    unsigned int room = 8;
    AsnEncodeSequence(start, room, content, 0x30);
    return static_cast<unsigned int>(p - start);
}

TEST(EncodedSizeTest, MatchesTheLibraryEncodingAtEveryLengthBoundary) {
    std::vector<snmp::VarBind> cases;
    for (int i : {0, 127, 128, -128, -129, 32767, 32768, -32768, -32769, 8388607, 8388608, -8388609,
                  2147483647, -2147483647 - 1}) {
        snmp::AsnValue v(0x02);
        v.SetInteger(i);
        cases.emplace_back(O("1.3.6.1"), v);
    }
    for (unsigned int u :
         {0U, 127U, 128U, 255U, 256U, 32767U, 32768U, 8388608U, 2147483648U, 4294967295U}) {
        snmp::AsnValue v(0x41);
        v.SetUnsigned(u);
        cases.emplace_back(O("1.3.6.1.4.1.4294967295.16384"), v);
    }
    for (unsigned long long u : {0ULL, 128ULL, 1ULL << 32, 1ULL << 63, ~0ULL}) {
        snmp::AsnValue v(0x46);
        v.SetCounter64(u);
        cases.emplace_back(O("1.3.6.1.2.1.31.1.1.1.6.1"), v);
    }
    for (size_t len : {0U, 127U, 128U, 255U, 256U, 400U}) {
        cases.emplace_back(O("1.3.6.1.2.1.1.1.0"), Text(std::string(len, 'x')));
    }
    snmp::AsnValue oid(0x06);
    oid.SetObjid(O("1.3.6.1.4.1.2097152.268435456.127"));
    cases.emplace_back(O("0.0"), oid);
    cases.emplace_back(O("2.5.4.3"), snmp::AsnValue(0x05));
    for (const auto& vb : cases) {
        SCOPED_TRACE(Name(vb) + " type " + std::to_string(vb.Value().Type()));
        EXPECT_EQ(EncodedSize(vb), LibrarySize(vb));
    }
}

TEST(AgentMibDumpTest, LoadsWalkOutputAndOwnFormat) {
    std::istringstream in(
        "# recorded\n"
        ".1.3.6.1.2.1.1.1.0 = STRING: \"say \\\"hi\\\"\"\n"
        ".1.3.6.1.2.1.1.3.0 = Timeticks: (123456) 0:20:34.56\n"
        ".1.3.6.1.2.1.1.4.0 = \"\"\n"
        ".1.3.6.1.2.1.2.2.1.8.1 = INTEGER: up(1)\n"
        ".1.3.6.1.6.3.10.2.1.1.0 = Hex-STRING: 80 00 1F 88 80 11 22 33 44 55 66 77 88 99 AA BB \n"
        "CC DD \n"
        "1.3.6.1.4.1.5.0 C 18446744073709551615\n"
        "1.3.6.1.4.1.6.0 a 192.0.2.1\n"
        ".1.3.6.1.4.1.7.0 = No more variables left in this MIB View (It is past the end of the MIB "
        "tree)\n");
    AgentMib mib;
    std::string error;
    ASSERT_TRUE(mib.LoadDump(in, error)) << error;
    EXPECT_EQ(mib.Size(), 7U);
    snmp::AsnValue v;
    ASSERT_TRUE(mib.Lookup(O("1.3.6.1.2.1.1.1.0"), v));
    EXPECT_EQ(v.String(), snmp::OctetString("say \"hi\""));
    ASSERT_TRUE(mib.Lookup(O("1.3.6.1.2.1.1.3.0"), v));
    EXPECT_EQ(v.Type(), 0x43U);
    EXPECT_EQ(v.Ticks(), 123456U);
    ASSERT_TRUE(mib.Lookup(O("1.3.6.1.2.1.1.4.0"), v));
    EXPECT_TRUE(v.String().Empty());
    ASSERT_TRUE(mib.Lookup(O("1.3.6.1.2.1.2.2.1.8.1"), v));
    EXPECT_EQ(v.Integer(), 1);
    ASSERT_TRUE(mib.Lookup(O("1.3.6.1.6.3.10.2.1.1.0"), v));
    EXPECT_EQ(v.String().Size(), 18U);
    EXPECT_EQ(v.String()[17], 0xDD);
    ASSERT_TRUE(mib.Lookup(O("1.3.6.1.4.1.5.0"), v));
    EXPECT_EQ(v.Counter64(), ~0ULL);
    ASSERT_TRUE(mib.Lookup(O("1.3.6.1.4.1.6.0"), v));
    EXPECT_EQ(v.String()[0], 192);

    std::istringstream bad("1.3.6.1.1.0 i 1\n1.3.6.1.2.0 i one\n");
    AgentMib other;
    EXPECT_FALSE(other.LoadDump(bad, error));
    EXPECT_EQ(error.rfind("line 2: ", 0), 0U) << error;
}

}  // namespace
}  // namespace zksnmp
