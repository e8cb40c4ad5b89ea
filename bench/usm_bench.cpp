// USM figures: the per-message cost of signing, verifying, encrypting and
// decrypting, beside OpenSSL's raw primitives on the same bytes; password to
// key; and how often key derivation runs per message in steady state.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <atomic>
#include <cstring>
#include <stdexcept>
#include <string>

#include "bench_support.h"
#include "snmp/exception.h"
#include "snmp/init.h"
#include "snmp/security/usm.h"
#include "snmp/security/usm_auth.h"
#include "snmp/security/usm_priv.h"

namespace {
std::atomic<std::uint64_t> g_digestBytes{0};
}

// Octets hashed through the plain digest interface (key derivation and
// localisation; message digests go through EVP_MAC), counted by interposing
// OpenSSL's function.
extern "C" int EVP_DigestUpdate(EVP_MD_CTX* ctx, const void* data, size_t count) {
    using Fn = int (*)(EVP_MD_CTX*, const void*, size_t);
    static const Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "EVP_DigestUpdate"));
    g_digestBytes.fetch_add(count, std::memory_order_relaxed);
    return real(ctx, data, count);
}

namespace {

using zkbench::Bytes;

constexpr double kPasswordToKeyBytes = 1048576.0;

// The protocol pairs measured, by the benchmarks' second argument.
struct Protocols {
    snmp::USMAuthProtocol auth;
    snmp::USMPrivProtocol priv;
    const char* hash;    // OpenSSL digest of the HMAC
    const char* cipher;  // OpenSSL cipher
    bool aes;            // CFB128-AES: IV from the engine clock and salt, no padding
};
const Protocols kProtocols[] = {
    {snmp::USMAuthSHA1, snmp::USMPrivDES, "SHA1", "DES-CBC", false},
    {snmp::USMAuthSHA256, snmp::USMPrivAES128, "SHA256", "AES-128-CFB", true},
};

// One SNMPv3 authPriv Get whose scoped PDU is about `scopedSize` octets (or
// whose datagram is 1400 octets when `scopedSize` is 0), encoded at both
// authNoPriv (plaintext pieces kept for encryption) and authPriv.
struct Sample {
    Sample(unsigned int scopedSize, const Protocols& protocols)
        : proto(protocols),
          lookup(snmp::TypeClient,
                 zkbench::V3Target(zkbench::EngineId(), 5, 1000, protocols.auth, protocols.priv)) {
        // Grow the one OCTET STRING value until the datagram is within a
        // cipher block of 1400 octets (the largest the library sends).
        int text = scopedSize == 0 ? 1000 : static_cast<int>(scopedSize) - 45;
        for (int tries = 0;; ++tries) {
            snmp::VarBindList vbs;
            snmp::AsnValue v(0x04);
            v.SetString(snmp::OctetString(std::string(static_cast<size_t>(text), 'x')));
            vbs.push_back(snmp::VarBind(zkbench::IfTableOid(3), v));
            msg = zkbench::V3Message(snmp::PduGetRequest, vbs, 42, lookup.Stored(), lookup);
            try {
                datagram = zkbench::Encode(msg);
            } catch (const snmp::Exception&) {  // tooBig
                text -= 8;
                continue;
            }
            if (scopedSize != 0 || datagram.size() > 1392 || tries > 20) break;
            text += 1400 - static_cast<int>(datagram.size());
        }
        snmp::MsgEncBuf* enc = msg.EncBuffer();
        encryptedOffset = static_cast<unsigned int>(datagram.size()) - enc->encryptedPdu.length;
        salt = msg.SecAttributes()->PrivParams();
        digest = msg.SecAttributes()->AuthParams();
        // The digest field's place: the 12 octets of the auth parameters.
        const unsigned char* at = static_cast<const unsigned char*>(
            memmem(datagram.data(), datagram.size(), digest.Data(), digest.Size()));
        if (at == nullptr) throw std::runtime_error("digest not found");
        digestOffset = static_cast<unsigned int>(at - datagram.data());

        // The plaintext pieces, as encryption reads them.
        msg.SetSecurityLevel(snmp::SecLevelAuthNoPriv);
        plainDatagram = zkbench::Encode(msg);
        scopedLength = enc->scopedHeader.length;
        pduLength = enc->pduHeader.length;
        varBindsLength = enc->varBinds.length;
        plaintext.assign(enc->scopedHeader.start, enc->scopedHeader.start + scopedLength);
        plaintext.insert(plaintext.end(), enc->pduHeader.start, enc->pduHeader.start + pduLength);
        plaintext.insert(plaintext.end(), enc->varBinds.start,
                         enc->varBinds.start + varBindsLength);
        if (!proto.aes) plaintext.resize((plaintext.size() + 7) / 8 * 8, 0);
    }

    void RestorePlaintext() {
        snmp::MsgEncBuf* enc = msg.EncBuffer();
        enc->scopedHeader.length = scopedLength;
        enc->pduHeader.length = pduLength;
        enc->varBinds.length = varBindsLength;
    }

    snmp::Target& Target() { return lookup.Stored(); }

    // The IV the raw cipher uses for this message's salt.
    void Iv(unsigned char* iv) {
        const unsigned char* key = Target().PrivKey().Data();
        if (!proto.aes) {
            for (int i = 0; i < 8; ++i) iv[i] = key[8 + i] ^ salt[i];
            return;
        }
        const snmp::USM* usm = msg.SecAttributes();
        const unsigned int clock[] = {usm->EngineBoots(), usm->EngineTime()};
        for (int i = 0; i < 8; ++i)
            iv[i] = static_cast<unsigned char>(clock[i / 4] >> (24 - 8 * (i % 4)));
        for (int i = 0; i < 8; ++i) iv[8 + i] = salt[i];
    }

    const Protocols& proto;
    zkbench::OneTargetLookup lookup;
    snmp::Message msg;
    Bytes datagram;       // authPriv, as sent
    Bytes plainDatagram;  // authNoPriv, the bytes signed in the sign figure
    Bytes plaintext;      // the scoped PDU, padded to whole blocks
    unsigned int encryptedOffset = 0;
    unsigned int digestOffset = 0;
    unsigned int scopedLength = 0, pduLength = 0, varBindsLength = 0;
    snmp::OctetString salt;
    snmp::OctetString digest;
};

// range(0): 0 small, 1 the 1400-octet datagram; range(1): the protocol pair.
Sample& Pick(const benchmark::State& state) {
    static Sample samples[2][2] = {{Sample(100, kProtocols[0]), Sample(100, kProtocols[1])},
                                   {Sample(0, kProtocols[0]), Sample(0, kProtocols[1])}};
    return samples[state.range(0)][state.range(1)];
}

void SetBytes(benchmark::State& state, size_t bytes) {
    state.counters["bytes"] = static_cast<double>(bytes);
}

// ---- Sign -------------------------------------------------------------------------------------

void BM_Sign_Ours(benchmark::State& state) {
    Sample& s = Pick(state);
    snmp::USMAuth* auth = s.Target().SecAttributes()->Auth();
    snmp::OctetString digest;
    for (auto _ : state) {
        auth->CreateDigest(s.Target().AuthKey(), s.msg, digest);
        benchmark::DoNotOptimize(digest.Data());
    }
    SetBytes(state, s.plainDatagram.size());
}

// HMAC with a context made once and re-keyed per message.
struct RawHmac {
    explicit RawHmac(const char* hash) {
        mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
        ctx = EVP_MAC_CTX_new(mac);
        OSSL_PARAM params[2];
        params[0] =
            OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, const_cast<char*>(hash), 0);
        params[1] = OSSL_PARAM_construct_end();
        // The digest is set once; each message only re-keys the context.
        const unsigned char zero[64] = {};
        EVP_MAC_init(ctx, zero, sizeof zero, params);
    }
    ~RawHmac() {
        EVP_MAC_CTX_free(ctx);
        EVP_MAC_free(mac);
    }
    void Run(const snmp::OctetString& key, const unsigned char* data, size_t size,
             unsigned char* out) {
        size_t len = 0;
        EVP_MAC_init(ctx, key.Data(), key.Size(), nullptr);
        EVP_MAC_update(ctx, data, size);
        EVP_MAC_final(ctx, out, &len, EVP_MAX_MD_SIZE);
    }
    EVP_MAC* mac;
    EVP_MAC_CTX* ctx;
};

void BM_Sign_Raw(benchmark::State& state) {
    Sample& s = Pick(state);
    RawHmac hmac(s.proto.hash);
    unsigned char out[EVP_MAX_MD_SIZE];
    for (auto _ : state) {
        hmac.Run(s.Target().AuthKey(), s.plainDatagram.data(), s.plainDatagram.size(), out);
        benchmark::DoNotOptimize(out);
    }
    SetBytes(state, s.plainDatagram.size());
}

// ---- Verify -----------------------------------------------------------------------------------

void BM_Verify_Ours(benchmark::State& state) {
    Sample& s = Pick(state);
    snmp::USMAuth* auth = s.Target().SecAttributes()->Auth();
    Bytes data = s.datagram;
    if (!auth->VerifyDigest(s.Target().AuthKey(), s.digest, data.data(),
                            static_cast<unsigned int>(data.size()), s.digestOffset))
        throw std::runtime_error("verify");
    for (auto _ : state) {
        const bool ok = auth->VerifyDigest(s.Target().AuthKey(), s.digest, data.data(),
                                           static_cast<unsigned int>(data.size()), s.digestOffset);
        benchmark::DoNotOptimize(ok);
    }
    SetBytes(state, data.size());
}

void BM_Verify_Raw(benchmark::State& state) {
    Sample& s = Pick(state);
    RawHmac hmac(s.proto.hash);
    Bytes data = s.datagram;
    unsigned char out[EVP_MAX_MD_SIZE];
    for (auto _ : state) {
        std::memset(data.data() + s.digestOffset, 0, s.digest.Size());
        hmac.Run(s.Target().AuthKey(), data.data(), data.size(), out);
        const bool ok = CRYPTO_memcmp(out, s.digest.Data(), s.digest.Size()) == 0;
        benchmark::DoNotOptimize(ok);
    }
    SetBytes(state, data.size());
}

// ---- Encrypt and decrypt ----------------------------------------------------------------------

void BM_Encrypt_Ours(benchmark::State& state) {
    Sample& s = Pick(state);
    snmp::USMPriv* priv = s.Target().SecAttributes()->Priv();
    snmp::OctetString salt;
    for (auto _ : state) {
        s.RestorePlaintext();
        priv->Encrypt(s.Target().PrivKey(), s.msg, salt);
        benchmark::DoNotOptimize(salt.Data());
    }
    SetBytes(state, s.plaintext.size());
}

// A cipher fetched once: key and IV set per message.
struct RawCipher {
    explicit RawCipher(const char* name) {
        const bool des = std::strcmp(name, "DES-CBC") == 0;
        if (des) {
            // The library keeps its providers to itself; this program loads its own.
            static OSSL_PROVIDER* const legacy = OSSL_PROVIDER_load(nullptr, "legacy");
            static OSSL_PROVIDER* const builtin = OSSL_PROVIDER_load(nullptr, "default");
            (void)legacy;
            (void)builtin;
        }
        cipher = EVP_CIPHER_fetch(nullptr, name, des ? "provider=legacy" : nullptr);
        if (cipher == nullptr) throw std::runtime_error(std::string(name) + " unavailable");
        ctx = EVP_CIPHER_CTX_new();
    }
    ~RawCipher() {
        EVP_CIPHER_CTX_free(ctx);
        EVP_CIPHER_free(cipher);
    }
    void Run(bool encrypt, const unsigned char* key, const unsigned char* iv,
             const unsigned char* in, int size, unsigned char* out) {
        int len = 0;
        EVP_CipherInit_ex2(ctx, cipher, key, iv, encrypt ? 1 : 0, nullptr);
        EVP_CIPHER_CTX_set_padding(ctx, 0);
        EVP_CipherUpdate(ctx, out, &len, in, size);
        EVP_CipherFinal_ex(ctx, out + len, &len);
    }
    EVP_CIPHER* cipher;
    EVP_CIPHER_CTX* ctx;
};

void BM_Encrypt_Raw(benchmark::State& state) {
    Sample& s = Pick(state);
    RawCipher des(s.proto.cipher);
    Bytes out(s.plaintext.size() + 8);
    unsigned char iv[16];
    const unsigned char* key = s.Target().PrivKey().Data();
    for (auto _ : state) {
        s.Iv(iv);
        des.Run(true, key, iv, s.plaintext.data(), static_cast<int>(s.plaintext.size()),
                out.data());
        benchmark::DoNotOptimize(out.data());
    }
    SetBytes(state, s.plaintext.size());
}

void BM_Decrypt_Ours(benchmark::State& state) {
    Sample& s = Pick(state);
    snmp::USMPriv* priv = s.Target().SecAttributes()->Priv();
    Bytes data = s.datagram;
    for (auto _ : state) {
        std::memcpy(data.data() + s.encryptedOffset, s.datagram.data() + s.encryptedOffset,
                    s.datagram.size() - s.encryptedOffset);
        unsigned int size = static_cast<unsigned int>(data.size());
        const snmp::USM* usm = s.msg.SecAttributes();
        if (!priv->Decrypt(s.Target().PrivKey(), s.salt, usm->EngineBoots(), usm->EngineTime(),
                           data.data(), size, s.encryptedOffset))
            throw std::runtime_error("decrypt");
        benchmark::DoNotOptimize(data.data());
    }
    SetBytes(state, s.plaintext.size());
}

void BM_Decrypt_Raw(benchmark::State& state) {
    Sample& s = Pick(state);
    RawCipher des(s.proto.cipher);
    Bytes data = s.datagram;
    unsigned char iv[16];
    const unsigned char* key = s.Target().PrivKey().Data();
    // The ciphertext after its OCTET STRING header.
    const unsigned int header = s.datagram[s.encryptedOffset + 1] < 0x80
                                    ? 2
                                    : 2 + (s.datagram[s.encryptedOffset + 1] & 0x7F);
    const unsigned int start = s.encryptedOffset + header;
    const int size = static_cast<int>(s.datagram.size() - start);
    for (auto _ : state) {
        std::memcpy(data.data() + s.encryptedOffset, s.datagram.data() + s.encryptedOffset,
                    s.datagram.size() - s.encryptedOffset);
        s.Iv(iv);
        des.Run(false, key, iv, data.data() + start, size, data.data() + s.encryptedOffset);
        benchmark::DoNotOptimize(data.data());
    }
    SetBytes(state, s.plaintext.size());
}

// ---- Password to key --------------------------------------------------------------------------

template <class Auth>
void BM_PasswordToKey_Ours(benchmark::State& state) {
    Auth auth;
    snmp::OctetString key;
    for (auto _ : state) {
        auth.PasswordToKey(zkbench::kAuthPass, key);
        benchmark::DoNotOptimize(key.Data());
    }
}

void BM_PasswordToKey_Raw(benchmark::State& state, const char* hash) {
    EVP_MD* md = EVP_MD_fetch(nullptr, hash, nullptr);
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    const std::string pass = zkbench::kAuthPass;
    Bytes block(64 + pass.size());
    for (size_t i = 0; i < block.size(); ++i) block[i] = pass[i % pass.size()];
    unsigned char out[EVP_MAX_MD_SIZE];
    for (auto _ : state) {
        EVP_DigestInit_ex2(ctx, md, nullptr);
        // 1 MiB of the password repeated, fed 64 octets at a time.
        for (size_t done = 0; done < 1048576; done += 64) {
            EVP_DigestUpdate(ctx, block.data() + done % pass.size(), 64);
        }
        unsigned int len = 0;
        EVP_DigestFinal_ex(ctx, out, &len);
        benchmark::DoNotOptimize(out);
    }
    EVP_MD_CTX_free(ctx);
    EVP_MD_free(md);
}

// ---- Key derivation per message in steady state -----------------------------------------------

// Encodes and decodes authPriv messages and counts the key derivations
// (1 MiB digests) that happen meanwhile: the keys are derived once, when the
// user is set up, never per message.
void BM_KeyDerivationsPerMessage(benchmark::State& state) {
    zkbench::OneTargetLookup client(snmp::TypeClient,
                                    zkbench::V3Target(zkbench::EngineId(), 5, 1000));
    zkbench::OneTargetLookup agent(snmp::TypeServer,
                                   zkbench::V3Target(zkbench::EngineId(), 5, 1000));
    snmp::Message request = zkbench::V3Message(snmp::PduGetRequest, zkbench::NullBindings(10), 1,
                                               client.Stored(), client);
    snmp::Message received;
    received.InitSecurity(&agent);
    unsigned char out[1500];
    const std::uint64_t before = g_digestBytes.load();
    for (auto _ : state) {
        unsigned int size = sizeof out;
        request.Encode(out, size, false);
        received.Decode(out, size);
        benchmark::DoNotOptimize(received.VarBinds().size());
    }
    state.counters["derivations_per_msg"] = static_cast<double>(g_digestBytes.load() - before) /
                                            kPasswordToKeyBytes /
                                            static_cast<double>(state.iterations());
}

}  // namespace

BENCHMARK(BM_Sign_Ours)->ArgsProduct({{0, 1}, {0, 1}});
BENCHMARK(BM_Sign_Raw)->ArgsProduct({{0, 1}, {0, 1}});
BENCHMARK(BM_Verify_Ours)->ArgsProduct({{0, 1}, {0, 1}});
BENCHMARK(BM_Verify_Raw)->ArgsProduct({{0, 1}, {0, 1}});
BENCHMARK(BM_Encrypt_Ours)->ArgsProduct({{0, 1}, {0, 1}});
BENCHMARK(BM_Encrypt_Raw)->ArgsProduct({{0, 1}, {0, 1}});
BENCHMARK(BM_Decrypt_Ours)->ArgsProduct({{0, 1}, {0, 1}});
BENCHMARK(BM_Decrypt_Raw)->ArgsProduct({{0, 1}, {0, 1}});
BENCHMARK_TEMPLATE(BM_PasswordToKey_Ours, snmp::AuthMD5)->Name("BM_PasswordToKey_Ours/MD5");
BENCHMARK_TEMPLATE(BM_PasswordToKey_Ours, snmp::AuthSHA1)->Name("BM_PasswordToKey_Ours/SHA1");
BENCHMARK_CAPTURE(BM_PasswordToKey_Raw, MD5, "MD5");
BENCHMARK_CAPTURE(BM_PasswordToKey_Raw, SHA1, "SHA1");
BENCHMARK_TEMPLATE(BM_PasswordToKey_Ours, snmp::AuthSHA256)->Name("BM_PasswordToKey_Ours/SHA256");
BENCHMARK_CAPTURE(BM_PasswordToKey_Raw, SHA256, "SHA256");
BENCHMARK(BM_KeyDerivationsPerMessage);

int main(int argc, char** argv) {
    snmp::Init();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    snmp::Shutdown();
    return 0;
}
