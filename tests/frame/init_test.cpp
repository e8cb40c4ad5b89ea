// Library start and stop: the init count, the up-time clock's life, the
// singletons the last shutdown destroys, and the OpenSSL algorithms the
// security code needs.
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <chrono>
#include <ctime>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "snmp/crypto_setup.h"
#include "snmp/init.h"
#include "snmp/snmp_stats.h"
#include "snmp/stack_interface.h"

namespace {

using Clock = std::chrono::steady_clock;
using Ticks = std::chrono::duration<long long, std::centi>;

// Polls the library clock until it reaches `ticks`; false if it never does
// within a generous bound (the clock is missing or stopped).
bool UpTimeReaches(unsigned int ticks) {
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (snmp::UpTime() < ticks) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

TEST(Init, NestedInitKeepsTheClockUntilTheLastShutdown) {
    ASSERT_EQ(snmp::UpTime(), 0u);  // not initialised: no clock, no crash
    ASSERT_TRUE(snmp::Init());
    ASSERT_TRUE(snmp::Init());
    ASSERT_TRUE(UpTimeReaches(3));
    const unsigned int beforeShutdown = snmp::UpTime();

    snmp::Shutdown();  // count 2 -> 1: the clock keeps running
    EXPECT_GE(snmp::UpTime(), beforeShutdown);

    snmp::Shutdown();  // count 1 -> 0: the clock is gone
    EXPECT_EQ(snmp::UpTime(), 0u);
    snmp::Reset();  // no clock to reset; must not crash or create one
    EXPECT_EQ(snmp::UpTime(), 0u);
}

TEST(Init, UnmatchedShutdownDoesNotUnbalanceTheCount) {
    snmp::Shutdown();  // count already 0
    ASSERT_TRUE(snmp::Init());
    // Had the count gone negative, this Init would not reach 1 and would
    // create no clock.
    EXPECT_TRUE(UpTimeReaches(1));
    snmp::Shutdown();
    EXPECT_EQ(snmp::UpTime(), 0u);
}

TEST(Init, ReinitStartsANewClockFromZeroAndResetRestartsIt) {
    ASSERT_TRUE(snmp::Init());
    ASSERT_TRUE(UpTimeReaches(10));
    snmp::Shutdown();

    const Clock::time_point beforeInit = Clock::now();
    ASSERT_TRUE(snmp::Init());
    const unsigned int fresh = snmp::UpTime();
    const Clock::time_point afterRead = Clock::now();
    EXPECT_LE(static_cast<long long>(fresh),
              std::chrono::duration_cast<Ticks>(afterRead - beforeInit).count() + 1);

    ASSERT_TRUE(UpTimeReaches(10));
    const Clock::time_point beforeReset = Clock::now();
    snmp::Reset();
    const unsigned int restarted = snmp::UpTime();
    const Clock::time_point afterReset = Clock::now();
    EXPECT_LE(static_cast<long long>(restarted),
              std::chrono::duration_cast<Ticks>(afterReset - beforeReset).count() + 1);
    snmp::Shutdown();
}

TEST(Init, LastShutdownDestroysTheSingletonsAndLaterUseBuildsFreshOnes) {
    ASSERT_TRUE(snmp::Init());
    ASSERT_TRUE(snmp::Init());
    snmp::StackInterface* stack = snmp::StackInterface::Instance();
    snmp::SnmpStats* stats = snmp::SnmpStats::Instance();
    ASSERT_NE(stack, nullptr);
    ASSERT_NE(stats, nullptr);

    snmp::Shutdown();
    EXPECT_EQ(snmp::StackInterface::_instance, stack);  // not the last one
    EXPECT_EQ(snmp::SnmpStats::_instance, stats);

    snmp::Shutdown();
    EXPECT_EQ(snmp::StackInterface::_instance, nullptr);
    EXPECT_EQ(snmp::SnmpStats::_instance, nullptr);

    EXPECT_NE(snmp::StackInterface::Instance(), nullptr);
    EXPECT_NE(snmp::StackInterface::_instance, nullptr);
    snmp::StackInterface::Destroy();
}

TEST(Init, TimeStampIsTheWallClockInSecondsWithoutInit) {
    const auto before = static_cast<unsigned int>(std::time(nullptr));
    const unsigned int stamp = snmp::TimeStamp();
    const auto after = static_cast<unsigned int>(std::time(nullptr));
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, after);
    EXPECT_GT(stamp, 1600000000u);  // seconds since 1970, not a relative count
}

std::vector<unsigned char> FromHex(const std::string& hex) {
    std::vector<unsigned char> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

std::vector<unsigned char> Bytes(const std::string& text) {
    return std::vector<unsigned char>(text.begin(), text.end());
}

std::vector<unsigned char> Cipher(const char* name, bool encrypt,
                                  const std::vector<unsigned char>& key,
                                  const std::vector<unsigned char>& iv,
                                  const std::vector<unsigned char>& in) {
    std::vector<unsigned char> out;
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, name, nullptr);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    if (cipher != nullptr && ctx != nullptr &&
        EVP_CipherInit_ex2(ctx, cipher, key.data(), iv.data(), encrypt ? 1 : 0, nullptr) == 1 &&
        EVP_CIPHER_CTX_set_padding(ctx, 0) == 1) {
        out.resize(in.size() + 16);
        int length = 0;
        int finalLength = 0;
        if (EVP_CipherUpdate(ctx, out.data(), &length, in.data(), static_cast<int>(in.size())) ==
                1 &&
            EVP_CipherFinal_ex(ctx, out.data() + length, &finalLength) == 1) {
            out.resize(static_cast<size_t>(length) + static_cast<size_t>(finalLength));
        } else {
            out.clear();
        }
    }
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(cipher);
    return out;
}

std::vector<unsigned char> Hmac(const char* digest, const std::vector<unsigned char>& key,
                                const std::vector<unsigned char>& data) {
    std::vector<unsigned char> out(EVP_MAX_MD_SIZE);
    size_t length = 0;
    EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    EVP_MAC_CTX* ctx = mac != nullptr ? EVP_MAC_CTX_new(mac) : nullptr;
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, const_cast<char*>(digest), 0),
        OSSL_PARAM_construct_end()};
    const bool ok = ctx != nullptr && EVP_MAC_init(ctx, key.data(), key.size(), params) == 1 &&
                    EVP_MAC_update(ctx, data.data(), data.size()) == 1 &&
                    EVP_MAC_final(ctx, out.data(), &length, out.size()) == 1;
    EVP_MAC_CTX_free(ctx);
    EVP_MAC_free(mac);
    out.resize(ok ? length : 0);
    return out;
}

std::vector<unsigned char> Digest(const char* name, const std::vector<unsigned char>& data) {
    std::vector<unsigned char> out(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    EVP_MD* md = EVP_MD_fetch(nullptr, name, nullptr);
    const bool ok = md != nullptr &&
                    EVP_Digest(data.data(), data.size(), out.data(), &length, md, nullptr) == 1;
    EVP_MD_free(md);
    out.resize(ok ? length : 0);
    return out;
}

TEST(CryptoSetup, ReadiesDesHmacDigestsAndAesFromAnyThread) {
    // Concurrent first calls must agree and load the providers once.
    std::vector<std::future<bool>> callers;
    for (int i = 0; i < 8; ++i) {
        callers.push_back(std::async(std::launch::async, snmp::detail::EnsureCryptoReady));
    }
    for (auto& caller : callers) {
        ASSERT_TRUE(caller.get());
    }

    {
        SCOPED_TRACE("DES-CBC, the FIPS 81 CBC example");
        const auto key = FromHex("0123456789abcdef");
        const auto iv = FromHex("1234567890abcdef");
        const auto plain = Bytes("Now is the time for all ");
        const auto expected = FromHex("e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6");
        EXPECT_EQ(Cipher("DES-CBC", true, key, iv, plain), expected);
        EXPECT_EQ(Cipher("DES-CBC", false, key, iv, expected), plain);
    }
    {
        SCOPED_TRACE("AES-128-CFB, NIST SP 800-38A F.3.13 block 1");
        const auto key = FromHex("2b7e151628aed2a6abf7158809cf4f3c");
        const auto iv = FromHex("000102030405060708090a0b0c0d0e0f");
        const auto plain = FromHex("6bc1bee22e409f96e93d7e117393172a");
        const auto expected = FromHex("3b3fd92eb72dad20333449f8e83cfb4a");
        EXPECT_EQ(Cipher("AES-128-CFB", true, key, iv, plain), expected);
        EXPECT_EQ(Cipher("AES-128-CFB", false, key, iv, expected), plain);
    }
    {
        SCOPED_TRACE("HMAC, RFC 2202 test case 1");
        EXPECT_EQ(Hmac("MD5", std::vector<unsigned char>(16, 0x0b), Bytes("Hi There")),
                  FromHex("9294727a3638bb1c13f48ef8158bfc9d"));
        EXPECT_EQ(Hmac("SHA1", std::vector<unsigned char>(20, 0x0b), Bytes("Hi There")),
                  FromHex("b617318655057264e28bc0b6fb378c8ef146be00"));
    }
    {
        SCOPED_TRACE("digests of \"abc\"");
        EXPECT_EQ(Digest("MD5", Bytes("abc")), FromHex("900150983cd24fb0d6963f7d28e17f72"));
        EXPECT_EQ(Digest("SHA1", Bytes("abc")),
                  FromHex("a9993e364706816aba3e25717850c26c9cd0d89d"));
    }
    // Init readies the same algorithms and reports success.
    ASSERT_TRUE(snmp::Init());
    EXPECT_FALSE(Cipher("DES-CBC", true, FromHex("0123456789abcdef"), FromHex("1234567890abcdef"),
                        Bytes("8 bytes!"))
                     .empty());
    snmp::Shutdown();
}

}  // namespace
