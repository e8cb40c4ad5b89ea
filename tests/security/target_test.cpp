// Tests of Target and USMAttributes: defaults, copy versus assignment, key
// calculation, ordering, printing, and the RFC 3414 key change.
#include "snmp/target.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "security_test_support.h"
#include "snmp/init.h"
#include "snmp/security/usm_auth.h"
#include "snmp/security/usm_priv.h"
#include "snmp/target_lookup.h"
#include "snmp/usm_attributes.h"

namespace {

using sectest::Octets;
using sectest::ToHex;
using snmp::OctetString;
using snmp::Target;
using snmp::USMAttributes;

std::string Printed(const Target& t) {
    std::ostringstream os;
    os << t;
    return os.str();
}

TEST(TargetTest, DefaultsAndConstructors) {
    const brask::IpAddr addr("10.1.2.3");
    Target none;
    EXPECT_EQ(none.Port(), 161);
    EXPECT_EQ(none.Community(), "quorum");
    EXPECT_EQ(none.Timeout(), 100U);
    EXPECT_EQ(none.Retries(), 0U);
    // Only the constructor taking a port asks for GetBulk.
    EXPECT_FALSE(none.GetBulk());
    EXPECT_FALSE(Target(addr).GetBulk());
    EXPECT_TRUE(Target(addr, 162).GetBulk());
    // Setting the engine time stamps the wall clock.
    const unsigned int before = snmp::TimeStamp();
    none.SetEngineTime(500);
    EXPECT_GE(none.TimeStamp(), before);
    EXPECT_LE(none.TimeStamp(), snmp::TimeStamp());
}

TEST(TargetTest, PrintedForms) {
    Target plain(brask::IpAddr("10.0.0.1"));
    EXPECT_EQ(Printed(plain), "Target: 10.0.0.1:161\nSNMPv1\ncommunity string: 'quorum'\n");
    EXPECT_EQ(Printed(Target(brask::IpAddr("2001:db8::1"), 162)),
              "Target: [2001:db8::1]:162\nSNMPv1\ncommunity string: 'quorum'\n");
    std::ostringstream null;
    null << static_cast<const Target*>(nullptr);
    EXPECT_EQ(null.str(), "NULL snmp target");
    std::ostringstream viaPointer;
    viaPointer << &plain;
    EXPECT_EQ(viaPointer.str(), Printed(plain));

    Target v3(brask::IpAddr("10.0.0.2"), 1161);
    v3.SetVersion(snmp::SnmpVersionV3);
    v3.SetCommunity("");
    v3.SetSecLevel(snmp::SecLevelAuthPriv);
    v3.SetContextName("ctx");
    v3.SetUserId("uid");
    v3.SetEngineBoots(3);
    v3.SetEngineTime(44);
    v3.SetLastEngineTime(45);
    EXPECT_EQ(Printed(v3),
              "Target: 10.0.0.2:1161\nSNMPv3\nSNMPv3 target details:\n3\nNULL USM attributes\n"
              "Unknown engine ID\nContext name: ctx\nUser name: uid\nSNMP engine boots: 3\n"
              "SNMP engine time: 44\nlast SNMP engine time: 45\nupdate off\nEmpty auth key \n"
              "Empty priv key \n");
    v3.SetSecAttributes(new USMAttributes(snmp::USMAuthMD5, snmp::USMPrivDES));
    v3.SetEngineId(Octets("8000000001"));
    v3.SetUpdate(true);
    v3.SetAuthKey(Octets("01"));
    v3.SetPrivKey(Octets("02"));
    const std::string full = Printed(v3);
    for (const char* line : {"USM attributes known\n", "Engine ID known\n", "update on\n",
                             "Auth key known\n", "Priv key known\n"}) {
        EXPECT_NE(full.find(line), std::string::npos) << line;
    }
}

TEST(TargetTest, EqualityComparesUserIdForV3AndCommunityOtherwise) {
    Target a(brask::IpAddr("10.0.0.1"), 161);
    Target b(brask::IpAddr("10.0.0.1"), 161);
    a.SetUserId("alice");
    b.SetUserId("bob");
    EXPECT_TRUE(a == b);  // SNMPv1: user ids do not count
    b.SetCommunity("other");
    EXPECT_FALSE(a == b);

    a.SetVersion(snmp::SnmpVersionV3);
    b.SetUserId("alice");
    EXPECT_TRUE(a == b);  // SNMPv3: communities do not count
    b.SetContextName("ctx");
    EXPECT_FALSE(a == b);
    b.SetContextName("");
    b.SetPort(162);
    EXPECT_FALSE(a == b);
    b.SetPort(161);
    b.SetAddr(brask::IpAddr("10.0.0.2"));
    EXPECT_FALSE(a == b);
}

TEST(TargetTest, OrderingIsStrictWeakByAddressThenPort) {
    const Target lowAddrHighPort(brask::IpAddr("10.0.0.1"), 9999);
    const Target highAddrLowPort(brask::IpAddr("10.0.0.2"), 1);
    const Target same(brask::IpAddr("10.0.0.1"), 9999);
    EXPECT_TRUE(lowAddrHighPort < highAddrLowPort);
    EXPECT_FALSE(highAddrLowPort < lowAddrHighPort);  // ports decide only for equal addresses
    EXPECT_FALSE(lowAddrHighPort < same);
    EXPECT_FALSE(same < lowAddrHighPort);
    EXPECT_TRUE(Target(brask::IpAddr("10.0.0.1"), 1) < lowAddrHighPort);

    // Usable as a map key: every distinct (address, port) gets its own entry.
    std::map<Target, int> byTarget;
    byTarget[lowAddrHighPort] = 1;
    byTarget[highAddrLowPort] = 2;
    byTarget[Target(brask::IpAddr("10.0.0.1"), 1)] = 3;
    byTarget[same] = 4;
    EXPECT_EQ(byTarget.size(), 3U);
    EXPECT_EQ(byTarget[lowAddrHighPort], 4);
}

TEST(TargetTest, CalculateKeysLocalisesBothKeysWithTheAuthenticationHash) {
    struct Case {
        snmp::USMAuthProtocol auth;
        const char* localized;  // RFC 3414 A.3
    };
    for (const Case& c : {Case{snmp::USMAuthMD5, "526f5eed9fcce26f8964c2930787d82b"},
                          Case{snmp::USMAuthSHA1, "6695febc9288e36282235fc7151f128497b38f3f"}}) {
        SCOPED_TRACE(c.auth);
        Target t;
        t.SetVersion(snmp::SnmpVersionV3);
        auto* attributes = new USMAttributes(c.auth, snmp::USMPrivDES);
        attributes->SetAuthPass("maplesyrup");
        attributes->SetPrivPass("maplesyrup");
        t.SetSecAttributes(attributes);
        t.SetEngineId(sectest::RfcEngineId());
        ASSERT_TRUE(t.CalculateKeys());
        EXPECT_EQ(ToHex(t.AuthKey()), c.localized);
        EXPECT_EQ(ToHex(t.PrivKey()), c.localized);

        // An empty privacy password fails after the auth key is replaced.
        attributes->SetAuthPass("another password");
        attributes->SetPrivPass("");
        EXPECT_FALSE(t.CalculateKeys());
        EXPECT_NE(ToHex(t.AuthKey()), c.localized);
        EXPECT_EQ(ToHex(t.PrivKey()), c.localized);
    }

    Target noAuth;
    noAuth.SetSecAttributes(new USMAttributes(snmp::USMAuthNone, snmp::USMPrivDES));
    noAuth.SetEngineId(sectest::RfcEngineId());
    noAuth.SetAuthKey(Octets("aa"));
    noAuth.SetPrivKey(Octets("bb"));
    EXPECT_FALSE(noAuth.CalculateKeys());
    EXPECT_EQ(ToHex(noAuth.AuthKey()), "aa");
    EXPECT_EQ(ToHex(noAuth.PrivKey()), "bb");

    Target noEngine = sectest::MakeTarget("u", snmp::USMAuthMD5, snmp::USMPrivNone, OctetString());
    EXPECT_FALSE(noEngine.CalculateKeys());
    EXPECT_FALSE(Target().CalculateKeys());  // no attributes at all
}

TEST(TargetTest, PrivacyKeysAreAsLongAsTheHashOrTheCipherNeeds) {
    // The auth key is the hash output; the privacy key too, unless the
    // cipher needs more, when it is extended to exactly the cipher key.
    const unsigned int hashLength[] = {0, 0, 16, 20, 28, 32, 48, 64};
    const unsigned int cipherKey[] = {0, 0, 16, 16, 24, 32, 24, 32};
    for (int a = snmp::USMAuthMD5; a <= snmp::USMAuthSHA512; ++a) {
        const auto auth = static_cast<snmp::USMAuthProtocol>(a);
        const Target des = sectest::MakeTarget("u", auth, snmp::USMPrivDES, sectest::RfcEngineId());
        for (int p = snmp::USMPrivDES; p <= snmp::USMPrivAES256C; ++p) {
            SCOPED_TRACE(std::to_string(a) + "/" + std::to_string(p));
            const Target t = sectest::MakeTarget("u", auth, static_cast<snmp::USMPrivProtocol>(p),
                                                 sectest::RfcEngineId());
            EXPECT_EQ(t.AuthKey().Size(), hashLength[a]);
            EXPECT_EQ(t.PrivKey().Size(), std::max(hashLength[a], cipherKey[p]));
            // The first octets are the localised key in every case.
            EXPECT_EQ(OctetString(t.PrivKey().Data(), hashLength[a]), des.PrivKey());
        }
    }
}

Target FilledTarget(snmp::SnmpVersion version) {
    Target t = sectest::MakeTarget("carol", snmp::USMAuthSHA1, snmp::USMPrivDES,
                                   sectest::RfcEngineId(), 9, 900);
    t.SetVersion(version);
    t.SetAddr(brask::IpAddr("192.0.2.1"));
    t.SetPort(1161);
    t.SetCommunity("public");
    t.SetTimeout(7);
    t.SetRetries(2);
    t.SetGetBulk(false);
    t.SetContextName("ctx");
    t.SetUpdate(true);
    t.SetLastEngineTime(901);
    return t;
}

TEST(TargetTest, CopyAndAssignmentDifferAsDocumented) {
    {
        SCOPED_TRACE("SNMPv2c copy keeps no context name or security data");
        const Target v2 = FilledTarget(snmp::SnmpVersionV2c);
        const Target copy(v2);
        EXPECT_EQ(copy.Community(), "public");
        EXPECT_EQ(copy.Port(), 1161);
        EXPECT_EQ(copy.Timeout(), 7U);
        EXPECT_EQ(copy.Retries(), 2U);
        EXPECT_EQ(copy.ContextName(), "");
        EXPECT_EQ(copy.SecAttributes(), nullptr);
        EXPECT_EQ(copy.SecLevel(), snmp::SecLevelNoAuthNoPriv);
        EXPECT_TRUE(copy.EngineId().Empty());
        EXPECT_TRUE(copy.AuthKey().Empty());
    }
    {
        SCOPED_TRACE("SNMPv2c assignment copies the context name, keeps own security data");
        const Target v2 = FilledTarget(snmp::SnmpVersionV2c);
        Target left = sectest::MakeTarget("dave", snmp::USMAuthMD5, snmp::USMPrivNone,
                                          Octets("8000000002"), 1, 10);
        left = v2;
        EXPECT_EQ(left.ContextName(), "ctx");
        EXPECT_EQ(left.Community(), "public");
        EXPECT_EQ(left.Version(), snmp::SnmpVersionV2c);
        ASSERT_NE(left.SecAttributes(), nullptr);
        EXPECT_EQ(left.UserName(), "dave");
        EXPECT_EQ(ToHex(left.EngineId()), "8000000002");
        EXPECT_EQ(left.EngineBoots(), 1U);
    }
    {
        SCOPED_TRACE("SNMPv3 copy and assignment deep-copy the attributes");
        const Target v3 = FilledTarget(snmp::SnmpVersionV3);
        const Target copy(v3);
        Target assigned;
        assigned = v3;
        for (const Target* t : std::initializer_list<const Target*>{&copy, &assigned}) {
            ASSERT_NE(t->SecAttributes(), nullptr);
            EXPECT_NE(t->SecAttributes(), v3.SecAttributes());
            EXPECT_NE(t->SecAttributes()->Auth(), v3.SecAttributes()->Auth());
            EXPECT_EQ(t->UserId(), "carol");
            EXPECT_EQ(t->SecLevel(), snmp::SecLevelAuthPriv);
            EXPECT_EQ(t->EngineId(), v3.EngineId());
            EXPECT_EQ(t->EngineBoots(), 9U);
            EXPECT_EQ(t->EngineTime(), 900U);
            EXPECT_EQ(t->AuthKey(), v3.AuthKey());
            EXPECT_EQ(t->PrivKey(), v3.PrivKey());
            EXPECT_EQ(t->ContextName(), "ctx");
            EXPECT_EQ(t->LastEngineTime(), 901U);
            EXPECT_EQ(t->TimeStamp(), v3.TimeStamp());
            EXPECT_TRUE(t->Update());
        }
        // Self-assignment keeps the attributes alive.
        Target self = v3;
        const Target& alias = self;
        self = alias;
        ASSERT_NE(self.SecAttributes(), nullptr);
        EXPECT_EQ(self.UserName(), "carol");
    }
}

TEST(TargetTest, AttributeOwnershipAndUserName) {
    Target t;
    auto* first = new USMAttributes(snmp::USMAuthMD5, snmp::USMPrivNone);
    t.SetSecAttributes(first);
    t.SetSecAttributes(first);  // the same object again must not be deleted
    t.SetUserName("erin");
    EXPECT_EQ(first->UserName(), "erin");
    EXPECT_EQ(t.UserName(), "erin");
    // A replaced object is released (the sanitizer build catches a leak).
    t.SetSecAttributes(new USMAttributes(snmp::USMAuthNone, snmp::USMPrivNone));
    EXPECT_EQ(t.UserName(), "");

    Target bare;
    bare.SetUserName("frank");  // creates attributes to hold the name
    ASSERT_NE(bare.SecAttributes(), nullptr);
    EXPECT_EQ(bare.UserName(), "frank");
    EXPECT_EQ(bare.SecAttributes()->Auth(), nullptr);
}

TEST(UsmAttributesTest, ProtocolObjectsAndSecurityLevels) {
    struct Case {
        snmp::USMAuthProtocol auth;
        snmp::USMPrivProtocol priv;
        bool hasAuth;
        bool hasPriv;
        int level;
    };
    const Case cases[] = {
        {snmp::USMAuthMD5, snmp::USMPrivDES, true, true, 3},
        {snmp::USMAuthNone, snmp::USMPrivDES, false, true, 1},
        {snmp::USMAuthSHA1, snmp::USMPrivNone, true, false, 2},
        {snmp::USMAuthNone, snmp::USMPrivNone, false, false, 1},
        {snmp::USMAuthSHA384, snmp::USMPrivAES192C, true, true, 3},
        {snmp::USMAuthNone, snmp::USMPrivAES128, false, true, 1},
        {snmp::USMAuthSHA224, snmp::USMPrivNone, true, false, 2},
        {static_cast<snmp::USMAuthProtocol>(8), static_cast<snmp::USMPrivProtocol>(8), false, false,
         3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.auth) + "/" + std::to_string(c.priv));
        USMAttributes a(c.auth, c.priv);
        EXPECT_EQ(a.Auth() != nullptr, c.hasAuth);
        EXPECT_EQ(a.Priv() != nullptr, c.hasPriv);
        EXPECT_EQ(a.SecurityLevel(), c.level);
        EXPECT_EQ(a.SetAuthPass("secret-a"), c.hasAuth);
        EXPECT_EQ(a.SetPrivPass("secret-p"), c.hasPriv);
        EXPECT_TRUE(a.Active());
    }
    // Each value makes the object of its own protocol (their lengths are
    // checked with the protocols themselves).
    for (const sectest::AuthProtocol& p : sectest::AuthProtocols()) {
        EXPECT_EQ(USMAttributes(p.id, snmp::USMPrivNone).Auth()->KeyLength(), p.keyLength)
            << p.name;
    }
    EXPECT_NE(dynamic_cast<snmp::PrivAES192C*>(
                  USMAttributes(snmp::USMAuthNone, snmp::USMPrivAES192C).Priv()),
              nullptr);
}

TEST(UsmAttributesTest, CopyDropsKeyChangeValuesAssignmentKeepsThem) {
    USMAttributes source(snmp::USMAuthMD5, snmp::USMPrivDES);
    source.SetUserName("gina");
    source.SetUnknownUser("ghost");
    source.SetAuthPass("pa");
    source.SetPrivPass("pp");
    source.SetAuthKeyChange(Octets("0102"));
    source.SetPrivKeyChange(Octets("0304"));
    source.SetActive(false);
    source.SetKeyChange(true);

    const USMAttributes copy(source);
    USMAttributes assigned(snmp::USMAuthNone, snmp::USMPrivNone);
    assigned = source;
    for (const USMAttributes* a : std::initializer_list<const USMAttributes*>{&copy, &assigned}) {
        EXPECT_EQ(a->UserName(), "gina");
        EXPECT_EQ(a->UnknownUser(), "ghost");
        EXPECT_EQ(a->AuthPass(), "pa");
        EXPECT_EQ(a->PrivPass(), "pp");
        EXPECT_EQ(a->AuthProtocol(), snmp::USMAuthMD5);
        EXPECT_EQ(a->PrivProtocol(), snmp::USMPrivDES);
        EXPECT_FALSE(a->Active());
        EXPECT_TRUE(a->KeyChange());
        ASSERT_NE(a->Auth(), nullptr);
        ASSERT_NE(a->Priv(), nullptr);
        EXPECT_NE(a->Auth(), source.Auth());
        EXPECT_NE(a->Priv(), source.Priv());
    }
    EXPECT_TRUE(copy.AuthKeyChange().Empty());
    EXPECT_TRUE(copy.PrivKeyChange().Empty());
    EXPECT_EQ(ToHex(assigned.AuthKeyChange()), "0102");
    EXPECT_EQ(ToHex(assigned.PrivKeyChange()), "0304");

    // Assigning a user without protocols drops the protocol objects.
    assigned = USMAttributes(snmp::USMAuthNone, snmp::USMPrivNone);
    EXPECT_EQ(assigned.Auth(), nullptr);
    EXPECT_EQ(assigned.Priv(), nullptr);
}

TEST(UsmAttributesTest, KeyChangeRoundTripsBetweenRequestAndReceive) {
    // Every hash for the auth key; privacy keys longer than the hash (AES
    // extended, masked block by block) and as long as it.
    struct Case {
        snmp::USMAuthProtocol auth;
        snmp::USMPrivProtocol priv;
        bool privacyKey;
    };
    std::vector<Case> cases;
    for (int a = snmp::USMAuthMD5; a <= snmp::USMAuthSHA512; ++a)
        cases.push_back({static_cast<snmp::USMAuthProtocol>(a), snmp::USMPrivNone, false});
    cases.push_back({snmp::USMAuthMD5, snmp::USMPrivAES256, true});
    cases.push_back({snmp::USMAuthSHA1, snmp::USMPrivAES192C, true});
    cases.push_back({snmp::USMAuthSHA224, snmp::USMPrivAES256C, true});
    cases.push_back({snmp::USMAuthSHA256, snmp::USMPrivDES, true});
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.auth) + "/" + std::to_string(c.priv));
        USMAttributes user(c.auth, c.priv);
        Target t;
        t.SetSecAttributes(new USMAttributes(c.auth, c.priv));
        t.SecAttributes()->SetAuthPass("the old password");
        t.SecAttributes()->SetPrivPass("the old password");
        t.SetEngineId(sectest::RfcEngineId());
        ASSERT_TRUE(t.CalculateKeys());
        const OctetString oldKey = c.privacyKey ? t.PrivKey() : t.AuthKey();
        const unsigned int len = oldKey.Size();

        OctetString keyChange;
        ASSERT_TRUE(
            user.KeyChangeRequest(oldKey, "the new password", sectest::RfcEngineId(), keyChange));
        ASSERT_EQ(keyChange.Size(), 2 * len);
        // The new key never shows in the clear, not even past the hash length.
        const unsigned int hashLength = t.AuthKey().Size();

        // The key the new password gives, computed the ordinary way.
        t.SecAttributes()->SetAuthPass("the new password");
        t.SecAttributes()->SetPrivPass("the new password");
        ASSERT_TRUE(t.CalculateKeys());
        const OctetString expected = c.privacyKey ? t.PrivKey() : t.AuthKey();
        if (len > hashLength) {
            const OctetString tail(expected.Data() + hashLength, len - hashLength);
            const OctetString sentTail(keyChange.Data() + len + hashLength, len - hashLength);
            EXPECT_NE(tail, sentTail);
        }

        // The agent's side: from the old key and the KeyChange value.
        OctetString newKey = oldKey;
        ASSERT_TRUE(user.KeyChangeReceive(oldKey, keyChange, newKey));
        EXPECT_EQ(newKey, expected);

        // A shorter output is grown instead of written past its end.
        OctetString shortKey = Octets("00");
        ASSERT_TRUE(user.KeyChangeReceive(oldKey, keyChange, shortKey));
        EXPECT_EQ(shortKey, expected);

        // Wrong lengths and missing inputs fail and leave the output alone.
        OctetString untouched = Octets("55");
        EXPECT_FALSE(
            user.KeyChangeReceive(oldKey, OctetString(keyChange.Data(), 2 * len - 1), untouched));
        EXPECT_FALSE(user.KeyChangeReceive(OctetString(), keyChange, untouched));
        EXPECT_FALSE(user.KeyChangeRequest(oldKey, "", sectest::RfcEngineId(), untouched));
        EXPECT_FALSE(user.KeyChangeRequest(oldKey, "p", OctetString(), untouched));
        EXPECT_FALSE(user.KeyChangeRequest(OctetString(), "p", sectest::RfcEngineId(), untouched));
        EXPECT_EQ(ToHex(untouched), "55");

        // The random component is fresh for every request.
        OctetString second;
        ASSERT_TRUE(
            user.KeyChangeRequest(oldKey, "the new password", sectest::RfcEngineId(), second));
        EXPECT_NE(OctetString(second.Data(), len), OctetString(keyChange.Data(), len));
        OctetString fromSecond = oldKey;
        ASSERT_TRUE(user.KeyChangeReceive(oldKey, second, fromSecond));
        EXPECT_EQ(fromSecond, expected);
    }

    const USMAttributes noAuth(snmp::USMAuthNone, snmp::USMPrivNone);
    OctetString out;
    EXPECT_FALSE(noAuth.KeyChangeRequest(Octets("00112233445566778899aabbccddeeff"), "p",
                                         sectest::RfcEngineId(), out));
    EXPECT_FALSE(noAuth.KeyChangeReceive(Octets("00112233"), Octets("0011223344556677"), out));
}

}  // namespace
