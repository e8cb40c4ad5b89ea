// CBC-DES privacy of the User-based Security Model: salts, encryption into the
// encode buffer and in-place decryption of received scoped PDUs.
#include "snmp/security/usm_priv.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "snmp/asn.h"
#include "snmp/exception.h"
#include "snmp/message.h"
#include "snmp/security/crypto_cache.h"
#include "snmp/security/usm.h"

namespace snmp {

namespace {

constexpr unsigned int kTagOctetString = 0x04;
constexpr unsigned int kTagSequence = 0x30;
// A BER type octet plus a length of at most four octets.
constexpr unsigned int kMaxHeader = 5;

struct CipherCtxFree {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

std::uint32_t RandomCounterStart() {
    unsigned char bytes[4];
    if (RAND_bytes(bytes, sizeof bytes) == 1)
        return static_cast<std::uint32_t>(bytes[0]) << 24 |
               static_cast<std::uint32_t>(bytes[1]) << 16 |
               static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
    // OpenSSL's generator is unavailable only when the system has no entropy
    // source at all; the salt stays unique within the process either way.
    std::random_device device;
    return static_cast<std::uint32_t>(device());
}

// One counter for the whole process: messages are encrypted by short-lived
// copies of a user's protocol objects on several threads, and RFC 3414 asks
// that no two messages under one key share a salt.
std::atomic<std::uint32_t>& SaltCounter() {
    static std::atomic<std::uint32_t> counter{RandomCounterStart()};
    return counter;
}

void PutBigEndian32(unsigned char* out, std::uint32_t value) {
    out[0] = static_cast<unsigned char>(value >> 24);
    out[1] = static_cast<unsigned char>(value >> 16);
    out[2] = static_cast<unsigned char>(value >> 8);
    out[3] = static_cast<unsigned char>(value);
}

}  // namespace

USMPriv::~USMPriv() = default;

unsigned int PrivDES::NextSaltCounter() {
    return SaltCounter().fetch_add(1);
}

bool PrivDES::Encrypt(const OctetString& key, const Message& msg, OctetString& privParams) {
    if (key.Size() < kMinKeyLength) return false;
    MsgEncBuf* enc = msg.EncBuffer();
    if (enc == nullptr || enc->encryptedPdu.buffer == nullptr) return false;
    MsgEncPiece* const plain[3] = {&enc->scopedHeader, &enc->pduHeader, &enc->varBinds};
    unsigned int plainLength = 0;
    for (const MsgEncPiece* piece : plain) plainLength += piece->length;
    // Padding always adds 1 to 8 octets. The datagram bound is the message's
    // maximum size; the ciphertext must also fit the buffer behind the room
    // kept for its header, which may be smaller when it was allocated
    // before the maximum size was raised.
    const unsigned int cipherLength = (plainLength / kBlockSize + 1) * kBlockSize;
    if (plainLength + kBlockSize > msg.MaxEnc() || enc->encryptedPdu.capacity < kHeaderRoom ||
        cipherLength > enc->encryptedPdu.capacity - kHeaderRoom)
        return false;
    const EVP_CIPHER* cipher = detail::CachedCipher("DES-CBC");
    if (cipher == nullptr) return false;

    unsigned char salt[kSaltLength];
    const USM* usm = msg.SecAttributes();
    PutBigEndian32(salt, usm != nullptr ? usm->EngineBoots() : 0);
    PutBigEndian32(salt + 4, NextSaltCounter());
    unsigned char iv[kBlockSize];
    for (unsigned int i = 0; i < kBlockSize; ++i) iv[i] = key[static_cast<int>(8 + i)] ^ salt[i];

    CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (!ctx || EVP_EncryptInit_ex2(ctx.get(), cipher, key.Data(), iv, nullptr) != 1) return false;
    unsigned char* const cipherStart = enc->encryptedPdu.buffer + kHeaderRoom;
    unsigned char* out = cipherStart;
    for (const MsgEncPiece* piece : plain) {
        if (piece->length == 0) continue;
        int written = 0;
        if (EVP_EncryptUpdate(ctx.get(), out, &written, piece->start,
                              static_cast<int>(piece->length)) != 1)
            return false;
        out += written;
    }
    int written = 0;
    if (EVP_EncryptFinal_ex(ctx.get(), out, &written) != 1 || written <= 0) return false;
    out += written;
    const unsigned int produced = static_cast<unsigned int>(out - cipherStart);

    unsigned char header[32];
    unsigned char* h = header;
    unsigned int room = sizeof header;
    AsnEncodeType(h, room, kTagOctetString);
    AsnEncodeLength(h, room, produced);
    const auto headerLength = static_cast<unsigned int>(h - header);
    if (headerLength > kHeaderRoom) return false;
    enc->encryptedPdu.start = cipherStart - headerLength;
    std::copy(header, h, enc->encryptedPdu.start);
    enc->encryptedPdu.length = headerLength + produced;
    for (MsgEncPiece* piece : plain) piece->length = 0;
    privParams.Set(salt, kSaltLength);
    return true;
}

bool PrivDES::Decrypt(const OctetString& key, const OctetString& privParams, unsigned char* msg,
                      unsigned int& msgLen, unsigned int offset) {
    if (key.Size() < kMinKeyLength || privParams.Size() != kSaltLength) return false;
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
    if (length % kBlockSize != 0) return false;
    const EVP_CIPHER* cipher = detail::CachedCipher("DES-CBC");
    if (cipher == nullptr) return false;

    unsigned char iv[kBlockSize];
    for (unsigned int i = 0; i < kBlockSize; ++i)
        iv[i] = key[static_cast<int>(8 + i)] ^ privParams[static_cast<int>(i)];
    std::vector<unsigned char> plain(length + kBlockSize);
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (!ctx || EVP_DecryptInit_ex2(ctx.get(), cipher, key.Data(), iv, nullptr) != 1) return false;
    // The padding is not checked: RFC 3414 leaves its content to the sender,
    // and the scoped PDU's own length tells where the plaintext ends.
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    int written = 0;
    if (length != 0 &&
        EVP_DecryptUpdate(ctx.get(), plain.data(), &written, p, static_cast<int>(length)) != 1)
        return false;
    int finalWritten = 0;
    if (EVP_DecryptFinal_ex(ctx.get(), plain.data() + written, &finalWritten) != 1) return false;

    // The plaintext must be one SEQUENCE that fits inside it; anything else
    // is what a wrong key produces.
    const unsigned char* q = plain.data();
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
    const auto seqHeader = static_cast<unsigned int>(q - plain.data());

    std::copy(plain.begin(), plain.begin() + length, msg + offset);
    OPENSSL_cleanse(plain.data(), plain.size());
    msgLen -= (length + headerLength) - (seqLength + seqHeader);
    return true;
}

}  // namespace snmp
