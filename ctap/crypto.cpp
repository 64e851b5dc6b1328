#include "ctap/crypto.h"

#include <mbedtls/asn1.h>
#include <mbedtls/ecdh.h>
#include <mbedtls/ecdsa.h>

#include "ctap/mbedtls_contexts.h"
#include "ctap/secure_wipe.h"

namespace orvanta {

namespace {

// Personalisation of the key-agreement generator: "ecdh" and its terminating zero.
constexpr unsigned char ECDH_PERSONALISATION[] = {'e', 'c', 'd', 'h', '\0'};

// Loads a point from big-endian X and Y coordinates with Z = 1.
int loadPoint(P256Coordinate x, P256Coordinate y, EcpPoint& point) {
    int result = mbedtls_mpi_read_binary(&point.get()->X, x.data(), x.size());
    if (result == 0) {
        result = mbedtls_mpi_read_binary(&point.get()->Y, y.data(), y.size());
    }
    if (result == 0) {
        result = mbedtls_mpi_lset(&point.get()->Z, 1);
    }
    return result;
}

int aesCbc(std::span<const uint8_t, AES_KEY_LENGTH> key, std::span<const uint8_t> input,
           std::span<uint8_t> output, int mode) {
    if (input.size() % AES_BLOCK_LENGTH != 0 || output.size() < input.size()) {
        return MBEDTLS_ERR_AES_INVALID_INPUT_LENGTH;
    }
    AesContext aes;
    constexpr unsigned int keyBits = AES_KEY_LENGTH * 8;
    int result = mode == MBEDTLS_AES_ENCRYPT
                     ? mbedtls_aes_setkey_enc(aes.get(), key.data(), keyBits)
                     : mbedtls_aes_setkey_dec(aes.get(), key.data(), keyBits);
    if (result != 0) {
        return result;
    }
    // A fresh zero IV for every call: the PIN protocol never chains between messages.
    unsigned char iv[AES_BLOCK_LENGTH] = {};
    return mbedtls_aes_crypt_cbc(aes.get(), mode, input.size(), iv, input.data(), output.data());
}

}  // namespace

int computeSharedSecret(P256Coordinate peerX, P256Coordinate peerY, P256CoordinateOut platformX,
                        P256CoordinateOut platformY,
                        std::span<uint8_t, SHARED_SECRET_LENGTH> sharedSecret) {
    EntropyContext entropy;
    return computeSharedSecret(peerX, peerY, platformX, platformY, sharedSecret,
                               mbedtls_entropy_func, entropy.get());
}

int computeSharedSecret(P256Coordinate peerX, P256Coordinate peerY, P256CoordinateOut platformX,
                        P256CoordinateOut platformY,
                        std::span<uint8_t, SHARED_SECRET_LENGTH> sharedSecret,
                        EntropyFunction entropy, void* entropyContext) {
    CtrDrbgContext drbg;
    if (mbedtls_ctr_drbg_seed(drbg.get(), entropy, entropyContext, ECDH_PERSONALISATION,
                              sizeof(ECDH_PERSONALISATION)) != 0) {
        return KEY_AGREEMENT_SEED_FAILED;
    }

    EcpGroup group;
    int result = mbedtls_ecp_group_load(group.get(), MBEDTLS_ECP_DP_SECP256R1);
    if (result != 0) {
        return result;
    }
    EcpPoint peer;
    result = loadPoint(peerX, peerY, peer);
    if (result != 0) {
        return result;
    }
    result = mbedtls_ecp_check_pubkey(group.get(), peer.get());
    if (result != 0) {
        return result;
    }

    // The private scalar lives only in `privateKey`, whose release zeroises it.
    Mpi privateKey;
    EcpPoint publicKey;
    result = mbedtls_ecdh_gen_public(group.get(), privateKey.get(), publicKey.get(),
                                     mbedtls_ctr_drbg_random, drbg.get());
    if (result != 0) {
        return result;
    }
    Mpi sharedX;
    result = mbedtls_ecdh_compute_shared(group.get(), sharedX.get(), peer.get(), privateKey.get(),
                                         mbedtls_ctr_drbg_random, drbg.get());
    if (result != 0) {
        return result;
    }

    uint8_t sharedXBytes[P256_COORDINATE_LENGTH];
    WipeOnExit wipeSharedX(sharedXBytes);
    result = mbedtls_mpi_write_binary(sharedX.get(), sharedXBytes, sizeof(sharedXBytes));
    if (result == 0) {
        result = mbedtls_mpi_write_binary(&publicKey.get()->X, platformX.data(), platformX.size());
    }
    if (result == 0) {
        result = mbedtls_mpi_write_binary(&publicKey.get()->Y, platformY.data(), platformY.size());
    }
    if (result == 0) {
        result = sha256(sharedXBytes, sharedSecret);
    }
    return result;
}

int sha256(std::span<const uint8_t> data, std::span<uint8_t, SHA256_LENGTH> digest) {
    Sha256Context context;
    int result = mbedtls_sha256_starts_ret(context.get(), 0);
    if (result == 0) {
        result = mbedtls_sha256_update_ret(context.get(), data.data(), data.size());
    }
    if (result == 0) {
        result = mbedtls_sha256_finish_ret(context.get(), digest.data());
    }
    return result;
}

int aesCbcEncrypt(std::span<const uint8_t, AES_KEY_LENGTH> key, std::span<const uint8_t> input,
                  std::span<uint8_t> output) {
    return aesCbc(key, input, output, MBEDTLS_AES_ENCRYPT);
}

int aesCbcDecrypt(std::span<const uint8_t, AES_KEY_LENGTH> key, std::span<const uint8_t> input,
                  std::span<uint8_t> output) {
    return aesCbc(key, input, output, MBEDTLS_AES_DECRYPT);
}

int hmacSha256(std::span<const uint8_t> key, std::span<const uint8_t> data,
               std::span<uint8_t, SHA256_LENGTH> mac) {
    MdContext md;
    int result = mbedtls_md_setup(md.get(), mbedtls_md_info_from_type(MBEDTLS_MD_SHA256), 1);
    if (result == 0) {
        result = mbedtls_md_hmac_starts(md.get(), key.data(), key.size());
    }
    if (result == 0) {
        result = mbedtls_md_hmac_update(md.get(), data.data(), data.size());
    }
    if (result == 0) {
        result = mbedtls_md_hmac_finish(md.get(), mac.data());
    }
    return result;
}

int verifyEcdsaP256(std::span<const uint8_t> signature, std::span<const uint8_t> message,
                    std::span<const uint8_t, P256_PUBLIC_KEY_LENGTH> publicKey) {
    if (signature.empty()) {
        return SIGNATURE_R_UNREADABLE;
    }
    // The ASN.1 reader only advances the cursor; it never writes through it.
    auto* cursor = const_cast<unsigned char*>(signature.data());
    const unsigned char* const end = signature.data() + signature.size();

    size_t sequenceLength = 0;
    if (mbedtls_asn1_get_tag(&cursor, end, &sequenceLength,
                             MBEDTLS_ASN1_CONSTRUCTED | MBEDTLS_ASN1_SEQUENCE) != 0) {
        return SIGNATURE_R_UNREADABLE;
    }
    if (cursor + sequenceLength != end) {
        return MBEDTLS_ERR_ASN1_LENGTH_MISMATCH;
    }
    Mpi r;
    Mpi s;
    if (mbedtls_asn1_get_mpi(&cursor, end, r.get()) != 0) {
        return SIGNATURE_R_UNREADABLE;
    }
    if (mbedtls_asn1_get_mpi(&cursor, end, s.get()) != 0) {
        return SIGNATURE_S_UNREADABLE;
    }
    if (cursor != end) {
        return MBEDTLS_ERR_ASN1_LENGTH_MISMATCH;
    }

    uint8_t digest[SHA256_LENGTH];
    int result = sha256(message, digest);
    if (result != 0) {
        return result;
    }
    EcpGroup group;
    result = mbedtls_ecp_group_load(group.get(), MBEDTLS_ECP_DP_SECP256R1);
    if (result != 0) {
        return result;
    }
    EcpPoint point;
    result =
        loadPoint(publicKey.subspan<1, P256_COORDINATE_LENGTH>(),
                  publicKey.subspan<1 + P256_COORDINATE_LENGTH, P256_COORDINATE_LENGTH>(), point);
    if (result != 0) {
        return result;
    }
    result = mbedtls_ecp_check_pubkey(group.get(), point.get());
    if (result != 0) {
        return result;
    }
    return mbedtls_ecdsa_verify(group.get(), digest, sizeof(digest), point.get(), r.get(), s.get());
}

}  // namespace orvanta
