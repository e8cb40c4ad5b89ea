// Process-wide cache of the OpenSSL digests, HMAC templates and ciphers fetched
// from the library's private library context: one slot per algorithm, filled
// on first use and read lock-free afterwards.
#include "snmp/security/crypto_cache.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <atomic>
#include <cstring>

#include "snmp/crypto_setup.h"

namespace snmp::detail {

namespace {

constexpr const char* kDigestNames[] = {"MD5",      "SHA1",     "SHA2-224",
                                        "SHA2-256", "SHA2-384", "SHA2-512"};
constexpr const char* kCipherNames[] = {"DES-CBC", "AES-128-CFB", "AES-192-CFB", "AES-256-CFB"};
static_assert(sizeof kDigestNames / sizeof *kDigestNames == static_cast<size_t>(HashId::kCount));
static_assert(sizeof kCipherNames / sizeof *kCipherNames == static_cast<size_t>(CipherId::kCount));

// Fetched objects are never released: protocol objects on any thread may hold
// them until the process ends. Two threads arriving together at an empty slot
// may both fetch; the one that loses the race frees its object. A failed fetch
// leaves the slot empty, so a later call may succeed.
template <typename T, typename Fetch, typename Free>
const T* Slot(std::atomic<T*>& slot, Fetch&& fetch, Free&& release) {
    T* held = slot.load(std::memory_order_acquire);
    if (held != nullptr) return held;
    if (!EnsureCryptoReady()) return nullptr;
    T* fetched = fetch();
    if (fetched == nullptr) return nullptr;
    if (!slot.compare_exchange_strong(held, fetched, std::memory_order_acq_rel)) {
        release(fetched);
        return held;
    }
    return fetched;
}

std::atomic<EVP_MD*> g_digests[static_cast<size_t>(HashId::kCount)];
std::atomic<EVP_MAC_CTX*> g_hmacs[static_cast<size_t>(HashId::kCount)];
std::atomic<EVP_CIPHER*> g_ciphers[static_cast<size_t>(CipherId::kCount)];

EVP_MAC_CTX* MakeHmacTemplate(const EVP_MD* md, const char* name) {
    EVP_MAC* mac = EVP_MAC_fetch(CryptoContext(), OSSL_MAC_NAME_HMAC, nullptr);
    if (mac == nullptr) return nullptr;
    EVP_MAC_CTX* ctx = EVP_MAC_CTX_new(mac);
    EVP_MAC_free(mac);  // the context keeps its own reference
    if (ctx == nullptr) return nullptr;
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, const_cast<char*>(name), 0),
        OSSL_PARAM_construct_end()};
    // Keying the template once makes its inner digest contexts initialised,
    // which EVP_MAC_CTX_dup needs; users re-key their duplicate.
    const int size = EVP_MD_get_size(md);
    unsigned char zeros[EVP_MAX_MD_SIZE] = {};
    if (size <= 0 || EVP_MAC_init(ctx, zeros, static_cast<size_t>(size), params) != 1) {
        EVP_MAC_CTX_free(ctx);
        return nullptr;
    }
    return ctx;
}

}  // namespace

const EVP_MD* CachedDigest(HashId id) {
    const auto i = static_cast<size_t>(id);
    return Slot(
        g_digests[i], [i] { return EVP_MD_fetch(CryptoContext(), kDigestNames[i], nullptr); },
        EVP_MD_free);
}

const EVP_MAC_CTX* CachedHmacTemplate(HashId id) {
    const auto i = static_cast<size_t>(id);
    const EVP_MD* md = CachedDigest(id);
    if (md == nullptr) return nullptr;
    return Slot(
        g_hmacs[i], [md, i] { return MakeHmacTemplate(md, kDigestNames[i]); }, EVP_MAC_CTX_free);
}

const EVP_CIPHER* CachedCipher(CipherId id) {
    const auto i = static_cast<size_t>(id);
    return Slot(
        g_ciphers[i], [i] { return EVP_CIPHER_fetch(CryptoContext(), kCipherNames[i], nullptr); },
        EVP_CIPHER_free);
}

const EVP_CIPHER* CachedCipher(const char* name) {
    for (size_t i = 0; i < static_cast<size_t>(CipherId::kCount); ++i) {
        if (name != nullptr && std::strcmp(name, kCipherNames[i]) == 0)
            return CachedCipher(static_cast<CipherId>(i));
    }
    return nullptr;
}

bool RandomBytes(unsigned char* out, size_t size) {
    return EnsureCryptoReady() && RAND_bytes_ex(CryptoContext(), out, size, 0) == 1;
}

}  // namespace snmp::detail
