// Tests of the message model: defaults, building operations, copy and assignment rules, the
// class-wide sizes and the encode record's ownership.
#include <gtest/gtest.h>

#include <stdexcept>

#include "snmp/message.h"
#include "snmp/security/usm.h"
#include "test_util.h"

using namespace snmp;
using msgtest::Oid;

namespace {

TEST(MessageModel, NewMessageHasDocumentedDefaults) {
    Message m;
    EXPECT_EQ(m.Version(), SnmpVersionV1);
    EXPECT_EQ(m.Type(), 5u);
    EXPECT_TRUE(m.Community().empty());
    EXPECT_TRUE(m.Reportable());
    EXPECT_EQ(m.SecurityLevel(), SecLevelNoAuthNoPriv);
    EXPECT_EQ(m.SecurityModel(), SecModelAny);
    EXPECT_EQ(m.MsgMaxSize(), 1400);
    EXPECT_EQ(m.RawData(), nullptr);
    EXPECT_EQ(m.RawSize(), 0u);
    EXPECT_EQ(m.SecAttributes(), nullptr);
    EXPECT_EQ(m.EncBuffer(), nullptr);
    EXPECT_TRUE(m.VarBinds().empty());
    EXPECT_FALSE(m.AgentAddr().IsValid());
}

TEST(MessageModel, NotificationInitPrependsUpTimeAndTrapOid) {
    VarBindList extra;
    extra.push_back(msgtest::StringBind("1.3.6.1.2.1.1.5.0", "host"));
    struct Case {
        SnmpVersion version;
        PduType type;
        bool reportable;
    };
    const Case cases[] = {{SnmpVersionV3, PduV2Trap, false},
                          {SnmpVersionV3, PduInformRequest, true},
                          {SnmpVersionV2c, PduV2Trap, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        Message m;
        m.SetSrcPort(10);
        m.SetDstPort(162);
        m.SetCommunity("old");
        m.Init(c.version, c.type, Oid("1.3.6.1.6.3.1.1.5.1"), 4242, extra);
        EXPECT_EQ(m.Reportable(), c.reportable);
        EXPECT_EQ(m.Type(), static_cast<unsigned int>(c.type));
        EXPECT_EQ(m.Version(), c.version);
        EXPECT_EQ(m.SrcPort(), 0);
        EXPECT_EQ(m.DstPort(), 0);
        EXPECT_TRUE(m.Community().empty());
        ASSERT_EQ(m.VarBinds().size(), 3u);
        auto it = m.VarBinds().begin();
        EXPECT_EQ(it->Objid(), Oid("1.3.6.1.2.1.1.3.0"));
        EXPECT_EQ(it->Value().Type(), 0x43u);
        EXPECT_EQ(it->Value().Ticks(), 4242u);
        ++it;
        EXPECT_EQ(it->Objid(), Oid("1.3.6.1.6.3.1.1.4.1.0"));
        EXPECT_EQ(it->Value().Type(), 0x06u);
        EXPECT_EQ(it->Value().Objid(), Oid("1.3.6.1.6.3.1.1.5.1"));
        ++it;
        EXPECT_EQ(it->Objid(), Oid("1.3.6.1.2.1.1.5.0"));
    }
}

TEST(MessageModel, V1TrapInitSetsTrapFields) {
    VarBindList vbs;
    vbs.push_back(msgtest::NullBind("1.3.6.1.2.1.2.2.1.1.3"));
    Message m;
    m.SetVersion(SnmpVersionV2c);
    m.SetCommunity("x");
    m.Init(PduV1Trap, Oid("1.3.6.1.4.1.99"), 0x0A000001, 2, 7, 1234, vbs);
    EXPECT_EQ(m.Version(), SnmpVersionV1);
    EXPECT_TRUE(m.Community().empty());
    EXPECT_EQ(m.Type(), 164u);
    EXPECT_EQ(m.Enterprise(), Oid("1.3.6.1.4.1.99"));
    EXPECT_EQ(m.AgentAddr().ToString(), "10.0.0.1");
    EXPECT_EQ(m.GenType(), 2);
    EXPECT_EQ(m.SpecType(), 7);
    EXPECT_EQ(m.Stamp(), 1234u);
    EXPECT_EQ(m.VarBinds().size(), 1u);
}

TEST(MessageModel, SetTargetTakesTheVersionsFields) {
    Target v2(brask::IpAddr("192.0.2.7"), 1161);
    v2.SetVersion(SnmpVersionV2c);
    v2.SetCommunity("public");
    v2.SetContextName("ctx");
    Message m;
    m.SetTarget(v2);
    EXPECT_EQ(m.DstAddr().ToString(), "192.0.2.7");
    EXPECT_EQ(m.DstPort(), 1161);
    EXPECT_EQ(m.Version(), SnmpVersionV2c);
    EXPECT_EQ(m.Community(), "publicctx");

    Target v3(brask::IpAddr("192.0.2.8"), 161);
    v3.SetVersion(SnmpVersionV3);
    v3.SetSecLevel(SecLevelAuthPriv);
    v3.SetContextName("c3");
    v3.SetEngineId(OctetString("engine-1"));
    Message m3;
    m3.SetTarget(v3);
    EXPECT_EQ(m3.Version(), SnmpVersionV3);
    EXPECT_EQ(m3.SecurityLevel(), SecLevelAuthPriv);
    EXPECT_TRUE(m3.ContextName() == "c3");
    EXPECT_TRUE(m3.ContextEngineId() == "engine-1");
    EXPECT_TRUE(m3.Community().empty());
}

TEST(MessageModel, RequestIdFollowsMsgIdForV3) {
    Message m;
    m.SetVersion(SnmpVersionV3);
    m.SetRequestId(7);
    EXPECT_EQ(m.RequestId(), 7);
    EXPECT_EQ(m.MsgId(), 7);
    m.SetMsgId(9);
    EXPECT_EQ(m.RequestId(), 9);
    EXPECT_EQ(m.PduRequestId(), 7);
    m.SetVersion(SnmpVersionV2c);
    EXPECT_EQ(m.RequestId(), 7);
}

TEST(MessageModel, MaxMessageSizeSetsBindingRoom) {
    Message::SetMaxMessageSize(484);
    EXPECT_EQ(Message::MaxMessageSize(), 484u);
    EXPECT_EQ(Message::_maxvbenc, 356u);
    Message small;
    EXPECT_EQ(small.MsgMaxSize(), 484);
    MsgEncBuf* buf = Message::AllocEnc();
    EXPECT_EQ(buf->varBinds.capacity, 356u);
    EXPECT_EQ(buf->globalData.capacity, 484u);
    EXPECT_EQ(buf->decodeSize, 356u);
    Message::FreeEnc(buf);
    Message::SetMaxMessageSize(1400);
    EXPECT_EQ(Message::_maxvbenc, 1272u);
    // A size that leaves no binding room is refused rather than wrapped around.
    EXPECT_THROW(Message::SetMaxMessageSize(128), std::invalid_argument);
    EXPECT_EQ(Message::MaxMessageSize(), 1400u);
    EXPECT_EQ(Message::_maxvbenc, 1272u);
}

// Fills every field with a value that differs from its default.
Message FullMessage(SnmpVersion version) {
    Message m;
    m.SetVersion(version);
    m.SetSrcAddr(brask::IpAddr("10.1.1.1"));
    m.SetDstAddr(brask::IpAddr("10.2.2.2"));
    m.SetSrcPort(1);
    m.SetDstPort(2);
    m.SetCommunity("comm");
    m.AddVarBind(msgtest::NullBind("1.3.6.1"));
    m.SetType(PduResponse);
    m.SetRequestId(11);
    m.SetMsgId(12);
    m.SetMsgMaxSize(999);
    m.SetReportable(false);
    m.SetSecurityLevel(SecLevelAuthNoPriv);
    m.SetSecurityModel(SecModelUSM);
    m.SetSecurityParams(OctetString("params"));
    m.SetContextName(OctetString("cn"));
    m.SetContextEngineId(OctetString("ceid"));
    m.SetError(3, 4);
    m.SetNonReps(5);
    m.SetMaxReps(6);
    m.SetEnterprise(Oid("1.3.6.1.4.1.1"));
    m.SetAgentAddr(brask::IpAddr("10.3.3.3"));
    m.SetGenType(6);
    m.SetSpecType(8);
    m.SetStamp(77);
    return m;
}

void ExpectCommonFieldsCopied(const Message& c) {
    EXPECT_EQ(c.SrcAddr().ToString(), "10.1.1.1");
    EXPECT_EQ(c.DstAddr().ToString(), "10.2.2.2");
    EXPECT_EQ(c.SrcPort(), 1);
    EXPECT_EQ(c.DstPort(), 2);
    EXPECT_EQ(c.Community(), "comm");
    EXPECT_EQ(c.VarBinds().size(), 1u);
    EXPECT_EQ(c.Type(), static_cast<unsigned int>(PduResponse));
    EXPECT_EQ(c.PduRequestId(), 11);
    EXPECT_EQ(c.ErrStat(), 3);
    EXPECT_EQ(c.ErrIndex(), 4);
    EXPECT_EQ(c.NonReps(), 5);
    EXPECT_EQ(c.MaxReps(), 6);
    EXPECT_EQ(c.Enterprise(), Oid("1.3.6.1.4.1.1"));
    EXPECT_EQ(c.AgentAddr().ToString(), "10.3.3.3");
    EXPECT_EQ(c.GenType(), 6);
    EXPECT_EQ(c.SpecType(), 8);
    EXPECT_EQ(c.Stamp(), 77u);
    EXPECT_TRUE(c.SecurityParams().Empty());
    EXPECT_EQ(c.EncBuffer(), nullptr);
}

TEST(MessageModel, CopyTakesV3HeaderFieldsOnlyForV3) {
    const Message v2 = FullMessage(SnmpVersionV2c);
    const Message c2(v2);
    ExpectCommonFieldsCopied(c2);
    EXPECT_EQ(c2.MsgId(), 0);
    EXPECT_EQ(c2.MsgMaxSize(), 1400);
    EXPECT_TRUE(c2.Reportable());
    EXPECT_EQ(c2.SecurityLevel(), SecLevelNoAuthNoPriv);
    EXPECT_EQ(c2.SecurityModel(), SecModelAny);
    EXPECT_TRUE(c2.ContextName().Empty());
    EXPECT_TRUE(c2.ContextEngineId().Empty());

    Message v3 = FullMessage(SnmpVersionV3);
    msgtest::OneTargetLookup lookup(TypeClient);
    v3.InitSecurity(&lookup);
    v3.SetUserName("alice");
    v3.SetEngineId(OctetString("engine-id"));
    const Message c3(v3);
    ExpectCommonFieldsCopied(c3);
    EXPECT_EQ(c3.MsgId(), 12);
    EXPECT_EQ(c3.MsgMaxSize(), 999);
    EXPECT_FALSE(c3.Reportable());
    EXPECT_EQ(c3.SecurityLevel(), SecLevelAuthNoPriv);
    EXPECT_EQ(c3.SecurityModel(), SecModelUSM);
    EXPECT_TRUE(c3.ContextName() == "cn");
    EXPECT_TRUE(c3.ContextEngineId() == "ceid");
    ASSERT_NE(c3.SecAttributes(), nullptr);
    EXPECT_NE(c3.SecAttributes(), v3.SecAttributes());
    EXPECT_EQ(c3.UserName(), "alice");
    EXPECT_TRUE(c3.EngineId() == "engine-id");
    EXPECT_EQ(c3.SecAttributes()->Lookup(), &lookup);
}

TEST(MessageModel, AssignmentReplacesOrReleasesUsmStateOnlyForV3) {
    msgtest::OneTargetLookup lookup(TypeClient);

    Message target;
    target.InitSecurity(&lookup);
    target.SetUserName("bob");
    target.SetMsgId(55);
    target = FullMessage(SnmpVersionV2c);
    ExpectCommonFieldsCopied(target);
    // A v2c source leaves the v3 state of the target alone.
    ASSERT_NE(target.SecAttributes(), nullptr);
    EXPECT_EQ(target.UserName(), "bob");
    EXPECT_EQ(target.MsgId(), 55);

    target = FullMessage(SnmpVersionV3);  // a v3 source without USM state
    EXPECT_EQ(target.SecAttributes(), nullptr);
    EXPECT_EQ(target.MsgId(), 12);

    Message source = FullMessage(SnmpVersionV3);
    source.InitSecurity(&lookup);
    source.SetUserName("carol");
    target = source;
    ASSERT_NE(target.SecAttributes(), nullptr);
    EXPECT_EQ(target.UserName(), "carol");

    const Message& alias = target;
    target = alias;  // self-assignment keeps everything
    EXPECT_EQ(target.UserName(), "carol");
    EXPECT_EQ(target.VarBinds().size(), 1u);
}

TEST(MessageModel, UsmAccessorsWithoutStateAreSafe) {
    Message m;
    EXPECT_EQ(m.UserName(), "");
    EXPECT_TRUE(m.EngineId().Empty());
    EXPECT_THROW(m.SetUserName("x"), std::logic_error);
    EXPECT_THROW(m.SetEngineId(OctetString("x")), std::logic_error);

    msgtest::OneTargetLookup lookup(TypeClient);
    m.InitSecurity(&lookup);
    EXPECT_EQ(m.SecurityModel(), SecModelUSM);
    USM* first = m.SecAttributes();
    m.InitSecurity(nullptr);  // a second call keeps the existing state
    EXPECT_EQ(m.SecAttributes(), first);
    EXPECT_EQ(first->Lookup(), &lookup);
}

TEST(MessageModel, ClearValuesAndSwapAddrs) {
    Message m;
    m.AddVarBind(msgtest::StringBind("1.3.6.1.2.1.1.5.0", "name"));
    AsnValue counter(0x41);
    counter.SetCounter(5);
    m.AddVarBind(VarBind(Oid("1.3.6.1.2.1.2.1.0"), counter));
    m.ClearValues();
    ASSERT_EQ(m.VarBinds().size(), 2u);
    for (const VarBind& vb : m.VarBinds()) EXPECT_EQ(vb.Value().Type(), 0x05u);
    EXPECT_EQ(m.VarBinds().front().Objid(), Oid("1.3.6.1.2.1.1.5.0"));

    m.SetSrcAddr(brask::IpAddr("1.1.1.1"));
    m.SetDstAddr(brask::IpAddr("2.2.2.2"));
    m.SetSrcPort(100);
    m.SetDstPort(200);
    m.SwapAddrs();
    EXPECT_EQ(m.SrcAddr().ToString(), "2.2.2.2");
    EXPECT_EQ(m.DstAddr().ToString(), "1.1.1.1");
    EXPECT_EQ(m.SrcPort(), 200);
    EXPECT_EQ(m.DstPort(), 100);
}

TEST(MessageModel, SharedEncodeRecordServesMessagesInTurn) {
    MsgEncBuf* shared = Message::AllocEnc();
    Message a;
    a.SetVersion(SnmpVersionV2c);
    a.SetCommunity("a");
    a.SetType(PduGetRequest);
    a.AddVarBind(msgtest::NullBind("1.3.6.1.2.1.1.1.0"));
    Message b(a);
    b.SetCommunity("b");
    b.AddVarBind(msgtest::NullBind("1.3.6.1.2.1.1.2.0"));
    const msgtest::Bytes aAlone = msgtest::EncodeToBytes(a);
    const msgtest::Bytes bAlone = msgtest::EncodeToBytes(b);

    {
        Message sa(a);
        Message sb(b);
        sa.SetEnc(shared);
        sb.SetEnc(shared);
        EXPECT_EQ(sa.EncBuffer(), shared);
        // Each encode through the shared record gives the message's own datagram, also
        // incrementally after another message used the record.
        EXPECT_EQ(msgtest::EncodeToBytes(sa), aAlone);
        EXPECT_EQ(msgtest::EncodeToBytes(sb), bAlone);
        std::vector<unsigned char> out(1400);
        unsigned int size = 1400;
        sa.Encode(out.data(), size, true);
        out.resize(size);
        EXPECT_EQ(out, aAlone);
        sb.SetEnc(nullptr);  // back to a record of its own
        EXPECT_EQ(sb.EncBuffer(), nullptr);
        EXPECT_EQ(msgtest::EncodeToBytes(sb), bAlone);
        EXPECT_NE(sb.EncBuffer(), shared);
    }
    // The messages are gone; the shared record is still the caller's to free.
    Message::FreeEnc(shared);
}

}  // namespace
