// Tests of Target and USMAttributes: key calculation, ordering, and
// the RFC 3414 key change.
#include "snmp/target.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "security_test_support.h"
#include "snmp/init.h"
#include "snmp/security/usm_auth.h"
#include "snmp/security/usm_priv.h"
#include "snmp/target_lookup.h"
#include "snmp/usm_attributes.h"

namespace {

using namespace sectest;
using snmp::OctetString;
using snmp::Target;
using snmp::USMAttributes;

TEST(TargetTest, EqualityAndOrderingOfTargets) {
    // Equal targets: address, port, context, and the user id for SNMPv3 or the
    // community otherwise.
    Target a(brask::IpAddr("10.0.0.1"), 161);
    Target b(a);
    b.SetUserId("bob");
    EXPECT_TRUE(a == b);  // SNMPv1: user ids do not count
    b.SetCommunity("other");
    EXPECT_FALSE(a == b);
    a.SetVersion(snmp::SnmpVersionV3);
    EXPECT_FALSE(a == b);
    b.SetUserId("");
    EXPECT_TRUE(a == b);  // SNMPv3: communities do not count
    for (const auto& edit : std::vector<std::function<void(Target&)>>{
             [](Target& t) { t.SetContextName("ctx"); }, [](Target& t) { t.SetPort(162); },
             [](Target& t) { t.SetAddr(brask::IpAddr("10.0.0.2")); }}) {
        Target c(a);
        edit(c);
        EXPECT_FALSE(a == c);
    }

    // Ordered by address, then port: a strict weak order, usable as a map key.
    const Target t1(brask::IpAddr("10.0.0.1"), 1);
    const Target t2(brask::IpAddr("10.0.0.1"), 9999);
    const Target t3(brask::IpAddr("10.0.0.2"), 1);
    EXPECT_TRUE(t1 < t2 && t2 < t3 && t1 < t3);
    EXPECT_FALSE(t3 < t2 || t2 < t1 || t2 < Target(t2));
    std::map<Target, int> byTarget{{t2, 1}, {t3, 2}, {t1, 3}};
    byTarget[Target(brask::IpAddr("10.0.0.1"), 9999)] = 4;
    EXPECT_EQ(byTarget.size(), 3U);
    EXPECT_EQ(byTarget[t2], 4);
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
        t.SetEngineId(RfcEngineId());
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
    noAuth.SetEngineId(RfcEngineId());
    noAuth.SetAuthKey(Octets("aa"));
    noAuth.SetPrivKey(Octets("bb"));
    EXPECT_FALSE(noAuth.CalculateKeys());
    EXPECT_EQ(ToHex(noAuth.AuthKey()), "aa");
    EXPECT_EQ(ToHex(noAuth.PrivKey()), "bb");

    Target noEngine = MakeTarget("u", snmp::USMAuthMD5, snmp::USMPrivNone, OctetString());
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
        const Target des = MakeTarget("u", auth, snmp::USMPrivDES, RfcEngineId());
        for (int p = snmp::USMPrivDES; p <= snmp::USMPrivAES256C; ++p) {
            SCOPED_TRACE(std::to_string(a) + "/" + std::to_string(p));
            const Target t =
                MakeTarget("u", auth, static_cast<snmp::USMPrivProtocol>(p), RfcEngineId());
            EXPECT_EQ(t.AuthKey().Size(), hashLength[a]);
            EXPECT_EQ(t.PrivKey().Size(), std::max(hashLength[a], cipherKey[p]));
            // The first octets are the localised key in every case.
            EXPECT_EQ(OctetString(t.PrivKey().Data(), hashLength[a]), des.PrivKey());
        }
    }
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
        t.SetEngineId(RfcEngineId());
        ASSERT_TRUE(t.CalculateKeys());
        const OctetString oldKey = c.privacyKey ? t.PrivKey() : t.AuthKey();
        const unsigned int len = oldKey.Size();

        OctetString keyChange;
        ASSERT_TRUE(user.KeyChangeRequest(oldKey, "the new password", RfcEngineId(), keyChange));
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
        EXPECT_FALSE(user.KeyChangeRequest(oldKey, "", RfcEngineId(), untouched));
        EXPECT_FALSE(user.KeyChangeRequest(oldKey, "p", OctetString(), untouched));
        EXPECT_FALSE(user.KeyChangeRequest(OctetString(), "p", RfcEngineId(), untouched));
        EXPECT_EQ(ToHex(untouched), "55");

        // The random component is fresh for every request.
        OctetString second;
        ASSERT_TRUE(user.KeyChangeRequest(oldKey, "the new password", RfcEngineId(), second));
        EXPECT_NE(OctetString(second.Data(), len), OctetString(keyChange.Data(), len));
        OctetString fromSecond = oldKey;
        ASSERT_TRUE(user.KeyChangeReceive(oldKey, second, fromSecond));
        EXPECT_EQ(fromSecond, expected);
    }

    const USMAttributes noAuth(snmp::USMAuthNone, snmp::USMPrivNone);
    OctetString out;
    EXPECT_FALSE(noAuth.KeyChangeRequest(Octets("00112233445566778899aabbccddeeff"), "p",
                                         RfcEngineId(), out));
    EXPECT_FALSE(noAuth.KeyChangeReceive(Octets("00112233"), Octets("0011223344556677"), out));
}

}  // namespace
