#include "sim/sim_crypto.h"

#include <mbedtls/aes.h>
#include <mbedtls/ecdh.h>
#include <mbedtls/ecp.h>
#include <mbedtls/md.h>
#include <mbedtls/sha256.h>

#include <algorithm>
#include <cstring>

#include "ctap/secure_wipe.h"

namespace orvanta {

namespace {

// An mbed TLS multi-precision integer that frees itself.
struct Mpi {
    Mpi() { mbedtls_mpi_init(&v); }
    ~Mpi() { mbedtls_mpi_free(&v); }
    Mpi(const Mpi&) = delete;
    Mpi& operator=(const Mpi&) = delete;
    mbedtls_mpi v;
};

struct EcpPoint {
    EcpPoint() { mbedtls_ecp_point_init(&v); }
    ~EcpPoint() { mbedtls_ecp_point_free(&v); }
    EcpPoint(const EcpPoint&) = delete;
    EcpPoint& operator=(const EcpPoint&) = delete;
    mbedtls_ecp_point v;
};

struct Aes {
    Aes() { mbedtls_aes_init(&v); }
    ~Aes() { mbedtls_aes_free(&v); }
    Aes(const Aes&) = delete;
    Aes& operator=(const Aes&) = delete;
    mbedtls_aes_context v;
};

}  // namespace

SeededDrbg::SeededDrbg(const std::string& seed) : seed_(seed) {
    mbedtls_ctr_drbg_init(&ctx_);
    const auto* personal = reinterpret_cast<const unsigned char*>(seed_.data());
    // Seeding from our own deterministic source cannot fail for want of entropy.
    mbedtls_ctr_drbg_seed(&ctx_, &SeededDrbg::entropy, this, personal, seed_.size());
}

SeededDrbg::~SeededDrbg() {
    mbedtls_ctr_drbg_free(&ctx_);
}

int SeededDrbg::entropy(void* self, unsigned char* out, size_t length) {
    auto* d = static_cast<SeededDrbg*>(self);
    size_t done = 0;
    while (done < length) {
        Bytes block(d->seed_.begin(), d->seed_.end());
        const uint32_t n = d->entropyCounter_++;
        for (int i = 0; i < 4; ++i) {
            block.push_back(static_cast<uint8_t>(n >> (8 * i)));
        }
        const Sha256Digest h = sha256Of(block);
        const size_t take = std::min(h.size(), length - done);
        std::memcpy(out + done, h.data(), take);
        done += take;
    }
    return 0;
}

void SeededDrbg::fill(uint8_t* out, size_t length) {
    // Requests are chunked to what CTR_DRBG gives per call.
    size_t done = 0;
    while (done < length) {
        const size_t take = std::min<size_t>(MBEDTLS_CTR_DRBG_MAX_REQUEST, length - done);
        if (mbedtls_ctr_drbg_random(&ctx_, out + done, take) != 0) {
            std::memset(out + done, 0, take);
        }
        done += take;
    }
}

Bytes SeededDrbg::bytes(size_t length) {
    Bytes b(length);
    fill(b.data(), b.size());
    return b;
}

int SeededDrbg::callback(void* drbg, unsigned char* out, size_t length) {
    return mbedtls_ctr_drbg_random(&static_cast<SeededDrbg*>(drbg)->ctx_, out, length);
}

SimKeyPair::SimKeyPair() {
    mbedtls_pk_init(&pk_);
}

SimKeyPair::~SimKeyPair() {
    mbedtls_pk_free(&pk_);
}

bool SimKeyPair::generate(SeededDrbg& drbg) {
    mbedtls_pk_free(&pk_);
    mbedtls_pk_init(&pk_);
    if (mbedtls_pk_setup(&pk_, mbedtls_pk_info_from_type(MBEDTLS_PK_ECKEY)) != 0) {
        return false;
    }
    return mbedtls_ecp_gen_key(MBEDTLS_ECP_DP_SECP256R1, mbedtls_pk_ec(pk_), &SeededDrbg::callback,
                               &drbg) == 0;
}

std::array<uint8_t, 65> SimKeyPair::publicPoint() const {
    std::array<uint8_t, 65> out{};
    const mbedtls_ecp_keypair* ec = mbedtls_pk_ec(pk_);
    if (ec == nullptr) {
        return out;
    }
    size_t length = 0;
    mbedtls_ecp_point_write_binary(&ec->grp, &ec->Q, MBEDTLS_ECP_PF_UNCOMPRESSED, &length,
                                   out.data(), out.size());
    return out;
}

Bytes SimKeyPair::signSha256(const uint8_t* data, size_t length, SeededDrbg& drbg) const {
    const Sha256Digest hash = sha256Of(data, length);
    Bytes sig(MBEDTLS_PK_SIGNATURE_MAX_SIZE);
    size_t sigLength = 0;
    if (mbedtls_pk_sign(&pk_, MBEDTLS_MD_SHA256, hash.data(), hash.size(), sig.data(), &sigLength,
                        &SeededDrbg::callback, &drbg) != 0) {
        return {};
    }
    sig.resize(sigLength);
    return sig;
}

bool SimKeyPair::sharedSecret(const uint8_t* x, const uint8_t* y, Sha256Digest& out,
                              SeededDrbg& drbg) const {
    mbedtls_ecp_keypair* ec = mbedtls_pk_ec(pk_);
    if (ec == nullptr) {
        return false;
    }
    uint8_t point[65];
    point[0] = 0x04;
    std::memcpy(point + 1, x, 32);
    std::memcpy(point + 33, y, 32);
    EcpPoint peer;
    Mpi z;
    if (mbedtls_ecp_point_read_binary(&ec->grp, &peer.v, point, sizeof(point)) != 0 ||
        mbedtls_ecp_check_pubkey(&ec->grp, &peer.v) != 0 ||
        mbedtls_ecdh_compute_shared(&ec->grp, &z.v, &peer.v, &ec->d, &SeededDrbg::callback,
                                    &drbg) != 0) {
        return false;
    }
    uint8_t zx[32];
    if (mbedtls_mpi_write_binary(&z.v, zx, sizeof(zx)) != 0) {
        return false;
    }
    out = sha256Of(zx, sizeof(zx));
    secureWipe(zx, sizeof(zx));
    return true;
}

bool SimEd25519Key::generate(SeededDrbg& drbg) {
    uint8_t seed[32];
    drbg.fill(seed, sizeof seed);
    key_.reset(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed, sizeof seed));
    secureWipe(seed, sizeof seed);
    return key_ != nullptr;
}

std::array<uint8_t, 32> SimEd25519Key::publicKey() const {
    std::array<uint8_t, 32> out{};
    size_t length = out.size();
    if (key_ == nullptr || EVP_PKEY_get_raw_public_key(key_.get(), out.data(), &length) != 1) {
        out.fill(0);
    }
    return out;
}

Bytes SimEd25519Key::sign(const uint8_t* data, size_t length) const {
    struct FreeContext {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, FreeContext> context(EVP_MD_CTX_new());
    Bytes signature(64);
    size_t signatureLength = signature.size();
    static constexpr uint8_t NOTHING[1] = {};
    if (key_ == nullptr || context == nullptr ||
        EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key_.get()) != 1 ||
        EVP_DigestSign(context.get(), signature.data(), &signatureLength,
                       length != 0 ? data : NOTHING, length) != 1) {
        return {};
    }
    signature.resize(signatureLength);
    return signature;
}

Sha256Digest sha256Of(const uint8_t* data, size_t length) {
    Sha256Digest out{};
    mbedtls_sha256_ret(data, length, out.data(), 0);
    return out;
}

Sha256Digest hmacSha256Of(const uint8_t* key, size_t keyLength, const uint8_t* data,
                          size_t length) {
    Sha256Digest out{};
    mbedtls_md_hmac(mbedtls_md_info_from_type(MBEDTLS_MD_SHA256), key, keyLength, data, length,
                    out.data());
    return out;
}

namespace {

bool aesCbc(int mode, const uint8_t* key, const uint8_t* in, size_t length, uint8_t* out) {
    if (length % 16 != 0) {
        return false;
    }
    Aes aes;
    const int set = mode == MBEDTLS_AES_ENCRYPT ? mbedtls_aes_setkey_enc(&aes.v, key, 256)
                                                : mbedtls_aes_setkey_dec(&aes.v, key, 256);
    if (set != 0) {
        return false;
    }
    unsigned char iv[16] = {};
    return mbedtls_aes_crypt_cbc(&aes.v, mode, length, iv, in, out) == 0;
}

}  // namespace

bool aes256CbcEncrypt(const uint8_t* key, const uint8_t* in, size_t length, uint8_t* out) {
    return aesCbc(MBEDTLS_AES_ENCRYPT, key, in, length, out);
}

bool aes256CbcDecrypt(const uint8_t* key, const uint8_t* in, size_t length, uint8_t* out) {
    return aesCbc(MBEDTLS_AES_DECRYPT, key, in, length, out);
}

}  // namespace orvanta
