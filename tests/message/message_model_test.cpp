// Tests of the message model (building operations, the request-id rules, copy and assignment of
// the SNMPv3 state), the printed form of messages, and the security model and level words.
#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>

#include "snmp/message.h"
#include "snmp/security/usm.h"
#include "test_util.h"

using namespace snmp;
using namespace msgtest;

namespace {

TEST(MessageModel, NotificationInitPrependsUpTimeAndTrapOid) {
    VarBindList extra;
    extra.push_back(StringBind("1.3.6.1.2.1.1.5.0", "host"));
    const struct {
        SnmpVersion version;
        PduType type;
        bool reportable;
    } cases[] = {{SnmpVersionV3, PduV2Trap, false},
                 {SnmpVersionV3, PduInformRequest, true},
                 {SnmpVersionV2c, PduV2Trap, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.version) + " " + std::to_string(c.type));
        Message m;
        m.SetSrcPort(10);
        m.SetDstPort(162);
        m.SetCommunity("old");
        m.Init(c.version, c.type, Oid("1.3.6.1.6.3.1.1.5.1"), 4242, extra);
        EXPECT_EQ(m.Reportable(), c.reportable);
        EXPECT_EQ(m.Type(), static_cast<unsigned int>(c.type));
        EXPECT_EQ(m.SrcPort() + m.DstPort(), 0);
        EXPECT_TRUE(m.Community().empty());
        EXPECT_EQ(BindingsText(m),
                  "1.3.6.1.2.1.1.3.0 67 4242\n1.3.6.1.6.3.1.1.4.1.0 6 1.3.6.1.6.3.1.1.5.1\n"
                  "1.3.6.1.2.1.1.5.0 4 686f7374\n");
    }
    // ClearValues keeps the names and makes every value NULL.
    Message m;
    m.Init(SnmpVersionV2c, PduV2Trap, Oid("1.3.6.1.6.3.1.1.5.1"), 4242, extra);
    m.ClearValues();
    EXPECT_EQ(BindingsText(m),
              "1.3.6.1.2.1.1.3.0 5 -\n1.3.6.1.6.3.1.1.4.1.0 5 -\n1.3.6.1.2.1.1.5.0 5 -\n");
}

TEST(MessageModel, SetTargetAndTheRequestIdRules) {
    Target v2(brask::IpAddr("192.0.2.7"), 1161);
    v2.SetVersion(SnmpVersionV2c);
    v2.SetCommunity("public");
    v2.SetContextName("ctx");
    Message m;
    m.SetTarget(v2);
    EXPECT_EQ(m.DstAddr().ToString(), "192.0.2.7");
    EXPECT_EQ(m.DstPort(), 1161);
    EXPECT_EQ(m.Community(), "publicctx");  // the context name follows with no separator

    Target v3(brask::IpAddr("192.0.2.8"), 161);
    v3.SetVersion(SnmpVersionV3);
    v3.SetSecLevel(SecLevelAuthPriv);
    v3.SetContextName("c3");
    v3.SetEngineId(OctetString("engine-1"));
    Message m3;
    m3.SetTarget(v3);
    EXPECT_EQ(m3.SecurityLevel(), SecLevelAuthPriv);
    EXPECT_TRUE(m3.ContextName() == "c3");
    EXPECT_TRUE(m3.ContextEngineId() == "engine-1");
    EXPECT_TRUE(m3.Community().empty());

    // For SNMPv3 the request id is msgID; the PDU's own stays apart.
    m3.SetRequestId(7);
    EXPECT_EQ(m3.MsgId(), 7);
    m3.SetMsgId(9);
    EXPECT_EQ(m3.RequestId(), 9);
    EXPECT_EQ(m3.PduRequestId(), 7);
    m3.SetVersion(SnmpVersionV2c);
    EXPECT_EQ(m3.RequestId(), 7);
}

Message Addressed(SnmpVersion version, unsigned int type) {
    Message m;
    m.SetDstAddr(brask::IpAddr("192.0.2.5"));
    m.SetDstPort(161);
    m.SetVersion(version);
    m.SetCommunity("public");
    m.SetType(type);
    return m;
}

TEST(MessagePrint, HeaderBlockByPduTypeAndBindingsWhenVerbose) {
    Message get = Addressed(SnmpVersionV2c, PduGetRequest);
    get.SetRequestId(42);
    get.SetError(2, 1);
    get.AddVarBind(StringBind("1.3.6.1.2.1.1.5.0", "router"));
    AsnValue ticks(0x43);
    ticks.SetTicks(99);
    get.AddVarBind(VarBind(Oid("1.3.6.1.2.1.1.3.0"), ticks));
    std::string out = "stale text";
    get.Print(true, out);
    EXPECT_EQ(out,
              "\nDest: 192.0.2.5:161\nVersion: 1 (SNMPv2c)\nCommunity: public\n"
              "Pdu Type: 160 (Get)\nRequest-id: 42\nError-status: 2\nError-index: 1\n"
              "2 variable bindings\n"
              " .1.3.6.1.2.1.1.5.0 OCTET STRING router\n"
              " .1.3.6.1.2.1.1.3.0 TimeTicks 99\n\n");

    get.SetType(PduGetBulkRequest);
    get.Print(false, out);
    EXPECT_EQ(out,
              "\nDest: 192.0.2.5:161\nVersion: 1 \nCommunity: public\nPdu Type: 165 \n"
              "2 variable bindings\n\n");

    Message trap;
    trap.Init(PduV1Trap, Oid("1.3.6.1.4.1.9"), 0x0A000002, 6, 3, 500, VarBindList());
    trap.Print(true, out);
    EXPECT_EQ(out,
              "\nDest: 0.0.0.0:0\nVersion: 0 (SNMPv1)\nCommunity: \n"
              "Pdu Type: 164 (v1Trap)\nEnterprise: .1.3.6.1.4.1.9\nAgent-addr: 10.0.0.2\n"
              "Generic-type: 6\nSpecific-type: 3\nTimestamp: 500\n0 variable bindings\n\n");

    // The PDU's own request-id is printed for SNMPv3, not msgID; a Report has no request block.
    Message v3 = Addressed(SnmpVersionV3, PduInformRequest);
    v3.SetRequestId(5);
    v3.SetMsgId(6);
    v3.Print(true, out);
    EXPECT_NE(
        out.find("Version: 3 (SNMPv3)\nCommunity: public\nPdu Type: 166 (Inform)\nRequest-id: 5\n"),
        std::string::npos)
        << out;
    Addressed(static_cast<SnmpVersion>(2), PduReport).Print(true, out);
    EXPECT_NE(out.find("Version: 2 (UNRECOGNIZED)\nCommunity: public\nPdu Type: 168 "
                       "(unrecognized)\n0 variable"),
              std::string::npos)
        << out;
}

}  // namespace
