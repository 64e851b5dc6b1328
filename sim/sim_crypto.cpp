#include "sim/sim_crypto.h"

#include <openssl/core_names.h>
#include <openssl/params.h>

#include <algorithm>
#include <cstring>
#include <span>

#include "ctap/crypto.h"
#include "ctap/secure_wipe.h"

namespace orvanta {

namespace {

constexpr size_t AES_BLOCK = 16;
// Generate requests longer than this are served in pieces, each one request of its own.
constexpr size_t MAX_REQUEST = 1024;
// Requests served before fresh seed material is drawn.
constexpr uint32_t RESEED_INTERVAL = 10000;

// AES-256 of single blocks, the block cipher of the generator.
bool encryptBlocks(EVP_CIPHER_CTX* aes, const uint8_t* in, size_t length, uint8_t* out) {
    int written = 0;
    return EVP_EncryptUpdate(aes, out, &written, in, static_cast<int>(length)) == 1 &&
           static_cast<size_t>(written) == length;
}

openssl::CipherCtx aesWithKey(const uint8_t* key) {
    openssl::CipherCtx aes(EVP_CIPHER_CTX_new());
    if (!aes || EVP_EncryptInit_ex(aes.get(), EVP_aes_256_ecb(), nullptr, key, nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(aes.get(), 0) != 1) {
        return nullptr;
    }
    return aes;
}

// The counter block as a 128-bit big-endian number, plus one.
void increment(std::array<uint8_t, AES_BLOCK>& block) {
    for (size_t i = block.size(); i-- > 0;) {
        if (++block[i] != 0) {
            break;
        }
    }
}

// Block_Cipher_df of SP 800-90A: 48 bytes from seed material of any length.
bool derive(const uint8_t* input, size_t length, uint8_t out[48]) {
    // S = L || N || input || 0x80, zero-padded to whole blocks, after a block for the IV.
    Bytes s(AES_BLOCK + 8);
    for (int i = 0; i < 4; ++i) {
        s[AES_BLOCK + static_cast<size_t>(i)] = static_cast<uint8_t>(length >> (24 - 8 * i));
    }
    s[AES_BLOCK + 7] = 48;
    s.insert(s.end(), input, input + length);
    s.push_back(0x80);
    s.resize((s.size() + AES_BLOCK - 1) / AES_BLOCK * AES_BLOCK);
    struct WipeMaterial {
        Bytes& bytes;
        ~WipeMaterial() { secureWipe(bytes.data(), bytes.size()); }
    } wipeS{s};
    uint8_t derivationKey[32];
    for (uint8_t i = 0; i < sizeof derivationKey; ++i) {
        derivationKey[i] = i;
    }
    openssl::CipherCtx aes = aesWithKey(derivationKey);
    uint8_t temp[48];
    WipeOnExit wipeTemp(temp);
    for (uint8_t block = 0; block < 3; ++block) {
        s[3] = block;  // the IV: the block number, big endian
        uint8_t chain[AES_BLOCK] = {};
        for (size_t at = 0; at < s.size(); at += AES_BLOCK) {
            for (size_t i = 0; i < AES_BLOCK; ++i) {
                chain[i] ^= s[at + i];
            }
            if (!aes || !encryptBlocks(aes.get(), chain, AES_BLOCK, chain)) {
                return false;
            }
        }
        std::memcpy(temp + AES_BLOCK * block, chain, AES_BLOCK);
    }
    openssl::CipherCtx keyed = aesWithKey(temp);
    const uint8_t* x = temp + 32;
    for (size_t at = 0; at < 48; at += AES_BLOCK) {
        if (!keyed || !encryptBlocks(keyed.get(), x, AES_BLOCK, out + at)) {
            return false;
        }
        x = out + at;
    }
    return true;
}

}  // namespace

SeededDrbg::SeededDrbg(const std::string& seed) : seed_(seed) {
    aes_ = aesWithKey(key_.data());
    // The first seed material is 48 bytes of the seed's own stream, personalised with the
    // seed text.
    Bytes material(SEED_LENGTH);
    entropy(material.data(), material.size());
    material.insert(material.end(), seed_.begin(), seed_.end());
    this->seed(material.data(), material.size());
    secureWipe(material.data(), material.size());
}

SeededDrbg::~SeededDrbg() {
    secureWipe(key_.data(), key_.size());
    secureWipe(counter_.data(), counter_.size());
}

// The generator's "entropy": SHA-256 of the seed and a block counter, block after block.
void SeededDrbg::entropy(uint8_t* out, size_t length) {
    size_t done = 0;
    while (done < length) {
        Bytes block(seed_.begin(), seed_.end());
        const uint32_t n = entropyCounter_++;
        for (int i = 0; i < 4; ++i) {
            block.push_back(static_cast<uint8_t>(n >> (8 * i)));
        }
        const Sha256Digest h = sha256Of(block);
        const size_t take = std::min(h.size(), length - done);
        std::memcpy(out + done, h.data(), take);
        done += take;
    }
}

void SeededDrbg::seed(const uint8_t* material, size_t length) {
    std::array<uint8_t, SEED_LENGTH> derived{};
    if (derive(material, length, derived.data())) {
        update(derived);
    }
    secureWipe(derived.data(), derived.size());
    reseedCounter_ = 1;
}

void SeededDrbg::update(const std::array<uint8_t, SEED_LENGTH>& provided) {
    std::array<uint8_t, SEED_LENGTH> temp{};
    for (size_t at = 0; at < temp.size(); at += AES_BLOCK) {
        increment(counter_);
        if (!aes_ || !encryptBlocks(aes_.get(), counter_.data(), AES_BLOCK, temp.data() + at)) {
            return;
        }
    }
    for (size_t i = 0; i < temp.size(); ++i) {
        temp[i] ^= provided[i];
    }
    std::memcpy(key_.data(), temp.data(), key_.size());
    std::memcpy(counter_.data(), temp.data() + key_.size(), counter_.size());
    secureWipe(temp.data(), temp.size());
    aes_ = aesWithKey(key_.data());
}

bool SeededDrbg::generate(uint8_t* out, size_t length) {
    if (reseedCounter_ > RESEED_INTERVAL) {
        std::array<uint8_t, SEED_LENGTH> material{};
        entropy(material.data(), material.size());
        seed(material.data(), material.size());
        secureWipe(material.data(), material.size());
    }
    std::array<uint8_t, AES_BLOCK> block{};
    for (size_t done = 0; done < length; done += AES_BLOCK) {
        increment(counter_);
        if (!aes_ || !encryptBlocks(aes_.get(), counter_.data(), AES_BLOCK, block.data())) {
            return false;
        }
        std::memcpy(out + done, block.data(), std::min(AES_BLOCK, length - done));
    }
    secureWipe(block.data(), block.size());
    update({});
    ++reseedCounter_;
    return true;
}

void SeededDrbg::fill(uint8_t* out, size_t length) {
    size_t done = 0;
    while (done < length) {
        const size_t take = std::min(MAX_REQUEST, length - done);
        if (!generate(out + done, take)) {
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

SimKeyPair::~SimKeyPair() {
    secureWipe(scalar_.data(), scalar_.size());
}

bool SimKeyPair::generate(SeededDrbg& drbg) {
    key_.reset();
    public_.fill(0);
    std::array<uint8_t, 32> x{};
    std::array<uint8_t, 32> y{};
    // A draw outside [1, n-1] is taken again (about once in 2^32 draws).
    int result = CRYPTO_SCALAR_INVALID;
    for (int attempt = 0; attempt < 8 && result == CRYPTO_SCALAR_INVALID; ++attempt) {
        drbg.fill(scalar_.data(), scalar_.size());
        result = p256PublicKey(scalar_, x, y);
    }
    // Each key spends two more draws of the stream, as the keys of this generator always
    // have (they once blinded the point multiplication): so the attestation keys, and with
    // them the virtual key's certificates, stay what they have always been.
    std::array<uint8_t, 32> spent{};
    drbg.fill(spent.data(), spent.size());
    drbg.fill(spent.data(), spent.size());
    if (result != 0) {
        return false;
    }
    public_[0] = 0x04;
    std::memcpy(public_.data() + 1, x.data(), x.size());
    std::memcpy(public_.data() + 33, y.data(), y.size());

    openssl::SecretBignum priv(
        BN_bin2bn(scalar_.data(), static_cast<int>(scalar_.size()), BN_secure_new()));
    char group[] = "prime256v1";
    openssl::ParamBld build(OSSL_PARAM_BLD_new());
    if (!priv || !build ||
        OSSL_PARAM_BLD_push_utf8_string(build.get(), OSSL_PKEY_PARAM_GROUP_NAME, group, 0) != 1 ||
        OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_PRIV_KEY, priv.get()) != 1 ||
        OSSL_PARAM_BLD_push_octet_string(build.get(), OSSL_PKEY_PARAM_PUB_KEY, public_.data(),
                                         public_.size()) != 1) {
        return false;
    }
    openssl::Params params(OSSL_PARAM_BLD_to_param(build.get()));
    openssl::PkeyCtx context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* raw = nullptr;
    if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
        EVP_PKEY_fromdata(context.get(), &raw, EVP_PKEY_KEYPAIR, params.get()) != 1) {
        return false;
    }
    key_.reset(raw);
    return true;
}

Bytes SimKeyPair::signDigest(const Sha256Digest& digest) const {
    Bytes signature(ES256_SIGNATURE_MAX_LENGTH);
    size_t length = 0;
    if (!key_ || signEcdsaP256(scalar_, digest, signature, length) != 0) {
        return {};
    }
    signature.resize(length);
    return signature;
}

Bytes SimKeyPair::signSha256(const uint8_t* data, size_t length, SeededDrbg&) const {
    return signDigest(sha256Of(data, length));
}

bool SimKeyPair::sharedPoint(const uint8_t* x, const uint8_t* y,
                             std::array<uint8_t, 32>& sharedX) const {
    return key_ && p256SharedX(scalar_, std::span<const uint8_t, 32>(x, 32),
                               std::span<const uint8_t, 32>(y, 32), sharedX) == 0;
}

bool SimKeyPair::sharedSecret(const uint8_t* x, const uint8_t* y, Sha256Digest& out,
                              SeededDrbg&) const {
    std::array<uint8_t, 32> sharedX{};
    WipeOnExit wipeSharedX(sharedX);
    return sharedPoint(x, y, sharedX) && sha256(sharedX, out) == 0;
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
    openssl::MdCtx context(EVP_MD_CTX_new());
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
    static constexpr uint8_t NOTHING[1] = {};
    sha256(std::span<const uint8_t>(length != 0 ? data : NOTHING, length), out);
    return out;
}

Sha256Digest hmacSha256Of(const uint8_t* key, size_t keyLength, const uint8_t* data,
                          size_t length) {
    Sha256Digest out{};
    hmacSha256({key, keyLength}, {data, length}, out);
    return out;
}

bool aes256CbcEncrypt(const uint8_t* key, const uint8_t* in, size_t length, uint8_t* out) {
    return aesCbcEncrypt(std::span<const uint8_t, AES_KEY_LENGTH>(key, AES_KEY_LENGTH),
                         {in, length}, {out, length}) == 0;
}

bool aes256CbcDecrypt(const uint8_t* key, const uint8_t* in, size_t length, uint8_t* out) {
    return aesCbcDecrypt(std::span<const uint8_t, AES_KEY_LENGTH>(key, AES_KEY_LENGTH),
                         {in, length}, {out, length}) == 0;
}

}  // namespace orvanta
