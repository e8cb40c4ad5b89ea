// Tests of message decoding: fields of well-formed datagrams, every error type a malformed one
// raises, and that no cut or length claim makes the decoder read beyond the datagram.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "snmp/exception.h"
#include "snmp/message.h"
#include "snmp/security/usm.h"
#include "test_util.h"

using namespace snmp;
using msgtest::Bytes;
using msgtest::DecodeType;
using msgtest::FromHex;
using msgtest::Oid;
using msgtest::ToHex;

namespace {

// A BER element with a definite length in its shortest form.
Bytes Tlv(unsigned int tag, const Bytes& content) {
    Bytes out{static_cast<unsigned char>(tag)};
    const size_t n = content.size();
    if (n < 128) {
        out.push_back(static_cast<unsigned char>(n));
    } else if (n < 256) {
        out.push_back(0x81);
        out.push_back(static_cast<unsigned char>(n));
    } else {
        out.push_back(0x82);
        out.push_back(static_cast<unsigned char>(n >> 8));
        out.push_back(static_cast<unsigned char>(n));
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Int(int v) {
    Bytes content;
    int n = 4;
    auto u = static_cast<unsigned int>(v);
    while (n > 1 && ((u >> 23) == 0 || (u >> 23) == 0x1FF)) {
        --n;
        u <<= 8;
    }
    for (int i = 0; i < n; ++i, u <<= 8) content.push_back(static_cast<unsigned char>(u >> 24));
    return Tlv(0x02, content);
}

Bytes Str(const std::string& s, unsigned int tag = 0x04) {
    return Tlv(tag, Bytes(s.begin(), s.end()));
}

const Bytes kSysDescrName = FromHex("06082b06010201010100");
const Bytes kNullBinding = Tlv(0x30, Cat({kSysDescrName, FromHex("0500")}));

// The parts of an SNMPv1/v2c datagram, each replaceable by a case.
struct V2Parts {
    unsigned int outerTag = 0x30;
    Bytes version = Int(1);
    Bytes community = Str("c");
    unsigned int pduTag = 0xA0;
    Bytes requestId = Int(1);
    Bytes errorStatus = Int(0);
    Bytes errorIndex = Int(0);
    Bytes bindings = Tlv(0x30, kNullBinding);
    Bytes afterPdu;

    Bytes Build() const {
        Bytes pdu = Tlv(pduTag, Cat({requestId, errorStatus, errorIndex, bindings}));
        return Tlv(outerTag, Cat({version, community, pdu, afterPdu}));
    }
};

// The parts of an SNMPv3 noAuthNoPriv datagram.
struct V3Parts {
    unsigned int globalTag = 0x30;
    Bytes msgId = Int(100);
    Bytes maxSize = Int(1400);
    Bytes flags = Tlv(0x04, {0x04});
    Bytes model = Int(3);
    unsigned int paramsTag = 0x04;
    Bytes engineId = Tlv(0x04, FromHex("80001f8880656e67696e65"));
    Bytes user = Str("alice");
    unsigned int scopedTag = 0x30;
    Bytes contextEngine = Str("ctx-engine");
    Bytes contextName = Str("");

    Bytes Build() const {
        const Bytes usm = Tlv(0x30, Cat({engineId, Int(1), Int(2), user, Str(""), Str("")}));
        const Bytes global = Tlv(globalTag, Cat({msgId, maxSize, flags, model}));
        const Bytes pdu = Tlv(0xA0, Cat({Int(7), Int(0), Int(0), Tlv(0x30, kNullBinding)}));
        const Bytes scoped = Tlv(scopedTag, Cat({contextEngine, contextName, pdu}));
        return Tlv(0x30, Cat({Int(3), global, Tlv(paramsTag, usm), scoped}));
    }
};

TEST(MessageDecode, V2cGetRequestFields) {
    const Bytes wire =
        FromHex("3021020101040163a019020101020100020100300e300c06082b060102010101000500");
    Message m;
    ASSERT_EQ(DecodeType(m, wire), -1);
    EXPECT_EQ(m.Version(), SnmpVersionV2c);
    EXPECT_EQ(m.Community(), "c");
    EXPECT_EQ(m.Type(), 160u);
    EXPECT_EQ(m.RequestId(), 1);
    EXPECT_EQ(m.ErrStat(), 0);
    EXPECT_EQ(m.ErrIndex(), 0);
    ASSERT_EQ(m.VarBinds().size(), 1u);
    EXPECT_EQ(m.VarBinds().front().Objid(), Oid("1.3.6.1.2.1.1.1.0"));
    EXPECT_EQ(m.VarBinds().front().Value().Type(), 0x05u);
    EXPECT_EQ(ToHex(m.RawData(), m.RawSize()), ToHex(wire));

    // Decoding again into the same message replaces the bindings, not appends to them.
    ASSERT_EQ(DecodeType(m, wire), -1);
    EXPECT_EQ(m.VarBinds().size(), 1u);
}

TEST(MessageDecode, RawDataStaysValidAfterTheCallerFreesTheDatagram) {
    const Bytes wire = V2Parts().Build();
    Message m;
    {
        std::unique_ptr<unsigned char[]> buffer(new unsigned char[wire.size()]);
        std::copy(wire.begin(), wire.end(), buffer.get());
        m.Decode(buffer.get(), static_cast<unsigned int>(wire.size()));
        std::fill(buffer.get(), buffer.get() + wire.size(), 0xEE);
    }
    // The buffer is overwritten and freed: the message must still hold the bytes it decoded.
    ASSERT_NE(m.RawData(), nullptr);
    EXPECT_EQ(ToHex(m.RawData(), m.RawSize()), ToHex(wire));
    const Message copy(m);
    EXPECT_EQ(ToHex(copy.RawData(), copy.RawSize()), ToHex(wire));
    EXPECT_NE(copy.RawData(), m.RawData());
}

TEST(MessageDecode, MalformedCommunityDatagramsRaiseTheirType) {
    struct Case {
        const char* name;
        int type;
        Bytes wire;
    };
    std::vector<Case> cases;
    auto add = [&cases](const char* name, int type, const V2Parts& parts) {
        cases.push_back({name, type, parts.Build()});
    };
    V2Parts p;
    p.outerTag = 0x31;
    add("outer tag not SEQUENCE", 1, p);
    p = V2Parts();
    p.version = Str("1");
    add("version not INTEGER", 1, p);
    for (int v : {2, 4, -1, 1000}) {
        p = V2Parts();
        p.version = Int(v);
        add("unsupported version", 2, p);
    }
    p = V2Parts();
    p.community = Int(5);
    add("community not OCTET STRING", 1, p);
    p = V2Parts();
    p.community = Str("");
    add("empty community", 9, p);
    p = V2Parts();
    p.pduTag = 0xA9;
    add("PDU tag A9", 6, p);
    p.pduTag = 0x30;
    add("PDU tag SEQUENCE", 6, p);
    p = V2Parts();
    p.requestId = Str("x");
    add("request-id not INTEGER", 3, p);
    p = V2Parts();
    p.errorStatus = Str("x");
    add("error-status not INTEGER", 3, p);
    p = V2Parts();
    p.errorIndex = Tlv(0x41, {1});
    add("error-index not INTEGER", 3, p);
    p = V2Parts();
    p.bindings = Tlv(0x30, Tlv(0x31, Cat({kSysDescrName, FromHex("0500")})));
    add("binding not SEQUENCE", 4, p);
    p = V2Parts();
    p.bindings = Tlv(0x30, Tlv(0x30, Cat({Str("name"), FromHex("0500")})));
    add("binding name not OBJECT IDENTIFIER", 4, p);
    p = V2Parts();
    p.bindings = Tlv(0x30, Tlv(0x30, Cat({kSysDescrName, FromHex("4500")})));
    add("value tag 45", 7, p);
    p = V2Parts();
    p.afterPdu = kNullBinding;
    add("binding after the PDU", 8, p);
    p = V2Parts();
    p.bindings = Cat({Tlv(0x30, kNullBinding), FromHex("0500")});
    add("bytes after the binding list", 8, p);
    p = V2Parts();
    p.requestId = FromHex("020500ffffffff");
    add("codec error: request-id of 5 octets", 0, p);
    p = V2Parts();
    p.bindings = Tlv(0x30, Tlv(0x30, Cat({kSysDescrName, FromHex("050101")})));
    add("codec error: NULL with content", 0, p);
    {
        // 319 arcs need more than the scratch's room of 318.
        Bytes longName{0x2B};
        longName.insert(longName.end(), 317, 0x01);
        p = V2Parts();
        p.bindings = Tlv(0x30, Tlv(0x30, Cat({Tlv(0x06, longName), FromHex("0500")})));
        add("codec error: name of 319 arcs", 0, p);
        longName.pop_back();
        p.bindings = Tlv(0x30, Tlv(0x30, Cat({Tlv(0x06, longName), FromHex("0500")})));
        add("name of 318 arcs", -1, p);
    }
    p = V2Parts();
    p.community = Str(std::string(1273, 'c'));
    add("codec error: community beyond the scratch", 0, p);

    Bytes extra = V2Parts().Build();
    extra.push_back(0x00);
    cases.push_back({"one byte after the message", 5, extra});
    Bytes shortOuter = V2Parts().Build();
    shortOuter[1] -= 1;
    cases.push_back({"outer length one too small", 5, shortOuter});
    cases.push_back({"empty datagram", 0, Bytes()});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Message m;
        EXPECT_EQ(DecodeType(m, c.wire), c.type) << ToHex(c.wire);
    }

    // A codec error carries the codec's text.
    V2Parts bad;
    bad.requestId = FromHex("020500ffffffff");
    const Bytes wire = bad.Build();
    Message m;
    try {
        m.Decode(wire.data(), static_cast<unsigned int>(wire.size()));
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Type(), 0);
        EXPECT_STREQ(e.Descr(), "[AsnDecode] Integer32 is larger than 32 bits");
    }
}

TEST(MessageDecode, MalformedV3DatagramsRaiseTheirType) {
    struct Case {
        const char* name;
        int type;
        V3Parts parts;
    };
    std::vector<Case> cases;
    V3Parts p;
    cases.push_back({"well-formed", -1, p});
    p.globalTag = 0x31;
    cases.push_back({"msgGlobalData not SEQUENCE", 1, p});
    p = V3Parts();
    p.msgId = Str("1");
    cases.push_back({"msgID not INTEGER", 1, p});
    p.msgId = Int(-1);
    cases.push_back({"msgID negative", 0, p});
    p = V3Parts();
    p.maxSize = Int(483);
    cases.push_back({"msgMaxSize 483", 0, p});
    p.maxSize = Int(484);
    cases.push_back({"msgMaxSize 484", -1, p});
    p.maxSize = Str("x");
    cases.push_back({"msgMaxSize not INTEGER", 1, p});
    p = V3Parts();
    p.flags = Int(4);
    cases.push_back({"msgFlags not OCTET STRING", 1, p});
    p.flags = Tlv(0x04, {0x04, 0x00});
    cases.push_back({"msgFlags of two octets", 1, p});
    p.flags = Tlv(0x04, {});
    cases.push_back({"msgFlags empty", 1, p});
    p.flags = Tlv(0x04, {0x06});
    cases.push_back({"privacy without authentication", 22, p});
    p = V3Parts();
    p.model = Int(2);
    cases.push_back({"security model 2", 21, p});
    p.model = Int(0);
    cases.push_back({"security model 0", 0, p});
    p.model = Str("3");
    cases.push_back({"security model not INTEGER", 1, p});
    p = V3Parts();
    p.paramsTag = 0x30;
    cases.push_back({"msgSecurityParameters not OCTET STRING", 1, p});
    p = V3Parts();
    p.engineId = Str("abcd");
    cases.push_back({"engine id of 4 octets", 200, p});
    p = V3Parts();
    p.scopedTag = 0x04;
    cases.push_back({"scoped PDU not SEQUENCE", 1, p});
    p = V3Parts();
    p.contextEngine = Int(1);
    cases.push_back({"contextEngineID not OCTET STRING", 1, p});
    p = V3Parts();
    p.contextName = Int(1);
    cases.push_back({"contextName not OCTET STRING", 1, p});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        msgtest::OneTargetLookup lookup(TypeServer);
        Message m;
        m.InitSecurity(&lookup);
        EXPECT_EQ(DecodeType(m, c.parts.Build()), c.type);
    }

    const Bytes good = V3Parts().Build();
    {
        SCOPED_TRACE("no USM state");
        Message m;
        EXPECT_EQ(DecodeType(m, good), 5);
    }
    {
        SCOPED_TRACE("lookup knows no target");
        msgtest::OneTargetLookup lookup(TypeServer, false);
        Message m;
        m.InitSecurity(&lookup);
        EXPECT_EQ(DecodeType(m, good), 201);
        EXPECT_EQ(lookup.finds, 1);
    }
    {
        // The header and the scoped PDU lengths are checked against the rest of the datagram.
        SCOPED_TRACE("header lengths beyond the datagram");
        const Bytes global = Tlv(0x30, Cat({Int(100), Int(1400), Tlv(0x04, {0x04}), Int(3)}));
        const auto globalAt = std::search(good.begin(), good.end(), global.begin(), global.end());
        ASSERT_NE(globalAt, good.end());
        Bytes longGlobal = good;
        longGlobal[static_cast<size_t>(globalAt - good.begin()) + 1] = 0x7F;
        msgtest::OneTargetLookup lookup(TypeServer);
        Message m;
        m.InitSecurity(&lookup);
        EXPECT_EQ(DecodeType(m, longGlobal), 5);

        const Bytes context = Str("ctx-engine");
        const auto contextAt =
            std::search(good.begin(), good.end(), context.begin(), context.end());
        ASSERT_NE(contextAt, good.end());
        const auto scopedAt = static_cast<size_t>(contextAt - good.begin()) - 2;
        Bytes longScoped = good;
        ASSERT_EQ(longScoped[scopedAt], 0x30);
        longScoped[scopedAt + 1] = 0x7F;
        EXPECT_EQ(DecodeType(m, longScoped), 5);
    }
    {
        msgtest::OneTargetLookup lookup(TypeServer);
        Message m;
        m.InitSecurity(&lookup);
        ASSERT_EQ(DecodeType(m, good), -1);
        EXPECT_EQ(m.MsgId(), 100);
        EXPECT_EQ(m.PduRequestId(), 7);
        EXPECT_TRUE(m.ContextEngineId() == "ctx-engine");
        EXPECT_TRUE(m.ContextName().Empty());
        EXPECT_EQ(m.UserName(), "alice");
        EXPECT_EQ(m.SecAttributes()->EngineBoots(), 1u);
        EXPECT_EQ(m.SecAttributes()->EngineTime(), 2u);
        EXPECT_FALSE(m.SecurityParams().Empty());
        EXPECT_EQ(m.SecurityModel(), SecModelUSM);
    }
}

TEST(MessageDecode, GetBulkMapsErrorFieldsToRepetitions) {
    V2Parts p;
    p.pduTag = 0xA5;
    p.errorStatus = Int(-1);
    p.errorIndex = Int(10);
    Message m;
    m.SetNonReps(4);
    ASSERT_EQ(DecodeType(m, p.Build()), -1);
    EXPECT_EQ(m.NonReps(), 0);
    EXPECT_EQ(m.MaxReps(), 10);
    EXPECT_EQ(m.ErrStat(), -1);
    EXPECT_EQ(m.ErrIndex(), 10);
}

Bytes TrapWire(const Bytes& agentAddr) {
    const Bytes pdu =
        Tlv(0xA4, Cat({Tlv(0x06, FromHex("2b0601040104")), Tlv(0x40, agentAddr), Int(6), Int(12),
                       Tlv(0x43, {0x01, 0x2c}), Tlv(0x30, kNullBinding)}));
    return Tlv(0x30, Cat({Int(0), Str("p"), pdu}));
}

TEST(MessageDecode, V1TrapFieldsAndAgentAddress) {
    Message m;
    ASSERT_EQ(DecodeType(m, TrapWire({192, 0, 2, 1})), -1);
    EXPECT_EQ(m.Type(), 164u);
    EXPECT_EQ(m.Enterprise(), Oid("1.3.6.1.4.1.4"));
    EXPECT_EQ(m.AgentAddr().ToString(), "192.0.2.1");
    EXPECT_EQ(m.GenType(), 6);
    EXPECT_EQ(m.SpecType(), 12);
    EXPECT_EQ(m.Stamp(), 300u);
    EXPECT_EQ(m.VarBinds().size(), 1u);

    // An agent address that is not 4 octets leaves the previous one.
    ASSERT_EQ(DecodeType(m, TrapWire({10, 0, 0, 1, 0, 0})), -1);
    EXPECT_EQ(m.AgentAddr().ToString(), "192.0.2.1");

    struct Case {
        const char* name;
        Bytes pdu;
    };
    const Case bad[] = {
        {"enterprise not OID", Cat({Int(1), Tlv(0x40, {1, 2, 3, 4})})},
        {"agent-addr not IpAddress",
         Cat({Tlv(0x06, {0x2b}), Str("abcd"), Int(6), Int(1), Tlv(0x43, {1}), Tlv(0x30, {})})},
        {"generic-trap not INTEGER", Cat({Tlv(0x06, {0x2b}), Tlv(0x40, {1, 2, 3, 4}),
                                          Tlv(0x43, {1}), Int(1), Tlv(0x43, {1}), Tlv(0x30, {})})},
        {"time-stamp not TimeTicks",
         Cat({Tlv(0x06, {0x2b}), Tlv(0x40, {1, 2, 3, 4}), Int(6), Int(1), Int(1), Tlv(0x30, {})})},
        {"bindings not SEQUENCE", Cat({Tlv(0x06, {0x2b}), Tlv(0x40, {1, 2, 3, 4}), Int(6), Int(1),
                                       Tlv(0x43, {1}), Tlv(0x31, {})})},
    };
    for (const Case& c : bad) {
        SCOPED_TRACE(c.name);
        Message t;
        EXPECT_EQ(DecodeType(t, Tlv(0x30, Cat({Int(0), Str("p"), Tlv(0xA4, c.pdu)}))), 3);
    }
}

TEST(MessageDecode, EveryValueTypeDecodes) {
    const Bytes bindings = Cat({
        Tlv(0x30, Cat({Tlv(0x06, {0x2b, 1}), Int(-129)})),
        Tlv(0x30, Cat({Tlv(0x06, {0x2b, 2}), Tlv(0x03, {0x03, 0xF8})})),
        Tlv(0x30, Cat({Tlv(0x06, {0x2b, 3}), Str("text")})),
        Tlv(0x30, Cat({Tlv(0x06, {0x2b, 4}), Tlv(0x40, {10, 0, 0, 1, 2})})),
        Tlv(0x30, Cat({Tlv(0x06, {0x2b, 5}), Tlv(0x41, {0x00, 0xFF, 0xFF, 0xFF, 0xFF})})),
        Tlv(0x30, Cat({Tlv(0x06, {0x2b, 6}), Tlv(0x47, {0x01, 0x00})})),
        Tlv(0x30, Cat({Tlv(0x06, {0x2b, 7}), Tlv(0x4B, {0x01, 0, 0, 0, 0})})),
        Tlv(0x30, Cat({Tlv(0x06, {0x2b, 8}), Tlv(0x06, {0x2b, 6, 1})})),
        Tlv(0x30, Cat({Tlv(0x06, {0x2b, 9}), Tlv(0x82, {})})),
        Tlv(0x30, Cat({Tlv(0x06, {0x2b, 10}), Tlv(0x44, {0x9f, 0x78})})),
    });
    V2Parts p;
    p.pduTag = 0xA2;
    p.bindings = Tlv(0x30, bindings);
    Message m;
    ASSERT_EQ(DecodeType(m, p.Build()), -1);
    ASSERT_EQ(m.VarBinds().size(), 10u);
    std::vector<const AsnValue*> v;
    for (const VarBind& vb : m.VarBinds()) v.push_back(&vb.Value());
    EXPECT_EQ(v[0]->Integer(), -129);
    EXPECT_EQ(v[1]->Bits().Size(), 1u);
    EXPECT_EQ(v[1]->Bits().UnusedBits(), 3);
    EXPECT_EQ(v[1]->Bits()[0], 0xF8);
    EXPECT_TRUE(v[2]->String() == "text");
    EXPECT_EQ(v[3]->IpAddr().Size(), 5u);
    EXPECT_EQ(v[4]->Counter(), 0xFFFFFFFFu);
    EXPECT_EQ(v[5]->Unsigned(), 256u);
    EXPECT_EQ(v[6]->Type(), 0x4Bu);
    EXPECT_EQ(v[6]->Counter64(), 0x100000000ULL);
    EXPECT_EQ(v[7]->Objid(), Oid("1.3.6.1"));
    EXPECT_EQ(v[8]->Type(), 0x82u);
    EXPECT_EQ(v[9]->Type(), 0x44u);
    EXPECT_EQ(v[9]->String().Size(), 2u);
}

// Rewrites the outer SEQUENCE header of `wire` so that it covers exactly its first `keep`
// content octets: every inner element then meets the end of the datagram.
Bytes CutInside(const Bytes& wire, size_t keep) {
    const size_t header = (wire[1] & 0x80) ? 2 + (wire[1] & 0x7F) : 2;
    return Tlv(wire[0], Bytes(wire.begin() + static_cast<long>(header),
                              wire.begin() + static_cast<long>(header + keep)));
}

TEST(MessageDecode, CutDatagramsNeverReadPastTheirEnd) {
    V2Parts response;
    response.pduTag = 0xA2;
    response.bindings =
        Tlv(0x30, Cat({kNullBinding, Tlv(0x30, Cat({kSysDescrName, Str(std::string(200, 'x'))})),
                       Tlv(0x30, Cat({kSysDescrName, Tlv(0x46, {1, 2, 3})})),
                       Tlv(0x30, Cat({kSysDescrName, Tlv(0x03, {0, 1})}))}));
    const Bytes samples[] = {response.Build(), TrapWire({1, 2, 3, 4}), V3Parts().Build()};
    for (const Bytes& wire : samples) {
        const size_t header = (wire[1] & 0x80) ? 2 + (wire[1] & 0x7F) : 2;
        for (size_t cut = 0; cut < wire.size(); ++cut) {
            SCOPED_TRACE(cut);
            msgtest::OneTargetLookup lookup(TypeServer);
            Message m;
            m.InitSecurity(&lookup);
            // A plain cut fails the outer length check.
            EXPECT_EQ(DecodeType(m, Bytes(wire.begin(), wire.begin() + static_cast<long>(cut))),
                      cut < header ? 0 : 5);
            // A cut with a matching outer length runs every inner decoder into the end; it
            // must fail (a cut at a binding boundary is a shorter, valid message).
            if (cut < wire.size() - header) {
                const int type = DecodeType(m, CutInside(wire, cut));
                EXPECT_NE(type, 8);
                if (type == -1) {
                    EXPECT_LE(m.VarBinds().size(), 4u);
                }
            }
        }
    }
}

TEST(MessageDecode, ADecodeIntoAReusedMessageMatchesAFreshOneAndShowsNothingStale) {
    // The message first holds ten bindings of every kind; each cut of another response then
    // decodes into it exactly as into a new message, failing binding included.
    V2Parts before;
    before.pduTag = 0xA2;
    Bytes many;
    for (int i = 0; i < 10; ++i) {
        many = Cat({many, Tlv(0x30, Cat({Tlv(0x06, {0x2b, static_cast<unsigned char>(i)}),
                                         i % 2 ? Str("old value") : Tlv(0x06, {0x2b, 9, 9})}))});
    }
    before.bindings = Tlv(0x30, many);
    V2Parts after;
    after.pduTag = 0xA2;
    after.bindings = Tlv(0x30, Cat({Tlv(0x30, Cat({kSysDescrName, Str("new")})),
                                    Tlv(0x30, Cat({Tlv(0x06, {0x2b, 7}), Tlv(0x06, {0x2b, 6, 1})})),
                                    Tlv(0x30, Cat({kSysDescrName, Int(5)}))}));
    const Bytes wire = after.Build();
    const size_t header = (wire[1] & 0x80) ? 2 + (wire[1] & 0x7F) : 2;
    for (size_t cut = 0; cut <= wire.size() - header; ++cut) {
        SCOPED_TRACE(cut);
        const Bytes bytes = cut == wire.size() - header ? wire : CutInside(wire, cut);
        Message reused;
        ASSERT_EQ(DecodeType(reused, before.Build()), -1);
        Message fresh;
        EXPECT_EQ(DecodeType(reused, bytes), DecodeType(fresh, bytes));
        // The bindings as printed (the header fields of a failed decode are another matter).
        std::string reusedText, freshText;
        reused.Print(true, reusedText);
        fresh.Print(true, freshText);
        EXPECT_EQ(reusedText.substr(reusedText.find(" variable bindings")),
                  freshText.substr(freshText.find(" variable bindings")));
        EXPECT_EQ(reused.VarBinds().size(), fresh.VarBinds().size());
    }
}

}  // namespace
