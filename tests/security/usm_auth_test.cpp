// Tests of the USM authentication protocols: RFC 3414 key derivation and
// localisation vectors, preconditions, and digests checked against OpenSSL's
// one-shot HMAC.
#include "snmp/security/usm_auth.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <memory>
#include <string>
#include <vector>

#include "security_test_support.h"

namespace {

using sectest::Octets;
using sectest::ToHex;
using snmp::OctetString;

struct Protocol {
    const char* name;
    std::unique_ptr<snmp::USMAuth> (*make)();
    const EVP_MD* (*md)();
    unsigned int keyLength;
    const char* ku;         // RFC 3414 A.3 for "maplesyrup"
    const char* localized;  // ... localised to engine 00..02
};

std::vector<Protocol> Protocols() {
    return {
        {"MD5", [] { return std::unique_ptr<snmp::USMAuth>(new snmp::AuthMD5); }, EVP_md5, 16,
         "9faf3283884e92834ebc9847d8edd963", "526f5eed9fcce26f8964c2930787d82b"},
        {"SHA1", [] { return std::unique_ptr<snmp::USMAuth>(new snmp::AuthSHA1); }, EVP_sha1, 20,
         "9fb5cc0381497b3793528939ff788d5d79145211", "6695febc9288e36282235fc7151f128497b38f3f"},
    };
}

TEST(UsmAuthTest, ReproducesRfc3414PasswordToKeyAndLocalisationVectors) {
    for (const Protocol& p : Protocols()) {
        SCOPED_TRACE(p.name);
        auto auth = p.make();
        EXPECT_EQ(auth->KeyLength(), p.keyLength);
        EXPECT_EQ(auth->DigestLength(), 12U);
        OctetString ku;
        ASSERT_TRUE(auth->PasswordToKey("maplesyrup", ku));
        EXPECT_EQ(ToHex(ku), p.ku);
        OctetString kul;
        ASSERT_TRUE(auth->LocalizeKey(sectest::RfcEngineId(), ku, kul));
        EXPECT_EQ(ToHex(kul), p.localized);
        // The member contexts are reused: a second derivation gives the same key.
        OctetString again;
        ASSERT_TRUE(auth->PasswordToKey("maplesyrup", again));
        EXPECT_EQ(again, ku);
    }
}

TEST(UsmAuthTest, OneCharacterPasswordIsRepeatedOverOneMebibyte) {
    for (const Protocol& p : Protocols()) {
        SCOPED_TRACE(p.name);
        const std::vector<unsigned char> expanded(1048576, 'x');
        unsigned char expected[EVP_MAX_MD_SIZE];
        unsigned int expectedLen = 0;
        ASSERT_EQ(
            EVP_Digest(expanded.data(), expanded.size(), expected, &expectedLen, p.md(), nullptr),
            1);
        OctetString key;
        ASSERT_TRUE(p.make()->PasswordToKey("x", key));
        EXPECT_EQ(ToHex(key), ToHex(expected, expectedLen));
    }
}

TEST(UsmAuthTest, PreconditionFailuresLeaveOutputsUnchanged) {
    for (const Protocol& p : Protocols()) {
        SCOPED_TRACE(p.name);
        auto auth = p.make();
        OctetString out = Octets("abcdef");
        EXPECT_FALSE(auth->PasswordToKey("", out));
        EXPECT_EQ(ToHex(out), "abcdef");

        const OctetString shortKey(std::string(p.keyLength - 1, 'k'));
        const OctetString longKey(std::string(p.keyLength + 1, 'k'));
        const OctetString goodKey(std::string(p.keyLength, 'k'));
        EXPECT_FALSE(auth->LocalizeKey(sectest::RfcEngineId(), shortKey, out));
        EXPECT_FALSE(auth->LocalizeKey(sectest::RfcEngineId(), longKey, out));
        EXPECT_FALSE(auth->LocalizeKey(OctetString(), goodKey, out));
        EXPECT_EQ(ToHex(out), "abcdef");

        std::vector<unsigned char> buffer(40, 0xAB);
        EXPECT_FALSE(
            auth->VerifyDigest(shortKey, OctetString(std::string(12, 'd')), buffer.data(), 40, 10));
        EXPECT_EQ(buffer, std::vector<unsigned char>(40, 0xAB));

        // Key change needs at least `len` octets of key.
        const unsigned char random[32] = {};
        EXPECT_FALSE(auth->KeyChangeDigest(shortKey, out, random, p.keyLength));
        EXPECT_EQ(ToHex(out), "abcdef");
    }
    // Key lengths are per protocol: a 16-octet key is wrong for SHA-1.
    snmp::AuthSHA1 sha;
    OctetString out;
    EXPECT_FALSE(sha.LocalizeKey(sectest::RfcEngineId(), OctetString(std::string(16, 'k')), out));
}

TEST(UsmAuthTest, LocalizeKeyHashesEngineIdsOfAnyLength) {
    // Regression: a fixed working buffer of 2 x L + 32 octets overflowed for
    // engine ids longer than 32 octets. The whole id must be hashed.
    for (const Protocol& p : Protocols()) {
        SCOPED_TRACE(p.name);
        auto auth = p.make();
        const OctetString key(std::string(p.keyLength, 'k'));
        for (unsigned int length : {1U, 32U, 33U, 200U, 5000U}) {
            SCOPED_TRACE(length);
            std::string id(length, '\x5a');
            OctetString localized;
            ASSERT_TRUE(auth->LocalizeKey(OctetString(id), key, localized));
            const std::string joined =
                std::string(p.keyLength, 'k') + id + std::string(p.keyLength, 'k');
            unsigned char expected[EVP_MAX_MD_SIZE];
            unsigned int expectedLen = 0;
            ASSERT_EQ(
                EVP_Digest(joined.data(), joined.size(), expected, &expectedLen, p.md(), nullptr),
                1);
            EXPECT_EQ(ToHex(localized), ToHex(expected, expectedLen));
        }
    }
}

TEST(UsmAuthTest, VerifyDigestZeroesTheFieldAndComparesWithHmac96) {
    for (const Protocol& p : Protocols()) {
        SCOPED_TRACE(p.name);
        auto auth = p.make();
        const OctetString key = Octets(p.localized);
        std::vector<unsigned char> msg(64);
        for (size_t i = 0; i < msg.size(); ++i) msg[i] = static_cast<unsigned char>(i * 7 + 1);
        const unsigned int offset = 20;

        // The reference: HMAC over the message with the field zeroed.
        std::vector<unsigned char> zeroed = msg;
        std::fill(zeroed.begin() + offset, zeroed.begin() + offset + 12, 0);
        unsigned char mac[EVP_MAX_MD_SIZE];
        unsigned int macLen = 0;
        ASSERT_NE(HMAC(p.md(), key.Data(), static_cast<int>(key.Size()), zeroed.data(),
                       zeroed.size(), mac, &macLen),
                  nullptr);
        const OctetString good(mac, 12);

        std::vector<unsigned char> buffer = msg;
        EXPECT_TRUE(auth->VerifyDigest(key, good, buffer.data(), 64, offset));
        EXPECT_EQ(buffer, zeroed);

        // A wrong digest fails, and the field is zeroed all the same.
        OctetString bad = good;
        bad[11] ^= 0x01;
        buffer = msg;
        EXPECT_FALSE(auth->VerifyDigest(key, bad, buffer.data(), 64, offset));
        EXPECT_EQ(buffer, zeroed);

        // A digest of another length fails before anything is written.
        buffer = msg;
        EXPECT_FALSE(auth->VerifyDigest(key, OctetString(mac, 11), buffer.data(), 64, offset));
        EXPECT_FALSE(auth->VerifyDigest(key, OctetString(mac, 13), buffer.data(), 64, offset));
        EXPECT_EQ(buffer, msg);

        // A field reaching past the message is refused without a write.
        EXPECT_FALSE(auth->VerifyDigest(key, good, buffer.data(), 64, 53));
        EXPECT_FALSE(auth->VerifyDigest(key, good, buffer.data(), 64, 0xFFFFFFF8U));
        EXPECT_EQ(buffer, msg);
    }
}

TEST(UsmAuthTest, KeyChangeDigestHashesKeyPrefixThenRandom) {
    for (const Protocol& p : Protocols()) {
        SCOPED_TRACE(p.name);
        auto auth = p.make();
        const OctetString key(std::string(p.keyLength, 'K'));
        const std::string random(p.keyLength, 'R');
        OctetString digest = Octets("00");
        ASSERT_TRUE(auth->KeyChangeDigest(
            key, digest, reinterpret_cast<const unsigned char*>(random.data()), 8));
        const std::string joined = std::string(8, 'K') + std::string(8, 'R');
        unsigned char expected[EVP_MAX_MD_SIZE];
        unsigned int expectedLen = 0;
        ASSERT_EQ(EVP_Digest(joined.data(), joined.size(), expected, &expectedLen, p.md(), nullptr),
                  1);
        EXPECT_EQ(ToHex(digest), ToHex(expected, expectedLen));
    }
}

}  // namespace
