// Tests of the per-message USM processing through real message encoding and
// decoding: every level and protocol pair, discovery, both time-window rules,
// and every exception type the processing raises.
#include "snmp/security/usm.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "security_test_support.h"
#include "snmp/asn.h"
#include "snmp/exception.h"
#include "snmp/message.h"
#include "snmp/security/usm_auth.h"
#include "snmp/target.h"
#include "snmp/target_lookup.h"
#include "snmp/usm_attributes.h"

namespace {

using namespace sectest;
using snmp::Message;
using snmp::OctetString;
using snmp::Target;

const OctetString kAgentEngine = Octets("80001f8880aabbccdd0011223344");

struct Pair {
    snmp::USMAuthProtocol auth;
    snmp::USMPrivProtocol priv;
    snmp::v3SecurityLevel level;
    std::string name;
};

// Every authentication protocol alone and with every privacy protocol, and
// users with more protocols than the message uses.
std::vector<Pair> AllPairs() {
    std::vector<Pair> pairs = {
        {snmp::USMAuthNone, snmp::USMPrivNone, snmp::SecLevelNoAuthNoPriv, "none/none"},
        {snmp::USMAuthMD5, snmp::USMPrivDES, snmp::SecLevelAuthNoPriv, "MD5/DES at authNoPriv"},
        {snmp::USMAuthSHA512, snmp::USMPrivAES256C, snmp::SecLevelNoAuthNoPriv,
         "SHA512/AES256C at noAuthNoPriv"},
    };
    for (int a = snmp::USMAuthMD5; a <= snmp::USMAuthSHA512; ++a) {
        for (int p = snmp::USMPrivNone; p <= snmp::USMPrivAES256C; ++p) {
            pairs.push_back(
                {static_cast<snmp::USMAuthProtocol>(a), static_cast<snmp::USMPrivProtocol>(p),
                 p == snmp::USMPrivNone ? snmp::SecLevelAuthNoPriv : snmp::SecLevelAuthPriv,
                 std::to_string(a) + "/" + std::to_string(p)});
        }
    }
    return pairs;
}

// The digest in a datagram recomputed independently with OpenSSL's HMAC.
void ExpectIndependentDigest(const Bytes& datagram, const OctetString& digest, const Target& target,
                             snmp::USMAuthProtocol auth) {
    const unsigned int macLength = AuthProtocolOf(auth).macLength;
    const EVP_MD* md = AuthProtocolOf(auth).md();
    ASSERT_EQ(digest.Size(), macLength);
    auto at =
        std::search(datagram.begin(), datagram.end(), digest.Data(), digest.Data() + digest.Size());
    ASSERT_NE(at, datagram.end());
    Bytes zeroed = datagram;
    std::fill(zeroed.begin() + (at - datagram.begin()),
              zeroed.begin() + (at - datagram.begin()) + macLength, 0);
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int macLen = 0;
    ASSERT_NE(HMAC(md, target.AuthKey().Data(), static_cast<int>(target.AuthKey().Size()),
                   zeroed.data(), zeroed.size(), mac, &macLen),
              nullptr);
    EXPECT_EQ(ToHex(mac, macLength), ToHex(digest));
}

TEST(UsmTest, RequestAndResponseRoundTripAtEveryLevelAndProtocolPair) {
    for (const Pair& pair : AllPairs()) {
        SCOPED_TRACE(pair.name);
        RecordingLookup manager(snmp::TypeClient);
        RecordingLookup agent(snmp::TypeServer);
        Target& toAgent =
            manager.Add(MakeTarget("user", pair.auth, pair.priv, kAgentEngine, 5, 5000));
        toAgent.SetSecLevel(pair.level);
        Target& self = agent.Add(MakeTarget("user", pair.auth, pair.priv, kAgentEngine, 5, 5000));

        auto request = MakeRequest(toAgent, &manager);
        const Bytes wire = Encode(*request);
        EXPECT_EQ(request->EngineId(), kAgentEngine);
        EXPECT_EQ(request->UserName(), "user");
        const snmp::USM& sent = *request->SecAttributes();
        EXPECT_EQ(sent.EngineBoots(), 5U);
        // The estimate of the agent's clock: learnt just now, less the margin.
        EXPECT_GE(sent.EngineTime(), 4990U);
        EXPECT_LE(sent.EngineTime(), 4992U);
        EXPECT_EQ(sent.AuthParams().Size(), pair.level >= snmp::SecLevelAuthNoPriv
                                                ? AuthProtocolOf(pair.auth).macLength
                                                : 0U);
        EXPECT_EQ(sent.PrivParams().Size(), pair.level == snmp::SecLevelAuthPriv ? 8U : 0U);
        if (pair.level >= snmp::SecLevelAuthNoPriv)
            ExpectIndependentDigest(wire, sent.AuthParams(), toAgent, pair.auth);
        if (pair.level == snmp::SecLevelAuthPriv) {
            // The bindings must not be readable on the wire.
            const std::string clear = "a value worth protecting";
            EXPECT_EQ(std::search(wire.begin(), wire.end(), clear.begin(), clear.end()),
                      wire.end());
        }

        std::unique_ptr<Message> received;
        ASSERT_NO_THROW(received = Decode(wire, &agent));
        EXPECT_EQ(received->SecurityLevel(), pair.level);
        EXPECT_EQ(received->UserName(), "user");
        EXPECT_EQ(received->EngineId(), kAgentEngine);
        EXPECT_EQ(received->ContextEngineId(), kAgentEngine);
        EXPECT_EQ(received->Type(), static_cast<unsigned int>(snmp::PduGetRequest));
        EXPECT_EQ(received->RequestId(), 4242);
        EXPECT_TRUE(received->VarBinds() == request->VarBinds());

        // The answer goes back with the agent's own engine data.
        auto response = MakeRequest(self, &agent, snmp::PduResponse);
        response->SetSecurityLevel(pair.level);
        const Bytes answer = Encode(*response);
        EXPECT_EQ(response->SecAttributes()->EngineTime(), 5000U);
        std::unique_ptr<Message> back;
        ASSERT_NO_THROW(back = Decode(answer, &manager));
        EXPECT_EQ(back->Type(), static_cast<unsigned int>(snmp::PduResponse));
        EXPECT_TRUE(back->VarBinds() == response->VarBinds());
        EXPECT_EQ(back->SecAttributes()->EngineTime(), 5000U);

        ExpectLookupDiscipline(manager);
        ExpectLookupDiscipline(agent);
        EXPECT_TRUE(manager.updates.empty());
        EXPECT_TRUE(agent.updates.empty());
    }
}

// An authenticated message from an authoritative sender whose engine data are
// exactly `boots` and `engineTime`.
Bytes AuthoritativeMessage(unsigned int boots, unsigned int engineTime) {
    RecordingLookup sender(snmp::TypeServer);
    Target& t =
        sender.Add(MakeTarget("user", snmp::USMAuthSHA1, snmp::USMPrivNone, kAgentEngine, boots));
    t.SetEngineTime(engineTime);
    auto msg = MakeRequest(t, &sender, snmp::PduResponse);
    return Encode(*msg);
}

TEST(UsmTest, TimeWindowOfClientsFollowsTheAuthoritativeEngineAndOfServersTheirClock) {
    // A client (not authoritative) keeps the latest boots and time it saw and
    // updates its target; a server accepts 150 s around its own clock.
    struct Case {
        snmp::Type side;
        unsigned int targetBoots;
        unsigned int boots;
        unsigned int engineTime;
        int expected;  // exception type, or -1
        bool update;
    };
    const snmp::Type kClient = snmp::TypeClient;
    const snmp::Type kServer = snmp::TypeServer;
    const Case cases[] = {
        {kClient, 5, 5, 900, -1, false},   {kClient, 5, 5, 850, -1, false},
        {kClient, 5, 5, 849, 204, false},  {kClient, 5, 5, 1000, -1, false},
        {kClient, 5, 5, 1100, -1, true},   {kClient, 5, 6, 10, -1, true},
        {kClient, 5, 4, 1000, 204, false}, {kClient, 2147483647, 2147483647, 1000, 204, false},
        {kServer, 5, 5, 1000, -1, false},  {kServer, 5, 5, 1150, -1, false},
        {kServer, 5, 5, 850, -1, false},   {kServer, 5, 5, 1151, 204, false},
        {kServer, 5, 5, 849, 204, false},  {kServer, 5, 4, 1000, 204, false},
        {kServer, 5, 6, 1000, 204, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.side) + ": " + std::to_string(c.boots) + "," +
                     std::to_string(c.engineTime) + " against " + std::to_string(c.targetBoots) +
                     ",1000");
        RecordingLookup lookup(c.side);
        lookup.Add(MakeTarget("user", snmp::USMAuthSHA1, snmp::USMPrivNone, kAgentEngine,
                              c.targetBoots, 1000));
        const Bytes wire = AuthoritativeMessage(c.boots, c.engineTime);
        EXPECT_EQ(ThrownType([&] { Decode(wire, &lookup); }), c.expected);
        ASSERT_EQ(lookup.updates.size(), c.update ? 1U : 0U);
        if (c.update) {
            const Target& u = lookup.updates[0];
            EXPECT_EQ(u.EngineBoots(), c.boots);
            EXPECT_EQ(u.EngineTime(), c.engineTime);
            EXPECT_EQ(u.LastEngineTime(), c.engineTime);
            EXPECT_NE(u.TimeStamp(), 0U);
        }
        ExpectLookupDiscipline(lookup);
    }
}

// msgSecurityParameters built field by field.
struct Fields {
    Bytes engineId = FromHex("80001f8880aabbccdd0011223344");
    Bytes boots = {0x05};
    Bytes user = {'u', 's', 'e', 'r'};
    Bytes auth, priv, trailing;
    unsigned char engineIdTag = 0x04;
    unsigned char bootsTag = 0x02;
    unsigned char authTag = 0x04;
    unsigned char outerTag = 0x30;
    int lengthSkew = 0;

    Bytes Build() const {
        Bytes out =
            Tlv(outerTag, Cat({Tlv(engineIdTag, engineId), Tlv(bootsTag, boots), Int(1000),
                               Tlv(0x04, user), Tlv(authTag, auth), Tlv(0x04, priv), trailing}));
        out[1] = static_cast<unsigned char>(out[1] + lengthSkew);
        return out;
    }
};

// Runs ProcessIncoming on `params` directly, at `level`, for the user of
// `lookup`; `data` stands for the datagram.
int IncomingType(RecordingLookup& lookup, const Bytes& params, snmp::v3SecurityLevel level) {
    Message msg;
    msg.InitSecurity(&lookup);
    msg.SetSecurityLevel(level);
    msg.SetSecurityParams(OctetString(params.data(), static_cast<unsigned int>(params.size())));
    Bytes data(params);
    data.resize(data.size() + 64);
    auto size = static_cast<unsigned int>(data.size());
    const int type =
        ThrownType([&] { msg.SecAttributes()->ProcessIncoming(msg, data.data(), size, 0, 0); });
    ExpectLookupDiscipline(lookup);
    return type;
}

TEST(UsmTest, MalformedSecurityParametersRaiseTheirTypes) {
    RecordingLookup lookup(snmp::TypeServer);
    lookup.Add(MakeTarget("user", snmp::USMAuthMD5, snmp::USMPrivNone, kAgentEngine, 5, 1000));
    struct Case {
        const char* name;
        std::function<void(Fields&)> edit;
        snmp::v3SecurityLevel level;
        int expected;
    };
    const Case cases[] = {
        {"well formed", [](Fields&) {}, snmp::SecLevelNoAuthNoPriv, -1},
        {"outer tag", [](Fields& f) { f.outerTag = 0x31; }, snmp::SecLevelNoAuthNoPriv, 1},
        {"sequence shorter than its content", [](Fields& f) { f.lengthSkew = -1; },
         snmp::SecLevelNoAuthNoPriv, 5},
        {"engine id tag", [](Fields& f) { f.engineIdTag = 0x05; }, snmp::SecLevelNoAuthNoPriv, 1},
        {"boots tag", [](Fields& f) { f.bootsTag = 0x04; }, snmp::SecLevelNoAuthNoPriv, 1},
        {"auth params tag", [](Fields& f) { f.authTag = 0x02; }, snmp::SecLevelNoAuthNoPriv, 1},
        {"octets after the last field",
         [](Fields& f) {
             f.trailing = {0x05, 0x00};
         },
         snmp::SecLevelNoAuthNoPriv, 1},
        // Regression: a field longer than the decoder's scratch area.
        {"privacy parameters longer than the scratch area",
         [](Fields& f) { f.priv.assign(300, 0x77); }, snmp::SecLevelNoAuthNoPriv, 1},
        {"user name of 33 octets", [](Fields& f) { f.user.assign(33, 'u'); },
         snmp::SecLevelNoAuthNoPriv, 0},
        {"user name of 32 octets, unknown to nobody", [](Fields& f) { f.user.assign(32, 'u'); },
         snmp::SecLevelNoAuthNoPriv, -1},
        {"engine id of 4 octets", [](Fields& f) { f.engineId.resize(4); },
         snmp::SecLevelNoAuthNoPriv, 200},
        {"engine id of 33 octets", [](Fields& f) { f.engineId.resize(33, 1); },
         snmp::SecLevelNoAuthNoPriv, 200},
        {"empty engine id", [](Fields& f) { f.engineId.clear(); }, snmp::SecLevelNoAuthNoPriv, 200},
        // Regression: a digest field of another length is a wrong digest.
        {"11-octet digest", [](Fields& f) { f.auth.assign(11, 0); }, snmp::SecLevelAuthNoPriv, 203},
        {"13-octet digest", [](Fields& f) { f.auth.assign(13, 0); }, snmp::SecLevelAuthNoPriv, 203},
        {"empty digest", [](Fields&) {}, snmp::SecLevelAuthNoPriv, 203},
        {"12-octet digest that does not verify", [](Fields& f) { f.auth.assign(12, 0x5A); },
         snmp::SecLevelAuthNoPriv, 203},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fields f;
        c.edit(f);
        EXPECT_EQ(IncomingType(lookup, f.Build(), c.level), c.expected);
    }
    // Truncated input is the codec's error, passed through unchanged.
    Bytes truncated = Fields().Build();
    truncated.resize(truncated.size() - 3);
    truncated[1] = static_cast<unsigned char>(truncated.size() - 2);
    Message msg;
    msg.InitSecurity(&lookup);
    msg.SetSecurityParams(
        OctetString(truncated.data(), static_cast<unsigned int>(truncated.size())));
    unsigned int size = 0;
    EXPECT_THROW(msg.SecAttributes()->ProcessIncoming(msg, nullptr, size, 0, 0), CAsnException);
    ExpectLookupDiscipline(lookup);
}

TEST(UsmTest, SecurityFailuresRaiseTheirTypes) {
    struct Case {
        const char* name;
        snmp::USMAuthProtocol senderAuth;
        snmp::USMPrivProtocol senderPriv;
        snmp::v3SecurityLevel level;
        snmp::USMAuthProtocol receiverAuth;
        snmp::USMPrivProtocol receiverPriv;
        std::function<void(Target&)> editSender;
        std::function<void(Target&)> editReceiver;
        int encodeType;
        int decodeType;
    };
    const auto same = [](Target&) {};
    const Case cases[] = {
        {"authNoPriv for a user without authentication", snmp::USMAuthNone, snmp::USMPrivNone,
         snmp::SecLevelAuthNoPriv, snmp::USMAuthNone, snmp::USMPrivNone, same, same, 19, 0},
        {"authNoPriv without an authentication key", snmp::USMAuthMD5, snmp::USMPrivNone,
         snmp::SecLevelAuthNoPriv, snmp::USMAuthMD5, snmp::USMPrivNone,
         [](Target& t) { t.SetAuthKey(OctetString()); }, same, 19, 0},
        {"authPriv for a user without privacy", snmp::USMAuthMD5, snmp::USMPrivNone,
         snmp::SecLevelAuthPriv, snmp::USMAuthMD5, snmp::USMPrivNone, same, same, 20, 0},
        {"authPriv with a privacy key too short to encrypt", snmp::USMAuthMD5, snmp::USMPrivDES,
         snmp::SecLevelAuthPriv, snmp::USMAuthMD5, snmp::USMPrivDES,
         [](Target& t) { t.SetPrivKey(Octets("0102030405060708090a0b0c0d0e0f")); }, same, 20, 0},
        {"authNoPriv received for a user without authentication", snmp::USMAuthSHA1,
         snmp::USMPrivNone, snmp::SecLevelAuthNoPriv, snmp::USMAuthNone, snmp::USMPrivNone, same,
         same, -1, 202},
        {"authPriv received for a user without privacy", snmp::USMAuthSHA1, snmp::USMPrivDES,
         snmp::SecLevelAuthPriv, snmp::USMAuthSHA1, snmp::USMPrivNone, same, same, -1, 202},
        {"wrong authentication password", snmp::USMAuthMD5, snmp::USMPrivNone,
         snmp::SecLevelAuthNoPriv, snmp::USMAuthMD5, snmp::USMPrivNone, same,
         [](Target& t) {
             t.SecAttributes()->SetAuthPass("not the password");
             t.CalculateKeys();
         },
         -1, 203},
        {"protocol mismatch", snmp::USMAuthMD5, snmp::USMPrivNone, snmp::SecLevelAuthNoPriv,
         snmp::USMAuthSHA1, snmp::USMPrivNone, same, same, -1, 203},
        // Regression guard: a digest of another length never verifies, even
        // where one MAC could be compared as a prefix of the other.
        {"48-octet digest for a 24-octet protocol", snmp::USMAuthSHA512, snmp::USMPrivNone,
         snmp::SecLevelAuthNoPriv, snmp::USMAuthSHA256, snmp::USMPrivNone, same, same, -1, 203},
        {"24-octet digest for a 48-octet protocol", snmp::USMAuthSHA256, snmp::USMPrivNone,
         snmp::SecLevelAuthNoPriv, snmp::USMAuthSHA512, snmp::USMPrivNone, same, same, -1, 203},
        {"AES-256 with an unextended 16-octet key", snmp::USMAuthMD5, snmp::USMPrivAES256,
         snmp::SecLevelAuthPriv, snmp::USMAuthMD5, snmp::USMPrivAES256,
         [](Target& t) { t.SetPrivKey(OctetString(t.PrivKey().Data(), 16)); }, same, 20, 0},
        {"AES-192 receiver privacy key unusable", snmp::USMAuthSHA224, snmp::USMPrivAES192,
         snmp::SecLevelAuthPriv, snmp::USMAuthSHA224, snmp::USMPrivAES192, same,
         [](Target& t) { t.SetPrivKey(OctetString(t.PrivKey().Data(), 23)); }, -1, 205},
        {"receiver privacy key unusable", snmp::USMAuthSHA1, snmp::USMPrivDES,
         snmp::SecLevelAuthPriv, snmp::USMAuthSHA1, snmp::USMPrivDES, same,
         [](Target& t) { t.SetPrivKey(Octets("01020304")); }, -1, 205},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingLookup sender(snmp::TypeServer);
        RecordingLookup receiver(snmp::TypeServer);
        Target& from =
            sender.Add(MakeTarget("user", c.senderAuth, c.senderPriv, kAgentEngine, 5, 1000));
        from.SetSecLevel(c.level);
        c.editSender(from);
        Target& to =
            receiver.Add(MakeTarget("user", c.receiverAuth, c.receiverPriv, kAgentEngine, 5, 1000));
        c.editReceiver(to);
        auto msg = MakeRequest(from, &sender);
        Bytes wire;
        EXPECT_EQ(ThrownType([&] { wire = Encode(*msg); }), c.encodeType);
        if (c.encodeType == -1) {
            EXPECT_EQ(ThrownType([&] { Decode(wire, &receiver); }), c.decodeType);
        }
        ExpectLookupDiscipline(sender);
        ExpectLookupDiscipline(receiver);
    }
}

TEST(UsmTest, LongestSecurityParametersFitAndOversizedMessagesAreRefused) {
    // The largest digest with the longest engine id and user name: the
    // message still round-trips, and bindings that fill the whole binding
    // room make the message too big (type 14) instead of overrunning a
    // buffer sized for the old 12-octet digests.
    const OctetString engine(std::string(32, '\x81'));
    const std::string user(32, 'u');
    RecordingLookup manager(snmp::TypeClient);
    RecordingLookup agent(snmp::TypeServer);
    Target& t =
        manager.Add(MakeTarget(user, snmp::USMAuthSHA512, snmp::USMPrivAES256C, engine, 5, 5000));
    agent.Add(MakeTarget(user, snmp::USMAuthSHA512, snmp::USMPrivAES256C, engine, 5, 5000));
    for (snmp::v3SecurityLevel level : {snmp::SecLevelAuthNoPriv, snmp::SecLevelAuthPriv}) {
        SCOPED_TRACE(level);
        t.SetSecLevel(level);
        auto msg = MakeRequest(t, &manager);
        std::unique_ptr<Message> decoded;
        ASSERT_NO_THROW(decoded = Decode(Encode(*msg), &agent));
        EXPECT_EQ(decoded->UserName(), user);
        EXPECT_EQ(decoded->SecAttributes()->AuthParams().Size(), 48U);

        auto big = MakeRequest(t, &manager);
        snmp::ObjectId name;
        name.Set("1.3.6.1.4.1.99999.1");
        snmp::AsnValue filler(0x04);
        filler.SetString(OctetString(std::string(Message::MaxEnc() - 128 - 40, 'x')));
        big->VarBinds().clear();
        big->AddVarBind(snmp::VarBind(name, filler));
        EXPECT_EQ(ThrownType([&] { Encode(*big); }), 14);
    }
    ExpectLookupDiscipline(manager);
}

}  // namespace
