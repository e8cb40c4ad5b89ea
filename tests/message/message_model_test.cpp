// Tests of the message model: building notifications and the request-id rules.
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

}  // namespace
