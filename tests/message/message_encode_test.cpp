// Tests of message encoding: the exact wire form of each version, SNMPv1 translations, the size
// limits (tooBig) and every error type encoding raises, and SNMPv3 framing with USM.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "snmp/exception.h"
#include "snmp/message.h"
#include "snmp/security/usm.h"
#include "snmp/usm_attributes.h"
#include "test_util.h"

using namespace snmp;
using msgtest::Bytes;
using msgtest::EncodeToBytes;
using msgtest::FromHex;
using msgtest::Oid;
using msgtest::ToHex;

namespace {

Message V2cGet(const std::string& community) {
    Message m;
    m.SetVersion(SnmpVersionV2c);
    m.SetCommunity(community);
    m.SetType(PduGetRequest);
    m.SetRequestId(1);
    m.AddVarBind(msgtest::NullBind("1.3.6.1.2.1.1.1.0"));
    return m;
}

int EncodeErrorType(const Message& m, unsigned int capacity = 65535, std::string* descr = nullptr) {
    Bytes buffer(capacity);
    unsigned int size = capacity;
    try {
        m.Encode(buffer.data(), size, false);
    } catch (const Exception& e) {
        if (descr != nullptr) *descr = e.Descr();
        return e.Type();
    }
    return -1;
}

TEST(MessageEncode, V2cGetRequestHasExactWireForm) {
    const Bytes expected =
        FromHex("3021020101040163a019020101020100020100300e300c06082b060102010101000500");
    EXPECT_EQ(expected.size(), 35u);
    EXPECT_EQ(ToHex(EncodeToBytes(V2cGet("c"))), ToHex(expected));

    // The datagram must fit the caller's buffer: 35 bytes fit exactly, 34 are tooBig.
    EXPECT_EQ(EncodeErrorType(V2cGet("c"), 35), -1);
    EXPECT_EQ(EncodeErrorType(V2cGet("c"), 34), 14);
}

TEST(MessageEncode, GetBulkCarriesRepetitionFields) {
    Message m = V2cGet("c");
    m.SetType(PduGetBulkRequest);
    m.SetNonReps(1);
    m.SetMaxReps(25);
    m.SetError(9, 9);  // not sent in a GetBulk
    const std::string hex = ToHex(EncodeToBytes(m));
    EXPECT_NE(hex.find("a519020101020101020119"), std::string::npos) << hex;
}

TEST(MessageEncode, V1ErrorStatusIsTranslated) {
    struct Case {
        int v2Status;
        int v1Status;
    };
    const Case cases[] = {{0, 0},  {1, 1},  {5, 5},  {6, 2},  {7, 3},  {8, 3},
                          {9, 3},  {10, 3}, {11, 2}, {12, 3}, {13, 5}, {14, 5},
                          {15, 5}, {16, 2}, {17, 2}, {18, 2}, {19, 19}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.v2Status);
        Message v1 = V2cGet("c");
        v1.SetVersion(SnmpVersionV1);
        v1.SetType(PduResponse);
        v1.SetError(c.v2Status, 1);
        const Bytes wire = EncodeToBytes(v1);
        EXPECT_EQ(v1.ErrStat(), c.v1Status);  // the translation stays in the message
        // 30 21, version, community, a2 19, request-id 02 01 01, then error-status.
        ASSERT_GT(wire.size(), 15u);
        EXPECT_EQ(wire[15], c.v1Status);

        Message v2 = V2cGet("c");
        v2.SetType(PduResponse);
        v2.SetError(c.v2Status, 1);
        EncodeToBytes(v2);
        EXPECT_EQ(v2.ErrStat(), c.v2Status);
    }
    // A trap has no error-status to translate; an unknown version gets genErr before failing.
    Message trap;
    trap.Init(PduV1Trap, Oid("1.3.6.1.4.1.1"), 0x7F000001, 6, 1, 0, VarBindList());
    trap.SetErrStat(17);
    EncodeToBytes(trap);
    EXPECT_EQ(trap.ErrStat(), 17);
    Message odd = V2cGet("c");
    odd.SetVersion(static_cast<SnmpVersion>(2));
    odd.SetErrStat(17);
    EXPECT_EQ(EncodeErrorType(odd), 12);
    EXPECT_EQ(odd.ErrStat(), 5);
}

TEST(MessageEncode, ValueTagsOnTheWire) {
    struct Case {
        const char* name;
        SnmpVersion version;
        unsigned int type;
        unsigned long long number;
        const char* valueHex;
    };
    const Case cases[] = {
        {"endOfMibView as NULL in v1", SnmpVersionV1, 0x82, 0, "0500"},
        {"endOfMibView kept in v2c", SnmpVersionV2c, 0x82, 0, "8200"},
        {"noSuchObject", SnmpVersionV2c, 0x80, 0, "8000"},
        {"noSuchInstance", SnmpVersionV2c, 0x81, 0, "8100"},
        {"Counter64", SnmpVersionV2c, 0x46, 1, "460101"},
        {"Counter64 tag 4A sent as 46", SnmpVersionV2c, 0x4A, 0x100000000ULL, "46050100000000"},
        {"Counter64 tag 4B sent as 46", SnmpVersionV2c, 0x4B, 0xFFFFFFFFFFFFFFFFULL,
         "4609"
         "00ffffffffffffffff"},
        {"Unsigned32", SnmpVersionV2c, 0x47, 128, "47020080"},
        {"Counter32 high bit", SnmpVersionV1, 0x41, 0x80000000ULL, "41050080000000"},
        {"Integer -1", SnmpVersionV1, 0x02, static_cast<unsigned int>(-1), "0201ff"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AsnValue value(c.type);
        if (c.type == 0x02) {
            value.SetInteger(static_cast<int>(c.number));
        } else if (c.type == 0x46 || c.type == 0x4A || c.type == 0x4B) {
            value.SetCounter64(c.number);
        } else {
            value.SetUnsigned(static_cast<unsigned int>(c.number));
        }
        Message m = V2cGet("c");
        m.SetVersion(c.version);
        m.SetType(PduResponse);
        m.ClearVarBinds();
        m.AddVarBind(VarBind(Oid("1.3.6"), value));
        const std::string hex = ToHex(EncodeToBytes(m));
        // The binding is the last element: its name 06 02 2b 06, then the value.
        const std::string tail = std::string("06022b06") + c.valueHex;
        ASSERT_GE(hex.size(), tail.size());
        EXPECT_EQ(hex.substr(hex.size() - tail.size()), tail);
    }
}

TEST(MessageEncode, EncodingErrorTypes) {
    struct Case {
        const char* name;
        int type;
        Message message;
    };
    std::vector<Case> cases;
    {
        Message m = V2cGet("c");
        m.SetType(5);
        cases.push_back({"no PDU type", 12, m});
        m.SetType(169);
        cases.push_back({"PDU type above Report", 12, m});
        m.SetType(159);
        cases.push_back({"PDU type below Get", 12, m});
    }
    {
        Message m = V2cGet("c");
        m.SetVersion(static_cast<SnmpVersion>(2));
        cases.push_back({"version 2", 12, m});
    }
    {
        Message m = V2cGet("c");
        m.SetVersion(SnmpVersionV3);
        cases.push_back({"SNMPv3 without USM state", 12, m});
    }
    {
        Message m = V2cGet("c");
        m.AddVarBind(VarBind(Oid("1.3.6.1"), AsnValue(0x45)));
        cases.push_back({"value type 0x45", 13, m});
    }
    {
        Message m = V2cGet(std::string(55, 'x'));
        cases.push_back({"community of 55 bytes", 11, m});
    }
    {
        Message m = V2cGet("c");
        m.AddVarBind(msgtest::StringBind("1.3.6.1.4.1.1", std::string(1300, 'v')));
        cases.push_back({"one binding beyond the room", 14, m});
    }
    {
        Message m = V2cGet("c");
        for (int i = 0; i < 60; ++i)
            m.AddVarBind(msgtest::StringBind("1.3.6.1.4.1.1", "0123456789"));
        cases.push_back({"many bindings beyond the room", 14, m});
    }
    {
        Message m;
        ObjectId longEnterprise = Oid("1.3.6.1.4.1");
        for (int i = 0; i < 60; ++i) longEnterprise += 1u;
        m.Init(PduV1Trap, longEnterprise, 0, 0, 0, 0, VarBindList());
        cases.push_back({"trap fields beyond the header room", 11, m});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(EncodeErrorType(c.message), c.type);
    }

    // The codec's own text is the description of a type 11.
    std::string descr;
    EXPECT_EQ(EncodeErrorType(V2cGet(std::string(60, 'x')), 65535, &descr), 11);
    EXPECT_EQ(descr, "[AsnEncode] buffer too small");
    // The longest community that fits the header's room.
    EXPECT_EQ(EncodeErrorType(V2cGet(std::string(54, 'x'))), -1);
}

TEST(MessageEncode, TooBigBindingsFailBeforeAnyHeaderIsBuilt) {
    Message m = V2cGet("c");
    m.AddVarBind(msgtest::StringBind("1.3.6.1.4.1.1", std::string(1270, 'v')));
    EXPECT_EQ(EncodeErrorType(m), 14);
    ASSERT_NE(m.EncBuffer(), nullptr);
    EXPECT_EQ(m.EncBuffer()->pduHeader.length, 0u);
    EXPECT_EQ(m.EncBuffer()->msgHeader.length, 0u);
    // After the failure the message encodes afresh once it fits again.
    m.VarBinds().pop_back();
    EXPECT_EQ(ToHex(EncodeToBytes(m)), ToHex(EncodeToBytes(V2cGet("c"))));
}

TEST(MessageEncode, RecordAllocatedBeforeASizeChangeKeepsItsRoom) {
    // A record is sized when allocated; raising the limits afterwards must not let encoding
    // write beyond it.
    Message m = V2cGet("c");
    EncodeToBytes(m);
    Message::SetMaxMessageSize(8000);
    m.AddVarBind(msgtest::StringBind("1.3.6.1.4.1.1", std::string(3000, 'v')));
    const int type = EncodeErrorType(m, 8000);
    Message::SetMaxMessageSize(1400);
    EXPECT_EQ(type, 14);
    // A message with a fresh record gets the room of the sizes current at its allocation.
    Message::SetMaxMessageSize(8000);
    Message big = V2cGet("c");
    big.AddVarBind(msgtest::StringBind("1.3.6.1.4.1.1", std::string(3000, 'v')));
    const int bigType = EncodeErrorType(big, 8000);
    Message::SetMaxMessageSize(1400);
    EXPECT_EQ(bigType, -1);
}

TEST(MessageEncode, RepeatedAndIncrementalEncodesGiveTheSameDatagram) {
    Message m = V2cGet("community");
    const Bytes first = EncodeToBytes(m);
    EXPECT_EQ(EncodeToBytes(m), first);
    Bytes out(1400);
    unsigned int size = 1400;
    m.Encode(out.data(), size, true);
    out.resize(size);
    EXPECT_EQ(out, first);

    // Bindings added after an encode are all in the next one, incremental or not.
    m.AddVarBind(msgtest::NullBind("1.3.6.1.2.1.1.3.0"));
    out.assign(1400, 0);
    size = 1400;
    m.Encode(out.data(), size, true);
    out.resize(size);
    Message fresh(m);
    EXPECT_EQ(ToHex(out), ToHex(EncodeToBytes(fresh)));

    // Rebuilding only the headers keeps the fields of the previous encode.
    m.SetRequestId(99);
    size = 1400;
    m.EncodeInc(size, false);
    EXPECT_EQ(size, out.size());
    const MsgEncBuf& b = *m.EncBuffer();
    const std::string pdu = ToHex(b.pduHeader.start, b.pduHeader.length);
    EXPECT_EQ(pdu.substr(pdu.size() - 18), "020101020100020100");
    size = 1400;
    m.EncodeInc(size, true);
    const std::string fresher = ToHex(b.pduHeader.start, b.pduHeader.length);
    EXPECT_EQ(fresher.substr(fresher.size() - 18), "020163020100020100");

    // Fields are kept only from this message's own completed encode: not after ResetEnc, not
    // after a failed encode, not after another message used a shared record.
    const auto pduTail = [&b]() {
        const std::string hex = ToHex(b.pduHeader.start, b.pduHeader.length);
        return hex.substr(hex.size() - 18);
    };
    m.SetRequestId(100);
    m.ResetEnc();
    size = 1400;
    m.EncodeInc(size, false);
    EXPECT_EQ(pduTail(), "020164020100020100");

    m.SetRequestId(101);
    m.AddVarBind(VarBind(Oid("1.3.6.1"), AsnValue(0x45)));
    size = 1400;
    EXPECT_THROW(m.EncodeInc(size, false), Exception);
    m.VarBinds().pop_back();
    size = 1400;
    m.EncodeInc(size, false);
    EXPECT_EQ(pduTail(), "020165020100020100");

    Message other = V2cGet("other");
    other.SetRequestId(102);
    other.SetEnc(m.EncBuffer());
    size = 1400;
    other.EncodeInc(size, false);
    m.SetRequestId(103);
    size = 1400;
    m.EncodeInc(size, false);
    EXPECT_EQ(pduTail(), "020167020100020100");
    other.SetEnc(nullptr);
}

TEST(MessageEncode, V1TrapWireForm) {
    VarBindList vbs;
    vbs.push_back(msgtest::NullBind("1.3.6.1.2.1.1.1.0"));
    Message m;
    m.Init(PduV1Trap, Oid("1.3.6.1.4.1.4"), 0xC0000201, 6, 12, 300, vbs);
    m.SetCommunity("p");
    EXPECT_EQ(ToHex(EncodeToBytes(m)),
              "30300201000401"
              "70a42806062b0601040104"
              "4004c0000201"
              "020106"
              "02010c"
              "4302012c"
              "300e300c06082b060102010101000500");
}

// ---- SNMPv3 --------------------------------------------------------------------------------

const OctetString kEngineId(FromHex("80001f8880e9630000d61ff449").data(), 13);

Target V3Target(v3SecurityLevel level) {
    Target t(brask::IpAddr("127.0.0.1"), 161);
    t.SetVersion(SnmpVersionV3);
    t.SetSecLevel(level);
    USMAuthProtocol auth = level == SecLevelNoAuthNoPriv ? USMAuthNone : USMAuthMD5;
    USMPrivProtocol priv = level == SecLevelAuthPriv ? USMPrivDES : USMPrivNone;
    auto* attrs = new USMAttributes(auth, priv);
    attrs->SetUserName("alice");
    if (auth != USMAuthNone) attrs->SetAuthPass("authpassword");
    if (priv != USMPrivNone) attrs->SetPrivPass("privpassword");
    t.SetSecAttributes(attrs);
    t.SetEngineId(kEngineId);
    t.SetEngineBoots(3);
    t.SetEngineTime(1000);
    t.SetLastEngineTime(1000);
    if (auth != USMAuthNone) {
        EXPECT_TRUE(t.CalculateKeys());
    }
    return t;
}

Message V3Get(v3SecurityLevel level, TargetLookup* lookup, Target& target) {
    Message m;
    m.SetTarget(target);
    m.InitSecurity(lookup);
    m.SetType(PduGetRequest);
    m.SetRequestId(0x1234);
    m.AddVarBind(msgtest::NullBind("1.3.6.1.2.1.1.1.0"));
    EXPECT_EQ(m.SecurityLevel(), level);
    return m;
}

TEST(MessageEncode, V3NoAuthFramingAndContextEngineFromPeer) {
    msgtest::OneTargetLookup lookup(TypeClient);
    lookup.target = V3Target(SecLevelNoAuthNoPriv);
    Message m = V3Get(SecLevelNoAuthNoPriv, &lookup, lookup.target);
    m.SetContextEngineId(OctetString());
    const Bytes wire = EncodeToBytes(m);
    const std::string hex = ToHex(wire);
    // msgVersion 3, then msgGlobalData: msgID, msgMaxSize 1400, flags reportable, model USM.
    EXPECT_NE(hex.find("020103300e0202123402020578040104020103"), std::string::npos) << hex;
    // The empty context engine id was taken from the peer's target.
    EXPECT_TRUE(m.ContextEngineId() ==
                std::string(reinterpret_cast<const char*>(kEngineId.Data()), kEngineId.Size()));
    EXPECT_NE(hex.find("040d" + ToHex(kEngineId.Data(), kEngineId.Size()) + "0400a0"),
              std::string::npos)
        << hex;
    EXPECT_EQ(m.UserName(), "alice");
    EXPECT_TRUE(m.EngineId() ==
                std::string(reinterpret_cast<const char*>(kEngineId.Data()), kEngineId.Size()));

    // The datagram decodes back to the same fields.
    Message back;
    msgtest::OneTargetLookup server(TypeServer);
    server.target = V3Target(SecLevelNoAuthNoPriv);
    back.InitSecurity(&server);
    ASSERT_EQ(msgtest::DecodeType(back, wire), -1);
    EXPECT_EQ(back.Version(), SnmpVersionV3);
    EXPECT_EQ(back.MsgId(), 0x1234);
    EXPECT_EQ(back.PduRequestId(), 0x1234);
    EXPECT_EQ(back.MsgMaxSize(), 1400);
    EXPECT_TRUE(back.Reportable());
    EXPECT_EQ(back.SecurityLevel(), SecLevelNoAuthNoPriv);
    EXPECT_EQ(back.UserName(), "alice");
    EXPECT_EQ(back.Type(), 160u);
    EXPECT_EQ(back.VarBinds().size(), 1u);
    EXPECT_EQ(back.RawSize(), wire.size());
}

TEST(MessageEncode, V3AuthenticatedMessagesRoundTrip) {
    for (v3SecurityLevel level : {SecLevelAuthNoPriv, SecLevelAuthPriv}) {
        SCOPED_TRACE(level);
        msgtest::OneTargetLookup lookup(TypeClient);
        lookup.target = V3Target(level);
        Message m = V3Get(level, &lookup, lookup.target);
        m.AddVarBind(msgtest::StringBind("1.3.6.1.2.1.1.5.0", "a name"));
        const Bytes wire = EncodeToBytes(m);
        const std::string hex = ToHex(wire);
        const std::string flags = level == SecLevelAuthNoPriv ? "040105" : "040107";
        EXPECT_NE(hex.find(flags + "020103"), std::string::npos) << hex;
        const OctetString auth = m.SecAttributes()->AuthParams();
        ASSERT_EQ(auth.Size(), 12u);
        EXPECT_NE(hex.find("040c" + ToHex(auth.Data(), 12)), std::string::npos);
        EXPECT_NE(ToHex(auth.Data(), 12), std::string(24, '0'));
        // The plaintext binding is visible only without privacy.
        EXPECT_EQ(hex.find("61206e616d65") != std::string::npos, level == SecLevelAuthNoPriv);

        msgtest::OneTargetLookup server(TypeServer);
        server.target = V3Target(level);
        Message back;
        back.InitSecurity(&server);
        ASSERT_EQ(msgtest::DecodeType(back, wire), -1);
        EXPECT_EQ(back.SecurityLevel(), level);
        ASSERT_EQ(back.VarBinds().size(), 2u);
        EXPECT_TRUE(back.VarBinds().back().Value().String() == "a name");
        // RawData keeps the datagram as received, digest and ciphertext included.
        EXPECT_EQ(ToHex(back.RawData(), back.RawSize()), hex);

        // A flipped bit in the datagram fails the digest.
        Bytes bad = wire;
        bad.back() ^= 0x01;
        Message rejected;
        rejected.InitSecurity(&server);
        EXPECT_EQ(msgtest::DecodeType(rejected, bad), 203);
    }
}

TEST(MessageEncode, V3WithoutTargetFailsWithUnknownUser) {
    msgtest::OneTargetLookup lookup(TypeClient, false);
    Target t = V3Target(SecLevelNoAuthNoPriv);
    Message m = V3Get(SecLevelNoAuthNoPriv, &lookup, t);
    EXPECT_EQ(EncodeErrorType(m), 201);
    Message bad = V3Get(SecLevelNoAuthNoPriv, &lookup, t);
    bad.SetSecurityLevel(static_cast<v3SecurityLevel>(0));
    EXPECT_EQ(EncodeErrorType(bad), 11);

    // Security state bound to no lookup fails the same way in both directions.
    Message unbound = V3Get(SecLevelNoAuthNoPriv, nullptr, t);
    EXPECT_EQ(EncodeErrorType(unbound), 201);
    msgtest::OneTargetLookup server(TypeServer);
    server.target = t;
    Message sent = V3Get(SecLevelNoAuthNoPriv, &server, t);
    const Bytes wire = EncodeToBytes(sent);
    Message received;
    received.InitSecurity(nullptr);
    EXPECT_EQ(msgtest::DecodeType(received, wire), 201);
}

}  // namespace
