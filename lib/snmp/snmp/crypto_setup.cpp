// Loads the OpenSSL 3 providers that hold the USM algorithms, once per process.
#include "snmp/crypto_setup.h"

#include <openssl/provider.h>

namespace snmp::detail {

namespace {

// The loaded providers, held for the life of the process: other threads may
// use algorithms fetched from them until it ends, so they are never unloaded.
// Keeping the handles also keeps the memory reachable for leak checkers.
struct Providers {
    OSSL_PROVIDER* defaults = nullptr;
    OSSL_PROVIDER* legacy = nullptr;
};

Providers loaded;

}  // namespace

bool EnsureCryptoReady() {
    // A function-local static is initialised exactly once even when several
    // threads arrive together. Loading a provider explicitly switches off the
    // automatic fallback to "default", so both are loaded; DES-CBC lives only
    // in "legacy".
    static const bool ready = [] {
        loaded.defaults = OSSL_PROVIDER_load(nullptr, "default");
        loaded.legacy = OSSL_PROVIDER_load(nullptr, "legacy");
        return loaded.defaults != nullptr && loaded.legacy != nullptr;
    }();
    return ready;
}

}  // namespace snmp::detail
