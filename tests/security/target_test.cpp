// Tests of Target and USMAttributes: equality and ordering, key calculation and the RFC 3414 key
// change. The key of every protocol pair is checked against net-snmp's in netsnmp_capture_test.
#include "snmp/target.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "security_test_support.h"
#include "snmp/usm_attributes.h"

namespace {

using namespace sectest;
using namespace snmp;

TEST(TargetTest, EqualityAndOrderingOfTargets) {
    // Equal targets: address, port, context, and the user id for SNMPv3 or the community otherwise.
    Target a(brask::IpAddr("10.0.0.1"), 161);
    Target b(a);
    b.SetUserId("bob");
    EXPECT_TRUE(a == b);  // SNMPv1: user ids do not count
    b.SetCommunity("other");
    EXPECT_FALSE(a == b);
    a.SetVersion(SnmpVersionV3);
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
}

TEST(TargetTest, CalculateKeysLocalisesBothKeysAndFailsWithoutTheirInputs) {
    // RFC 3414 A.3: "maplesyrup" localised to engine 00..02 with MD5.
    const char* const kLocalized = "526f5eed9fcce26f8964c2930787d82b";
    Target t =
        MakeTarget("u", USMAuthMD5, USMPrivDES, kRfcEngineId, 0, 0, "maplesyrup", "maplesyrup");
    EXPECT_EQ(ToHex(t.AuthKey()) + ToHex(t.PrivKey()), std::string(kLocalized) + kLocalized);
    // An empty privacy password fails after the auth key is replaced.
    t.SecAttributes()->SetAuthPass("another password");
    t.SecAttributes()->SetPrivPass("");
    EXPECT_FALSE(t.CalculateKeys());
    EXPECT_NE(ToHex(t.AuthKey()), kLocalized);
    EXPECT_EQ(ToHex(t.PrivKey()), kLocalized);

    Target noAuth;
    noAuth.SetSecAttributes(new USMAttributes(USMAuthNone, USMPrivDES));
    noAuth.SetEngineId(kRfcEngineId);
    noAuth.SetAuthKey(Octets("aa"));
    noAuth.SetPrivKey(Octets("bb"));
    EXPECT_FALSE(noAuth.CalculateKeys());
    EXPECT_EQ(ToHex(noAuth.AuthKey()) + ToHex(noAuth.PrivKey()), "aabb");
    Target noEngine = MakeTarget("u", USMAuthMD5, USMPrivNone, OctetString());
    EXPECT_FALSE(noEngine.CalculateKeys());
    EXPECT_FALSE(Target().CalculateKeys());  // no attributes at all
}

TEST(UsmAttributesTest, KeyChangeRoundTripsBetweenRequestAndReceive) {
    // Auth keys of the shortest and longest hash; privacy keys longer than the hash (AES
    // extended, masked block by block) and as long as it.
    const struct {
        USMAuthProtocol auth;
        USMPrivProtocol priv;
    } cases[] = {{USMAuthMD5, USMPrivNone},
                 {USMAuthSHA512, USMPrivNone},
                 {USMAuthMD5, USMPrivAES256},
                 {USMAuthSHA1, USMPrivAES192C},
                 {USMAuthSHA256, USMPrivDES}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.auth) + "/" + std::to_string(c.priv));
        const USMAttributes user(c.auth, c.priv);
        const auto keyOf = [&c](const std::string& password) {
            const Target t =
                MakeTarget("u", c.auth, c.priv, kRfcEngineId, 0, 0, password, password);
            return c.priv != USMPrivNone ? t.PrivKey() : t.AuthKey();
        };
        const OctetString oldKey = keyOf("the old password");
        const OctetString expected = keyOf("the new password");
        const unsigned int len = oldKey.Size();
        const unsigned int hashLength = AuthProtocolOf(c.auth).keyLength;

        OctetString keyChange;
        ASSERT_TRUE(user.KeyChangeRequest(oldKey, "the new password", kRfcEngineId, keyChange));
        ASSERT_EQ(keyChange.Size(), 2 * len);
        // The new key never shows in the clear, not even past the hash length.
        if (len > hashLength) {
            EXPECT_NE(OctetString(expected.Data() + hashLength, len - hashLength),
                      OctetString(keyChange.Data() + len + hashLength, len - hashLength));
        }
        // The agent's side, from the old key; a shorter output is grown, not overrun.
        for (OctetString newKey : {oldKey, Octets("00")}) {
            ASSERT_TRUE(user.KeyChangeReceive(oldKey, keyChange, newKey));
            EXPECT_EQ(newKey, expected);
        }
        // Wrong lengths and missing inputs fail and leave the output alone.
        OctetString untouched = Octets("55");
        EXPECT_FALSE(
            user.KeyChangeReceive(oldKey, OctetString(keyChange.Data(), 2 * len - 1), untouched));
        EXPECT_FALSE(user.KeyChangeReceive(OctetString(), keyChange, untouched));
        EXPECT_FALSE(user.KeyChangeRequest(oldKey, "", kRfcEngineId, untouched));
        EXPECT_FALSE(user.KeyChangeRequest(oldKey, "p", OctetString(), untouched));
        EXPECT_FALSE(user.KeyChangeRequest(OctetString(), "p", kRfcEngineId, untouched));
        EXPECT_EQ(ToHex(untouched), "55");
        // The random component is fresh for every request.
        OctetString second;
        ASSERT_TRUE(user.KeyChangeRequest(oldKey, "the new password", kRfcEngineId, second));
        EXPECT_NE(OctetString(second.Data(), len), OctetString(keyChange.Data(), len));
        ASSERT_TRUE(user.KeyChangeReceive(oldKey, second, untouched));
        EXPECT_EQ(untouched, expected);
    }
    const USMAttributes noAuth(USMAuthNone, USMPrivNone);
    OctetString out;
    EXPECT_FALSE(noAuth.KeyChangeRequest(Octets("00112233445566778899aabbccddeeff"), "p",
                                         kRfcEngineId, out));
    EXPECT_FALSE(noAuth.KeyChangeReceive(Octets("00112233"), Octets("0011223344556677"), out));
}

}  // namespace
