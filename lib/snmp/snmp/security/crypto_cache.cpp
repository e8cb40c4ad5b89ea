// Process-wide cache of the OpenSSL digests, HMAC templates and ciphers fetched
// from the library's private library context.
#include "snmp/security/crypto_cache.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <map>
#include <mutex>
#include <string>

#include "snmp/crypto_setup.h"

namespace snmp::detail {

namespace {

// Fetched objects are never released: protocol objects on any thread may hold
// them until the process ends. The maps are reached through never-deleted
// pointers so that no static destructor runs while another thread still uses
// them at exit.
struct Cache {
    std::mutex mutex;
    std::map<std::string, EVP_MD*> digests;
    std::map<std::string, EVP_MAC_CTX*> hmacs;
    std::map<std::string, EVP_CIPHER*> ciphers;
};

Cache& TheCache() {
    static Cache* cache = new Cache;
    return *cache;
}

EVP_MD* FetchDigestLocked(Cache& cache, const std::string& name) {
    auto it = cache.digests.find(name);
    if (it != cache.digests.end()) return it->second;
    EVP_MD* md = EVP_MD_fetch(CryptoContext(), name.c_str(), nullptr);
    // A failed fetch is not remembered: a later call may succeed.
    if (md != nullptr) cache.digests.emplace(name, md);
    return md;
}

EVP_MAC_CTX* MakeHmacTemplate(const EVP_MD* md, const std::string& name) {
    EVP_MAC* mac = EVP_MAC_fetch(CryptoContext(), OSSL_MAC_NAME_HMAC, nullptr);
    if (mac == nullptr) return nullptr;
    EVP_MAC_CTX* ctx = EVP_MAC_CTX_new(mac);
    EVP_MAC_free(mac);  // the context keeps its own reference
    if (ctx == nullptr) return nullptr;
    std::string digestName = name;
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digestName.data(), 0),
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

const EVP_MD* CachedDigest(const char* name) {
    if (!EnsureCryptoReady()) return nullptr;
    Cache& cache = TheCache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    return FetchDigestLocked(cache, name);
}

const EVP_MAC_CTX* CachedHmacTemplate(const char* name) {
    if (!EnsureCryptoReady()) return nullptr;
    Cache& cache = TheCache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    auto it = cache.hmacs.find(name);
    if (it != cache.hmacs.end()) return it->second;
    const EVP_MD* md = FetchDigestLocked(cache, name);
    if (md == nullptr) return nullptr;
    EVP_MAC_CTX* ctx = MakeHmacTemplate(md, name);
    if (ctx != nullptr) cache.hmacs.emplace(name, ctx);
    return ctx;
}

const EVP_CIPHER* CachedCipher(const char* name) {
    if (!EnsureCryptoReady()) return nullptr;
    Cache& cache = TheCache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    auto it = cache.ciphers.find(name);
    if (it != cache.ciphers.end()) return it->second;
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(CryptoContext(), name, nullptr);
    if (cipher != nullptr) cache.ciphers.emplace(name, cipher);
    return cipher;
}

bool RandomBytes(unsigned char* out, size_t size) {
    return EnsureCryptoReady() && RAND_bytes_ex(CryptoContext(), out, size, 0) == 1;
}

}  // namespace snmp::detail
