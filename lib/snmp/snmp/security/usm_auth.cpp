// HMAC-MD5-96, HMAC-SHA-96 and HMAC-SHA-2 authentication of the User-based
// Security Model.
#include "snmp/security/usm_auth.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <vector>

#include "snmp/message.h"
#include "snmp/security/crypto_cache.h"

namespace snmp {

namespace {

// RFC 3414 A.2: the password is repeated over 1 MiB, hashed in 64-octet blocks.
constexpr unsigned int kExpansionLength = 1048576;
constexpr unsigned int kExpansionBlock = 64;
// Blocks are fed in groups of this many octets (a multiple of the block) to
// keep the number of digest calls low; the hashed octet stream is the same.
constexpr unsigned int kExpansionChunk = 64 * kExpansionBlock;

// The MD5 and SHA-1 MACs of this protocol family are truncated to 96 bits.
constexpr unsigned int kHmac96Length = 12;

}  // namespace

USMAuth::USMAuth(detail::HashId hash, unsigned int keyLength, unsigned int digestLength)
    : hash_(hash), keyLength_(keyLength), digestLength_(digestLength) {}

USMAuth::~USMAuth() {
    EVP_MD_CTX_free(mdCtx_);
    EVP_MAC_CTX_free(macCtx_);
    OPENSSL_cleanse(macKey_, sizeof macKey_);
}

bool USMAuth::ReadyDigest() {
    if (md_ == nullptr && (md_ = detail::CachedDigest(hash_)) == nullptr) return false;
    return mdCtx_ != nullptr || (mdCtx_ = EVP_MD_CTX_new()) != nullptr;
}

bool USMAuth::Hash(const Span* parts, unsigned int count, OctetString& out) {
    if (!ReadyDigest() || EVP_DigestInit_ex2(mdCtx_, md_, nullptr) != 1) return false;
    for (unsigned int i = 0; i < count; ++i) {
        if (parts[i].size != 0 && EVP_DigestUpdate(mdCtx_, parts[i].data, parts[i].size) != 1)
            return false;
    }
    unsigned char result[EVP_MAX_MD_SIZE];
    unsigned int resultLen = 0;
    if (EVP_DigestFinal_ex(mdCtx_, result, &resultLen) != 1 || resultLen < keyLength_) return false;
    out.Set(result, keyLength_);
    return true;
}

bool USMAuth::Mac(const OctetString& key, const Span* parts, unsigned int count, unsigned char* out,
                  unsigned int outLen) {
    if (macCtx_ == nullptr) {
        const EVP_MAC_CTX* tmpl = detail::CachedHmacTemplate(hash_);
        // EVP_MAC_CTX_dup takes a non-const pointer but only reads its source.
        if (tmpl == nullptr ||
            (macCtx_ = EVP_MAC_CTX_dup(const_cast<EVP_MAC_CTX*>(tmpl))) == nullptr)
            return false;
    }
    // Re-keying hashes both pads again; under the key of the last call the
    // context only restarts from the pads it keeps.
    const bool sameKey = key.Size() != 0 && key.Size() == macKeyLength_ &&
                         CRYPTO_memcmp(key.Data(), macKey_, macKeyLength_) == 0;
    if (!sameKey) {
        macKeyLength_ = 0;
        if (key.Size() > sizeof macKey_ ||
            EVP_MAC_init(macCtx_, key.Data(), key.Size(), nullptr) != 1)
            return false;
        std::copy(key.Data(), key.Data() + key.Size(), macKey_);
        macKeyLength_ = key.Size();
    } else if (EVP_MAC_init(macCtx_, nullptr, 0, nullptr) != 1) {
        return false;
    }
    for (unsigned int i = 0; i < count; ++i) {
        if (parts[i].size != 0 && EVP_MAC_update(macCtx_, parts[i].data, parts[i].size) != 1)
            return false;
    }
    unsigned char result[EVP_MAX_MD_SIZE];
    size_t resultLen = 0;
    if (EVP_MAC_final(macCtx_, result, &resultLen, sizeof result) != 1 || resultLen < outLen)
        return false;
    std::copy(result, result + outLen, out);
    OPENSSL_cleanse(result, sizeof result);
    return true;
}

bool USMAuth::CreateDigest(const OctetString& key, const Message& msg, OctetString& digest) {
    if (key.Size() != keyLength_) return false;
    const MsgEncBuf* enc = msg.EncBuffer();
    if (enc == nullptr) return false;
    // The pieces in wire order: the whole serialised message, with the
    // zeroed authentication parameters inside securityParams.
    const MsgEncPiece* pieces[6] = {&enc->msgHeader, &enc->globalData, &enc->securityParams};
    unsigned int count = 3;
    if (msg.SecurityLevel() == SecLevelAuthPriv) {
        pieces[count++] = &enc->encryptedPdu;
    } else {
        pieces[count++] = &enc->scopedHeader;
        pieces[count++] = &enc->pduHeader;
        pieces[count++] = &enc->varBinds;
    }
    Span parts[6];
    for (unsigned int i = 0; i < count; ++i) parts[i] = {pieces[i]->start, pieces[i]->length};
    unsigned char mac[EVP_MAX_MD_SIZE];
    if (!Mac(key, parts, count, mac, digestLength_)) return false;
    digest.Set(mac, digestLength_);
    return true;
}

bool USMAuth::VerifyDigest(const OctetString& key, const OctetString& digest, unsigned char* msg,
                           unsigned int msgLen, unsigned int digestOffset) {
    if (key.Size() != keyLength_ || digest.Size() != digestLength_) return false;
    // The field must lie inside the datagram before it is zeroed.
    if (msg == nullptr || digestOffset > msgLen || msgLen - digestOffset < digestLength_)
        return false;
    std::fill(msg + digestOffset, msg + digestOffset + digestLength_, 0);
    const Span part = {msg, msgLen};
    unsigned char mac[EVP_MAX_MD_SIZE];
    if (!Mac(key, &part, 1, mac, digestLength_)) return false;
    // Constant time, so that a forger learns nothing from the time the
    // comparison takes.
    return CRYPTO_memcmp(mac, digest.Data(), digestLength_) == 0;
}

bool USMAuth::PasswordToKey(const std::string& password, OctetString& key) {
    if (password.empty()) return false;
    if (!ReadyDigest() || EVP_DigestInit_ex2(mdCtx_, md_, nullptr) != 1) return false;
    // The password is repeated once into a window one chunk longer than
    // itself; each chunk of the expansion is then a slice of that window, so
    // no octet is computed twice and the cost is the digest's own.
    const size_t length = password.size();
    std::vector<unsigned char> window(kExpansionChunk + length);
    for (size_t i = 0; i < window.size(); ++i) {
        window[i] = static_cast<unsigned char>(password[i % length]);
    }
    size_t offset = 0;
    bool hashed = true;
    for (unsigned int count = 0; hashed && count < kExpansionLength; count += kExpansionChunk) {
        hashed = EVP_DigestUpdate(mdCtx_, window.data() + offset, kExpansionChunk) == 1;
        offset = (offset + kExpansionChunk) % length;
    }
    OPENSSL_cleanse(window.data(), window.size());
    if (!hashed) return false;
    unsigned char result[EVP_MAX_MD_SIZE];
    unsigned int resultLen = 0;
    if (EVP_DigestFinal_ex(mdCtx_, result, &resultLen) != 1 || resultLen < keyLength_) return false;
    key.Set(result, keyLength_);
    OPENSSL_cleanse(result, sizeof result);
    return true;
}

bool USMAuth::LocalizeKey(const OctetString& engineId, const OctetString& key,
                          OctetString& localizedKey) {
    if (key.Size() != keyLength_ || engineId.Empty()) return false;
    // Hashed as a stream: no working buffer whose size would bound the
    // engine id.
    const Span parts[3] = {
        {key.Data(), key.Size()}, {engineId.Data(), engineId.Size()}, {key.Data(), key.Size()}};
    return Hash(parts, 3, localizedKey);
}

bool USMAuth::KeyChangeDigest(const OctetString& key, OctetString& digest,
                              const unsigned char* random, unsigned int len) {
    if (key.Size() < len || (random == nullptr && len != 0)) return false;
    const Span parts[2] = {{key.Data(), len}, {random, len}};
    return Hash(parts, 2, digest);
}

bool USMAuth::Digest(const OctetString& first, const unsigned char* second, unsigned int len,
                     OctetString& digest) {
    if (second == nullptr && len != 0) return false;
    const Span parts[2] = {{first.Data(), first.Size()}, {second, len}};
    return Hash(parts, 2, digest);
}

AuthMD5::AuthMD5() : USMAuth(detail::HashId::kMD5, 16, kHmac96Length) {}

AuthSHA1::AuthSHA1() : USMAuth(detail::HashId::kSHA1, 20, kHmac96Length) {}

AuthSHA224::AuthSHA224() : USMAuth(detail::HashId::kSHA224, 28, 16) {}

AuthSHA256::AuthSHA256() : USMAuth(detail::HashId::kSHA256, 32, 24) {}

AuthSHA384::AuthSHA384() : USMAuth(detail::HashId::kSHA384, 48, 32) {}

AuthSHA512::AuthSHA512() : USMAuth(detail::HashId::kSHA512, 64, 48) {}

std::unique_ptr<USMAuth> MakeAuth(USMAuthProtocol protocol) {
    switch (protocol) {
        case USMAuthMD5:
            return std::make_unique<AuthMD5>();
        case USMAuthSHA1:
            return std::make_unique<AuthSHA1>();
        case USMAuthSHA224:
            return std::make_unique<AuthSHA224>();
        case USMAuthSHA256:
            return std::make_unique<AuthSHA256>();
        case USMAuthSHA384:
            return std::make_unique<AuthSHA384>();
        case USMAuthSHA512:
            return std::make_unique<AuthSHA512>();
        default:
            return nullptr;
    }
}

}  // namespace snmp
