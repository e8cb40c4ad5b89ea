// Library start and stop: the init count, the up-time clock's life, the singletons the last
// shutdown destroys, and the OpenSSL algorithms the security code needs in the library's context.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <chrono>
#include <ctime>
#include <future>
#include <thread>
#include <vector>

#include "snmp/crypto_setup.h"
#include "snmp/init.h"
#include "snmp/snmp_stats.h"
#include "snmp/stack_interface.h"

namespace {

using Clock = std::chrono::steady_clock;
using Ticks = std::chrono::duration<long long, std::centi>;

// Polls the library clock until it reaches `ticks`; false if it never does within a generous
// bound (the clock is missing or stopped).
bool UpTimeReaches(unsigned int ticks) {
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (snmp::UpTime() < ticks) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Ticks elapsed since `since`, rounded up: a bound for a clock started after `since`.
long long TicksSince(Clock::time_point since) {
    return std::chrono::duration_cast<Ticks>(Clock::now() - since).count() + 1;
}

TEST(Init, CountsCallersAndOnlyTheLastShutdownStopsTheClock) {
    snmp::Shutdown();               // unmatched: must not take the count below zero
    ASSERT_EQ(snmp::UpTime(), 0u);  // not initialised: no clock, no crash
    ASSERT_TRUE(snmp::Init());
    ASSERT_TRUE(snmp::Init());
    ASSERT_TRUE(UpTimeReaches(3));
    const unsigned int beforeShutdown = snmp::UpTime();

    snmp::Shutdown();  // 2 -> 1: the clock keeps running, not restarted
    EXPECT_GE(snmp::UpTime(), beforeShutdown);

    snmp::Shutdown();  // 1 -> 0: the clock is gone
    EXPECT_EQ(snmp::UpTime(), 0u);
    snmp::Reset();  // no clock to reset; must not crash or create one
    EXPECT_EQ(snmp::UpTime(), 0u);
}

TEST(Init, ReinitStartsANewClockFromZeroAndResetRestartsIt) {
    ASSERT_TRUE(snmp::Init());
    ASSERT_TRUE(UpTimeReaches(10));
    snmp::Shutdown();

    const Clock::time_point beforeInit = Clock::now();
    ASSERT_TRUE(snmp::Init());
    EXPECT_LE(static_cast<long long>(snmp::UpTime()), TicksSince(beforeInit));

    ASSERT_TRUE(UpTimeReaches(10));
    const Clock::time_point beforeReset = Clock::now();
    snmp::Reset();
    EXPECT_LE(static_cast<long long>(snmp::UpTime()), TicksSince(beforeReset));
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
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, static_cast<unsigned int>(std::time(nullptr)));
    EXPECT_GT(stamp, 1600000000u);  // seconds since 1970, not a relative count
}

TEST(CryptoSetup, ReadiesDesAesAndHmacDigestsInItsOwnContextFromAnyThread) {
    const int legacyBefore = OSSL_PROVIDER_available(nullptr, "legacy");
    // Concurrent first calls must agree and set the context up once.
    std::vector<std::future<bool>> callers;
    for (int i = 0; i < 8; ++i)
        callers.push_back(std::async(std::launch::async, snmp::detail::EnsureCryptoReady));
    for (auto& caller : callers) ASSERT_TRUE(caller.get());
    OSSL_LIB_CTX* const context = snmp::detail::CryptoContext();
    ASSERT_NE(context, nullptr);
    // The host's default context is left as it was.
    EXPECT_EQ(OSSL_PROVIDER_available(nullptr, "legacy"), legacyBefore);

    for (const char* name : {"DES-CBC", "AES-128-CFB", "AES-256-CFB"}) {
        SCOPED_TRACE(name);
        EVP_CIPHER* cipher = EVP_CIPHER_fetch(context, name, nullptr);
        EXPECT_NE(cipher, nullptr);
        EVP_CIPHER_free(cipher);
    }
    for (const char* name : {"MD5", "SHA1", "SHA256", "SHA512"}) {
        SCOPED_TRACE(name);
        EVP_MD* md = EVP_MD_fetch(context, name, nullptr);
        EXPECT_NE(md, nullptr);
        EVP_MD_free(md);
    }
    EVP_MAC* mac = EVP_MAC_fetch(context, "HMAC", nullptr);
    EXPECT_NE(mac, nullptr);
    EVP_MAC_free(mac);

    // DES-CBC actually runs: the FIPS 81 CBC example, first block.
    const unsigned char key[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
    const unsigned char iv[8] = {0x12, 0x34, 0x56, 0x78, 0x90, 0xab, 0xcd, 0xef};
    const unsigned char expected[8] = {0xe5, 0xc7, 0xcd, 0xde, 0x87, 0x2b, 0xf2, 0x7c};
    unsigned char out[16] = {};
    int length = 0;
    EVP_CIPHER* des = EVP_CIPHER_fetch(context, "DES-CBC", nullptr);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    ASSERT_EQ(EVP_EncryptInit_ex2(ctx, des, key, iv, nullptr), 1);
    EXPECT_EQ(
        EVP_EncryptUpdate(ctx, out, &length, reinterpret_cast<const unsigned char*>("Now is t"), 8),
        1);
    EXPECT_EQ(length, 8);
    EXPECT_EQ(std::vector<unsigned char>(out, out + 8),
              std::vector<unsigned char>(expected, expected + 8));
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(des);

    // Init readies the same context and reports success.
    ASSERT_TRUE(snmp::Init());
    EXPECT_EQ(snmp::detail::CryptoContext(), context);
    snmp::Shutdown();
}

}  // namespace
