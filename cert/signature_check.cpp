#include "cert/signature_check.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

#include "cert/der.h"
#include "ctap/openssl_handles.h"

namespace orvanta {

namespace {

using openssl::Bignum;
using openssl::EcdsaSig;
using openssl::MdCtx;
using openssl::Pkey;
using OpensslBytes = openssl::Bytes;

struct Algorithm {
    int64_t cose;
    int keyType;                // EVP_PKEY_*
    const char* curve;          // EC keys: the group's name
    const EVP_MD* (*digest)();  // null: the scheme hashes by itself
    bool ecdsa;                 // the signature is a DER pair of INTEGERs
};

const EVP_MD* noDigest() {
    return nullptr;
}

constexpr Algorithm ALGORITHMS[] = {
    {COSE_ES256, EVP_PKEY_EC, "prime256v1", EVP_sha256, true},
    {COSE_ES384, EVP_PKEY_EC, "secp384r1", EVP_sha384, true},
    {COSE_EDDSA, EVP_PKEY_ED25519, nullptr, noDigest, false},  // PureEdDSA: no prehash
    {COSE_RS256, EVP_PKEY_RSA, nullptr, EVP_sha256, false},    // PKCS#1 v1.5 padding
};

Pkey readKey(std::span<const uint8_t> subjectPublicKeyInfo) {
    if (subjectPublicKeyInfo.empty()) {
        return nullptr;
    }
    // An unreadable key is an answer here, not an error to keep.
    ERR_set_mark();
    const unsigned char* p = subjectPublicKeyInfo.data();
    Pkey key(d2i_PUBKEY(nullptr, &p, static_cast<long>(subjectPublicKeyInfo.size())));
    ERR_pop_to_mark();
    if (p != subjectPublicKeyInfo.data() + subjectPublicKeyInfo.size()) {
        return nullptr;  // more than one key's bytes
    }
    return key;
}

// The algorithm entry that fits the key: for `cose` when given, else the key's own.
const Algorithm* algorithmFor(EVP_PKEY* key, std::optional<int64_t> cose, int& error) {
    const int type = EVP_PKEY_get_base_id(key);
    std::string curve;
    if (type == EVP_PKEY_EC) {
        char name[64] = {};
        size_t length = 0;
        if (EVP_PKEY_get_group_name(key, name, sizeof name, &length) == 1) {
            curve.assign(name, length);
        }
    }
    bool typeKnown = false;
    for (const Algorithm& algorithm : ALGORITHMS) {
        const bool fits =
            algorithm.keyType == type && (algorithm.curve == nullptr || curve == algorithm.curve);
        typeKnown = typeKnown || fits;
        if (fits && (!cose || *cose == algorithm.cose)) {
            return &algorithm;
        }
    }
    error = typeKnown ? SIGNATURE_ALG_MISMATCH : SIGNATURE_KEY_UNSUPPORTED;
    return nullptr;
}

// DER SEQUENCE { INTEGER r, INTEGER s } with INTEGERs of any length, as keys write them,
// in the minimal form the library insists on; nothing when the bytes are no such pair.
std::optional<std::vector<uint8_t>> canonicalEcdsa(std::span<const uint8_t> signature) {
    DerCursor outer(signature);
    std::optional<DerElement> pair = outer.next(der_tag::SEQUENCE);
    if (!pair || !outer.atEnd()) {
        return std::nullopt;
    }
    DerCursor inner(pair->content);
    std::optional<DerElement> r = inner.next(der_tag::INTEGER);
    std::optional<DerElement> s = r ? inner.next(der_tag::INTEGER) : std::nullopt;
    // Far longer than any curve's numbers, and too long for the library's int lengths.
    constexpr size_t LONGEST_INTEGER = 4096;
    if (!s || !inner.atEnd() || r->content.size() > LONGEST_INTEGER ||
        s->content.size() > LONGEST_INTEGER) {
        return std::nullopt;
    }
    Bignum rn(BN_bin2bn(r->content.data(), static_cast<int>(r->content.size()), nullptr));
    Bignum sn(BN_bin2bn(s->content.data(), static_cast<int>(s->content.size()), nullptr));
    EcdsaSig sig(ECDSA_SIG_new());
    if (!rn || !sn || !sig || ECDSA_SIG_set0(sig.get(), rn.get(), sn.get()) != 1) {
        return std::nullopt;
    }
    rn.release();  // owned by sig now
    sn.release();
    unsigned char* der = nullptr;
    const int length = i2d_ECDSA_SIG(sig.get(), &der);
    OpensslBytes owner(der);
    if (length <= 0) {
        return std::nullopt;
    }
    return std::vector<uint8_t>(der, der + length);
}

int verify(std::span<const uint8_t> subjectPublicKeyInfo, std::optional<int64_t> cose,
           std::span<const uint8_t> signedData, std::span<const uint8_t> signature) {
    Pkey key = readKey(subjectPublicKeyInfo);
    if (!key) {
        return SIGNATURE_KEY_UNSUPPORTED;
    }
    int error = 0;
    const Algorithm* algorithm = algorithmFor(key.get(), cose, error);
    if (algorithm == nullptr) {
        return error;
    }
    std::vector<uint8_t> ecdsa;
    if (algorithm->ecdsa) {
        std::optional<std::vector<uint8_t>> canonical = canonicalEcdsa(signature);
        if (!canonical) {
            return SIGNATURE_MALFORMED;
        }
        ecdsa = std::move(*canonical);
        signature = ecdsa;
    }
    // The library reads the data through a pointer even when there is none.
    static constexpr uint8_t NOTHING[1] = {};
    const uint8_t* data = signedData.empty() ? NOTHING : signedData.data();
    const uint8_t* sig = signature.empty() ? NOTHING : signature.data();
    ERR_set_mark();
    MdCtx context(EVP_MD_CTX_new());
    const bool valid =
        context &&
        EVP_DigestVerifyInit(context.get(), nullptr, algorithm->digest(), nullptr, key.get()) ==
            1 &&
        EVP_DigestVerify(context.get(), sig, signature.size(), data, signedData.size()) == 1;
    ERR_pop_to_mark();
    return valid ? 0 : SIGNATURE_INVALID;
}

}  // namespace

int verifyAttestationSignature(std::span<const uint8_t> subjectPublicKeyInfo,
                               std::optional<int64_t> alg, std::span<const uint8_t> signedData,
                               std::span<const uint8_t> signature) {
    return verify(subjectPublicKeyInfo, alg, signedData, signature);
}

int verifyRegistrationSignature(std::span<const uint8_t> subjectPublicKeyInfo,
                                std::span<const uint8_t> signedData,
                                std::span<const uint8_t> signature) {
    return verify(subjectPublicKeyInfo, std::nullopt, signedData, signature);
}

}  // namespace orvanta
