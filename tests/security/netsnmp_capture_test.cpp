// Decodes SNMPv3 datagrams captured from net-snmp's tools, for every
// authentication and privacy protocol: with the right passwords every one
// verifies, decrypts and yields the recorded fields (and the keys net-snmp
// used, the extended AES ones included); wrong passwords, an unknown user and
// a stale clock fail with their USM types.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "security_test_support.h"
#include "snmp/exception.h"
#include "snmp/message.h"
#include "snmp/security/usm.h"
#include "snmp/target.h"
#include "snmp/usm_attributes.h"

namespace {

using sectest::Octets;
using sectest::RecordingLookup;
using sectest::ToHex;
using snmp::Message;
using snmp::OctetString;
using snmp::Target;

struct Case {
    std::map<std::string, std::string> fields;
    std::vector<std::string> vbs;

    const std::string& operator[](const std::string& key) const {
        static const std::string kMissing;
        auto it = fields.find(key);
        return it == fields.end() ? kMissing : it->second;
    }
    bool Has(const std::string& key) const { return fields.count(key) != 0; }
    // A recorded value, with "-" standing for empty.
    std::string Value(const std::string& key) const {
        const std::string& v = (*this)[key];
        return v == "-" ? std::string() : v;
    }
    unsigned long Number(const std::string& key) const { return std::stoul((*this)[key]); }
};

// Appends the cases of one file.
void LoadCases(const char* path, std::vector<Case>& cases) {
    // Tests run in the source folder of this directory.
    std::ifstream in(path);
    Case current;
    std::string line;
    auto flush = [&] {
        if (!current.fields.empty()) cases.push_back(current);
        current = Case();
    };
    while (std::getline(in, line)) {
        if (line.empty()) {
            flush();
            continue;
        }
        if (line[0] == '#') continue;
        const size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
        if (key == "vb") {
            current.vbs.push_back(value);
        } else {
            current.fields[key] = value;
        }
    }
    flush();
}

// net-snmp's protocol names as the cases file records them.
snmp::USMAuthProtocol AuthOf(const Case& c) {
    static const std::map<std::string, snmp::USMAuthProtocol> kNames = {
        {"MD5", snmp::USMAuthMD5},        {"SHA", snmp::USMAuthSHA1},
        {"SHA-224", snmp::USMAuthSHA224}, {"SHA-256", snmp::USMAuthSHA256},
        {"SHA-384", snmp::USMAuthSHA384}, {"SHA-512", snmp::USMAuthSHA512}};
    auto it = kNames.find(c["auth"]);
    return it == kNames.end() ? snmp::USMAuthNone : it->second;
}

snmp::USMPrivProtocol PrivOf(const Case& c) {
    static const std::map<std::string, snmp::USMPrivProtocol> kNames = {
        {"DES", snmp::USMPrivDES},           {"AES", snmp::USMPrivAES128},
        {"AES-192", snmp::USMPrivAES192},    {"AES-256", snmp::USMPrivAES256},
        {"AES-192-C", snmp::USMPrivAES192C}, {"AES-256-C", snmp::USMPrivAES256C}};
    auto it = kNames.find(c["priv"]);
    return it == kNames.end() ? snmp::USMPrivNone : it->second;
}

// The receiving side's target for the case's user, its clock set to the
// message's engine data so that the message is in time.
Target ReceiverTarget(const Case& c, const std::string& authPass, const std::string& privPass) {
    Target t(brask::IpAddr("127.0.0.1"), 161);
    t.SetVersion(snmp::SnmpVersionV3);
    auto* attributes = new snmp::USMAttributes(AuthOf(c), PrivOf(c));
    attributes->SetUserName(c["sec-user"]);
    attributes->SetAuthPass(authPass);
    attributes->SetPrivPass(privPass);
    t.SetSecAttributes(attributes);
    t.SetEngineId(Octets(c["sec-engine-id"]));
    t.SetEngineBoots(static_cast<unsigned int>(c.Number("sec-boots")));
    t.SetEngineTime(static_cast<unsigned int>(c.Number("sec-time")));
    t.SetLastEngineTime(static_cast<unsigned int>(c.Number("sec-time")));
    if (AuthOf(c) != snmp::USMAuthNone) t.CalculateKeys();
    return t;
}

// Decodes the case's datagram with `lookup`; returns the exception type or -1.
int DecodeType(const Case& c, RecordingLookup& lookup, std::unique_ptr<Message>* out = nullptr) {
    const std::vector<unsigned char> datagram = sectest::FromHex(c["hex"]);
    auto msg = std::make_unique<Message>();
    msg->InitSecurity(&lookup);
    const int type = sectest::ThrownType(
        [&] { msg->Decode(datagram.data(), static_cast<unsigned int>(datagram.size())); });
    sectest::ExpectLookupDiscipline(lookup);
    if (out != nullptr) *out = std::move(msg);
    return type;
}

// The text form of a decoded binding as the cases file writes it.
std::string BindingText(const snmp::VarBind& vb) {
    std::string oid;
    for (unsigned int i = 0; i < vb.Objid().Length(); ++i)
        oid += (i == 0 ? "" : ".") + std::to_string(vb.Objid()[static_cast<int>(i)]);
    const snmp::AsnValue& v = vb.Value();
    std::string value;
    switch (v.Type()) {
        case 0x02:
            value = std::to_string(v.Integer());
            break;
        case 0x04:
            value = v.String().Empty() ? "-" : ToHex(v.String());
            break;
        case 0x06:
            for (unsigned int i = 0; i < v.Objid().Length(); ++i)
                value += (i == 0 ? "" : ".") + std::to_string(v.Objid()[static_cast<int>(i)]);
            break;
        case 0x41:
        case 0x42:
        case 0x43:
            value = std::to_string(v.Unsigned());
            break;
        default:
            value = "-";
            break;
    }
    return oid + " " + std::to_string(v.Type()) + " " + value;
}

class NetSnmpCaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        LoadCases("netsnmp/cases.txt", cases_);
        const size_t old = cases_.size();
        ASSERT_GE(old, 20U) << "netsnmp/cases.txt missing or short";
        LoadCases("netsnmp/sha2_aes_cases.txt", cases_);
        ASSERT_GE(cases_.size() - old, 40U) << "netsnmp/sha2_aes_cases.txt missing or short";
    }
    std::vector<Case> cases_;
};

TEST_F(NetSnmpCaptureTest, EveryDatagramVerifiesDecryptsAndYieldsTheRecordedFields) {
    // Datagrams per protocol, so that the files are seen to cover them all.
    std::map<int, int> perAuth;
    std::map<int, int> perPriv;
    for (const Case& c : cases_) {
        SCOPED_TRACE(c["name"]);
        RecordingLookup lookup(snmp::TypeServer);
        lookup.strict = true;
        Target& t = lookup.Add(ReceiverTarget(c, c["auth-pass"], c["priv-pass"]));
        if (c.Has("auth-key") && c["auth-key"] != "-") {
            EXPECT_EQ(ToHex(t.AuthKey()), c["auth-key"]);
        }
        if (c.Has("priv-key") && c["priv-key"] != "-") {
            EXPECT_EQ(ToHex(t.PrivKey()), c["priv-key"]);
        }

        std::unique_ptr<Message> msg;
        ASSERT_EQ(DecodeType(c, lookup, &msg), -1);
        const unsigned long flags = c.Number("msg-flags");
        EXPECT_EQ(msg->Version(), snmp::SnmpVersionV3);
        EXPECT_EQ(static_cast<unsigned long>(static_cast<unsigned int>(msg->MsgId())),
                  c.Number("msg-id"));
        EXPECT_EQ(static_cast<unsigned long>(msg->MsgMaxSize()), c.Number("msg-max-size"));
        EXPECT_EQ(msg->Reportable(), (flags & 4) != 0);
        const int level = (flags & 3) == 3 ? 3 : (flags & 1) != 0 ? 2 : 1;
        EXPECT_EQ(static_cast<int>(msg->SecurityLevel()), level);
        ++perAuth[AuthOf(c)];
        ++perPriv[PrivOf(c)];

        const snmp::USM& usm = *msg->SecAttributes();
        EXPECT_EQ(ToHex(usm.EngineId()), c["sec-engine-id"]);
        EXPECT_EQ(usm.EngineBoots(), c.Number("sec-boots"));
        EXPECT_EQ(usm.EngineTime(), c.Number("sec-time"));
        EXPECT_EQ(usm.UserName(), c["sec-user"]);
        EXPECT_EQ(ToHex(usm.AuthParams()), c.Value("auth-params"));
        EXPECT_EQ(ToHex(usm.PrivParams()), c.Value("priv-params"));

        EXPECT_EQ(ToHex(msg->ContextEngineId()), c.Value("context-engine-id"));
        const snmp::OctetString& contextName = msg->ContextName();
        EXPECT_EQ(std::string(contextName.Data() == nullptr
                                  ? ""
                                  : reinterpret_cast<const char*>(contextName.Data()),
                              contextName.Size()),
                  c.Value("context-name"));
        EXPECT_EQ(msg->Type(), c.Number("pdu"));
        EXPECT_EQ(static_cast<unsigned long>(static_cast<unsigned int>(msg->PduRequestId())),
                  c.Number("request-id"));
        if (c.Has("non-repeaters")) {
            EXPECT_EQ(static_cast<unsigned long>(msg->NonReps()), c.Number("non-repeaters"));
            EXPECT_EQ(static_cast<unsigned long>(msg->MaxReps()), c.Number("max-repetitions"));
        } else {
            EXPECT_EQ(static_cast<unsigned long>(msg->ErrStat()), c.Number("error-status"));
            EXPECT_EQ(static_cast<unsigned long>(msg->ErrIndex()), c.Number("error-index"));
        }
        std::vector<std::string> bindings;
        for (const snmp::VarBind& vb : msg->VarBinds()) bindings.push_back(BindingText(vb));
        EXPECT_EQ(bindings, c.vbs);
    }
    for (int p = snmp::USMAuthMD5; p <= snmp::USMAuthSHA512; ++p) EXPECT_GE(perAuth[p], 4) << p;
    for (int p = snmp::USMPrivDES; p <= snmp::USMPrivAES256C; ++p) EXPECT_GE(perPriv[p], 6) << p;
}

TEST_F(NetSnmpCaptureTest, WrongCredentialsUnknownUsersAndStaleClocksFail) {
    for (const Case& c : cases_) {
        SCOPED_TRACE(c["name"]);
        const bool authenticated = AuthOf(c) != snmp::USMAuthNone;
        const bool encrypted = PrivOf(c) != snmp::USMPrivNone;
        // Keys are derived once per case; the variants copy the target.
        const Target right = ReceiverTarget(c, c["auth-pass"], c["priv-pass"]);
        {
            SCOPED_TRACE("unknown user");
            RecordingLookup lookup(snmp::TypeServer);
            lookup.strict = true;
            Target other(right);
            other.SetUserName("someone-else");
            lookup.Add(other);
            EXPECT_EQ(DecodeType(c, lookup), 201);
        }
        if (!authenticated) continue;
        const auto variant = [&](snmp::Type type, const std::function<void(Target&)>& edit) {
            RecordingLookup lookup(type);
            Target t(right);
            edit(t);
            lookup.Add(t);
            const int result = DecodeType(c, lookup);
            if (type == snmp::TypeClient) {
                EXPECT_TRUE(lookup.updates.empty());
            }
            return result;
        };
        const unsigned int sent = static_cast<unsigned int>(c.Number("sec-time"));
        EXPECT_EQ(variant(snmp::TypeServer,
                          [](Target& t) {
                              OctetString wrong = t.AuthKey();
                              wrong[0] ^= 0x01;
                              t.SetAuthKey(wrong);
                          }),
                  203)
            << "wrong authentication key";
        EXPECT_EQ(variant(snmp::TypeServer, [sent](Target& t) { t.SetEngineTime(sent + 151); }),
                  204)
            << "authoritative receiver whose clock is 151 s ahead";
        EXPECT_EQ(variant(snmp::TypeServer, [sent](Target& t) { t.SetEngineTime(sent + 150); }), -1)
            << "authoritative receiver whose clock is 150 s ahead";
        if (c["tool"] == "snmptrap") {
            EXPECT_EQ(
                variant(snmp::TypeClient, [sent](Target& t) { t.SetLastEngineTime(sent + 151); }),
                204)
                << "non-authoritative receiver that has seen a later time";
        }
        if (encrypted) {
            // The digest verifies; the wrongly decrypted data is no scoped PDU.
            EXPECT_EQ(variant(snmp::TypeServer,
                              [](Target& t) {
                                  OctetString wrong = t.PrivKey();
                                  wrong[3] ^= 0x10;
                                  t.SetPrivKey(wrong);
                              }),
                      1)
                << "wrong privacy key";
        }
    }
}

}  // namespace
