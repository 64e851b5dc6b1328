#include "ctap/crypto.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/obj_mac.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <array>
#include <cstring>
#include <memory>
#include <optional>

#include "ctap/openssl_handles.h"
#include "ctap/secure_wipe.h"

namespace orvanta {

namespace {

using namespace openssl;

// A point from big-endian X and Y; null when it is not on the curve.
EcPoint loadPoint(const EC_GROUP* group, P256Coordinate x, P256Coordinate y, BN_CTX* ctx) {
    uint8_t encoded[P256_PUBLIC_KEY_LENGTH];
    encoded[0] = 0x04;
    std::memcpy(encoded + 1, x.data(), x.size());
    std::memcpy(encoded + 1 + x.size(), y.data(), y.size());
    EcPoint point(EC_POINT_new(group));
    if (!point || EC_POINT_oct2point(group, point.get(), encoded, sizeof encoded, ctx) != 1 ||
        EC_POINT_is_on_curve(group, point.get(), ctx) != 1) {
        return nullptr;
    }
    return point;
}

// Writes the affine coordinates of a point, each padded to 32 bytes.
bool writeCoordinates(const EC_GROUP* group, const EC_POINT* point, P256CoordinateOut x,
                      P256CoordinateOut y, BN_CTX* ctx) {
    Bignum bx(BN_new());
    Bignum by(BN_new());
    return bx && by &&
           EC_POINT_get_affine_coordinates(group, point, bx.get(), by.get(), ctx) == 1 &&
           BN_bn2binpad(bx.get(), x.data(), static_cast<int>(x.size())) ==
               static_cast<int>(x.size()) &&
           BN_bn2binpad(by.get(), y.data(), static_cast<int>(y.size())) ==
               static_cast<int>(y.size());
}

// The P-256 group and a context for its arithmetic: where every curve operation starts.
class P256Curve {
  public:
    bool ready() const { return ctx_ && group_; }
    const EC_GROUP* group() const { return group_.get(); }
    BN_CTX* ctx() const { return ctx_.get(); }

    // A private scalar as a bignum: 0 with it in `out`; CRYPTO_SCALAR_INVALID when it does
    // not lie in [1, n-1] (or cannot be loaded), CRYPTO_FAILED when the curve is not ready.
    int loadScalar(std::span<const uint8_t, P256_SCALAR_LENGTH> scalar, SecretBignum& out) const {
        if (!ready()) {
            return CRYPTO_FAILED;
        }
        out.reset(BN_secure_new());
        if (!out ||
            BN_bin2bn(scalar.data(), static_cast<int>(scalar.size()), out.get()) == nullptr ||
            BN_is_zero(out.get()) || BN_cmp(out.get(), EC_GROUP_get0_order(group())) >= 0) {
            return CRYPTO_SCALAR_INVALID;
        }
        return 0;
    }

  private:
    BnCtx ctx_{BN_CTX_new()};
    EcGroup group_{EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1)};
};

int systemRandom(void*, unsigned char* output, size_t length) {
    return RAND_priv_bytes(output, static_cast<int>(length)) == 1 ? 0 : -1;
}

int aesCbc(std::span<const uint8_t, AES_KEY_LENGTH> key,
           std::span<const uint8_t, AES_BLOCK_LENGTH> iv, std::span<const uint8_t> input,
           std::span<uint8_t> output, bool encrypt) {
    if (input.size() % AES_BLOCK_LENGTH != 0 || output.size() < input.size()) {
        return CRYPTO_BAD_LENGTH;
    }
    if (input.empty()) {
        return 0;
    }
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (!ctx ||
        EVP_CipherInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, key.data(), iv.data(),
                          encrypt ? 1 : 0) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1) {
        return CRYPTO_FAILED;
    }
    // In place is allowed: CBC in either direction reads each block before writing it.
    int written = 0;
    if (EVP_CipherUpdate(ctx.get(), output.data(), &written, input.data(),
                         static_cast<int>(input.size())) != 1 ||
        static_cast<size_t>(written) != input.size()) {
        return CRYPTO_FAILED;
    }
    int tail = 0;
    return EVP_CipherFinal_ex(ctx.get(), output.data() + written, &tail) == 1 && tail == 0
               ? 0
               : CRYPTO_FAILED;
}

constexpr std::array<uint8_t, AES_BLOCK_LENGTH> ZERO_IV{};

// DER reading as lenient as the keys that write it: a definite length of up to four bytes,
// INTEGER contents taken as unsigned big-endian numbers of any length.
struct DerCursor {
    const uint8_t* p;
    const uint8_t* end;

    // The contents of the next element with `tag`; nothing when it is not there whole.
    std::optional<std::span<const uint8_t>> element(uint8_t tag) {
        if (end - p < 2 || *p != tag) {
            return std::nullopt;
        }
        ++p;
        size_t length = *p++;
        if (length & 0x80) {
            const size_t count = length & 0x7F;
            if (count == 0 || count > 4 || static_cast<size_t>(end - p) < count) {
                return std::nullopt;
            }
            length = 0;
            for (size_t i = 0; i < count; ++i) {
                length = length << 8 | *p++;
            }
        }
        if (static_cast<size_t>(end - p) < length) {
            return std::nullopt;
        }
        const std::span<const uint8_t> contents(p, length);
        p += length;
        return contents;
    }
};

}  // namespace

int randomBytes(std::span<uint8_t> output) {
    return output.empty() || RAND_bytes(output.data(), static_cast<int>(output.size())) == 1
               ? 0
               : CRYPTO_FAILED;
}

int p256PublicKey(std::span<const uint8_t, P256_SCALAR_LENGTH> scalar, P256CoordinateOut x,
                  P256CoordinateOut y) {
    P256Curve curve;
    SecretBignum k;
    if (const int failed = curve.loadScalar(scalar, k); failed != 0) {
        return failed;
    }
    EcPoint q(EC_POINT_new(curve.group()));
    if (!q || EC_POINT_mul(curve.group(), q.get(), k.get(), nullptr, nullptr, curve.ctx()) != 1 ||
        !writeCoordinates(curve.group(), q.get(), x, y, curve.ctx())) {
        return CRYPTO_FAILED;
    }
    return 0;
}

int p256SharedX(std::span<const uint8_t, P256_SCALAR_LENGTH> scalar, P256Coordinate peerX,
                P256Coordinate peerY, P256CoordinateOut sharedX) {
    P256Curve curve;
    if (!curve.ready()) {
        return CRYPTO_FAILED;
    }
    EcPoint peer = loadPoint(curve.group(), peerX, peerY, curve.ctx());
    if (!peer) {
        return CRYPTO_POINT_INVALID;
    }
    SecretBignum k;
    if (const int failed = curve.loadScalar(scalar, k); failed != 0) {
        return failed;
    }
    EcPoint shared(EC_POINT_new(curve.group()));
    uint8_t sharedY[P256_COORDINATE_LENGTH];
    WipeOnExit wipeY(sharedY);
    if (!shared ||
        EC_POINT_mul(curve.group(), shared.get(), nullptr, peer.get(), k.get(), curve.ctx()) != 1 ||
        EC_POINT_is_at_infinity(curve.group(), shared.get()) == 1 ||
        !writeCoordinates(curve.group(), shared.get(), sharedX, sharedY, curve.ctx())) {
        return CRYPTO_FAILED;
    }
    return 0;
}

int computeSharedPoint(P256Coordinate peerX, P256Coordinate peerY, P256CoordinateOut platformX,
                       P256CoordinateOut platformY, P256CoordinateOut sharedX,
                       EntropyFunction entropy, void* entropyContext) {
    if (entropy == nullptr) {
        entropy = systemRandom;
    }
    {
        // The peer is checked before any randomness is spent on it.
        P256Curve curve;
        if (!curve.ready()) {
            return CRYPTO_FAILED;
        }
        if (!loadPoint(curve.group(), peerX, peerY, curve.ctx())) {
            return CRYPTO_POINT_INVALID;
        }
    }
    std::array<uint8_t, P256_SCALAR_LENGTH> scalar{};
    WipeOnExit wipeScalar(scalar);
    // A draw outside [1, n-1] is taken again; that happens about once in 2^32 draws.
    for (int attempt = 0; attempt < 8; ++attempt) {
        if (entropy(entropyContext, scalar.data(), scalar.size()) != 0) {
            return KEY_AGREEMENT_SEED_FAILED;
        }
        const int result = p256PublicKey(scalar, platformX, platformY);
        if (result == CRYPTO_SCALAR_INVALID) {
            continue;
        }
        if (result != 0) {
            return result;
        }
        return p256SharedX(scalar, peerX, peerY, sharedX);
    }
    return KEY_AGREEMENT_SEED_FAILED;
}

int computeSharedSecret(P256Coordinate peerX, P256Coordinate peerY, P256CoordinateOut platformX,
                        P256CoordinateOut platformY,
                        std::span<uint8_t, SHARED_SECRET_LENGTH> sharedSecret) {
    return computeSharedSecret(peerX, peerY, platformX, platformY, sharedSecret, systemRandom,
                               nullptr);
}

int computeSharedSecret(P256Coordinate peerX, P256Coordinate peerY, P256CoordinateOut platformX,
                        P256CoordinateOut platformY,
                        std::span<uint8_t, SHARED_SECRET_LENGTH> sharedSecret,
                        EntropyFunction entropy, void* entropyContext) {
    uint8_t sharedX[P256_COORDINATE_LENGTH];
    WipeOnExit wipeSharedX(sharedX);
    const int result =
        computeSharedPoint(peerX, peerY, platformX, platformY, sharedX, entropy, entropyContext);
    return result != 0 ? result : sha256(sharedX, sharedSecret);
}

int sha256(std::span<const uint8_t> data, std::span<uint8_t, SHA256_LENGTH> digest) {
    unsigned int length = 0;
    return EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha256(), nullptr) ==
                       1 &&
                   length == SHA256_LENGTH
               ? 0
               : CRYPTO_FAILED;
}

int hkdfSha256(std::span<const uint8_t> salt, std::span<const uint8_t> keyMaterial,
               std::span<const uint8_t> info, std::span<uint8_t> output) {
    Kdf kdf(EVP_KDF_fetch(nullptr, "HKDF", nullptr));
    KdfCtx ctx(kdf ? EVP_KDF_CTX_new(kdf.get()) : nullptr);
    if (!ctx) {
        return CRYPTO_FAILED;
    }
    char digest[] = "SHA256";
    // OSSL_PARAM takes non-const pointers; the KDF only reads them.
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_octet_string(
            OSSL_KDF_PARAM_KEY, const_cast<uint8_t*>(keyMaterial.data()), keyMaterial.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, const_cast<uint8_t*>(salt.data()),
                                          salt.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, const_cast<uint8_t*>(info.data()),
                                          info.size()),
        OSSL_PARAM_construct_end()};
    return EVP_KDF_derive(ctx.get(), output.data(), output.size(), params) == 1 ? 0 : CRYPTO_FAILED;
}

int aesCbcEncrypt(std::span<const uint8_t, AES_KEY_LENGTH> key, std::span<const uint8_t> input,
                  std::span<uint8_t> output) {
    return aesCbc(key, ZERO_IV, input, output, true);
}

int aesCbcDecrypt(std::span<const uint8_t, AES_KEY_LENGTH> key, std::span<const uint8_t> input,
                  std::span<uint8_t> output) {
    return aesCbc(key, ZERO_IV, input, output, false);
}

int aesCbcEncrypt(std::span<const uint8_t, AES_KEY_LENGTH> key,
                  std::span<const uint8_t, AES_BLOCK_LENGTH> iv, std::span<const uint8_t> input,
                  std::span<uint8_t> output) {
    return aesCbc(key, iv, input, output, true);
}

int aesCbcDecrypt(std::span<const uint8_t, AES_KEY_LENGTH> key,
                  std::span<const uint8_t, AES_BLOCK_LENGTH> iv, std::span<const uint8_t> input,
                  std::span<uint8_t> output) {
    return aesCbc(key, iv, input, output, false);
}

int hmacSha256(std::span<const uint8_t> key, std::span<const uint8_t> data,
               std::span<uint8_t, SHA256_LENGTH> mac) {
    Mac hmac(EVP_MAC_fetch(nullptr, "HMAC", nullptr));
    MacCtx ctx(hmac ? EVP_MAC_CTX_new(hmac.get()) : nullptr);
    if (!ctx) {
        return CRYPTO_FAILED;
    }
    char digest[] = "SHA256";
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                                 OSSL_PARAM_construct_end()};
    // An empty key is a valid HMAC key; the library wants a pointer all the same.
    static const uint8_t noKey = 0;
    size_t length = 0;
    if (EVP_MAC_init(ctx.get(), key.empty() ? &noKey : key.data(), key.size(), params) != 1 ||
        EVP_MAC_update(ctx.get(), data.data(), data.size()) != 1 ||
        EVP_MAC_final(ctx.get(), mac.data(), &length, mac.size()) != 1 || length != SHA256_LENGTH) {
        return CRYPTO_FAILED;
    }
    return 0;
}

namespace {

// One step of RFC 6979's HMAC_DRBG: K = HMAC(K, V || marker || x || h1), V = HMAC(K, V).
// Without `marker` (the retry after a rejected nonce) only V || 0x00 is authenticated.
bool nonceStep(std::array<uint8_t, SHA256_LENGTH>& k, std::array<uint8_t, SHA256_LENGTH>& v,
               uint8_t marker, std::span<const uint8_t> x, std::span<const uint8_t> h1) {
    std::array<uint8_t, SHA256_LENGTH + 1 + 2 * P256_SCALAR_LENGTH> input{};
    WipeOnExit wipeInput(input);
    std::memcpy(input.data(), v.data(), v.size());
    input[v.size()] = marker;
    size_t used = v.size() + 1;
    for (const std::span<const uint8_t> part : {x, h1}) {
        std::memcpy(input.data() + used, part.data(), part.size());
        used += part.size();
    }
    return hmacSha256(k, std::span<const uint8_t>(input.data(), used), k) == 0 &&
           hmacSha256(k, v, v) == 0;
}

// r and s of one nonce k: r = x(kG) mod n, s = k^-1 (e + r d) mod n. False when either is
// zero (the caller takes the next nonce).
bool ecdsaWithNonce(const EC_GROUP* group, const BIGNUM* k, const BIGNUM* d, const BIGNUM* e,
                    BIGNUM* r, BIGNUM* s, BN_CTX* ctx) {
    const BIGNUM* n = EC_GROUP_get0_order(group);
    EcPoint point(EC_POINT_new(group));
    SecretBignum inverse(BN_secure_new());
    SecretBignum sum(BN_secure_new());
    return point && inverse && sum &&
           EC_POINT_mul(group, point.get(), k, nullptr, nullptr, ctx) == 1 &&
           EC_POINT_get_affine_coordinates(group, point.get(), r, nullptr, ctx) == 1 &&
           BN_nnmod(r, r, n, ctx) == 1 && !BN_is_zero(r) &&
           BN_mod_inverse(inverse.get(), k, n, ctx) != nullptr &&
           BN_mod_mul(sum.get(), r, d, n, ctx) == 1 &&
           BN_mod_add(sum.get(), sum.get(), e, n, ctx) == 1 &&
           BN_mod_mul(s, inverse.get(), sum.get(), n, ctx) == 1 && !BN_is_zero(s);
}

}  // namespace

int signEcdsaP256(std::span<const uint8_t, P256_SCALAR_LENGTH> scalar,
                  std::span<const uint8_t, SHA256_LENGTH> digest, std::span<uint8_t> signature,
                  size_t& length) {
    P256Curve curve;
    SecretBignum d;
    if (const int failed = curve.loadScalar(scalar, d); failed != 0) {
        return failed;
    }
    const BIGNUM* n = EC_GROUP_get0_order(curve.group());
    // The digest is as long as the order, so it is the integer e itself; h1 is e mod n.
    Bignum e(BN_bin2bn(digest.data(), static_cast<int>(digest.size()), nullptr));
    Bignum h1(BN_new());
    std::array<uint8_t, SHA256_LENGTH> h1Bytes{};
    if (!e || !h1 || BN_nnmod(h1.get(), e.get(), n, curve.ctx()) != 1 ||
        BN_bn2binpad(h1.get(), h1Bytes.data(), static_cast<int>(h1Bytes.size())) !=
            static_cast<int>(h1Bytes.size())) {
        return CRYPTO_FAILED;
    }
    std::array<uint8_t, SHA256_LENGTH> k{};
    std::array<uint8_t, SHA256_LENGTH> v{};
    WipeOnExit wipeK(k);
    WipeOnExit wipeV(v);
    v.fill(0x01);
    if (!nonceStep(k, v, 0x00, scalar, h1Bytes) || !nonceStep(k, v, 0x01, scalar, h1Bytes)) {
        return CRYPTO_FAILED;
    }
    Bignum r(BN_new());
    Bignum s(BN_new());
    SecretBignum nonce(BN_secure_new());
    if (!r || !s || !nonce) {
        return CRYPTO_FAILED;
    }
    // A nonce outside [1, n-1] or one giving r or s of zero is replaced by the next; that
    // happens about once in 2^32 signatures.
    for (int attempt = 0; attempt < 8; ++attempt) {
        if (hmacSha256(k, v, v) != 0 ||
            BN_bin2bn(v.data(), static_cast<int>(v.size()), nonce.get()) == nullptr) {
            return CRYPTO_FAILED;
        }
        if (!BN_is_zero(nonce.get()) && BN_cmp(nonce.get(), n) < 0 &&
            ecdsaWithNonce(curve.group(), nonce.get(), d.get(), e.get(), r.get(), s.get(),
                           curve.ctx())) {
            EcdsaSig sig(ECDSA_SIG_new());
            if (!sig || ECDSA_SIG_set0(sig.get(), r.get(), s.get()) != 1) {
                return CRYPTO_FAILED;
            }
            r.release();  // owned by sig now
            s.release();
            if (i2d_ECDSA_SIG(sig.get(), nullptr) > static_cast<int>(signature.size())) {
                return CRYPTO_BAD_LENGTH;
            }
            unsigned char* out = signature.data();
            const int written = i2d_ECDSA_SIG(sig.get(), &out);
            if (written <= 0) {
                return CRYPTO_FAILED;
            }
            length = static_cast<size_t>(written);
            return 0;
        }
        if (!nonceStep(k, v, 0x00, {}, {})) {
            return CRYPTO_FAILED;
        }
    }
    return CRYPTO_FAILED;
}

int verifyEcdsaP256(std::span<const uint8_t> signature, std::span<const uint8_t> message,
                    std::span<const uint8_t, P256_PUBLIC_KEY_LENGTH> publicKey) {
    DerCursor outer{signature.data(), signature.data() + signature.size()};
    const std::optional<std::span<const uint8_t>> sequence = outer.element(0x30);
    if (!sequence) {
        return SIGNATURE_R_UNREADABLE;
    }
    if (outer.p != outer.end) {
        return SIGNATURE_TRAILING_BYTES;
    }
    DerCursor inner{sequence->data(), sequence->data() + sequence->size()};
    const std::optional<std::span<const uint8_t>> r = inner.element(0x02);
    if (!r) {
        return SIGNATURE_R_UNREADABLE;
    }
    const std::optional<std::span<const uint8_t>> s = inner.element(0x02);
    if (!s) {
        return SIGNATURE_S_UNREADABLE;
    }
    if (inner.p != inner.end) {
        return SIGNATURE_TRAILING_BYTES;
    }

    P256Curve curve;
    if (!curve.ready()) {
        return CRYPTO_FAILED;
    }
    if (!loadPoint(curve.group(), publicKey.subspan<1, P256_COORDINATE_LENGTH>(),
                   publicKey.subspan<1 + P256_COORDINATE_LENGTH, P256_COORDINATE_LENGTH>(),
                   curve.ctx())) {
        return CRYPTO_POINT_INVALID;
    }
    // r and s are re-encoded canonically: the library accepts only minimal DER, keys do not
    // always write it.
    Bignum rn(BN_bin2bn(r->data(), static_cast<int>(r->size()), nullptr));
    Bignum sn(BN_bin2bn(s->data(), static_cast<int>(s->size()), nullptr));
    EcdsaSig sig(ECDSA_SIG_new());
    if (!rn || !sn || !sig || ECDSA_SIG_set0(sig.get(), rn.get(), sn.get()) != 1) {
        return CRYPTO_FAILED;
    }
    rn.release();  // owned by sig now
    sn.release();
    unsigned char* der = nullptr;
    const int derLength = i2d_ECDSA_SIG(sig.get(), &der);
    if (derLength <= 0) {
        return CRYPTO_FAILED;
    }
    std::unique_ptr<unsigned char, void (*)(unsigned char*)> derOwner(
        der, [](unsigned char* p) { OPENSSL_free(p); });

    uint8_t encodedKey[P256_PUBLIC_KEY_LENGTH];
    std::memcpy(encodedKey, publicKey.data(), sizeof encodedKey);
    encodedKey[0] = 0x04;  // the first byte is not examined
    char groupName[] = "prime256v1";
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, groupName, 0),
        OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, encodedKey, sizeof encodedKey),
        OSSL_PARAM_construct_end()};
    PkeyCtx fromData(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* raw = nullptr;
    if (!fromData || EVP_PKEY_fromdata_init(fromData.get()) != 1 ||
        EVP_PKEY_fromdata(fromData.get(), &raw, EVP_PKEY_PUBLIC_KEY, params) != 1) {
        return CRYPTO_POINT_INVALID;
    }
    Pkey key(raw);
    MdCtx md(EVP_MD_CTX_new());
    if (!md || EVP_DigestVerifyInit(md.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1) {
        return CRYPTO_FAILED;
    }
    return EVP_DigestVerify(md.get(), der, static_cast<size_t>(derLength), message.data(),
                            message.size()) == 1
               ? 0
               : SIGNATURE_INVALID;
}

}  // namespace orvanta
