// Internal: the library's own OpenSSL 3 library context, holding the algorithms
// the USM code needs, kept apart from the host process's OpenSSL.
#ifndef SNMP_CRYPTO_SETUP_H
#define SNMP_CRYPTO_SETUP_H

#include <openssl/types.h>

namespace snmp::detail {

// Creates the library's private OpenSSL library context once per process and
// loads OpenSSL's "default" and "legacy" providers into it (later calls only
// return the first result), so that MD5, SHA-1, SHA-2, HMAC, AES and DES-CBC
// can be fetched through EVP. Neither the system's OpenSSL configuration nor
// the host's default library context is touched: a host that runs OpenSSL in
// FIPS mode, or that relies on the legacy algorithms being absent, keeps its
// OpenSSL as it was. Safe to call from any number of threads at once. Returns
// false when the context or a provider could not be set up (privacy and
// authentication operations then fail).
bool EnsureCryptoReady();

// The library's private context (set up on first use), or null when it could
// not be created. Every EVP fetch and random draw of the library goes through
// it. It is never freed: algorithms fetched from it may be in use on any
// thread until the process ends.
OSSL_LIB_CTX* CryptoContext();

}  // namespace snmp::detail

#endif
