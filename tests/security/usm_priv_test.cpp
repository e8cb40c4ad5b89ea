// Tests of CBC-DES privacy: salts, padding, framing checks, bounds of the
// received element, and salt uniqueness across objects and threads.
#include "snmp/security/usm_priv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "security_test_support.h"
#include "snmp/exception.h"
#include "snmp/message.h"
#include "snmp/security/usm.h"

namespace {

using sectest::Octets;
using snmp::OctetString;

const OctetString kKey = Octets("0102030405060708a1a2a3a4a5a6a7a8");

// A message whose encode buffer holds a plaintext scoped PDU split over the
// three pieces the privacy protocol reads.
class PlainMessage {
public:
    PlainMessage(const std::vector<unsigned char>& plain, unsigned int boots)
        : lookup_(snmp::TypeClient), buf_(snmp::Message::AllocEnc()) {
        msg_.SetEnc(buf_);
        msg_.InitSecurity(&lookup_);
        msg_.SecAttributes()->SetEngineBoots(boots);
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
    std::vector<unsigned char> Element() const {
        return std::vector<unsigned char>(buf_->encryptedPdu.start,
                                          buf_->encryptedPdu.start + buf_->encryptedPdu.length);
    }

private:
    static void Fill(snmp::MsgEncPiece& piece, const unsigned char* data, size_t size) {
        ASSERT_LE(size + 5, piece.capacity);
        piece.start = piece.buffer + 5;
        if (size != 0) std::memcpy(piece.start, data, size);
        piece.length = static_cast<unsigned int>(size);
    }

    sectest::RecordingLookup lookup_;
    snmp::MsgEncBuf* buf_;
    snmp::Message msg_;
    unsigned int varBindsLength_ = 0;
};

// A SEQUENCE of `content` octets, as a scoped PDU is.
std::vector<unsigned char> Sequence(unsigned int content) {
    std::vector<unsigned char> out = {0x30, static_cast<unsigned char>(content)};
    for (unsigned int i = 0; i < content; ++i) out.push_back(static_cast<unsigned char>(i));
    return out;
}

TEST(UsmPrivTest, EncryptPadsToWholeBlocksAndDecryptRestoresThePlaintext) {
    for (unsigned int content : {0U, 6U, 14U, 15U, 60U, 126U}) {
        SCOPED_TRACE(content);
        const std::vector<unsigned char> plain = Sequence(content);
        PlainMessage pm(plain, 7);
        snmp::PrivDES des;
        OctetString salt;
        ASSERT_TRUE(des.Encrypt(kKey, pm.msg(), salt));
        // Standard padding: always 1 to 8 octets (16 -> 24, 17 -> 24).
        const size_t cipherLength = (plain.size() / 8 + 1) * 8;
        const std::vector<unsigned char> element = pm.Element();
        ASSERT_GE(element.size(), 2U);
        EXPECT_EQ(element[0], 0x04);
        EXPECT_EQ(element.size(), cipherLength + (cipherLength < 128 ? 2 : 3));
        EXPECT_EQ(pm.buf().scopedHeader.length, 0U);
        EXPECT_EQ(pm.buf().pduHeader.length, 0U);
        EXPECT_EQ(pm.buf().varBinds.length, 0U);
        ASSERT_EQ(salt.Size(), 8U);
        EXPECT_EQ(sectest::ToHex(salt).substr(0, 8), "00000007");

        // Received: some header octets, then the element; decrypted in place.
        std::vector<unsigned char> datagram = {0xEE, 0xEE, 0xEE};
        datagram.insert(datagram.end(), element.begin(), element.end());
        auto size = static_cast<unsigned int>(datagram.size());
        ASSERT_TRUE(des.Decrypt(kKey, salt, datagram.data(), size, 3));
        EXPECT_EQ(size, 3 + plain.size());
        EXPECT_EQ(std::vector<unsigned char>(datagram.begin() + 3, datagram.begin() + size), plain);
    }
}

TEST(UsmPrivTest, AnyDesKeyIsAcceptedWeakOnesIncluded) {
    // Keys come from a hash: parity bits and weak keys are not the sender's
    // choice, so no key may be refused.
    for (const char* hex : {"0101010101010101a1a2a3a4a5a6a7a8", "fefefefefefefefe0000000000000000",
                            "00000000000000000000000000000000"}) {
        SCOPED_TRACE(hex);
        const OctetString key = Octets(hex);
        const std::vector<unsigned char> plain = Sequence(30);
        PlainMessage pm(plain, 2);
        snmp::PrivDES des;
        OctetString salt;
        ASSERT_TRUE(des.Encrypt(key, pm.msg(), salt));
        std::vector<unsigned char> datagram = pm.Element();
        auto size = static_cast<unsigned int>(datagram.size());
        ASSERT_TRUE(des.Decrypt(key, salt, datagram.data(), size, 0));
        EXPECT_EQ(std::vector<unsigned char>(datagram.begin(), datagram.begin() + size), plain);
    }
}

TEST(UsmPrivTest, SaltsCountUpWithinOneObjectAndNeverRepeatAcrossObjects) {
    const std::vector<unsigned char> plain = Sequence(10);
    std::set<std::string> salts;
    unsigned long previous = 0;
    for (int i = 0; i < 50; ++i) {
        // A fresh object per message, as the security processing uses.
        PlainMessage pm(plain, 3);
        snmp::PrivDES des;
        OctetString salt;
        ASSERT_TRUE(des.Encrypt(kKey, pm.msg(), salt));
        const std::string hex = sectest::ToHex(salt);
        EXPECT_EQ(hex.substr(0, 8), "00000003");
        const unsigned long counter = std::stoul(hex.substr(8), nullptr, 16);
        if (i > 0) {
            EXPECT_EQ(counter, (previous + 1) & 0xFFFFFFFFUL);
        }
        previous = counter;
        EXPECT_TRUE(salts.insert(hex).second) << "salt reused: " << hex;
    }
}

TEST(UsmPrivTest, SaltCounterIsUniqueAcrossThreads) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 2000;
    std::vector<std::vector<unsigned int>> drawn(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&drawn, t] {
            for (int i = 0; i < kPerThread; ++i)
                drawn[t].push_back(snmp::PrivDES::NextSaltCounter());
        });
    }
    for (std::thread& thread : threads) thread.join();
    std::set<unsigned int> all;
    for (const auto& values : drawn) all.insert(values.begin(), values.end());
    EXPECT_EQ(all.size(), static_cast<size_t>(kThreads * kPerThread));
}

TEST(UsmPrivTest, PreconditionsFailWithoutTouchingTheData) {
    const std::vector<unsigned char> plain = Sequence(20);
    PlainMessage pm(plain, 1);
    snmp::PrivDES des;
    OctetString salt = Octets("aa");
    EXPECT_FALSE(des.Encrypt(Octets("0102030405060708a1a2a3a4a5a6a7"), pm.msg(), salt));
    EXPECT_EQ(sectest::ToHex(salt), "aa");
    EXPECT_EQ(pm.buf().varBinds.length, pm.varBindsLength());

    ASSERT_TRUE(des.Encrypt(kKey, pm.msg(), salt));
    const std::vector<unsigned char> element = pm.Element();
    std::vector<unsigned char> datagram = element;
    auto size = static_cast<unsigned int>(datagram.size());
    EXPECT_FALSE(
        des.Decrypt(Octets("0102030405060708a1a2a3a4a5a6a7"), salt, datagram.data(), size, 0));
    EXPECT_FALSE(des.Decrypt(kKey, Octets("01020304050607"), datagram.data(), size, 0));
    EXPECT_FALSE(des.Decrypt(kKey, salt, datagram.data(), size, size));
    EXPECT_EQ(size, element.size());
    EXPECT_EQ(datagram, element);
}

TEST(UsmPrivTest, DecryptRejectsBadFraming) {
    const std::vector<unsigned char> plain = Sequence(20);
    PlainMessage pm(plain, 1);
    snmp::PrivDES des;
    OctetString salt;
    ASSERT_TRUE(des.Encrypt(kKey, pm.msg(), salt));
    const std::vector<unsigned char> element = pm.Element();  // 04 18 <24 octets>
    ASSERT_EQ(element[1], 24);

    {
        SCOPED_TRACE("length not a multiple of the block");
        std::vector<unsigned char> d = element;
        d[1] = 23;
        d.pop_back();
        auto size = static_cast<unsigned int>(d.size());
        EXPECT_FALSE(des.Decrypt(kKey, salt, d.data(), size, 0));
        EXPECT_EQ(size, d.size());
    }
    {
        SCOPED_TRACE("not an OCTET STRING");
        std::vector<unsigned char> d = element;
        d[0] = 0x30;
        auto size = static_cast<unsigned int>(d.size());
        try {
            des.Decrypt(kKey, salt, d.data(), size, 0);
            ADD_FAILURE() << "no exception";
        } catch (const snmp::Exception& e) {
            EXPECT_EQ(e.Type(), 1);
        }
    }
    {
        SCOPED_TRACE("wrong key: the plaintext is no SEQUENCE");
        std::vector<unsigned char> d = element;
        auto size = static_cast<unsigned int>(d.size());
        OctetString wrong = kKey;
        wrong[0] ^= 0x80;  // beyond DES parity: a different key
        wrong[9] ^= 0x01;  // and a different IV
        try {
            des.Decrypt(wrong, salt, d.data(), size, 0);
            ADD_FAILURE() << "no exception";
        } catch (const snmp::Exception& e) {
            EXPECT_EQ(e.Type(), 1);
        }
        EXPECT_EQ(size, d.size());
    }
}

TEST(UsmPrivTest, ClaimedLengthBeyondTheDatagramFailsWithoutReadingPastIt) {
    // Regression: the element's length was trusted, so a short datagram made
    // the decryption read past its end.
    const std::vector<unsigned char> plain = Sequence(20);
    PlainMessage pm(plain, 1);
    snmp::PrivDES des;
    OctetString salt;
    ASSERT_TRUE(des.Encrypt(kKey, pm.msg(), salt));
    const std::vector<unsigned char> element = pm.Element();
    for (size_t cut : {1UL, 8UL, 23UL}) {
        SCOPED_TRACE(cut);
        // An exactly sized heap block, so that a read past it is caught by
        // the address sanitizer.
        const size_t length = element.size() - cut;
        auto d = std::make_unique<unsigned char[]>(length);
        std::memcpy(d.get(), element.data(), length);
        auto size = static_cast<unsigned int>(length);
        EXPECT_FALSE(des.Decrypt(kKey, salt, d.get(), size, 0));
        EXPECT_EQ(size, length);
    }
    // A long-form length claiming far more than there is.
    std::vector<unsigned char> d = {0x04, 0x82, 0xFF, 0xF8, 0x00, 0x00};
    auto size = static_cast<unsigned int>(d.size());
    EXPECT_FALSE(des.Decrypt(kKey, salt, d.data(), size, 0));
}

TEST(UsmPrivTest, DecryptedSequenceLongerThanThePlaintextIsRejected) {
    // Regression: a (wrongly keyed) plaintext starting with a SEQUENCE header
    // that claims more than was decrypted made the message length grow past
    // the datagram.
    std::vector<unsigned char> plain = {0x30, 0x7F};
    plain.resize(16, 0x11);
    PlainMessage pm(plain, 1);
    snmp::PrivDES des;
    OctetString salt;
    ASSERT_TRUE(des.Encrypt(kKey, pm.msg(), salt));
    std::vector<unsigned char> d = pm.Element();
    auto size = static_cast<unsigned int>(d.size());
    try {
        des.Decrypt(kKey, salt, d.data(), size, 0);
        ADD_FAILURE() << "no exception";
    } catch (const snmp::Exception& e) {
        EXPECT_EQ(e.Type(), 1);
    }
    EXPECT_EQ(size, d.size());
}

TEST(UsmPrivTest, EncryptRefusesCiphertextThatWouldOverrunItsBuffer) {
    // The ciphertext goes 5 octets into a buffer of MaxEnc() octets; a
    // plaintext that passes the message-size test but not that room must
    // be refused rather than written past the buffer.
    const unsigned int maxEnc = snmp::Message::MaxEnc();
    const std::vector<unsigned char> plain(maxEnc - 8, 0x42);
    PlainMessage pm(plain, 1);
    snmp::PrivDES des;
    OctetString salt;
    EXPECT_FALSE(des.Encrypt(kKey, pm.msg(), salt));
    EXPECT_EQ(pm.buf().varBinds.length, pm.varBindsLength());
}

}  // namespace
