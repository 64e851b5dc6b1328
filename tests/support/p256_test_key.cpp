#include "support/p256_test_key.h"

#include <openssl/ec.h>

#include <stdexcept>
#include <string>

#include "ctap/openssl_handles.h"

namespace orvanta::test {

namespace {

void appendLength(std::vector<uint8_t>& out, size_t length) {
    if (length < 0x80) {
        out.push_back(static_cast<uint8_t>(length));
    } else {
        out.push_back(0x81);
        out.push_back(static_cast<uint8_t>(length));
    }
}

std::vector<uint8_t> minimalBytes(const BIGNUM* value) {
    std::vector<uint8_t> bytes(static_cast<size_t>(BN_num_bytes(value)));
    BN_bn2bin(value, bytes.data());
    return bytes;
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

P256TestKey::P256TestKey(uint64_t seed) : drbg_("test key " + std::to_string(seed)) {
    if (!key_.generate(drbg_)) {
        throw std::runtime_error("key generation");
    }
}

std::vector<uint8_t> P256TestKey::sign(const uint8_t* message, size_t length) const {
    std::vector<uint8_t> signature = key_.signDigest(sha256Of(message, length));
    if (signature.empty()) {
        throw std::runtime_error("sign");
    }
    return signature;
}

RawSignature P256TestKey::signRaw(const uint8_t* message, size_t length) const {
    const std::vector<uint8_t> der = sign(message, length);
    const unsigned char* p = der.data();
    const openssl::EcdsaSig sig(d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der.size())));
    if (!sig) {
        throw std::runtime_error("signature decode");
    }
    return {minimalBytes(ECDSA_SIG_get0_r(sig.get())), minimalBytes(ECDSA_SIG_get0_s(sig.get()))};
}

std::array<uint8_t, 32> P256TestKey::agree(const uint8_t* peerX, const uint8_t* peerY) const {
    std::array<uint8_t, 32> x{};
    if (!key_.sharedPoint(peerX, peerY, x)) {
        throw std::runtime_error("agree");
    }
    return x;
}

}  // namespace orvanta::test
