// zksnmp's SNMPv3 target stores: which target the agent and the
// receiver give the security processing for each kind of message.
#include "lookup.h"

#include <gtest/gtest.h>

#include "snmp/message.h"
#include "test_util.h"

namespace zksnmp {
namespace {

using zktest::Octets;

UserSpec User(const std::string& spec) {
    UserSpec u;
    std::string error;
    EXPECT_TRUE(ParseUserSpec(spec, u, error)) << error;
    return u;
}

class LocalUserLookupTest : public ::testing::Test {
protected:
    LocalUserLookupTest()
        : engine(Octets("80001f8880aabbccdd")),
          lookup(engine, 3, [this] { return now; },
                 {User("bob:SHA:secret111:DES:secret222"), User("eve")}) {}

    snmp::Message Msg(const std::string& user, const snmp::OctetString& engineId,
                      unsigned int type = 5) {
        snmp::Message m;
        m.SetVersion(snmp::SnmpVersionV3);
        m.InitSecurity(&lookup);
        m.SetUserName(user);
        m.SetEngineId(engineId);
        m.SetType(type);
        m.SetReportable(type != snmp::PduV2Trap && type != snmp::PduReport);
        return m;
    }

    snmp::OctetString engine;
    unsigned int now = 1000;
    LocalUserLookup lookup;
};

TEST_F(LocalUserLookupTest, KnownUsersGetTheLocalEngineAndItsClockUnknownOnesOnlyAReport) {
    snmp::Target* t = lookup.FindTarget(Msg("bob", engine));
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(t->EngineId() == engine && t->EngineBoots() == 3U && t->EngineTime() == 1000U);
    EXPECT_EQ(t->SecLevel(), snmp::SecLevelAuthPriv);
    EXPECT_TRUE(t->AuthKey().Size() == 20U && !t->PrivKey().Empty());
    now = 1500;
    EXPECT_EQ(lookup.FindTarget(Msg("bob", engine))->EngineTime(), 1500U);
    snmp::Target* plain = lookup.FindTarget(Msg("eve", engine));
    ASSERT_NE(plain, nullptr);
    EXPECT_TRUE(plain->SecLevel() == snmp::SecLevelNoAuthNoPriv && plain->AuthKey().Empty());

    // Unknown users get no target...
    EXPECT_EQ(lookup.FindTarget(Msg("mallory", engine)), nullptr);
    // ...but a Report can still be made for them, without security.
    t = lookup.FindTarget(Msg("mallory", snmp::OctetString(), snmp::PduReport));
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(t->UserName() == "mallory" && t->EngineId() == engine);
    EXPECT_EQ(t->SecLevel(), snmp::SecLevelNoAuthNoPriv);
    ASSERT_NE(t->SecAttributes(), nullptr);
    EXPECT_EQ(t->SecAttributes()->AuthProtocol(), snmp::USMAuthNone);
}

// Only a trap's sender is its authoritative engine. Requests naming another engine get the local
// keys: answering them would replay requests captured at another agent with the same credentials,
// and each made-up engine id would cost a key derivation.
TEST_F(LocalUserLookupTest, OnlyTrapsFromOtherEnginesUseKeysLocalisedThereAndTheirClock) {
    const snmp::OctetString sender = Octets("80001f888011223344");
    snmp::Message m = Msg("bob", sender, snmp::PduV2Trap);
    // msgSecurityParameters: engine id, boots 7, time 1234, user, auth, priv.
    m.SetSecurityParams(
        Octets("3022 0409 80001f888011223344 020107 020204d2 0403626f62 0400 0400"));
    snmp::Target* t = lookup.FindTarget(m);
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(t->EngineId() == sender && t->EngineBoots() == 7U && t->EngineTime() == 1234U);
    const snmp::OctetString foreignKey = t->AuthKey();
    for (unsigned int type : {snmp::PduGetRequest, snmp::PduSetRequest, snmp::PduInformRequest}) {
        SCOPED_TRACE(type);
        t = lookup.FindTarget(Msg("bob", sender, type));
        ASSERT_NE(t, nullptr);
        EXPECT_TRUE(t->EngineId() == engine && t->EngineBoots() == 3U &&
                    t->AuthKey() != foreignKey);
    }
}

}  // namespace
}  // namespace zksnmp
