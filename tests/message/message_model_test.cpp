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

TEST(MessageModel, IPv6AddressesTravelThroughTargetSwapPrintAndNeverIntoAgentAddr) {
    Target t(brask::IpAddr("2001:db8::7"), 1161);
    t.SetVersion(SnmpVersionV2c);
    Message m;
    m.SetTarget(t);
    m.SetSrcAddr(brask::IpAddr("127.0.0.1"));
    m.SetSrcPort(5000);
    std::string out;
    m.Print(false, out);
    EXPECT_NE(out.find("\nDest: [2001:db8::7]:1161\n"), std::string::npos) << out;
    m.SwapAddrs();
    EXPECT_EQ(m.SrcAddr().ToString(), "2001:db8::7");
    EXPECT_EQ(m.SrcPort(), 1161);
    EXPECT_EQ(m.DstAddr().ToString(), "127.0.0.1");
    EXPECT_EQ(m.DstPort(), 5000);

    // The SNMPv1 agent-addr is four octets: an IPv6 address goes out as 0.0.0.0.
    Message trap;
    trap.Init(PduV1Trap, Oid("1.3.6.1.4.1.1"), 0x7F000001, 6, 1, 0, VarBindList());
    EXPECT_NE(ToHex(EncodeToBytes(trap)).find("40047f000001"), std::string::npos);
    trap.SetAgentAddr(brask::IpAddr("::1"));
    trap.ResetEnc();
    EXPECT_NE(ToHex(EncodeToBytes(trap)).find("400400000000"), std::string::npos);
}

// A message of `version` whose SNMPv3 header fields all differ from their defaults.
Message WithV3Fields(SnmpVersion version, TargetLookup* lookup, const std::string& user) {
    Message m;
    m.SetVersion(version);
    m.SetCommunity("comm");
    m.AddVarBind(NullBind("1.3.6.1"));
    m.SetRequestId(11);
    m.SetMsgId(12);
    m.SetMsgMaxSize(999);
    m.SetReportable(false);
    m.SetSecurityLevel(SecLevelAuthNoPriv);
    m.SetSecurityParams(OctetString("params"));
    m.SetContextName(OctetString("cn"));
    if (lookup != nullptr) {
        m.InitSecurity(lookup);
        m.SetUserName(user);
    }
    return m;
}

// The SNMPv3 state of `m` on one line: msgID, msgMaxSize, reportable, security level,
// contextName, security parameters and the USM user ("-" without USM state).
std::string V3State(const Message& m) {
    std::ostringstream os;
    const auto text = [](const OctetString& s) {
        return std::string(reinterpret_cast<const char*>(s.Data()), s.Size());
    };
    os << m.MsgId() << " " << m.MsgMaxSize() << " " << m.Reportable() << " " << m.SecurityLevel()
       << " " << text(m.ContextName()) << " " << text(m.SecurityParams()) << " "
       << (m.SecAttributes() != nullptr ? m.UserName() : "-");
    return os.str();
}

TEST(MessageModel, CopyAndAssignmentTakeTheV3StateOnlyFromSnmpV3) {
    OneTargetLookup lookup(TypeClient);
    const Message v2 = WithV3Fields(SnmpVersionV2c, &lookup, "v2");
    const Message c2(v2);
    EXPECT_EQ(c2.Community(), "comm");
    EXPECT_EQ(c2.VarBinds().size(), 1u);
    EXPECT_EQ(c2.PduRequestId(), 11);
    EXPECT_EQ(V3State(c2), "0 1400 1 noAuthNoPriv   -");

    const Message v3 = WithV3Fields(SnmpVersionV3, &lookup, "alice");
    const Message c3(v3);
    EXPECT_EQ(V3State(c3), "12 999 0 authNoPriv cn  alice");  // no security parameters
    EXPECT_NE(c3.SecAttributes(), v3.SecAttributes());        // a copy of the USM state
    EXPECT_EQ(c3.SecAttributes()->Lookup(), &lookup);

    // A v2c source leaves the target's v3 state alone; a v3 one replaces it, even by none.
    Message target = WithV3Fields(SnmpVersionV3, &lookup, "bob");
    target = v2;
    EXPECT_EQ(V3State(target), "12 999 0 authNoPriv cn params bob");
    target = v3;
    EXPECT_EQ(target.UserName(), "alice");
    const Message& alias = target;
    target = alias;  // self-assignment keeps everything
    EXPECT_EQ(target.UserName(), "alice");
    EXPECT_EQ(target.VarBinds().size(), 1u);
    target = WithV3Fields(SnmpVersionV3, nullptr, "");
    EXPECT_EQ(target.SecAttributes(), nullptr);
}

TEST(MessageModel, UsmAccessorsWithoutUsmStateAreSafe) {
    Message m;
    EXPECT_EQ(m.UserName(), "");
    EXPECT_TRUE(m.EngineId().Empty());
    EXPECT_THROW(m.SetUserName("x"), std::logic_error);
    EXPECT_THROW(m.SetEngineId(OctetString("x")), std::logic_error);

    OneTargetLookup lookup(TypeClient);
    m.InitSecurity(&lookup);
    EXPECT_EQ(m.SecurityModel(), SecModelUSM);
    USM* first = m.SecAttributes();
    m.InitSecurity(nullptr);  // a second call keeps the existing state
    EXPECT_EQ(m.SecAttributes(), first);
    EXPECT_EQ(first->Lookup(), &lookup);
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

TEST(MessagePrint, SecurityWordsParseAndTranslate) {
    const struct {
        const char* text;
        bool ok;
        v3SecurityModel model;
    } models[] = {{"any", true, SecModelAny},    {"USM", true, SecModelUSM},
                  {"1", true, SecModelSNMPv1},   {"2C", true, SecModelSNMPv2c},
                  {"3", false, SecModelSNMPv2c}, {" usm", false, SecModelSNMPv2c}};
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
                  {"auth-priv", false, SecLevelAuthNoPriv}};
    for (const auto& c : levels) {
        SCOPED_TRACE(c.text);
        v3SecurityLevel level = SecLevelAuthNoPriv;
        EXPECT_EQ(ParseSecLevel(c.text, level), c.ok);
        EXPECT_EQ(level, c.level);
    }
    std::ostringstream os;
    os << TranslateSecModel(SecModelSNMPv2c) << "|" << TranslateSecModel(SecModelUSM) << "|"
       << TranslateSecModel(static_cast<v3SecurityModel>(4)) << "|"
       << TranslateSecLevel(SecLevelAuthNoPriv) << "|"
       << TranslateSecLevel(static_cast<v3SecurityLevel>(0)) << "|" << SnmpVersionV2c << "|"
       << static_cast<SnmpVersion>(2) << "|" << SecLevelAuthPriv << "|"
       << static_cast<v3SecurityLevel>(0);
    EXPECT_EQ(os.str(),
              "2c|usm|unknown|authNoPriv|unknown|SNMPv2c|Unknown SNMP version|authPriv|"
              "Unknown SNMPv3 security level");
}

}  // namespace
