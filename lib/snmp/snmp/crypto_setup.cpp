// Loads the OpenSSL 3 providers that hold the USM algorithms, once per process.
#include "snmp/crypto_setup.h"

#include <openssl/provider.h>

namespace snmp::detail {

bool EnsureCryptoReady() {
    // A function-local static is initialised exactly once even when several
    // threads arrive together. Loading a provider explicitly switches off the
    // automatic fallback to "default", so both are loaded; DES-CBC lives only
    // in "legacy". The providers are never unloaded: other threads may hold
    // algorithms fetched from them until the process ends.
    static const bool ready = [] {
        const OSSL_PROVIDER* defaults = OSSL_PROVIDER_load(nullptr, "default");
        const OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
        return defaults != nullptr && legacy != nullptr;
    }();
    return ready;
}

}  // namespace snmp::detail
