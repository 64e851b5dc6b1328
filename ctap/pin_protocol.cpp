#include "ctap/pin_protocol.h"

#include <algorithm>

namespace orvanta {

namespace {

constexpr uint8_t HMAC_KEY_INFO[] = {'C', 'T', 'A', 'P', '2', ' ', 'H',
                                     'M', 'A', 'C', ' ', 'k', 'e', 'y'};
constexpr uint8_t AES_KEY_INFO[] = {'C', 'T', 'A', 'P', '2', ' ', 'A',
                                    'E', 'S', ' ', 'k', 'e', 'y'};
// HKDF salt of protocol 2: 32 zero bytes.
constexpr std::array<uint8_t, SHA256_LENGTH> HKDF_SALT{};

}  // namespace

PinProtocol choosePinProtocol(std::span<const uint64_t> supported) {
    const bool one = std::find(supported.begin(), supported.end(), 1u) != supported.end();
    const bool two = std::find(supported.begin(), supported.end(), 2u) != supported.end();
    return two && !one ? PinProtocol::Two : PinProtocol::One;
}

int PinSecret::derive(PinProtocol protocol,
                      std::span<const uint8_t, P256_COORDINATE_LENGTH> sharedX) {
    protocol_ = protocol;
    if (protocol == PinProtocol::One) {
        return sha256(sharedX, secret_.resize(SHA256_LENGTH).first<SHA256_LENGTH>());
    }
    const std::span<uint8_t> both = secret_.resize(2 * SHA256_LENGTH);
    int result = hkdfSha256(HKDF_SALT, sharedX, HMAC_KEY_INFO, both.first(SHA256_LENGTH));
    if (result == 0) {
        result = hkdfSha256(HKDF_SALT, sharedX, AES_KEY_INFO, both.last(SHA256_LENGTH));
    }
    return result;
}

size_t pinCiphertextLength(PinProtocol protocol, size_t plainLength) {
    return protocol == PinProtocol::Two ? AES_BLOCK_LENGTH + plainLength : plainLength;
}

size_t pinPlainLength(PinProtocol protocol, size_t length) {
    if (protocol == PinProtocol::One) {
        return length;
    }
    return length < AES_BLOCK_LENGTH ? 0 : length - AES_BLOCK_LENGTH;
}

size_t pinAuthLength(PinProtocol protocol) {
    return protocol == PinProtocol::Two ? SHA256_LENGTH : 16;
}

int pinEncrypt(const PinSecret& secret, std::span<const uint8_t> plain, std::span<uint8_t> output) {
    if (secret.protocol() == PinProtocol::One) {
        return aesCbcEncrypt(secret.aesKey(), plain, output);
    }
    if (output.size() < AES_BLOCK_LENGTH + plain.size()) {
        return CRYPTO_BAD_LENGTH;
    }
    const std::span<uint8_t, AES_BLOCK_LENGTH> iv = output.first<AES_BLOCK_LENGTH>();
    const int result = randomBytes(iv);
    if (result != 0) {
        return result;
    }
    return aesCbcEncrypt(secret.aesKey(), iv, plain, output.subspan(AES_BLOCK_LENGTH));
}

int pinDecrypt(const PinSecret& secret, std::span<const uint8_t> ciphertext,
               std::span<uint8_t> output) {
    if (secret.protocol() == PinProtocol::One) {
        return aesCbcDecrypt(secret.aesKey(), ciphertext, output);
    }
    if (ciphertext.size() < AES_BLOCK_LENGTH) {
        return CRYPTO_BAD_LENGTH;
    }
    return aesCbcDecrypt(secret.aesKey(), ciphertext.first<AES_BLOCK_LENGTH>(),
                         ciphertext.subspan(AES_BLOCK_LENGTH), output);
}

int pinAuthenticate(PinProtocol protocol, std::span<const uint8_t> key,
                    std::span<const uint8_t> message, std::span<uint8_t> output) {
    const size_t length = pinAuthLength(protocol);
    if (output.size() < length) {
        return CRYPTO_BAD_LENGTH;
    }
    std::array<uint8_t, SHA256_LENGTH> mac{};
    WipeOnExit wipeMac(mac);
    const int result = hmacSha256(key, message, mac);
    if (result == 0) {
        std::copy_n(mac.begin(), length, output.begin());
    }
    return result;
}

}  // namespace orvanta
