#include "support/p256_test_key.h"

#include <mbedtls/ecdh.h>
#include <mbedtls/ecdsa.h>
#include <mbedtls/sha256.h>

#include <stdexcept>

namespace orvanta::test {

namespace {

void check(int result, const char* what) {
    if (result != 0) {
        throw std::runtime_error(what);
    }
}

std::vector<uint8_t> minimalBytes(const mbedtls_mpi* value) {
    std::vector<uint8_t> bytes(mbedtls_mpi_size(value));
    check(mbedtls_mpi_write_binary(value, bytes.data(), bytes.size()), "mpi write");
    return bytes;
}

void appendLength(std::vector<uint8_t>& out, size_t length) {
    if (length < 0x80) {
        out.push_back(static_cast<uint8_t>(length));
    } else {
        out.push_back(0x81);
        out.push_back(static_cast<uint8_t>(length));
    }
}

}  // namespace

int SeededEntropy::fill(void* context, unsigned char* output, size_t length) {
    auto* self = static_cast<SeededEntropy*>(context);
    for (size_t i = 0; i < length; ++i) {
        // splitmix64: a well-mixed stream from a counter.
        uint64_t z = (self->state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        output[i] = static_cast<unsigned char>(z ^ (z >> 31));
    }
    return 0;
}

int failingEntropy(void*, unsigned char*, size_t) {
    return -1;
}

std::vector<uint8_t> derSignature(const std::vector<uint8_t>& r, const std::vector<uint8_t>& s) {
    std::vector<uint8_t> body;
    for (const auto* integer : {&r, &s}) {
        body.push_back(0x02);
        appendLength(body, integer->size());
        body.insert(body.end(), integer->begin(), integer->end());
    }
    std::vector<uint8_t> der{0x30};
    appendLength(der, body.size());
    der.insert(der.end(), body.begin(), body.end());
    return der;
}

P256TestKey::P256TestKey(uint64_t seed) : entropy_{seed} {
    static constexpr unsigned char personalisation[] = "test key";
    check(mbedtls_ctr_drbg_seed(drbg_.get(), SeededEntropy::fill, &entropy_, personalisation,
                                sizeof(personalisation)),
          "drbg seed");
    check(mbedtls_ecp_gen_key(MBEDTLS_ECP_DP_SECP256R1, key_.get(), mbedtls_ctr_drbg_random,
                              drbg_.get()),
          "key generation");
}

std::array<uint8_t, 65> P256TestKey::publicKey() const {
    std::array<uint8_t, 65> out{};
    size_t written = 0;
    check(mbedtls_ecp_point_write_binary(&key_.get()->grp, &key_.get()->Q,
                                         MBEDTLS_ECP_PF_UNCOMPRESSED, &written, out.data(),
                                         out.size()),
          "point write");
    return out;
}

RawSignature P256TestKey::signRaw(const uint8_t* message, size_t length) {
    unsigned char digest[32];
    check(mbedtls_sha256_ret(message, length, digest, 0), "sha256");
    Mpi r;
    Mpi s;
    check(mbedtls_ecdsa_sign(&key_.get()->grp, r.get(), s.get(), &key_.get()->d, digest,
                             sizeof(digest), mbedtls_ctr_drbg_random, drbg_.get()),
          "sign");
    return {minimalBytes(r.get()), minimalBytes(s.get())};
}

std::vector<uint8_t> P256TestKey::sign(const uint8_t* message, size_t length) {
    RawSignature raw = signRaw(message, length);
    // DER INTEGERs are signed: a set top bit needs a zero byte in front.
    for (auto* integer : {&raw.r, &raw.s}) {
        if (!integer->empty() && ((*integer)[0] & 0x80) != 0) {
            integer->insert(integer->begin(), 0x00);
        }
    }
    return derSignature(raw.r, raw.s);
}

std::array<uint8_t, 32> P256TestKey::agree(const uint8_t* peerX, const uint8_t* peerY) {
    EcpPoint peer;
    check(mbedtls_mpi_read_binary(&peer.get()->X, peerX, 32), "peer x");
    check(mbedtls_mpi_read_binary(&peer.get()->Y, peerY, 32), "peer y");
    check(mbedtls_mpi_lset(&peer.get()->Z, 1), "peer z");
    EcpPoint product;
    check(mbedtls_ecp_mul(&key_.get()->grp, product.get(), &key_.get()->d, peer.get(),
                          mbedtls_ctr_drbg_random, drbg_.get()),
          "multiply");
    std::array<uint8_t, 32> x{};
    check(mbedtls_mpi_write_binary(&product.get()->X, x.data(), x.size()), "x write");
    return x;
}

}  // namespace orvanta::test
