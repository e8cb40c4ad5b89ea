// CBC-DES and CFB128-AES privacy of the User-based Security Model: salts,
// privacy-key extension, encryption into the encode buffer and in-place
// decryption of received scoped PDUs.
#include "snmp/security/usm_priv.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "snmp/asn.h"
#include "snmp/exception.h"
#include "snmp/message.h"
#include "snmp/security/crypto_cache.h"
#include "snmp/security/usm.h"
#include "snmp/security/usm_auth.h"

namespace snmp {

namespace {

constexpr unsigned int kTagOctetString = 0x04;
constexpr unsigned int kTagSequence = 0x30;
// A BER type octet plus a length of at most four octets.
constexpr unsigned int kMaxHeader = 5;
// AES works on 16-octet blocks; its IV is one block.
constexpr unsigned int kAesBlock = 16;

template <typename T>
T RandomStart() {
    unsigned char bytes[sizeof(T)];
    T value = 0;
    if (detail::RandomBytes(bytes, sizeof bytes)) {
        for (unsigned char b : bytes) value = static_cast<T>(value << 8 | b);
        return value;
    }
    // OpenSSL's generator is unavailable only when the system has no entropy
    // source at all; the salt stays unique within the process either way.
    std::random_device device;
    for (size_t i = 0; i < sizeof(T); i += 4)
        value = static_cast<T>(static_cast<std::uint64_t>(value) << 32 | device());
    return value;
}

// One counter per salt size for the whole process: messages are encrypted by
// short-lived copies of a user's protocol objects on several threads, and no
// two messages under one key may share a salt (RFC 3414, RFC 3826).
std::atomic<std::uint32_t>& DesSaltCounter() {
    static std::atomic<std::uint32_t> counter{RandomStart<std::uint32_t>()};
    return counter;
}

std::atomic<std::uint64_t>& AesSaltCounter() {
    static std::atomic<std::uint64_t> counter{RandomStart<std::uint64_t>()};
    return counter;
}

void PutBigEndian(unsigned char* out, std::uint64_t value, unsigned int octets) {
    for (unsigned int i = 0; i < octets; ++i)
        out[i] = static_cast<unsigned char>(value >> (8 * (octets - 1 - i)));
}

}  // namespace

USMPriv::USMPriv(unsigned int keyLength, detail::CipherId cipher, unsigned int cipherKeyLength)
    : keyLength_(keyLength), cipherId_(cipher), cipherKeyLength_(cipherKeyLength) {}

USMPriv::~USMPriv() {
    for (Keyed* side : {&encrypt_, &decrypt_}) {
        EVP_CIPHER_CTX_free(side->ctx);
        OPENSSL_cleanse(side->key, sizeof side->key);
    }
}

EVP_CIPHER_CTX* USMPriv::Ready(Keyed& side, bool encrypt, const unsigned char* key,
                               const unsigned char* iv) {
    if (cipher_ == nullptr && (cipher_ = detail::CachedCipher(cipherId_)) == nullptr)
        return nullptr;
    if (side.ctx == nullptr && (side.ctx = EVP_CIPHER_CTX_new()) == nullptr) return nullptr;
    const int enc = encrypt ? 1 : 0;
    // Under the key it holds, the context keeps its key schedule and only
    // takes the new IV.
    const bool same = side.keyed && CRYPTO_memcmp(side.key, key, cipherKeyLength_) == 0;
    const int ok = same ? EVP_CipherInit_ex2(side.ctx, nullptr, nullptr, iv, enc, nullptr)
                        : EVP_CipherInit_ex2(side.ctx, cipher_, key, iv, enc, nullptr);
    side.keyed = false;
    if (ok != 1) return nullptr;
    // CBC padding is not checked on the way in: RFC 3414 leaves its content
    // to the sender, and the scoped PDU's own length tells where the
    // plaintext ends. A new IV keeps the setting.
    if (!same && !encrypt && EVP_CIPHER_CTX_set_padding(side.ctx, 0) != 1) return nullptr;
    std::copy(key, key + cipherKeyLength_, side.key);
    side.keyed = true;
    return side.ctx;
}

bool USMPriv::EncryptPieces(const unsigned char* key, const unsigned char* iv, bool padded,
                            const Message& msg) {
    MsgEncBuf* enc = msg.EncBuffer();
    if (enc == nullptr || enc->encryptedPdu.buffer == nullptr) return false;
    MsgEncPiece* const plain[3] = {&enc->scopedHeader, &enc->pduHeader, &enc->varBinds};
    unsigned int plainLength = 0;
    for (const MsgEncPiece* piece : plain) plainLength += piece->length;
    constexpr unsigned int kPadBlock = PrivDES::kBlockSize;
    constexpr unsigned int kRoom = PrivDES::kHeaderRoom;
    // The datagram bound is the message's maximum size; the ciphertext must
    // also fit the buffer behind the room kept for its header, which may be
    // smaller when it was allocated before the maximum size was raised.
    const unsigned int cipherLength =
        padded ? (plainLength / kPadBlock + 1) * kPadBlock : plainLength;
    const unsigned int bound = padded ? plainLength + kPadBlock : plainLength;
    if (bound > msg.MaxEnc() || enc->encryptedPdu.capacity < kRoom ||
        cipherLength > enc->encryptedPdu.capacity - kRoom)
        return false;

    EVP_CIPHER_CTX* ctx = Ready(encrypt_, true, key, iv);
    if (ctx == nullptr) return false;
    unsigned char* const cipherStart = enc->encryptedPdu.buffer + kRoom;
    unsigned char* out = cipherStart;
    for (const MsgEncPiece* piece : plain) {
        if (piece->length == 0) continue;
        int written = 0;
        if (EVP_EncryptUpdate(ctx, out, &written, piece->start, static_cast<int>(piece->length)) !=
            1)
            return false;
        out += written;
    }
    int written = 0;
    if (EVP_EncryptFinal_ex(ctx, out, &written) != 1 || (padded && written <= 0)) return false;
    out += written;
    const auto produced = static_cast<unsigned int>(out - cipherStart);
    if (produced != cipherLength) return false;

    unsigned char header[32];
    unsigned char* h = header;
    unsigned int room = sizeof header;
    AsnEncodeType(h, room, kTagOctetString);
    AsnEncodeLength(h, room, produced);
    const auto headerLength = static_cast<unsigned int>(h - header);
    if (headerLength > kRoom) return false;
    enc->encryptedPdu.start = cipherStart - headerLength;
    std::copy(header, h, enc->encryptedPdu.start);
    enc->encryptedPdu.length = headerLength + produced;
    for (MsgEncPiece* piece : plain) piece->length = 0;
    return true;
}

bool USMPriv::DecryptElement(const unsigned char* key, const unsigned char* iv,
                             unsigned int lengthMultiple, unsigned char* msg, unsigned int& msgLen,
                             unsigned int offset) {
    if (msg == nullptr || offset >= msgLen) return false;
    const unsigned char* p = msg + offset;
    unsigned int left = std::min(kMaxHeader, msgLen - offset);
    unsigned int type = 0;
    unsigned int length = 0;
    AsnDecodeType(p, left, type);
    if (type != kTagOctetString) throw Exception(1, "encryptedPDU is not an OCTET STRING");
    AsnDecodeLength(p, left, length);
    const auto headerLength = static_cast<unsigned int>(p - (msg + offset));
    // The claimed length must lie inside the datagram: nothing beyond it is
    // read, and such a message fails like any other undecryptable one.
    if (length > msgLen - offset - headerLength) return false;
    if (length % lengthMultiple != 0) return false;

    EVP_CIPHER_CTX* ctx = Ready(decrypt_, false, key, iv);
    if (ctx == nullptr) return false;
    if (plain_.size() < length + kAesBlock) plain_.resize(length + kAesBlock);
    unsigned char* const plain = plain_.data();
    // Wipes the plaintext scratch on every way out.
    struct Wipe {
        unsigned char* data;
        size_t size;
        ~Wipe() { OPENSSL_cleanse(data, size); }
    } wipe{plain, length + kAesBlock};
    int written = 0;
    if (length != 0 && EVP_DecryptUpdate(ctx, plain, &written, p, static_cast<int>(length)) != 1)
        return false;
    int finalWritten = 0;
    if (EVP_DecryptFinal_ex(ctx, plain + written, &finalWritten) != 1) return false;

    // The plaintext must be one SEQUENCE that fits inside it; anything else
    // is what a wrong key produces.
    const unsigned char* q = plain;
    unsigned int qLeft = length;
    unsigned int seqType = 0;
    unsigned int seqLength = 0;
    try {
        AsnDecodeType(q, qLeft, seqType);
        if (seqType == kTagSequence) AsnDecodeLength(q, qLeft, seqLength);
    } catch (const EAsnException&) {
        seqType = 0;
    }
    if (seqType != kTagSequence || seqLength > qLeft)
        throw Exception(1, "decrypted scopedPDU is not a SEQUENCE");
    const auto seqHeader = static_cast<unsigned int>(q - plain);

    std::copy(plain, plain + length, msg + offset);
    msgLen -= (length + headerLength) - (seqLength + seqHeader);
    return true;
}

bool USMPriv::Decrypt(const OctetString& key, const OctetString& privParams,
                      unsigned int /*engineBoots*/, unsigned int /*engineTime*/, unsigned char* msg,
                      unsigned int& msgLen, unsigned int offset) {
    return Decrypt(key, privParams, msg, msgLen, offset);
}

bool USMPriv::ExtendKey(USMAuth& /*auth*/, const OctetString& /*engineId*/, OctetString& key) {
    return key.Size() >= keyLength_;
}

unsigned int PrivDES::NextSaltCounter() {
    return DesSaltCounter().fetch_add(1);
}

bool PrivDES::Encrypt(const OctetString& key, const Message& msg, OctetString& privParams) {
    if (key.Size() < kMinKeyLength) return false;
    unsigned char salt[kSaltLength];
    const USM* usm = msg.SecAttributes();
    PutBigEndian(salt, usm != nullptr ? usm->EngineBoots() : 0, 4);
    PutBigEndian(salt + 4, NextSaltCounter(), 4);
    unsigned char iv[kBlockSize];
    for (unsigned int i = 0; i < kBlockSize; ++i) iv[i] = key[static_cast<int>(8 + i)] ^ salt[i];
    if (!EncryptPieces(key.Data(), iv, true, msg)) return false;
    privParams.Set(salt, kSaltLength);
    return true;
}

bool PrivDES::Decrypt(const OctetString& key, const OctetString& privParams, unsigned char* msg,
                      unsigned int& msgLen, unsigned int offset) {
    if (key.Size() < kMinKeyLength || privParams.Size() != kSaltLength) return false;
    unsigned char iv[kBlockSize];
    for (unsigned int i = 0; i < kBlockSize; ++i)
        iv[i] = key[static_cast<int>(8 + i)] ^ privParams[static_cast<int>(i)];
    return DecryptElement(key.Data(), iv, kBlockSize, msg, msgLen, offset);
}

PrivDES::PrivDES() : USMPriv(kMinKeyLength, detail::CipherId::kDesCbc, 8) {}

PrivAES::PrivAES(unsigned int keyLength, detail::CipherId cipher, KeyExtension extension)
    : USMPriv(keyLength, cipher, keyLength), extension_(extension) {}

std::uint64_t PrivAES::NextSalt() {
    return AesSaltCounter().fetch_add(1);
}

bool PrivAES::Encrypt(const OctetString& key, const Message& msg, OctetString& privParams) {
    if (key.Size() < KeyLength()) return false;
    const USM* usm = msg.SecAttributes();
    unsigned char iv[kAesBlock];
    PutBigEndian(iv, usm != nullptr ? usm->EngineBoots() : 0, 4);
    PutBigEndian(iv + 4, usm != nullptr ? usm->EngineTime() : 0, 4);
    PutBigEndian(iv + 8, NextSalt(), kSaltLength);
    if (!EncryptPieces(key.Data(), iv, false, msg)) return false;
    privParams.Set(iv + 8, kSaltLength);
    return true;
}

bool PrivAES::Decrypt(const OctetString& /*key*/, const OctetString& /*privParams*/,
                      unsigned char* /*msg*/, unsigned int& /*msgLen*/, unsigned int /*offset*/) {
    return false;
}

bool PrivAES::Decrypt(const OctetString& key, const OctetString& privParams,
                      unsigned int engineBoots, unsigned int engineTime, unsigned char* msg,
                      unsigned int& msgLen, unsigned int offset) {
    if (key.Size() < KeyLength() || privParams.Size() != kSaltLength) return false;
    unsigned char iv[kAesBlock];
    PutBigEndian(iv, engineBoots, 4);
    PutBigEndian(iv + 4, engineTime, 4);
    std::copy(privParams.Data(), privParams.Data() + kSaltLength, iv + 8);
    return DecryptElement(key.Data(), iv, 1, msg, msgLen, offset);
}

bool PrivAES::ExtendKey(USMAuth& auth, const OctetString& engineId, OctetString& key) {
    if (key.Size() >= KeyLength()) return true;
    if (key.Empty()) return false;
    OctetString extended = key;
    OctetString block = key;
    while (extended.Size() < KeyLength()) {
        OctetString next;
        bool ok = false;
        if (extension_ == KeyExtension::kBlumenthal) {
            ok = auth.Digest(extended, nullptr, 0, next);
        } else {
            // The previous block, taken as a password, through the whole
            // password-to-key and localisation of the authentication protocol.
            std::string password(reinterpret_cast<const char*>(block.Data()), block.Size());
            OctetString ku;
            ok = auth.PasswordToKey(password, ku) && auth.LocalizeKey(engineId, ku, next);
            OPENSSL_cleanse(password.data(), password.size());
            OPENSSL_cleanse(ku.Data(), ku.Size());
        }
        if (!ok || next.Empty()) {
            OPENSSL_cleanse(extended.Data(), extended.Size());
            return false;
        }
        extended += next;
        block = next;
    }
    extended.Resize(static_cast<int>(KeyLength()));
    key = extended;
    OPENSSL_cleanse(extended.Data(), extended.Size());
    OPENSSL_cleanse(block.Data(), block.Size());
    return true;
}

PrivAES128::PrivAES128() : PrivAES(16, detail::CipherId::kAes128Cfb, KeyExtension::kBlumenthal) {}

PrivAES192::PrivAES192() : PrivAES(24, detail::CipherId::kAes192Cfb, KeyExtension::kBlumenthal) {}

PrivAES256::PrivAES256() : PrivAES(32, detail::CipherId::kAes256Cfb, KeyExtension::kBlumenthal) {}

PrivAES192C::PrivAES192C() : PrivAES(24, detail::CipherId::kAes192Cfb, KeyExtension::kReeder) {}

PrivAES256C::PrivAES256C() : PrivAES(32, detail::CipherId::kAes256Cfb, KeyExtension::kReeder) {}

std::unique_ptr<USMPriv> MakePriv(USMPrivProtocol protocol) {
    switch (protocol) {
        case USMPrivDES:
            return std::make_unique<PrivDES>();
        case USMPrivAES128:
            return std::make_unique<PrivAES128>();
        case USMPrivAES192:
            return std::make_unique<PrivAES192>();
        case USMPrivAES256:
            return std::make_unique<PrivAES256>();
        case USMPrivAES192C:
            return std::make_unique<PrivAES192C>();
        case USMPrivAES256C:
            return std::make_unique<PrivAES256C>();
        default:
            return nullptr;
    }
}

}  // namespace snmp
