// The library's private OpenSSL 3 library context with the providers that hold
// the USM algorithms, created once per process.
#include "snmp/crypto_setup.h"

#include <openssl/crypto.h>
#include <openssl/provider.h>

namespace snmp::detail {

namespace {

// The context and its providers live for the life of the process: other
// threads may use algorithms fetched from them until it ends, so they are
// never unloaded. Keeping the handles also keeps the memory reachable for
// leak checkers.
struct Crypto {
    OSSL_LIB_CTX* context = nullptr;
    OSSL_PROVIDER* defaults = nullptr;
    OSSL_PROVIDER* legacy = nullptr;
    bool ready = false;
};

const Crypto& TheCrypto() {
    // A function-local static is initialised exactly once even when several
    // threads arrive together. A fresh context reads no configuration file,
    // so the providers are loaded explicitly; DES-CBC lives only in "legacy".
    static const Crypto crypto = [] {
        Crypto c;
        c.context = OSSL_LIB_CTX_new();
        if (c.context == nullptr) return c;
        c.defaults = OSSL_PROVIDER_load(c.context, "default");
        c.legacy = OSSL_PROVIDER_load(c.context, "legacy");
        c.ready = c.defaults != nullptr && c.legacy != nullptr;
        return c;
    }();
    return crypto;
}

}  // namespace

bool EnsureCryptoReady() {
    return TheCrypto().ready;
}

OSSL_LIB_CTX* CryptoContext() {
    return TheCrypto().context;
}

}  // namespace snmp::detail
