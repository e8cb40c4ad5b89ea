// Decodes SNMPv3 datagrams captured from net-snmp's tools, for every authentication and privacy
// protocol: with the right passwords every one verifies, decrypts and yields the recorded fields
// (and the keys net-snmp used, the extended AES ones included). The failure paths (wrong keys,
// unknown users, stale clocks) are usm_test.cpp's, on datagrams of our own.
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "security_test_support.h"
#include "snmp/message.h"
#include "snmp/security/usm.h"
#include "snmp/target.h"
#include "snmp/usm_attributes.h"

namespace {

using namespace sectest;
using snmp::Message;
using snmp::OctetString;
using snmp::Target;
using Case = zktest::CaseBlock;

// Our id of `name` among net-snmp's protocol `names` (as the cases file records them, in the order
// of our enums after none, 1); none for any other name.
int IdOf(const std::string& name, std::initializer_list<const char*> names) {
    const auto* at = std::find(names.begin(), names.end(), name);
    return at == names.end() ? 1 : 2 + static_cast<int>(at - names.begin());
}

snmp::USMAuthProtocol AuthOf(const Case& c) {
    return static_cast<snmp::USMAuthProtocol>(
        IdOf(c.Get("auth"), {"MD5", "SHA", "SHA-224", "SHA-256", "SHA-384", "SHA-512"}));
}

snmp::USMPrivProtocol PrivOf(const Case& c) {
    return static_cast<snmp::USMPrivProtocol>(
        IdOf(c.Get("priv"), {"DES", "AES", "AES-192", "AES-256", "AES-192-C", "AES-256-C"}));
}

TEST(NetSnmpCaptureTest, EveryDatagramVerifiesDecryptsAndYieldsTheRecordedFields) {
    std::vector<Case> cases;
    zktest::LoadCaseBlocks("netsnmp/cases.txt", cases);
    const size_t old = cases.size();
    ASSERT_GE(old, 20U) << "netsnmp/cases.txt missing or short";
    zktest::LoadCaseBlocks("netsnmp/sha2_aes_cases.txt", cases);
    ASSERT_GE(cases.size() - old, 40U) << "netsnmp/sha2_aes_cases.txt missing or short";
    // Datagrams per protocol, so that the files are seen to cover them all.
    std::map<int, int> perAuth;
    std::map<int, int> perPriv;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Get("name"));
        RecordingLookup lookup(snmp::TypeServer);
        lookup.strict = true;
        // Its clock is set to the message's engine data, so that the message is in time.
        Target& t = lookup.Add(MakeTarget(
            c.Get("sec-user"), AuthOf(c), PrivOf(c), Octets(c.Value("sec-engine-id")),
            static_cast<unsigned int>(c.Int("sec-boots")),
            static_cast<unsigned int>(c.Int("sec-time")), c.Get("auth-pass"), c.Get("priv-pass")));
        // Keys where the case records them, none where it records none.
        EXPECT_EQ(ToHex(t.AuthKey()), c.Has("auth-key") ? c.Get("auth-key") : "");
        EXPECT_EQ(ToHex(t.PrivKey()), c.Has("priv-key") ? c.Get("priv-key") : "");

        auto msg = std::make_unique<Message>();
        msg->InitSecurity(&lookup);
        ASSERT_EQ(zktest::DecodeType(*msg, FromHex(c.Get("hex"))), -1);
        ExpectLookupDiscipline(lookup);
        const long long flags = c.Int("msg-flags");
        const int level = (flags & 3) == 3 ? 3 : (flags & 1) != 0 ? 2 : 1;
        const snmp::USM& usm = *msg->SecAttributes();
        const bool bulk = c.Has("non-repeaters");
        EXPECT_EQ(std::to_string(static_cast<unsigned int>(msg->MsgId())), c.Get("msg-id"));
        EXPECT_EQ(std::to_string(msg->MsgMaxSize()), c.Get("msg-max-size"));
        EXPECT_EQ(msg->Reportable(), (flags & 4) != 0);
        EXPECT_EQ(static_cast<int>(msg->SecurityLevel()), level);
        EXPECT_EQ(ToHex(usm.EngineId()), c.Get("sec-engine-id"));
        EXPECT_EQ(std::to_string(usm.EngineBoots()), c.Get("sec-boots"));
        EXPECT_EQ(std::to_string(usm.EngineTime()), c.Get("sec-time"));
        EXPECT_EQ(usm.UserName(), c.Get("sec-user"));
        EXPECT_EQ(ToHex(usm.AuthParams()), c.Value("auth-params"));
        EXPECT_EQ(ToHex(usm.PrivParams()), c.Value("priv-params"));
        EXPECT_EQ(ToHex(msg->ContextEngineId()), c.Value("context-engine-id"));
        EXPECT_TRUE(msg->ContextName() == c.Value("context-name")) << ToHex(msg->ContextName());
        EXPECT_EQ(std::to_string(msg->Type()), c.Get("pdu"));
        EXPECT_EQ(std::to_string(static_cast<unsigned int>(msg->PduRequestId())),
                  c.Get("request-id"));
        EXPECT_EQ(std::to_string(bulk ? msg->NonReps() : msg->ErrStat()),
                  c.Get(bulk ? "non-repeaters" : "error-status"));
        EXPECT_EQ(std::to_string(bulk ? msg->MaxReps() : msg->ErrIndex()),
                  c.Get(bulk ? "max-repetitions" : "error-index"));
        EXPECT_EQ(zktest::BindingsText(*msg), c.bindings);
        ++perAuth[AuthOf(c)];
        ++perPriv[PrivOf(c)];
    }
    for (int p = snmp::USMAuthMD5; p <= snmp::USMAuthSHA512; ++p) EXPECT_GE(perAuth[p], 4) << p;
    for (int p = snmp::USMPrivDES; p <= snmp::USMPrivAES256C; ++p) EXPECT_GE(perPriv[p], 6) << p;
}

}  // namespace
