// Internal: making the OpenSSL 3 algorithms the USM code needs available.
#ifndef SNMP_CRYPTO_SETUP_H
#define SNMP_CRYPTO_SETUP_H

namespace snmp::detail {

// Loads OpenSSL's "default" and "legacy" providers into the default library
// context once per process (later calls only return the first result), so
// that MD5, SHA-1, HMAC, AES and DES-CBC can be fetched through EVP without
// any change to the system's OpenSSL configuration. Safe to call from any
// number of threads at once. Returns false when a provider could not be
// loaded (DES-CBC is then unavailable and privacy operations fail); the
// providers stay loaded for the life of the process.
bool EnsureCryptoReady();

}  // namespace snmp::detail

#endif
