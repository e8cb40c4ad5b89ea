// Tests of the privacy protocols (CBC-DES and the CFB128-AES family) from one table: padding, salts
// and IVs against OpenSSL's one-shot ciphers, framing checks, bounds of the received element, salt
// uniqueness across objects, and encryption bounds.
#include "snmp/security/usm_priv.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "security_test_support.h"
#include "snmp/message.h"
#include "snmp/security/crypto_cache.h"
#include "snmp/security/usm.h"

namespace {

using namespace sectest;
using snmp::OctetString;

// 32 octets: enough for every cipher; DES uses 16, AES-128 16, AES-192 24.
const OctetString kKey = Octets("0102030405060708a1a2a3a4a5a6a7a8b1b2b3b4b5b6b7b8c1c2c3c4c5c6c7c8");

struct Protocol {
    const char* name;
    std::unique_ptr<snmp::USMPriv> (*make)();
    const char* cipher;  // OpenSSL's name, for the reference
    unsigned int keyLength;
    bool padded;  // CBC with padding, else CFB without
};

template <typename T>
std::unique_ptr<snmp::USMPriv> Make() {
    return std::make_unique<T>();
}

std::vector<Protocol> Protocols() {
    return {
        {"DES", Make<snmp::PrivDES>, "DES-CBC", 16, true},
        {"AES128", Make<snmp::PrivAES128>, "AES-128-CFB", 16, false},
        {"AES192", Make<snmp::PrivAES192>, "AES-192-CFB", 24, false},
        {"AES256", Make<snmp::PrivAES256>, "AES-256-CFB", 32, false},
        {"AES192C", Make<snmp::PrivAES192C>, "AES-192-CFB", 24, false},
        {"AES256C", Make<snmp::PrivAES256C>, "AES-256-CFB", 32, false},
    };
}

// The IV the protocol must have used for `salt`: DES XORs the pre-IV (key
// octets 8-15) with it, AES puts boots and engine time in front of it.
Bytes ExpectedIv(const Protocol& p, const OctetString& key, const OctetString& salt,
                 unsigned int boots, unsigned int engineTime) {
    Bytes iv;
    if (p.padded) {
        for (int i = 0; i < 8; ++i) iv.push_back(key[8 + i] ^ salt[i]);
        return iv;
    }
    for (unsigned int v : {boots, engineTime})
        for (int shift = 24; shift >= 0; shift -= 8)
            iv.push_back(static_cast<unsigned char>(v >> shift));
    iv.insert(iv.end(), salt.Data(), salt.Data() + salt.Size());
    return iv;
}

// OpenSSL's one-shot encryption, from the library's own context (DES-CBC
// is legacy, which the host's default context does not offer).
Bytes ReferenceEncrypt(const Protocol& p, const OctetString& key, const Bytes& iv,
                       const Bytes& plain) {
    const EVP_CIPHER* cipher = snmp::detail::CachedCipher(p.cipher);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(plain.size() + 16);
    int length = 0;
    int finalLength = 0;
    const bool ok = cipher != nullptr && ctx != nullptr &&
                    EVP_EncryptInit_ex2(ctx, cipher, key.Data(), iv.data(), nullptr) == 1 &&
                    EVP_EncryptUpdate(ctx, out.data(), &length, plain.data(),
                                      static_cast<int>(plain.size())) == 1 &&
                    EVP_EncryptFinal_ex(ctx, out.data() + length, &finalLength) == 1;
    EVP_CIPHER_CTX_free(ctx);
    out.resize(ok ? static_cast<size_t>(length + finalLength) : 0);
    return out;
}

// A message whose encode buffer holds a plaintext scoped PDU split over the
// three pieces the privacy protocol reads.
class PlainMessage {
public:
    PlainMessage(const Bytes& plain, unsigned int boots, unsigned int engineTime = 1234)
        : lookup_(snmp::TypeClient), buf_(snmp::Message::AllocEnc()) {
        msg_.SetEnc(buf_);
        msg_.InitSecurity(&lookup_);
        msg_.SecAttributes()->SetEngineBoots(boots);
        msg_.SecAttributes()->SetEngineTime(engineTime);
        // Split the plaintext over the three pieces of the record; the PDU
        // header piece has a small inline area.
        const size_t pdu = std::min<size_t>(plain.size() / 3, 40);
        const size_t scoped = (plain.size() - pdu) / 2;
        Fill(buf_->scopedHeader, plain.data(), scoped);
        Fill(buf_->pduHeader, plain.data() + scoped, pdu);
        Fill(buf_->varBinds, plain.data() + scoped + pdu, plain.size() - scoped - pdu);
        varBindsLength_ = static_cast<unsigned int>(plain.size() - scoped - pdu);
    }
    ~PlainMessage() {
        // The message lets go of the record before it is released.
        msg_.SetEnc(nullptr);
        snmp::Message::FreeEnc(buf_);
    }
    PlainMessage(const PlainMessage&) = delete;
    PlainMessage& operator=(const PlainMessage&) = delete;

    const snmp::Message& msg() const { return msg_; }
    unsigned int varBindsLength() const { return varBindsLength_; }
    snmp::MsgEncBuf& buf() { return *buf_; }

    // The encrypted OCTET STRING element.
    Bytes Element() const {
        return Bytes(buf_->encryptedPdu.start,
                     buf_->encryptedPdu.start + buf_->encryptedPdu.length);
    }

private:
    static void Fill(snmp::MsgEncPiece& piece, const unsigned char* data, size_t size) {
        ASSERT_LE(size + 5, piece.capacity);
        piece.start = piece.buffer + 5;
        if (size != 0) std::memcpy(piece.start, data, size);
        piece.length = static_cast<unsigned int>(size);
    }

    RecordingLookup lookup_;
    snmp::MsgEncBuf* buf_;
    snmp::Message msg_;
    unsigned int varBindsLength_ = 0;
};

// A SEQUENCE of `content` octets, as a scoped PDU is.
Bytes Sequence(unsigned int content) {
    Bytes out = {0x30, static_cast<unsigned char>(content)};
    for (unsigned int i = 0; i < content; ++i) out.push_back(static_cast<unsigned char>(i));
    return out;
}

// Also: Encrypt refuses keys too short and a plaintext that passes the message-size test but
// whose ciphertext would not fit the MaxEnc() octets of its buffer (it goes 5 octets in).
TEST(UsmPrivTest, EncryptMatchesOpenSslAndDecryptRestoresThePlaintextOrRefusesToOverrun) {
    for (const Protocol& p : Protocols()) {
        SCOPED_TRACE(p.name);
        auto priv = p.make();
        EXPECT_EQ(priv->KeyLength(), p.keyLength);
        PlainMessage small(Sequence(20), 1);
        OctetString untouched = Octets("aa");
        EXPECT_FALSE(
            priv->Encrypt(OctetString(kKey.Data(), p.keyLength - 1), small.msg(), untouched));
        EXPECT_EQ(ToHex(untouched), "aa");
        EXPECT_EQ(small.buf().varBinds.length, small.varBindsLength());
        PlainMessage big(Bytes(snmp::Message::MaxEnc() - (p.padded ? 8 : 2), 0x42), 1);
        EXPECT_FALSE(priv->Encrypt(kKey, big.msg(), untouched));
        EXPECT_EQ(big.buf().varBinds.length, big.varBindsLength());
        for (unsigned int content : {0U, 6U, 14U, 15U, 60U, 126U}) {
            SCOPED_TRACE(content);
            const Bytes plain = Sequence(content);
            PlainMessage pm(plain, 7, 1234);
            OctetString salt;
            ASSERT_TRUE(priv->Encrypt(kKey, pm.msg(), salt));
            // CBC pads with 1 to a whole block (16 -> 24, 17 -> 24); CFB keeps the length.
            const size_t cipherLength = p.padded ? (plain.size() / 8 + 1) * 8 : plain.size();
            const Bytes element = pm.Element();
            const size_t header = cipherLength < 128 ? 2 : 3;
            ASSERT_EQ(element.size(), cipherLength + header);
            EXPECT_EQ(element[0], 0x04);
            EXPECT_EQ(
                pm.buf().scopedHeader.length + pm.buf().pduHeader.length + pm.buf().varBinds.length,
                0U);
            ASSERT_EQ(salt.Size(), 8U);
            // The same bytes as OpenSSL gives with the IV the protocol defines.
            EXPECT_EQ(Bytes(element.begin() + static_cast<long>(header), element.end()),
                      ReferenceEncrypt(p, kKey, ExpectedIv(p, kKey, salt, 7, 1234), plain));

            // Received: some header octets, then the element; decrypted in place.
            Bytes datagram = {0xEE, 0xEE, 0xEE};
            datagram.insert(datagram.end(), element.begin(), element.end());
            auto size = static_cast<unsigned int>(datagram.size());
            ASSERT_TRUE(priv->Decrypt(kKey, salt, 7, 1234, datagram.data(), size, 3));
            EXPECT_EQ(size, 3 + plain.size());
            EXPECT_EQ(Bytes(datagram.begin() + 3, datagram.begin() + size), plain);
            // AES cannot decrypt without the sender's boots and time (part of its
            // IV); DES does not need them.
            Bytes d = element;
            auto dSize = static_cast<unsigned int>(d.size());
            EXPECT_EQ(priv->Decrypt(kKey, salt, d.data(), dSize, 0), p.padded);
        }
    }
}

TEST(UsmPrivTest, SaltsCountUpAndNeverRepeatAcrossObjects) {
    const Bytes plain = Sequence(10);
    for (const Protocol& p : Protocols()) {
        SCOPED_TRACE(p.name);
        unsigned long long previous = 0;
        for (int i = 0; i < 50; ++i) {
            // A fresh object per message, as the security processing uses.
            PlainMessage pm(plain, 3);
            auto priv = p.make();
            OctetString salt;
            ASSERT_TRUE(priv->Encrypt(kKey, pm.msg(), salt));
            // DES: boots, then a 32-bit counter; AES: a 64-bit counter, counting up by one.
            const std::string hex = ToHex(salt);
            EXPECT_TRUE(!p.padded || hex.rfind("00000003", 0) == 0) << hex;
            const unsigned long long counter =
                std::stoull(p.padded ? hex.substr(8) : hex, nullptr, 16);
            EXPECT_TRUE(i == 0 || counter == ((previous + 1) & (p.padded ? 0xFFFFFFFFULL : ~0ULL)))
                << hex;
            previous = counter;
        }
    }
}

TEST(UsmPrivTest, DecryptRejectsBadInputWithoutReadingPastItOrGrowingTheSize) {
    // Regressions among these: the element's length was trusted, so a short datagram made the
    // decryption read past its end; and a plaintext starting with a SEQUENCE header claiming more
    // than was decrypted made the message length grow past the datagram.
    Bytes overclaiming = {0x30, 0x7F};
    overclaiming.resize(16, 0x11);
    for (const Protocol& p : Protocols()) {
        SCOPED_TRACE(p.name);
        auto priv = p.make();
        const auto encrypt = [&priv](const Bytes& plain, OctetString& salt) {
            PlainMessage pm(plain, 1);
            EXPECT_TRUE(priv->Encrypt(kKey, pm.msg(), salt));
            return pm.Element();
        };
        OctetString salt;
        const Bytes element = encrypt(Sequence(20), salt);
        OctetString overSalt;
        const Bytes over = encrypt(overclaiming, overSalt);
        const auto cut = [&element](long n) { return Bytes(element.begin(), element.end() - n); };
        Bytes shortened = cut(1);
        shortened[1] = static_cast<unsigned char>(shortened[1] - 1);
        Bytes notOctets = element;
        notOctets[0] = 0x30;
        OctetString wrongKey = kKey;
        wrongKey[0] ^= 0x80;  // beyond DES parity: a different key
        wrongKey[9] ^= 0x01;  // and a different DES IV
        struct Case {
            const char* name;
            Bytes data;
            OctetString key;
            OctetString salt;
            unsigned int offset;
            int type;  // the exception type, or -1: refused, the input left as it was
        };
        const Case cases[] = {
            {"key too short", element, OctetString(kKey.Data(), p.keyLength - 1), salt, 0, -1},
            {"salt of 7 octets", element, kKey, OctetString(salt.Data(), 7), 0, -1},
            {"offset at the end", element, kKey, salt, static_cast<unsigned int>(element.size()),
             -1},
            {"1 octet missing", cut(1), kKey, salt, 0, -1},
            {"8 octets missing", cut(8), kKey, salt, 0, -1},
            {"21 octets missing", cut(21), kKey, salt, 0, -1},
            {"long-form length claiming far more", FromHex("0482fff80000"), kKey, salt, 0, -1},
            // CBC needs whole blocks; CFB takes any length, and the scoped
            // PDU then no longer fits what was decrypted.
            {"element one octet shorter", shortened, kKey, salt, 0, p.padded ? -1 : 1},
            {"not an OCTET STRING", notOctets, kKey, salt, 0, 1},
            {"wrong key: the plaintext is no SEQUENCE", element, wrongKey, salt, 0, 1},
            {"decrypted SEQUENCE claiming more than the plaintext", over, kKey, overSalt, 0, 1},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            // An exactly sized heap block, so that the address sanitizer catches a read past it.
            const size_t length = c.data.size();
            auto d = std::make_unique<unsigned char[]>(length);
            std::memcpy(d.get(), c.data.data(), length);
            auto size = static_cast<unsigned int>(length);
            bool result = false;
            const int type = ThrownType(
                [&] { result = priv->Decrypt(c.key, c.salt, 1, 1234, d.get(), size, c.offset); });
            EXPECT_FALSE(result);
            EXPECT_EQ(size, length);
            EXPECT_EQ(type, c.type);
            if (type == -1) {
                EXPECT_EQ(Bytes(d.get(), d.get() + length), c.data);
            }
        }
    }
}

}  // namespace
