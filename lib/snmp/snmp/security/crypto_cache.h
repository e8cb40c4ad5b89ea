// The OpenSSL algorithm objects of the USM code, fetched once per process from
// the library's private library context and shared by every protocol object,
// so that no message pays for a fetch, a lock or a look-up by name.
#ifndef SNMP_SECURITY_CRYPTO_CACHE_H
#define SNMP_SECURITY_CRYPTO_CACHE_H

#include <openssl/types.h>

#include <cstddef>

namespace snmp::detail {

// The hashes and ciphers the USM protocols use.
enum class HashId { kMD5, kSHA1, kSHA224, kSHA256, kSHA384, kSHA512, kCount };
enum class CipherId { kDesCbc, kAes128Cfb, kAes192Cfb, kAes256Cfb, kCount };

// The digest, or null when OpenSSL cannot provide it. After the first call
// for an id a call is one atomic load. The object lives until the process ends.
const EVP_MD* CachedDigest(HashId id);

// An HMAC context over the digest, already keyed (with zeros), to be
// duplicated with EVP_MAC_CTX_dup and re-keyed with EVP_MAC_init; never used
// directly, so any number of threads may duplicate it at once. Null when
// OpenSSL cannot provide it.
const EVP_MAC_CTX* CachedHmacTemplate(HashId id);

// The cipher, or null when OpenSSL cannot provide it.
const EVP_CIPHER* CachedCipher(CipherId id);

// The same by OpenSSL name ("DES-CBC", "AES-128-CFB", ...), for callers off
// the message path; null for a name that is not one of the ids above.
const EVP_CIPHER* CachedCipher(const char* name);

// Fills `size` octets at `out` from the private context's generator. False
// when it cannot (no entropy source, or no context).
bool RandomBytes(unsigned char* out, size_t size);

}  // namespace snmp::detail

#endif
