// Tests of the per-message USM processing through real message encoding and
// decoding: every level and protocol pair, discovery, both time-window rules,
// and every exception type the processing raises.
#include "snmp/security/usm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "security_test_support.h"
#include "snmp/asn.h"
#include "snmp/message.h"

namespace {

using namespace sectest;
using namespace snmp;

const OctetString kAgentEngine = Octets("80001f8880aabbccdd0011223344");

struct Pair {
    USMAuthProtocol auth;
    USMPrivProtocol priv;
    v3SecurityLevel level;
    std::string user = "user";
    OctetString engine = kAgentEngine;
};

// Every authentication protocol alone and with every privacy protocol, users
// with more protocols than the message uses, and the largest digest with the
// longest engine id and user name.
std::vector<Pair> AllPairs() {
    const OctetString longest(std::string(32, '\x81'));
    std::vector<Pair> pairs = {
        {USMAuthNone, USMPrivNone, SecLevelNoAuthNoPriv},
        {USMAuthMD5, USMPrivDES, SecLevelAuthNoPriv},
        {USMAuthSHA512, USMPrivAES256C, SecLevelNoAuthNoPriv},
        {USMAuthSHA512, USMPrivAES256C, SecLevelAuthNoPriv, std::string(32, 'u'), longest},
        {USMAuthSHA512, USMPrivAES256C, SecLevelAuthPriv, std::string(32, 'u'), longest}};
    for (int a = USMAuthMD5; a <= USMAuthSHA512; ++a)
        for (int p = USMPrivNone; p <= USMPrivAES256C; ++p)
            pairs.push_back({static_cast<USMAuthProtocol>(a), static_cast<USMPrivProtocol>(p),
                             p == USMPrivNone ? SecLevelAuthNoPriv : SecLevelAuthPriv});
    return pairs;
}

TEST(UsmTest, RequestAndResponseRoundTripAtEveryLevelAndProtocolPair) {
    for (const Pair& pair : AllPairs()) {
        SCOPED_TRACE(std::to_string(pair.auth) + "/" + std::to_string(pair.priv) + " at " +
                     std::to_string(pair.level));
        RecordingLookup manager(TypeClient);
        RecordingLookup agent(TypeServer);
        Target& toAgent =
            manager.Add(MakeTarget(pair.user, pair.auth, pair.priv, pair.engine, 5, 5000));
        toAgent.SetSecLevel(pair.level);
        Target& self = agent.Add(MakeTarget(pair.user, pair.auth, pair.priv, pair.engine, 5, 5000));

        auto request = MakeRequest(toAgent, &manager);
        const Bytes wire = Encode(*request);
        const USM& sent = *request->SecAttributes();
        EXPECT_EQ(sent.EngineBoots(), 5U);
        // The estimate of the agent's clock: learnt just now, less the margin.
        EXPECT_GE(sent.EngineTime(), 4990U);
        EXPECT_LE(sent.EngineTime(), 4992U);
        const bool authenticated = pair.level >= SecLevelAuthNoPriv;
        EXPECT_EQ(sent.AuthParams().Size(),
                  authenticated ? AuthProtocolOf(pair.auth).macLength : 0U);
        EXPECT_EQ(sent.PrivParams().Size(), pair.level == SecLevelAuthPriv ? 8U : 0U);
        // Encrypted bindings must not be readable on the wire.
        const std::string clear = "a value worth protecting";
        EXPECT_EQ(std::search(wire.begin(), wire.end(), clear.begin(), clear.end()) == wire.end(),
                  pair.level == SecLevelAuthPriv);

        std::unique_ptr<Message> received;
        ASSERT_NO_THROW(received = Decode(wire, &agent));
        EXPECT_EQ(received->SecurityLevel(), pair.level);
        EXPECT_EQ(received->UserName(), pair.user);
        EXPECT_EQ(received->EngineId(), pair.engine);
        EXPECT_EQ(received->ContextEngineId(), pair.engine);
        EXPECT_TRUE(received->VarBinds() == request->VarBinds());

        // The answer goes back with the agent's own engine data.
        auto response = MakeRequest(self, &agent, PduResponse);
        response->SetSecurityLevel(pair.level);
        const Bytes answer = Encode(*response);
        EXPECT_EQ(response->SecAttributes()->EngineTime(), 5000U);
        std::unique_ptr<Message> back;
        ASSERT_NO_THROW(back = Decode(answer, &manager));
        EXPECT_TRUE(back->VarBinds() == response->VarBinds());
        EXPECT_EQ(back->SecAttributes()->EngineTime(), 5000U);

        // With the longest parameters, bindings that fill the whole binding room make the
        // message too big (type 14) instead of overrunning a buffer sized for 12-octet digests.
        if (pair.user.size() == 32) {
            auto big = MakeRequest(toAgent, &manager);
            big->VarBinds().clear();
            big->AddVarBind(
                StringBind("1.3.6.1.4.1.99999.1", std::string(Message::MaxEnc() - 168, 'x')));
            EXPECT_EQ(ThrownType([&] { Encode(*big); }), 14);
        }

        ExpectLookupDiscipline(manager);
        ExpectLookupDiscipline(agent);
        EXPECT_TRUE(manager.updates.empty() && agent.updates.empty());
    }
}

TEST(UsmTest, TimeWindowOfClientsFollowsTheAuthoritativeEngineAndOfServersTheirClock) {
    // A client (not authoritative) keeps the latest boots and time it saw and
    // updates its target; a server accepts 150 s around its own clock.
    const struct {
        Type side;
        unsigned int targetBoots, boots, engineTime;
        int expected;  // exception type, or -1
        bool update;
    } cases[] = {
        {TypeClient, 5, 5, 900, -1, false},
        {TypeClient, 5, 5, 850, -1, false},
        {TypeClient, 5, 5, 849, 204, false},
        {TypeClient, 5, 5, 1000, -1, false},
        {TypeClient, 5, 5, 1100, -1, true},
        {TypeClient, 5, 6, 10, -1, true},
        {TypeClient, 5, 4, 1000, 204, false},
        {TypeClient, 2147483647, 2147483647, 1000, 204, false},
        {TypeServer, 5, 5, 1000, -1, false},
        {TypeServer, 5, 5, 1150, -1, false},
        {TypeServer, 5, 5, 850, -1, false},
        {TypeServer, 5, 5, 1151, 204, false},
        {TypeServer, 5, 5, 849, 204, false},
        {TypeServer, 5, 4, 1000, 204, false},
        {TypeServer, 5, 6, 1000, 204, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.side) + ": " + std::to_string(c.boots) + "," +
                     std::to_string(c.engineTime) + " against " + std::to_string(c.targetBoots) +
                     ",1000");
        // An authenticated message from an authoritative sender with exactly these engine data.
        RecordingLookup sender(TypeServer);
        Target& from =
            sender.Add(MakeTarget("user", USMAuthSHA1, USMPrivNone, kAgentEngine, c.boots));
        from.SetEngineTime(c.engineTime);
        const Bytes wire = Encode(*MakeRequest(from, &sender, PduResponse));
        RecordingLookup lookup(c.side);
        lookup.Add(MakeTarget("user", USMAuthSHA1, USMPrivNone, kAgentEngine, c.targetBoots, 1000));
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
    Bytes boots = FromHex("05");
    Bytes user = FromHex("75736572");  // "user"
    Bytes auth, priv, trailing;
    unsigned char engineIdTag = 0x04, bootsTag = 0x02, authTag = 0x04, outerTag = 0x30;
    int lengthSkew = 0;

    Bytes Build() const {
        Bytes out =
            Tlv(outerTag, Cat({Tlv(engineIdTag, engineId), Tlv(bootsTag, boots), Int(1000),
                               Tlv(0x04, user), Tlv(authTag, auth), Tlv(0x04, priv), trailing}));
        out[1] = static_cast<unsigned char>(out[1] + lengthSkew);
        return out;
    }
};

TEST(UsmTest, MalformedSecurityParametersRaiseTheirTypes) {
    RecordingLookup lookup(TypeServer);
    lookup.Add(MakeTarget("user", USMAuthMD5, USMPrivNone, kAgentEngine, 5, 1000));
    const auto fill = [](Bytes Fields::*field, size_t n, unsigned char octet) {
        return [=](Fields& f) { (f.*field).assign(n, octet); };
    };
    const struct {
        const char* name;
        int expected;
        std::function<void(Fields&)> edit;
        v3SecurityLevel level = SecLevelNoAuthNoPriv;
    } cases[] = {
        {"well formed", -1, [](Fields&) {}},
        {"outer tag", 1, [](Fields& f) { f.outerTag = 0x31; }},
        {"sequence shorter than its content", 5, [](Fields& f) { f.lengthSkew = -1; }},
        {"engine id tag", 1, [](Fields& f) { f.engineIdTag = 0x05; }},
        {"boots tag", 1, [](Fields& f) { f.bootsTag = 0x04; }},
        {"auth params tag", 1, [](Fields& f) { f.authTag = 0x02; }},
        {"octets after the last field", 1, [](Fields& f) { f.trailing = FromHex("0500"); }},
        // Regression: a field longer than the decoder's scratch area.
        {"privacy parameters longer than the scratch area", 1, fill(&Fields::priv, 300, 0x77)},
        {"user name of 33 octets", 0, fill(&Fields::user, 33, 'u')},
        {"user name of 32 octets", -1, fill(&Fields::user, 32, 'u')},
        {"engine id of 4 octets", 200, [](Fields& f) { f.engineId.resize(4); }},
        {"engine id of 33 octets", 200, fill(&Fields::engineId, 33, 1)},
        {"empty engine id", 200, [](Fields& f) { f.engineId.clear(); }},
        // Regression: a digest field of another length is a wrong digest.
        {"11-octet digest", 203, fill(&Fields::auth, 11, 0), SecLevelAuthNoPriv},
        {"13-octet digest", 203, fill(&Fields::auth, 13, 0), SecLevelAuthNoPriv},
        {"empty digest", 203, [](Fields&) {}, SecLevelAuthNoPriv},
        {"12-octet digest that does not verify", 203, fill(&Fields::auth, 12, 0x5A),
         SecLevelAuthNoPriv},
    };
    // ProcessIncoming on the parameters directly; `data` stands for the datagram.
    const auto incoming = [&lookup](const Bytes& params, v3SecurityLevel level) {
        Message msg;
        msg.InitSecurity(&lookup);
        msg.SetSecurityLevel(level);
        msg.SetSecurityParams(OctetString(params.data(), static_cast<unsigned int>(params.size())));
        Bytes data(params);
        data.resize(data.size() + 64);
        auto size = static_cast<unsigned int>(data.size());
        return ThrownType(
            [&] { msg.SecAttributes()->ProcessIncoming(msg, data.data(), size, 0, 0); });
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fields f;
        c.edit(f);
        EXPECT_EQ(incoming(f.Build(), c.level), c.expected);
    }
    // Truncated input is the codec's error, passed through unchanged.
    Bytes truncated = Fields().Build();
    truncated.resize(truncated.size() - 3);
    truncated[1] = static_cast<unsigned char>(truncated.size() - 2);
    EXPECT_THROW(incoming(truncated, SecLevelNoAuthNoPriv), CAsnException);
    ExpectLookupDiscipline(lookup);
}

TEST(UsmTest, SecurityFailuresRaiseTheirTypes) {
    using Edit = std::function<void(Target&)>;
    const Edit recalculate = [](Target& t) {
        t.SecAttributes()->SetAuthPass("not the password");
        t.CalculateKeys();
    };
    const auto privKey = [](const char* hex) {
        return [=](Target& t) { t.SetPrivKey(Octets(hex)); };
    };
    const auto cutPrivKey = [](unsigned int n) {
        return [=](Target& t) { t.SetPrivKey(OctetString(t.PrivKey().Data(), n)); };
    };
    const struct {
        const char* name;
        USMAuthProtocol auth;  // the sender's protocols, then the receiver's
        USMPrivProtocol priv;
        v3SecurityLevel level;
        USMAuthProtocol receiverAuth;
        USMPrivProtocol receiverPriv;
        int encodeType, decodeType;
        Edit editSender = nullptr, editReceiver = nullptr;
    } cases[] = {
        {"authNoPriv for a user without authentication", USMAuthNone, USMPrivNone,
         SecLevelAuthNoPriv, USMAuthNone, USMPrivNone, 19, 0},
        {"authNoPriv without an authentication key", USMAuthMD5, USMPrivNone, SecLevelAuthNoPriv,
         USMAuthMD5, USMPrivNone, 19, 0, [](Target& t) { t.SetAuthKey(OctetString()); }},
        {"authPriv for a user without privacy", USMAuthMD5, USMPrivNone, SecLevelAuthPriv,
         USMAuthMD5, USMPrivNone, 20, 0},
        {"authPriv with a privacy key too short to encrypt", USMAuthMD5, USMPrivDES,
         SecLevelAuthPriv, USMAuthMD5, USMPrivDES, 20, 0,
         privKey("0102030405060708090a0b0c0d0e0f")},
        {"AES-256 with an unextended 16-octet key", USMAuthMD5, USMPrivAES256, SecLevelAuthPriv,
         USMAuthMD5, USMPrivAES256, 20, 0, cutPrivKey(16)},
        {"authNoPriv received for a user without authentication", USMAuthSHA1, USMPrivNone,
         SecLevelAuthNoPriv, USMAuthNone, USMPrivNone, -1, 202},
        {"authPriv received for a user without privacy", USMAuthSHA1, USMPrivDES, SecLevelAuthPriv,
         USMAuthSHA1, USMPrivNone, -1, 202},
        {"wrong authentication password", USMAuthMD5, USMPrivNone, SecLevelAuthNoPriv, USMAuthMD5,
         USMPrivNone, -1, 203, nullptr, recalculate},
        {"protocol mismatch", USMAuthMD5, USMPrivNone, SecLevelAuthNoPriv, USMAuthSHA1, USMPrivNone,
         -1, 203},
        {"AES-192 receiver privacy key unusable", USMAuthSHA224, USMPrivAES192, SecLevelAuthPriv,
         USMAuthSHA224, USMPrivAES192, -1, 205, nullptr, cutPrivKey(23)},
        {"receiver privacy key unusable", USMAuthSHA1, USMPrivDES, SecLevelAuthPriv, USMAuthSHA1,
         USMPrivDES, -1, 205, nullptr, privKey("01020304")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingLookup sender(TypeServer);
        RecordingLookup receiver(TypeServer);
        Target& from = sender.Add(MakeTarget("user", c.auth, c.priv, kAgentEngine, 5, 1000));
        from.SetSecLevel(c.level);
        if (c.editSender) c.editSender(from);
        Target& to =
            receiver.Add(MakeTarget("user", c.receiverAuth, c.receiverPriv, kAgentEngine, 5, 1000));
        if (c.editReceiver) c.editReceiver(to);
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

}  // namespace
