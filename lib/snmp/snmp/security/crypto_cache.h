// The OpenSSL algorithm objects of the USM code, fetched once per process from
// the library's private library context and shared by every protocol object,
// so that no message pays for a fetch.
#ifndef SNMP_SECURITY_CRYPTO_CACHE_H
#define SNMP_SECURITY_CRYPTO_CACHE_H

#include <openssl/types.h>

#include <cstddef>

namespace snmp::detail {

// The digest named `name` ("MD5", "SHA1", ...), or null when OpenSSL cannot
// provide it. The object lives until the process ends.
const EVP_MD* CachedDigest(const char* name);

// An HMAC context over the digest `name`, already keyed (with zeros), to be
// duplicated with EVP_MAC_CTX_dup and re-keyed with EVP_MAC_init; never used
// directly, so any number of threads may duplicate it at once. Null when
// OpenSSL cannot provide it.
const EVP_MAC_CTX* CachedHmacTemplate(const char* name);

// The cipher named `name` ("DES-CBC", "AES-128-CFB", ...), or null when
// OpenSSL cannot provide it.
const EVP_CIPHER* CachedCipher(const char* name);

// Fills `size` octets at `out` from the private context's generator. False
// when it cannot (no entropy source, or no context).
bool RandomBytes(unsigned char* out, size_t size);

}  // namespace snmp::detail

#endif
