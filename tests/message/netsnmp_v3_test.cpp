// Decodes SNMPv3 datagrams that net-snmp's tools sent (noAuthNoPriv, HMAC-MD5/SHA-96, CBC-DES)
// with the users they were sent for, and checks every header, security and PDU field.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "snmp/message.h"
#include "snmp/security/usm.h"
#include "snmp/usm_attributes.h"
#include "test_util.h"

using namespace snmp;
using msgtest::Bytes;
using msgtest::FromHex;
using msgtest::ToHex;

namespace {

std::string Text(const OctetString& s) {
    return s.Empty() ? "-" : ToHex(s.Data(), s.Size());
}

// A server-side lookup holding the case's user, with the engine data the message carries so
// that it is in time.
void SetUser(const msgtest::CaseBlock& c, msgtest::OneTargetLookup& lookup,
             const std::string& authPass, const std::string& privPass) {
    const std::string auth = c.Get("auth");
    const std::string priv = c.Get("priv");
    auto* attributes = new USMAttributes(auth == "MD5"   ? USMAuthMD5
                                         : auth == "SHA" ? USMAuthSHA1
                                                         : USMAuthNone,
                                         priv == "DES" ? USMPrivDES : USMPrivNone);
    attributes->SetUserName(c.Get("user"));
    if (auth != "none") attributes->SetAuthPass(authPass);
    if (priv != "none") attributes->SetPrivPass(privPass);
    Target& t = lookup.target;
    t.SetSecAttributes(attributes);
    const Bytes engine = FromHex(c.Get("sec-engine-id"));
    t.SetEngineId(OctetString(engine.data(), static_cast<unsigned int>(engine.size())));
    t.SetEngineBoots(static_cast<unsigned int>(std::stoul(c.Get("sec-boots"))));
    t.SetEngineTime(static_cast<unsigned int>(std::stoul(c.Get("sec-time"))));
    if (auth != "none") {
        ASSERT_TRUE(t.CalculateKeys());
    }
}

TEST(NetSnmpV3, DatagramsDecodeWithTheirUsers) {
    const std::vector<msgtest::CaseBlock> cases =
        msgtest::LoadCaseBlocks("../security/netsnmp/cases.txt");
    ASSERT_GE(cases.size(), 20u);
    for (const msgtest::CaseBlock& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes wire = FromHex(c.hex);
        msgtest::OneTargetLookup lookup(TypeServer);
        SetUser(c, lookup, c.Get("auth-pass"), c.Get("priv-pass"));
        Message m;
        m.InitSecurity(&lookup);
        ASSERT_EQ(msgtest::DecodeType(m, wire), -1);

        EXPECT_EQ(ToHex(m.RawData(), m.RawSize()), c.hex);
        EXPECT_EQ(m.Version(), SnmpVersionV3);
        EXPECT_EQ(m.MsgId(), c.Int("msg-id"));
        EXPECT_EQ(m.MsgMaxSize(), c.Int("msg-max-size"));
        const int flags = c.Int("msg-flags");
        EXPECT_EQ(m.Reportable(), (flags & 4) != 0);
        EXPECT_EQ(static_cast<int>(m.SecurityLevel()), (flags & 3) == 3 ? 3 : (flags & 3) + 1);
        EXPECT_EQ(m.SecurityModel(), SecModelUSM);
        EXPECT_EQ(m.UserName(), c.Get("sec-user"));
        EXPECT_EQ(Text(m.EngineId()), c.Get("sec-engine-id"));
        EXPECT_EQ(std::to_string(m.SecAttributes()->EngineBoots()), c.Get("sec-boots"));
        EXPECT_EQ(std::to_string(m.SecAttributes()->EngineTime()), c.Get("sec-time"));
        EXPECT_EQ(Text(m.SecAttributes()->PrivParams()), c.Get("priv-params"));
        EXPECT_EQ(Text(m.ContextEngineId()), c.Get("context-engine-id"));
        const std::string contextName(reinterpret_cast<const char*>(m.ContextName().Data()),
                                      m.ContextName().Size());
        EXPECT_EQ(contextName.empty() ? "-" : contextName, c.Get("context-name"));

        EXPECT_EQ(static_cast<int>(m.Type()), c.Int("pdu"));
        EXPECT_EQ(m.PduRequestId(), c.Int("request-id"));
        if (c.Has("non-repeaters")) {
            EXPECT_EQ(m.NonReps(), c.Int("non-repeaters"));
            EXPECT_EQ(m.MaxReps(), c.Int("max-repetitions"));
        } else {
            EXPECT_EQ(m.ErrStat(), c.Int("error-status"));
            EXPECT_EQ(m.ErrIndex(), c.Int("error-index"));
        }
        EXPECT_EQ(msgtest::BindingsText(m), msgtest::BindingsText(c.bindings));

        // The digest check and the decryption work on the message's own copy: the caller's
        // datagram stays as it was.
        Bytes callers = wire;
        Message again;
        again.InitSecurity(&lookup);
        again.Decode(callers.data(), static_cast<unsigned int>(callers.size()));
        EXPECT_EQ(callers, wire);
        EXPECT_EQ(again.VarBinds().size(), c.bindings.size());

        // The same datagram with a wrong password never decodes.
        if (c.Get("auth") != "none") {
            msgtest::OneTargetLookup wrong(TypeServer);
            const bool priv = c.Get("priv") != "none";
            SetUser(c, wrong, priv ? c.Get("auth-pass") : "wrong-password",
                    priv ? "wrong-password" : "");
            Message w;
            w.InitSecurity(&wrong);
            const int type = msgtest::DecodeType(w, wire);
            if (priv) {
                EXPECT_NE(type, -1);
            } else {
                EXPECT_EQ(type, 203);
            }
        }
    }
}

}  // namespace
