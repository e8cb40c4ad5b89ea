// The agent's MIB: v1/v2 semantics of Get, GetNext, GetBulk and Set, answer sizes, recorded
// walks, views and the agent's access control.
#include "agent_mib.h"

#include <gtest/gtest.h>

#include <sstream>

#include "server.h"
#include "snmp/asn.h"
#include "snmp/init.h"
#include "snmp/session.h"
#include "snmp/usm_attributes.h"
#include "test_util.h"
#include "value_text.h"

namespace zksnmp {
namespace {

using snmp::SnmpVersionV1;
using snmp::SnmpVersionV2c;
using zktest::Oid;
using zktest::StringBind;

snmp::VarBindList Names(std::initializer_list<const char*> names) {
    snmp::VarBindList vbs;
    for (const char* n : names) vbs.push_back(snmp::VarBind(Oid(n), snmp::AsnValue()));
    return vbs;
}

std::vector<std::string> NamesOf(const MibAnswer& a) {
    std::vector<std::string> names;
    for (const auto& vb : a.vbs) names.push_back(OidText(vb.Objid()));
    return names;
}

unsigned int SizeOf(const MibAnswer& a) {
    unsigned int total = 0;
    for (const auto& vb : a.vbs) total += EncodedSize(vb);
    return total;
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

TEST_F(AgentMibTest, GetAndGetNextAnswerMissingNamesByVersion) {
    const snmp::VarBindList request =
        Names({"1.3.6.1.2.1.1.3.0", "1.3.6.1.2.1.1.5.1", "1.3.6.1.2.1.1.99.0",
               "1.3.6.1.4.1.99999.2.1.1.2.77", "1.3.6.1.2.1.1.5"});
    MibAnswer a = Run(SnmpVersionV2c, snmp::PduGetRequest, request);
    ASSERT_EQ(a.errorStatus, kNoError);
    std::vector<unsigned int> types;
    for (const auto& vb : a.vbs) types.push_back(vb.Value().Type());
    EXPECT_EQ(types, (std::vector<unsigned int>{0x43, 0x81, 0x80, 0x81, 0x80}));
    EXPECT_EQ(a.vbs.front().Value().Ticks(), 1U);
    // SNMPv1: the first missing name is the error, and the request's bindings
    // come back unchanged.
    a = Run(SnmpVersionV1, snmp::PduGetRequest, request);
    EXPECT_TRUE(a.errorStatus == kNoSuchName && a.errorIndex == 2);
    ASSERT_EQ(a.vbs.size(), 5U);
    EXPECT_EQ(a.vbs.front().Value().Type(), 0x05U);
    // Computed values are read on every request.
    EXPECT_GT(Run(SnmpVersionV2c, snmp::PduGetRequest, request).vbs.front().Value().Ticks(), 1U);

    const snmp::VarBindList pastEnd = Names({"1.3.6.1.2.1.1.9", "1.3.6.1.4.1.99999.9"});
    a = Run(SnmpVersionV2c, snmp::PduGetNextRequest, pastEnd);
    EXPECT_EQ(NamesOf(a),
              (std::vector<std::string>{".1.3.6.1.4.1.99999.2.1.1.1.1", ".1.3.6.1.4.1.99999.9"}));
    EXPECT_EQ(a.vbs.back().Value().Type(), 0x82U);
    a = Run(SnmpVersionV1, snmp::PduGetNextRequest, pastEnd);
    EXPECT_TRUE(a.errorStatus == kNoSuchName && a.errorIndex == 2);
    // SNMPv1 has no Counter64 (that its walks skip the column, the interop cells check).
    a = Run(SnmpVersionV1, snmp::PduGetRequest, Names({"1.3.6.1.4.1.99999.2.1.1.8.2"}));
    EXPECT_EQ(a.errorStatus, kNoSuchName);
}

TEST_F(AgentMibTest, GetBulkRepeatsColumnsInterleavedAndStopsWhenAllHaveEnded) {
    // One non-repeater, then two columns of three rows each.
    const snmp::VarBindList request =
        Names({"1.3.6.1.2.1.1.4", "1.3.6.1.4.1.99999.2.1.1.1", "1.3.6.1.4.1.99999.2.1.1.2"});
    MibAnswer a = Run(SnmpVersionV2c, snmp::PduGetBulkRequest, request, 1, 3);
    ASSERT_EQ(a.errorStatus, kNoError);
    EXPECT_EQ(NamesOf(a), (std::vector<std::string>{
                              ".1.3.6.1.2.1.1.4.0", ".1.3.6.1.4.1.99999.2.1.1.1.1",
                              ".1.3.6.1.4.1.99999.2.1.1.2.1", ".1.3.6.1.4.1.99999.2.1.1.1.2",
                              ".1.3.6.1.4.1.99999.2.1.1.2.2", ".1.3.6.1.4.1.99999.2.1.1.1.3",
                              ".1.3.6.1.4.1.99999.2.1.1.2.3"}));

    // Near the end of the MIB: a row of endOfMibView ends the repetitions
    // however many were asked for.
    a = Run(SnmpVersionV2c, snmp::PduGetBulkRequest, Names({"1.3.6.1.4.1.99999.2.1.1.9.3"}), 0, 50);
    ASSERT_EQ(a.vbs.size(), 2U);
    EXPECT_EQ(OidText(a.vbs.front().Objid()), ".1.3.6.1.4.1.99999.2.2.0");
    EXPECT_EQ(a.vbs.back().Value().Type(), 0x82U);

    // Negative and oversized parameters are clamped, not trusted.
    EXPECT_TRUE(Run(SnmpVersionV2c, snmp::PduGetBulkRequest, Names({"1.3.6.1.2.1.1.1.0"}), -4, -1)
                    .vbs.empty());
    a = Run(SnmpVersionV2c, snmp::PduGetBulkRequest, Names({"1.3.6.1.2.1.1.1.0"}), 10, 10);
    EXPECT_EQ(NamesOf(a), std::vector<std::string>{".1.3.6.1.2.1.1.2.0"});
}

TEST_F(AgentMibTest, GetBulkAnswersFitTheRoomGiven) {
    const snmp::VarBindList request = Names({"1.3.6.1.4.1.99999.2.1.1"});
    const MibAnswer all = Run(SnmpVersionV2c, snmp::PduGetBulkRequest, request, 0, 1000);
    const unsigned int total = SizeOf(all);
    ASSERT_GT(all.vbs.size(), 20U);
    for (unsigned int room : {total, total - 1, total / 2, 30U}) {
        SCOPED_TRACE(room);
        const MibAnswer a =
            Run(SnmpVersionV2c, snmp::PduGetBulkRequest, request, 0, 1000, true, room);
        EXPECT_LE(SizeOf(a), room);
        EXPECT_EQ(a.vbs.size() == all.vbs.size(), room >= total);
        EXPECT_FALSE(a.vbs.empty());
    }
    // When not even the non-repeaters fit, the answer is tooBig.
    const MibAnswer a = Run(SnmpVersionV2c, snmp::PduGetBulkRequest, request, 1, 5, true, 10);
    EXPECT_TRUE(a.errorStatus == kTooBig && a.vbs.empty());
}

TEST_F(AgentMibTest, SetChecksEveryBindingFirstAndAppliesAllOrNone) {
    const std::string contact = "1.3.6.1.2.1.1.4.0", longest(255, 'a');
    const struct {
        const char* name;
        bool mayWrite;
        snmp::VarBind binding;
        int v2Status, v1Status;
    } cases[] = {
        {"read-only community", false, StringBind(contact, "x"), kNoAccess, kNoSuchName},
        {"read-only object", true, StringBind("1.3.6.1.2.1.1.1.0", "x"), kNotWritable, kNoSuchName},
        {"missing object", true, StringBind("1.3.6.1.2.1.1.99.0", "x"), kNoCreation, kNoSuchName},
        {"wrong type", true, snmp::VarBind(Oid(contact), snmp::AsnValue(0x02)), kWrongType,
         kBadValue},
        {"too long", true, StringBind(contact, longest + "a"), kWrongLength, kBadValue},
        {"longest allowed", true, StringBind(contact, longest), kNoError, kNoError},
    };
    for (const auto& c : cases) {
        for (const auto version : {SnmpVersionV2c, SnmpVersionV1}) {
            const std::string name =
                std::string(c.name) + (version == SnmpVersionV1 ? " v1" : " v2");
            SCOPED_TRACE(name);
            // The failing binding comes second: the first must not be applied.
            snmp::VarBindList request;
            request.push_back(StringBind("1.3.6.1.2.1.1.6.0", name));
            request.push_back(c.binding);
            const MibAnswer a = Run(version, snmp::PduSetRequest, request, 0, 0, c.mayWrite);
            const int status = version == SnmpVersionV1 ? c.v1Status : c.v2Status;
            EXPECT_EQ(a.errorStatus, status);
            EXPECT_EQ(a.errorIndex, status == kNoError ? 0 : c.mayWrite ? 2 : 1);
            snmp::AsnValue location;
            ASSERT_TRUE(mib.Lookup(Oid("1.3.6.1.2.1.1.6.0"), location));
            EXPECT_EQ(location.String() == snmp::OctetString(name), status == kNoError);
            EXPECT_TRUE(a.vbs == request);
        }
    }
}

TEST(MibViewTest, ContainsWholeArcsOfAnyRootOnly) {
    MibView view;
    EXPECT_TRUE(view.Contains(Oid("1.3.6.1.2.1.1.1.0")));
    view.Add(Oid("1.3.6.1.2.1.1.5"));
    view.Add(Oid("1.3.6.1.4.1.99999.2"));
    view.Add(Oid("1.3.6.1.4.1.99999.2.1.1.2"));  // nested in the one before
    const std::pair<const char*, bool> cases[] = {{"1.3.6.1.2.1.1.5", true},
                                                  {"1.3.6.1.2.1.1.5.0", true},
                                                  {"1.3.6.1.2.1.1.50", false},
                                                  {"1.3.6.1.2.1.1", false},
                                                  {"1.3.6.1.4.1.99999.2.1.1.9.3", true},
                                                  {"1.3.6.1.4.1.99999.3", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        EXPECT_EQ(view.Contains(Oid(c.first)), c.second);
    }
}

TEST_F(AgentMibTest, NothingOutsideTheViewIsWalkedOrSet) {
    MibView view;
    view.Add(Oid("1.3.6.1.2.1.1.5"));
    view.Add(Oid("1.3.6.1.4.1.99999.2.1.1.2"));
    for (const auto version : {SnmpVersionV2c, SnmpVersionV1}) {
        SCOPED_TRACE(version == SnmpVersionV1 ? "v1" : "v2c");
        // Setting outside the view is refused as no access, also for a name
        // that does not exist, and nothing of the request is applied (Gets and
        // GetNext walks of a view are the interop cells', alike at snmpd).
        for (const char* outside : {"1.3.6.1.2.1.1.4.0", "1.3.6.1.2.1.1.99.0"}) {
            SCOPED_TRACE(outside);
            snmp::VarBindList set;
            set.push_back(StringBind("1.3.6.1.2.1.1.5.0", "changed"));
            set.push_back(StringBind(outside, "x"));
            const MibAnswer a =
                mib.Process(version, snmp::PduSetRequest, set, 0, 0, true, 100000, view);
            EXPECT_TRUE(a.errorStatus == (version == SnmpVersionV1 ? kNoSuchName : kNoAccess) &&
                        a.errorIndex == 2);
            snmp::AsnValue name;
            ASSERT_TRUE(mib.Lookup(Oid("1.3.6.1.2.1.1.5.0"), name));
            EXPECT_EQ(name.String(), snmp::OctetString("name"));
        }
    }
    // GetBulk from the top (GetNext walks as well, in the interop cells against snmpd): the
    // view's instances only, then endOfMibView for the repeater at the last of them.
    const MibAnswer bulk = mib.Process(SnmpVersionV2c, snmp::PduGetBulkRequest, Names({"1.3"}), 0,
                                       8, true, 100000, view);
    EXPECT_EQ(NamesOf(bulk), (std::vector<std::string>{
                                 ".1.3.6.1.2.1.1.5.0", ".1.3.6.1.4.1.99999.2.1.1.2.1",
                                 ".1.3.6.1.4.1.99999.2.1.1.2.2", ".1.3.6.1.4.1.99999.2.1.1.2.3",
                                 ".1.3.6.1.4.1.99999.2.1.1.2.3"}));
    EXPECT_EQ(bulk.vbs.back().Value().Type(), 0x82U);
}

// Encodes one binding with the library's BER codec.
unsigned int LibrarySize(const snmp::VarBind& vb) {
    unsigned char buf[600];
    unsigned char* p = buf + 8;
    unsigned int left = sizeof buf - 8;
    AsnEncode(p, left, vb.Objid().Id(), vb.Objid().Length(), 0x06);
    const snmp::AsnValue& v = vb.Value();
    const unsigned int t = v.Type();
    if (t == 0x02) AsnEncode(p, left, v.Integer(), 0x02);
    if (t == 0x04) AsnEncode(p, left, v.String().Data(), v.String().Size(), t);
    if (t == 0x06) AsnEncode(p, left, v.Objid().Id(), v.Objid().Length(), 0x06);
    if (t == 0x46) AsnEncode(p, left, v.Counter64(), 0x46);
    if (t == 0x05) AsnEncode(p, left, 0x05U);
    if (t == 0x41) AsnEncode(p, left, v.Unsigned(), t);
    unsigned char* start = buf + 8;
    unsigned int room = 8;
    AsnEncodeSequence(start, room, static_cast<unsigned int>(p - start), 0x30);
    return static_cast<unsigned int>(p - start);
}

TEST(EncodedSizeTest, MatchesTheLibraryEncodingAtEveryLengthBoundary) {
    std::vector<snmp::VarBind> cases;
    const auto add = [&](const char* oid, unsigned int type, auto fill) {
        snmp::AsnValue v(type);
        fill(v);
        cases.emplace_back(Oid(oid), v);
    };
    for (int i :
         {0, 127, 128, -128, -129, 32768, -32769, 8388608, -8388609, 2147483647, -2147483647 - 1}) {
        add("1.3.6.1", 0x02, [i](snmp::AsnValue& v) { v.SetInteger(i); });
    }
    for (unsigned int u : {0U, 127U, 128U, 255U, 32768U, 8388608U, 2147483648U, 4294967295U}) {
        add("1.3.6.1.4.1.4294967295.16384", 0x41, [u](snmp::AsnValue& v) { v.SetUnsigned(u); });
    }
    for (unsigned long long u : {0ULL, 128ULL, 1ULL << 32, 1ULL << 63, ~0ULL}) {
        add("1.3.6.1.2.1.31.1.1.1.6.1", 0x46, [u](snmp::AsnValue& v) { v.SetCounter64(u); });
    }
    for (size_t len : {0U, 127U, 128U, 255U, 256U, 400U}) {
        cases.push_back(StringBind("1.3.6.1.2.1.1.1.0", std::string(len, 'x')));
    }
    add("0.0", 0x06,
        [](snmp::AsnValue& v) { v.SetObjid(Oid("1.3.6.1.4.1.2097152.268435456.127")); });
    cases.emplace_back(Oid("2.5.4.3"), snmp::AsnValue(0x05));
    for (const auto& vb : cases) {
        SCOPED_TRACE(OidText(vb.Objid()) + " type " + std::to_string(vb.Value().Type()));
        EXPECT_EQ(EncodedSize(vb), LibrarySize(vb));
    }
}

TEST(AgentMibDumpTest, LoadsWalkOutputAndOwnFormatAndNamesTheFirstBadLine) {
    std::istringstream in(
        "# recorded\n"
        "\n"
        ".1.3.6.1.2.1.1.1.0 = STRING: \"say \\\"hi\\\"\"\n"
        ".1.3.6.1.2.1.1.3.0 = Timeticks: (123456) 0:20:34.56\n"
        ".1.3.6.1.2.1.1.4.0 = \"\"\n"
        "1.3.6.1.2.1.1.5.0 s router one\n"
        ".1.3.6.1.2.1.2.2.1.8.1 = INTEGER: up(1)\n"
        ".1.3.6.1.6.3.10.2.1.1.0 = Hex-STRING: 80 00 1F 88 80 11 22 33 44 55 66 77 88 99 AA BB \n"
        "CC DD \n"
        "1.3.6.1.4.1.5.0 C 18446744073709551615\n"
        "1.3.6.1.4.1.6.0 a 192.0.2.1\n"
        ".1.3.6.1.4.1.7.0 = No more variables left in this MIB View (It is past the end of the MIB "
        "tree)\n"
        ".1.3.6.1.4.1.8.0 = No Such Object available on this agent at this OID\n");
    AgentMib mib;
    std::string error;
    ASSERT_TRUE(mib.LoadDump(in, error)) << error;
    EXPECT_EQ(mib.Size(), 8U);
    // Walked back, the instances print as they were recorded.
    const MibAnswer walk =
        mib.Process(SnmpVersionV2c, snmp::PduGetBulkRequest, Names({"1.3"}), 0, 8, false, 100000);
    std::vector<std::string> printed;
    for (const auto& vb : walk.vbs) printed.push_back(FormatBinding(vb));
    EXPECT_EQ(printed, (std::vector<std::string>{
                           ".1.3.6.1.2.1.1.1.0 = STRING: \"say \\\"hi\\\"\"",
                           ".1.3.6.1.2.1.1.3.0 = Timeticks: (123456) 0:20:34.56",
                           ".1.3.6.1.2.1.1.4.0 = STRING: \"\"",
                           ".1.3.6.1.2.1.1.5.0 = STRING: \"router one\"",
                           ".1.3.6.1.2.1.2.2.1.8.1 = INTEGER: 1",
                           ".1.3.6.1.4.1.5.0 = Counter64: 18446744073709551615",
                           ".1.3.6.1.4.1.6.0 = IpAddress: 192.0.2.1",
                           ".1.3.6.1.6.3.10.2.1.1.0 = Hex-STRING: 80 00 1f 88 80 11 22 33 44 55 66 "
                           "77 88 99 aa bb cc dd"}));

    for (const char* bad : {"1.3.6.1.2.0 i one", "1.3.6.1.2.1.1.5.0", "iso.3.6 = INTEGER: 1",
                            ".1.3.6.1.2.0 = Float: 1.5"}) {
        SCOPED_TRACE(bad);
        std::istringstream lines(std::string("1.3.6.1.1.0 i 1\n") + bad + "\n");
        AgentMib other;
        EXPECT_FALSE(other.LoadDump(lines, error));
        EXPECT_EQ(error.rfind("line 2: ", 0), 0U) << error;
    }
}

// The agent over loopback, asked through the library's session: a user below
// its lowest level is refused by the access control, a read-only user's Set too.
TEST(AgentServerTest, AccessControlRefusesALowLevelAndAReadOnlyWrite) {
    ASSERT_TRUE(snmp::Init());
    ServerOptions options;
    std::string error;
    ASSERT_TRUE(ParseServerArgs({"--listen", "127.0.0.1:0", "--rw-user",
                                 "rw:SHA:secret111:AES:secret222", "--user", "ro:SHA:secret111"},
                                true, options, error))
        << error;
    {
        AgentServer agent(options);
        ASSERT_TRUE(agent.Start(error)) << error;
        snmp::Session session;
        ASSERT_TRUE(session.Ready()) << session.Error();
        // A target for one of the agent's users (0 rw, 1 ro), as the tool's clients make them.
        const auto target = [&](size_t user, snmp::v3SecurityLevel level) {
            snmp::SessionTarget t;
            t.target = snmp::Target(brask::IpAddr("127.0.0.1"), agent.Port());
            t.target.SetVersion(snmp::SnmpVersionV3);
            t.target.SetSecAttributes(MakeAttributes(options.users[user]));
            t.target.SetSecLevel(level);
            t.retries = 1;
            return session.AddTarget(t);
        };
        snmp::VarBindList set;
        set.push_back(StringBind("1.3.6.1.2.1.1.4.0", "ops"));
        const std::vector<snmp::ObjectId> get{Oid("1.3.6.1.2.1.1.5.0")};
        const struct {
            const char* what;
            snmp::SessionResult result;
            int errorStatus;
        } cases[] = {
            {"rw at authPriv", session.Set(target(0, snmp::SecLevelAuthPriv), set), 0},
            {"rw below authPriv", session.Get(target(0, snmp::SecLevelAuthNoPriv), get),
             kAuthorizationError},
            {"ro get", session.Get(target(1, snmp::SecLevelAuthNoPriv), get), 0},
            {"ro set", session.Set(target(1, snmp::SecLevelAuthNoPriv), set), kNoAccess},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.what);
            EXPECT_EQ(c.result.status, snmp::SessionStatus::Ok) << c.result.Describe();
            EXPECT_EQ(c.result.errorStatus, c.errorStatus);
        }
    }
    snmp::Shutdown();
}

}  // namespace
}  // namespace zksnmp
