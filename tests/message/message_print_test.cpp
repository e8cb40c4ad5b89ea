// Tests of the printed form of messages and of the security model and level words.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "snmp/message.h"
#include "test_util.h"

using namespace snmp;
using msgtest::Oid;

namespace {

Message Addressed(SnmpVersion version, unsigned int type) {
    Message m;
    m.SetDstAddr(brask::IpAddr("192.0.2.5"));
    m.SetDstPort(161);
    m.SetVersion(version);
    m.SetCommunity("public");
    m.SetType(type);
    return m;
}

TEST(MessagePrint, HeaderBlockByPduType) {
    Message get = Addressed(SnmpVersionV2c, PduGetRequest);
    get.SetRequestId(42);
    get.SetError(2, 1);
    get.AddVarBind(msgtest::StringBind("1.3.6.1.2.1.1.5.0", "router"));
    AsnValue ticks(0x43);
    ticks.SetTicks(99);
    get.AddVarBind(VarBind(Oid("1.3.6.1.2.1.1.3.0"), ticks));
    std::string out;
    get.Print(true, out);
    EXPECT_EQ(out,
              "\nDest: 192.0.2.5:161\nVersion: 1 (SNMPv2c)\nCommunity: public\n"
              "Pdu Type: 160 (Get)\nRequest-id: 42\nError-status: 2\nError-index: 1\n"
              "2 variable bindings\n"
              " .1.3.6.1.2.1.1.5.0 OCTET STRING router\n"
              " .1.3.6.1.2.1.1.3.0 TimeTicks 99\n\n");

    Message bulk = Addressed(SnmpVersionV2c, PduGetBulkRequest);
    bulk.AddVarBind(msgtest::NullBind("1.3.6.1.2.1.2"));
    bulk.AddVarBind(msgtest::NullBind("1.3.6.1.2.1.3"));
    out = "stale text";
    bulk.Print(false, out);
    EXPECT_EQ(out,
              "\nDest: 192.0.2.5:161\nVersion: 1 \nCommunity: public\nPdu Type: 165 \n"
              "2 variable bindings\n\n");

    Message report = Addressed(SnmpVersionV3, PduReport);
    report.SetCommunity("");
    report.Print(true, out);
    EXPECT_EQ(out,
              "\nDest: 192.0.2.5:161\nVersion: 3 (SNMPv3)\nCommunity: \n"
              "Pdu Type: 168 (unrecognized)\n0 variable bindings\n\n");

    Message trap;
    trap.Init(PduV1Trap, Oid("1.3.6.1.4.1.9"), 0x0A000002, 6, 3, 500, VarBindList());
    trap.SetDstAddr(brask::IpAddr("192.0.2.5"));
    trap.SetDstPort(162);
    trap.Print(true, out);
    EXPECT_EQ(out,
              "\nDest: 192.0.2.5:162\nVersion: 0 (SNMPv1)\nCommunity: \n"
              "Pdu Type: 164 (v1Trap)\nEnterprise: .1.3.6.1.4.1.9\nAgent-addr: 10.0.0.2\n"
              "Generic-type: 6\nSpecific-type: 3\nTimestamp: 500\n0 variable bindings\n\n");

    // The PDU's own request-id is printed for SNMPv3, not msgID.
    Message v3 = Addressed(SnmpVersionV3, PduResponse);
    v3.SetRequestId(5);
    v3.SetMsgId(6);
    v3.Print(false, out);
    EXPECT_NE(out.find("Request-id: 5\n"), std::string::npos);

    const struct {
        unsigned int type;
        const char* name;
    } names[] = {{161, "(GetNext)"}, {162, "(Response)"}, {163, "(Set)"},
                 {166, "(Inform)"},  {167, "(v2Trap)"},   {5, "(unrecognized)"}};
    for (const auto& n : names) {
        SCOPED_TRACE(n.type);
        Addressed(static_cast<SnmpVersion>(2), n.type).Print(true, out);
        EXPECT_NE(out.find("Version: 2 (UNRECOGNIZED)\n"), std::string::npos);
        EXPECT_NE(out.find(std::string(" ") + n.name + "\n"), std::string::npos) << out;
        EXPECT_EQ(out.find("Request-id") != std::string::npos, n.type != 5);
    }
}

TEST(MessagePrint, SecurityWordsParseAndTranslate) {
    const struct {
        const char* text;
        bool ok;
        v3SecurityModel model;
    } models[] = {{"any", true, SecModelAny},    {"USM", true, SecModelUSM},
                  {"1", true, SecModelSNMPv1},   {"2C", true, SecModelSNMPv2c},
                  {"3", false, SecModelSNMPv2c}, {" usm", false, SecModelSNMPv2c},
                  {"", false, SecModelSNMPv2c}};
    for (const auto& c : models) {
        SCOPED_TRACE(c.text);
        v3SecurityModel model = SecModelSNMPv2c;
        EXPECT_EQ(ParseSecModel(c.text, model), c.ok);
        EXPECT_EQ(model, c.model);
    }
    const struct {
        const char* text;
        bool ok;
        v3SecurityLevel level;
    } levels[] = {{"AuthPriv", true, SecLevelAuthPriv},
                  {"noAuthNoPriv", true, SecLevelNoAuthNoPriv},
                  {"AUTHNOPRIV", true, SecLevelAuthNoPriv},
                  {"auth-priv", false, SecLevelAuthNoPriv},
                  {"authpriv ", false, SecLevelAuthNoPriv}};
    for (const auto& c : levels) {
        SCOPED_TRACE(c.text);
        v3SecurityLevel level = SecLevelAuthNoPriv;
        EXPECT_EQ(ParseSecLevel(c.text, level), c.ok);
        EXPECT_EQ(level, c.level);
    }

    EXPECT_EQ(TranslateSecModel(SecModelAny), "any");
    EXPECT_EQ(TranslateSecModel(SecModelSNMPv1), "1");
    EXPECT_EQ(TranslateSecModel(SecModelSNMPv2c), "2c");
    EXPECT_EQ(TranslateSecModel(SecModelUSM), "usm");
    EXPECT_EQ(TranslateSecModel(static_cast<v3SecurityModel>(4)), "unknown");
    EXPECT_EQ(TranslateSecLevel(static_cast<v3SecurityLevel>(0)), "unknown");
    EXPECT_EQ(TranslateSecLevel(SecLevelAuthNoPriv), "authNoPriv");

    std::ostringstream os;
    os << SnmpVersionV1 << "|" << SnmpVersionV2c << "|" << SnmpVersionV3 << "|"
       << static_cast<SnmpVersion>(2) << "|" << SecLevelNoAuthNoPriv << "|" << SecLevelAuthPriv
       << "|" << static_cast<v3SecurityLevel>(0);
    EXPECT_EQ(os.str(),
              "SNMPv1|SNMPv2c|SNMPv3|Unknown SNMP version|noAuthNoPriv|authPriv|"
              "Unknown SNMPv3 security level");
}

}  // namespace
