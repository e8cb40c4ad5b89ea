// Tests of message encoding: the wire form, SNMPv1 translations, the size limits (tooBig) and
// every error type encoding raises.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

#include "snmp/message.h"
#include "snmp/security/usm.h"
#include "test_util.h"

using namespace snmp;
using namespace zktest;

namespace {

const char kV2cGetHex[] = "3021020101040163a019020101020100020100300e300c06082b060102010101000500";

Message V2cGet(const std::string& community = "c") {
    Message m;
    m.SetVersion(SnmpVersionV2c);
    m.SetCommunity(community);
    m.SetType(PduGetRequest);
    m.SetRequestId(1);
    m.AddVarBind(NullBind("1.3.6.1.2.1.1.1.0"));
    return m;
}

TEST(MessageEncode, V2cGetRequestIsThe35ByteExampleAndMustFitTheBuffer) {
    EXPECT_EQ(ToHex(EncodeToBytes(V2cGet())), kV2cGetHex);
    EXPECT_EQ(EncodeType(V2cGet(), 35), -1);
    EXPECT_EQ(EncodeType(V2cGet(), 34), 14);
    // Bindings too big fail before any header is built; once they fit, the message encodes afresh.
    Message m = V2cGet();
    m.AddVarBind(StringBind("1.3.6.1.4.1.1", std::string(1270, 'v')));
    EXPECT_EQ(EncodeType(m), 14);
    ASSERT_NE(m.EncBuffer(), nullptr);
    EXPECT_EQ(m.EncBuffer()->pduHeader.length, 0u);
    EXPECT_EQ(m.EncBuffer()->msgHeader.length, 0u);
    m.VarBinds().pop_back();
    EXPECT_EQ(ToHex(EncodeToBytes(m)), kV2cGetHex);
}

TEST(MessageEncode, V1ErrorStatusIsTranslatedAndAnUnknownVersionGetsGenErr) {
    // SNMPv1 error-status for each SNMPv2 one, 0 to 19 (RFC 3584 section 4.3).
    const int kV1Status[] = {0, 1, 2, 3, 4, 5, 2, 3, 3, 3, 3, 2, 3, 5, 5, 5, 2, 2, 2, 19};
    for (int status = 0; status < 20; ++status) {
        SCOPED_TRACE(status);
        Message m = V2cGet();
        m.SetType(PduResponse);
        m.SetError(status, 1);
        // 30 21, version, community, a2 19, request-id 02 01 01, then error-status 02 01 xx.
        EXPECT_EQ(EncodeToBytes(m).at(15), status);
        EXPECT_EQ(m.ErrStat(), status);
        m.SetVersion(SnmpVersionV1);
        EXPECT_EQ(EncodeToBytes(m).at(15), kV1Status[status]);
        EXPECT_EQ(m.ErrStat(), kV1Status[status]);  // the translation stays in the message
    }
    // A trap has no error-status to translate; an unknown version gets genErr before failing.
    Message trap;
    trap.Init(PduV1Trap, Oid("1.3.6.1.4.1.1"), 0x7F000001, 6, 1, 0, VarBindList());
    trap.SetErrStat(17);
    EncodeToBytes(trap);
    EXPECT_EQ(trap.ErrStat(), 17);
    // SNMPv1 has no endOfMibView: its peers get a NULL.
    Message end = V2cGet();
    end.VarBinds().clear();
    end.AddVarBind(VarBind(Oid("1.3.6.1.2.1.1.1.0"), AsnValue(0x82)));
    EXPECT_EQ(ToHex(EncodeToBytes(end)).substr(66), "8200");
    end.SetVersion(SnmpVersionV1);
    EXPECT_EQ(ToHex(EncodeToBytes(end)).substr(66), "0500");
    Message odd = V2cGet();
    odd.SetVersion(static_cast<SnmpVersion>(2));
    odd.SetErrStat(17);
    EXPECT_EQ(EncodeType(odd), 12);
    EXPECT_EQ(odd.ErrStat(), 5);
}

TEST(MessageEncode, EncodingErrorTypes) {
    static OneTargetLookup unknownUser(TypeClient, false);
    const auto v3 = [](Message& m, TargetLookup* lookup) {
        m.SetVersion(SnmpVersionV3);
        m.InitSecurity(lookup);
    };
    struct Case {
        const char* name;
        int type;
        std::function<void(Message&)> edit;
    };
    const Case cases[] = {
        {"no PDU type", 12, [](Message& m) { m.SetType(5); }},
        {"PDU type above Report", 12, [](Message& m) { m.SetType(169); }},
        {"PDU type below Get", 12, [](Message& m) { m.SetType(159); }},
        {"version 2", 12, [](Message& m) { m.SetVersion(static_cast<SnmpVersion>(2)); }},
        {"SNMPv3 without USM state", 12, [](Message& m) { m.SetVersion(SnmpVersionV3); }},
        {"SNMPv3 user the lookup does not know", 201, [&](Message& m) { v3(m, &unknownUser); }},
        {"SNMPv3 USM state without lookup", 201, [&](Message& m) { v3(m, nullptr); }},
        {"SNMPv3 security level 0", 11,
         [&](Message& m) {
             v3(m, &unknownUser);
             m.SetSecurityLevel(static_cast<v3SecurityLevel>(0));
         }},
        {"value type 0x45", 13,
         [](Message& m) { m.AddVarBind(VarBind(Oid("1.3.6.1"), AsnValue(0x45))); }},
        {"community of 54 bytes, the most the header holds", -1,
         [](Message& m) { m.SetCommunity(std::string(54, 'x')); }},
        {"community of 55 bytes", 11, [](Message& m) { m.SetCommunity(std::string(55, 'x')); }},
        // An oversized binding makes the message too big, as a response reports it.
        {"one binding beyond the room", 14,
         [](Message& m) { m.AddVarBind(StringBind("1.3.6.1.4.1.1", std::string(1300, 'v'))); }},
        // A binding of 128 octets or more outgrows its first header guess: the wider header
        // must fit the room too.
        {"binding whose wider header does not fit", 14,
         [](Message& m) { m.AddVarBind(StringBind("1.3.6.1.4.1.1", std::string(1238, 'v'))); }},
        {"binding filling the room exactly", -1,
         [](Message& m) { m.AddVarBind(StringBind("1.3.6.1.4.1.1", std::string(1237, 'v'))); }},
        {"bindings beyond the room", 14,
         [](Message& m) {
             for (int i = 0; i < 60; ++i) m.AddVarBind(StringBind("1.3.6.1.4.1.1", "0123456789"));
         }},
        {"trap fields beyond the header room", 11,
         [](Message& m) {
             ObjectId enterprise = Oid("1.3.6.1.4.1");
             for (int i = 0; i < 60; ++i) enterprise += 1u;
             m.Init(PduV1Trap, enterprise, 0, 0, 0, 0, VarBindList());
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Message m = V2cGet();
        c.edit(m);
        EXPECT_EQ(EncodeType(m), c.type);
    }
    // The codec's own text is the description of a type 11.
    std::string descr;
    EXPECT_EQ(EncodeType(V2cGet(std::string(60, 'x')), 65535, &descr), 11);
    EXPECT_EQ(descr, "[AsnEncode] buffer too small");
}

TEST(MessageEncode, MaxMessageSizeOf128OrLessIsRefusedAndOldRecordsKeepTheirRoom) {
    EXPECT_THROW(Message::SetMaxMessageSize(128), std::invalid_argument);
    EXPECT_EQ(Message::MaxMessageSize(), 1400u);
    EXPECT_EQ(Message::_maxvbenc, 1272u);
    Message::SetMaxMessageSize(484);
    EXPECT_EQ(Message::_maxvbenc, 356u);
    EXPECT_EQ(Message().MsgMaxSize(), 484);

    // A record is sized when allocated: raising the limits afterwards must not let encoding write
    // beyond it, while a record allocated after the change has the new room.
    Message old = V2cGet();
    EncodeToBytes(old);
    Message::SetMaxMessageSize(8000);
    Message fresh = V2cGet();
    for (Message* m : {&old, &fresh})
        m->AddVarBind(StringBind("1.3.6.1.4.1.1", std::string(3000, 'v')));
    const int oldType = EncodeType(old, 8000);
    const int freshType = EncodeType(fresh, 8000);
    Message::SetMaxMessageSize(1400);
    EXPECT_EQ(oldType, 14);
    EXPECT_EQ(freshType, -1);
}

}  // namespace
