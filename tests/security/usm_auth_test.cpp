// Tests of the USM authentication protocols, all of them from one table: key derivation and
// localisation vectors, and digests of every length checked against OpenSSL's one-shot HMAC.
#include "snmp/security/usm_auth.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <memory>
#include <string>
#include <vector>

#include "security_test_support.h"

namespace {

using namespace sectest;
using snmp::OctetString;

struct Protocol {
    const AuthProtocol& info;
    std::unique_ptr<snmp::USMAuth> (*make)();
    const char* ku;         // "maplesyrup" through password-to-key
    const char* localized;  // ... localised to engine 00..02
    const char* name() const { return info.name; }
    const EVP_MD* md() const { return info.md(); }
};

template <typename T>
std::unique_ptr<snmp::USMAuth> Make() {
    return std::make_unique<T>();
}

// MD5 and SHA-1: RFC 3414 A.3. SHA-2: the same inputs through Python's
// hashlib, an implementation independent of ours and of OpenSSL's EVP.
std::vector<Protocol> Protocols() {
    const auto info = AuthProtocolOf;
    return {
        {info(snmp::USMAuthMD5), Make<snmp::AuthMD5>, "9faf3283884e92834ebc9847d8edd963",
         "526f5eed9fcce26f8964c2930787d82b"},
        {info(snmp::USMAuthSHA1), Make<snmp::AuthSHA1>, "9fb5cc0381497b3793528939ff788d5d79145211",
         "6695febc9288e36282235fc7151f128497b38f3f"},
        {info(snmp::USMAuthSHA224), Make<snmp::AuthSHA224>,
         "282a5867ee9aac639ad59df9572c7d3ac0fbc13a905b6df07dbbf00b",
         "0bd8827c6e29f8065e08e09237f177e410f69b90e1782be682075674"},
        {info(snmp::USMAuthSHA256), Make<snmp::AuthSHA256>,
         "ab51014d1e077f6017df2b12bee5f5aa72993177e9bb569c4dff5a4ca0b4afac",
         "8982e0e549e866db361a6b625d84cccc11162d453ee8ce3a6445c2d6776f0f8b"},
        {info(snmp::USMAuthSHA384), Make<snmp::AuthSHA384>,
         "e06eccdf2c68a06ed034723c9c26e0db3b669e1e2efed49150b55377a2e98f383c86fb836857444654b287c9"
         "3f51ff64",
         "3b298f16164a11184279d5432bf169e2d2a48307de02b3d3f7e2b4f36eb6f0455a53689a3937eea07319a633"
         "d2ccba78"},
        {info(snmp::USMAuthSHA512), Make<snmp::AuthSHA512>,
         "7e4396de5aadc77be853819b98c9406265b3a9c37cc3176569847a4e4f6fba63dd3a73d04924d31a63f95a60"
         "1f9385af6be4ed1b37f87d040f7c6ed6f8d38a91",
         "22a5a36cedfcc085807a128d7bc6c2382167ad6c0dbc5fdff856740f3d84c099ad1ea87a8db096714d9788bd"
         "544047c9021e4229ce27e4c0a69250adfcffbb0b"},
    };
}

TEST(UsmAuthTest, ReproducesPasswordToKeyAndLocalisationVectors) {
    for (const Protocol& p : Protocols()) {
        SCOPED_TRACE(p.name());
        auto auth = p.make();
        EXPECT_EQ(auth->KeyLength(), p.info.keyLength);
        EXPECT_EQ(auth->DigestLength(), p.info.macLength);
        OctetString ku;
        ASSERT_TRUE(auth->PasswordToKey("maplesyrup", ku));
        EXPECT_EQ(ToHex(ku), p.ku);
        OctetString kul;
        ASSERT_TRUE(auth->LocalizeKey(kRfcEngineId, ku, kul));
        EXPECT_EQ(ToHex(kul), p.localized);
        // The member contexts are reused: a second derivation gives the same key.
        OctetString again;
        ASSERT_TRUE(auth->PasswordToKey("maplesyrup", again));
        EXPECT_EQ(again, ku);
    }
}

TEST(UsmAuthTest, VerifyDigestZeroesTheFieldAndComparesWithTheTruncatedHmac) {
    for (const Protocol& p : Protocols()) {
        SCOPED_TRACE(p.name());
        auto auth = p.make();
        const unsigned int n = p.info.macLength;
        const OctetString key = Octets(p.localized);
        Bytes msg(128);
        for (size_t i = 0; i < msg.size(); ++i) msg[i] = static_cast<unsigned char>(i * 7 + 1);
        const auto size = static_cast<unsigned int>(msg.size());
        const unsigned int offset = 20;

        // The reference: the whole HMAC over the message with the field zeroed.
        Bytes zeroed = msg;
        std::fill(zeroed.begin() + offset, zeroed.begin() + offset + n, 0);
        const unsigned int macLen = EVP_MD_get_size(p.md());
        const OctetString mac = Octets(HmacHex(p.md(), key, zeroed, macLen));
        const OctetString good(mac.Data(), n);

        Bytes buffer = msg;
        EXPECT_TRUE(auth->VerifyDigest(key, good, buffer.data(), size, offset));
        EXPECT_EQ(buffer, zeroed);

        // A wrong last octet fails, and the field is zeroed all the same.
        OctetString bad = good;
        bad[static_cast<int>(n - 1)] ^= 0x01;
        buffer = msg;
        EXPECT_FALSE(auth->VerifyDigest(key, bad, buffer.data(), size, offset));
        EXPECT_EQ(buffer, zeroed);

        // A digest of another length fails before anything is written, also when it is a correct
        // prefix (the 12 octets an old protocol would send) or the whole HMAC.
        buffer = msg;
        for (unsigned int length : {n - 1, n + 1, 12U, macLen}) {
            if (length == n) continue;
            SCOPED_TRACE(length);
            EXPECT_FALSE(auth->VerifyDigest(key, OctetString(mac.Data(), length), buffer.data(),
                                            size, offset));
        }
        EXPECT_EQ(buffer, msg);

        // A field reaching past the message is refused without a write.
        EXPECT_FALSE(auth->VerifyDigest(key, good, buffer.data(), size, size - n + 1));
        EXPECT_FALSE(auth->VerifyDigest(key, good, buffer.data(), size, 0xFFFFFFF8U));
        EXPECT_EQ(buffer, msg);
    }
}

}  // namespace
