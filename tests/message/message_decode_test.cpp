// Tests of message decoding: the fields of well-formed datagrams, every error type a malformed one
// raises, and that no cut makes the decoder read beyond the datagram.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "snmp/message.h"
#include "snmp/security/usm.h"
#include "test_util.h"

using namespace snmp;
using namespace zktest;

namespace {

const Bytes kSysDescr = Tlv(0x06, {0x2b, 6, 1, 2, 1, 1, 1, 0});
const Bytes kNull = FromHex("0500");

Bytes Binding(const Bytes& value, const Bytes& name = kSysDescr, unsigned int tag = 0x30) {
    return Tlv(tag, Cat({name, value}));
}

const Bytes kNullBinding = Binding(kNull);

// An object identifier of 2 + `more` arcs.
Bytes LongName(size_t more) {
    Bytes content(more + 1, 0x01);
    content[0] = 0x2B;
    return Tlv(0x06, content);
}

const Bytes kEnterprise = Tlv(0x06, FromHex("2b0601040104"));
const Bytes kAgentAddr = Tlv(0x40, FromHex("c0000201"));

Bytes TrapFields(const Bytes& agentAddr, const Bytes& enterprise = kEnterprise,
                 const Bytes& stamp = Tlv(0x43, FromHex("012c"))) {
    return Cat({enterprise, agentAddr, Int(6), Int(12), stamp});
}

// The parts of a datagram, each replaceable by a case: an SNMPv2c GetRequest (the 35-byte
// example), or with `v3` an SNMPv3 noAuthNoPriv one of the user "alice".
struct Wire {
    bool v3 = false;
    unsigned int outerTag = 0x30;
    Bytes version = Int(1);
    Bytes community = Str("c");
    unsigned int pduTag = 0xA0;
    Bytes fields = Cat({Int(1), Int(0), Int(0)});
    Bytes bindings = Tlv(0x30, kNullBinding);
    Bytes afterPdu;
    Bytes afterMessage;
    unsigned int globalTag = 0x30;
    Bytes msgId = Int(100);
    Bytes maxSize = Int(1400);
    Bytes flags = Tlv(0x04, {0x04});
    Bytes model = Int(3);
    unsigned int paramsTag = 0x04;
    Bytes engineId = Tlv(0x04, FromHex("80001f8880656e67696e65"));
    unsigned int scopedTag = 0x30;
    Bytes contextEngine = Str("ctx-engine");
    Bytes contextName = Str("");
    int globalClaim = -1;  // a length octet claimed for msgGlobalData instead of its own
    int scopedClaim = -1;  // the same for the scoped PDU

    Bytes Build() const {
        const Bytes pdu = Cat({Tlv(pduTag, Cat({fields, bindings})), afterPdu});
        Bytes body = Cat({version, community, pdu});
        if (v3) {
            Bytes global = Tlv(globalTag, Cat({msgId, maxSize, flags, model}));
            if (globalClaim >= 0) global[1] = static_cast<unsigned char>(globalClaim);
            const Bytes usm =
                Tlv(0x30, Cat({engineId, Int(1), Int(2), Str("alice"), Str(""), Str("")}));
            Bytes scoped = Tlv(scopedTag, Cat({contextEngine, contextName, pdu}));
            if (scopedClaim >= 0) scoped[1] = static_cast<unsigned char>(scopedClaim);
            body = Cat({Int(3), global, Tlv(paramsTag, usm), scoped});
        }
        return Cat({Tlv(outerTag, body), afterMessage});
    }
};

Wire Trap(const Bytes& fields) {
    Wire w;
    w.version = Int(0);
    w.pduTag = 0xA4;
    w.fields = fields;
    return w;
}

enum class Usm { Known, Unknown, NoLookup, None };

TEST(MessageDecode, MalformedDatagramsRaiseTheirType) {
    struct Case {
        const char* name;
        int type;
        std::function<void(Wire&)> edit;
        Usm usm = Usm::Known;
    };
    const auto fields = [](const Bytes& f) { return [f](Wire& w) { w.fields = f; }; };
    const std::vector<Case> common = {
        {"outer tag not SEQUENCE", 1, [](Wire& w) { w.outerTag = 0x31; }},
        {"version not INTEGER", 1, [](Wire& w) { w.version = Str("1"); }},
        {"version 2", 2, [](Wire& w) { w.version = Int(2); }},
        {"version -1", 2, [](Wire& w) { w.version = Int(-1); }},
        {"community not OCTET STRING", 1, [](Wire& w) { w.community = Int(5); }},
        {"empty community", 9, [](Wire& w) { w.community = Str(""); }},
        {"PDU tag A9", 6, [](Wire& w) { w.pduTag = 0xA9; }},
        {"PDU tag SEQUENCE", 6, [](Wire& w) { w.pduTag = 0x30; }},
        {"request-id not INTEGER", 3, fields(Cat({Str("x"), Int(0), Int(0)}))},
        {"error-index not INTEGER", 3, fields(Cat({Int(1), Int(0), Str("\x01", 0x41)}))},
        {"binding not SEQUENCE", 4,
         [](Wire& w) { w.bindings = Tlv(0x30, Binding(kNull, kSysDescr, 0x31)); }},
        {"binding name not OBJECT IDENTIFIER", 4,
         [](Wire& w) { w.bindings = Tlv(0x30, Binding(kNull, Str("name"))); }},
        {"value tag 45", 7, [](Wire& w) { w.bindings = Tlv(0x30, Binding(Str("", 0x45))); }},
        {"binding after the PDU", 8, [](Wire& w) { w.afterPdu = kNullBinding; }},
        // Bindings end with their list: what follows is not read as further bindings.
        {"bytes after the binding list", 8,
         [](Wire& w) { w.bindings.insert(w.bindings.end(), kNull.begin(), kNull.end()); }},
        {"one byte after the message", 5, [](Wire& w) { w.afterMessage = Bytes(1, 0); }},
        {"codec error: request-id of 5 octets", 0,
         fields(Cat({FromHex("020500ffffffff"), Int(0), Int(0)}))},
        {"codec error: NULL with content", 0,
         [](Wire& w) { w.bindings = Tlv(0x30, Binding(Str("\x01", 0x05))); }},
        {"codec error: community beyond the scratch", 0,
         [](Wire& w) { w.community = Str(std::string(1273, 'c')); }},
        {"name of 318 arcs, all the scratch holds", -1,
         [](Wire& w) { w.bindings = Tlv(0x30, Binding(kNull, LongName(316))); }},
        {"codec error: name of 319 arcs", 0,
         [](Wire& w) { w.bindings = Tlv(0x30, Binding(kNull, LongName(317))); }},
        {"trap enterprise not OBJECT IDENTIFIER", 3,
         [](Wire& w) { w = Trap(TrapFields(kAgentAddr, Int(1))); }},
        {"trap agent-addr not IpAddress", 3, [](Wire& w) { w = Trap(TrapFields(Str("abcd"))); }},
        {"trap time-stamp not TimeTicks", 3,
         [](Wire& w) { w = Trap(TrapFields(kAgentAddr, kEnterprise, Int(1))); }},
        {"trap bindings not SEQUENCE", 3,
         [](Wire& w) {
             w = Trap(TrapFields(kAgentAddr));
             w.bindings = Tlv(0x31, Bytes());
         }},
    };
    // Applied to the SNMPv3 datagram.
    const std::vector<Case> v3 = {
        {"SNMPv3 well-formed", -1, [](Wire&) {}},
        {"SNMPv3 without USM state", 5, [](Wire&) {}, Usm::None},
        {"SNMPv3 lookup knows no target", 201, [](Wire&) {}, Usm::Unknown},
        {"SNMPv3 USM state without lookup", 201, [](Wire&) {}, Usm::NoLookup},
        {"msgGlobalData not SEQUENCE", 1, [](Wire& w) { w.globalTag = 0x31; }},
        {"msgGlobalData beyond the datagram", 5, [](Wire& w) { w.globalClaim = 127; }},
        {"msgID not INTEGER", 1, [](Wire& w) { w.msgId = Str("1"); }},
        {"msgID negative", 0, [](Wire& w) { w.msgId = Int(-1); }},
        {"msgMaxSize 483", 0, [](Wire& w) { w.maxSize = Int(483); }},
        {"msgMaxSize 484", -1, [](Wire& w) { w.maxSize = Int(484); }},
        {"msgFlags not OCTET STRING", 1, [](Wire& w) { w.flags = Int(4); }},
        {"msgFlags of two octets", 1, [](Wire& w) { w.flags = FromHex("04020400"); }},
        {"msgFlags empty", 1, [](Wire& w) { w.flags = Str(""); }},
        {"privacy without authentication", 22, [](Wire& w) { w.flags = Str("\x06"); }},
        {"security model 2", 21, [](Wire& w) { w.model = Int(2); }},
        {"security model 0", 0, [](Wire& w) { w.model = Int(0); }},
        {"security model not INTEGER", 1, [](Wire& w) { w.model = Str("3"); }},
        {"msgSecurityParameters not OCTET STRING", 1, [](Wire& w) { w.paramsTag = 0x30; }},
        {"engine id of 4 octets", 200, [](Wire& w) { w.engineId = Str("abcd"); }},
        {"scoped PDU not SEQUENCE", 1, [](Wire& w) { w.scopedTag = 0x04; }},
        {"scoped PDU beyond the datagram", 5, [](Wire& w) { w.scopedClaim = 127; }},
        {"contextEngineID not OCTET STRING", 1, [](Wire& w) { w.contextEngine = Int(1); }},
        {"contextName not OCTET STRING", 1, [](Wire& w) { w.contextName = Int(1); }},
    };
    for (const bool isV3 : {false, true}) {
        for (const Case& c : isV3 ? v3 : common) {
            SCOPED_TRACE(c.name);
            Wire wire;
            wire.v3 = isV3;
            c.edit(wire);
            OneTargetLookup lookup(TypeServer, c.usm != Usm::Unknown);
            Message m;
            if (c.usm != Usm::None) m.InitSecurity(c.usm == Usm::NoLookup ? nullptr : &lookup);
            std::string descr;
            EXPECT_EQ(DecodeType(m, wire.Build(), &descr), c.type) << ToHex(wire.Build());
            // A codec error carries the codec's text.
            EXPECT_TRUE(std::string(c.name).rfind("codec error", 0) != 0 ||
                        descr.rfind("[AsnDecode] ", 0) == 0)
                << descr;
        }
    }
}

TEST(MessageDecode, FieldsBeyondTheCommonPdu) {
    Message m;
    {
        SCOPED_TRACE("GetBulk takes its repetitions from the error fields");
        Wire bulk;
        bulk.pduTag = 0xA5;
        bulk.fields = Cat({Int(1), Int(-1), Int(-10)});
        m.SetNonReps(4);
        m.SetMaxReps(4);
        ASSERT_EQ(DecodeType(m, bulk.Build()), -1);
        EXPECT_EQ(m.NonReps(), 0);
        EXPECT_EQ(m.MaxReps(), 0);
        EXPECT_EQ(m.ErrStat(), -1);
    }
    {
        SCOPED_TRACE("a trap's agent address other than 4 octets leaves the previous one");
        ASSERT_EQ(DecodeType(m, Trap(TrapFields(kAgentAddr)).Build()), -1);
        EXPECT_EQ(m.AgentAddr().ToString(), "192.0.2.1");
        ASSERT_EQ(DecodeType(m, Trap(TrapFields(Tlv(0x40, FromHex("0a0000010000")))).Build()), -1);
        EXPECT_EQ(m.AgentAddr().ToString(), "192.0.2.1");
    }
    {
        SCOPED_TRACE("values outside the golden datagrams");
        Wire response;
        response.pduTag = 0xA2;
        response.bindings = Tlv(
            0x30, Cat({Binding(Tlv(0x03, {0x03, 0xF8})), Binding(Tlv(0x47, {0x01, 0x00})),
                       Binding(Tlv(0x4B, {0x01, 0, 0, 0, 0})), Binding(Tlv(0x40, {10, 0, 0, 1, 2})),
                       Binding(Tlv(0x4A, {0x01, 0, 0, 0, 0, 0}))}));
        ASSERT_EQ(DecodeType(m, response.Build()), -1);
        ASSERT_EQ(m.VarBinds().size(), 5u);
        std::vector<const AsnValue*> v;
        for (const VarBind& vb : m.VarBinds()) v.push_back(&vb.Value());
        EXPECT_EQ(v[0]->Bits().Size(), 1u);
        EXPECT_EQ(v[0]->Bits().UnusedBits(), 3);
        EXPECT_EQ(v[0]->Bits()[0], 0xF8);
        EXPECT_EQ(v[1]->Unsigned(), 256u);
        EXPECT_EQ(v[2]->Type(), 0x4Bu);
        EXPECT_EQ(v[2]->Counter64(), 0x100000000ULL);
        EXPECT_EQ(v[3]->IpAddr().Size(), 5u);
        EXPECT_EQ(v[4]->Counter64(), 0x10000000000ULL);
    }
}

TEST(MessageDecode, CutDatagramsNeverReadPastTheirEnd) {
    Wire response;
    response.pduTag = 0xA2;
    response.bindings = Tlv(0x30, Cat({kNullBinding, Binding(Str(std::string(200, 'x'))),
                                       Binding(Tlv(0x46, {1, 2, 3})), Binding(Tlv(0x03, {0, 1}))}));
    const Wire trap = Trap(TrapFields(kAgentAddr));
    Wire v3;
    v3.v3 = true;
    for (const Wire& sample : {response, trap, v3}) {
        const Bytes wire = sample.Build();
        const size_t header = (wire[1] & 0x80) ? 2 + (wire[1] & 0x7F) : 2;
        SCOPED_TRACE(ToHex(wire));
        for (size_t cut = 0; cut < wire.size(); ++cut) {
            SCOPED_TRACE(cut);
            OneTargetLookup lookup(TypeServer);
            Message m;
            m.InitSecurity(&lookup);
            // A plain cut fails the outer length check.
            EXPECT_EQ(DecodeType(m, Bytes(wire.begin(), wire.begin() + static_cast<long>(cut))),
                      cut < header ? 0 : 5);
            // With the outer length made to match, every inner decoder runs into the end: it
            // must fail, unless the cut falls between two bindings.
            if (cut >= wire.size() - header) continue;
            const int type = DecodeType(
                m, Tlv(wire[0], Bytes(wire.begin() + header, wire.begin() + header + cut)));
            EXPECT_NE(type, 8);
            if (type == -1) {
                EXPECT_LT(m.VarBinds().size(), sample.pduTag == 0xA2 ? 4u : 1u);
            }
        }
    }
}

}  // namespace
