#pragma once
// The two PIN/UV auth protocols of CTAP2, the platform and the authenticator side alike:
// the keys made from the shared point, encryption and the authentication of a message.
//   protocol 1: secret = SHA-256(Z); AES-256-CBC with a zero IV; HMAC-SHA-256 cut to 16 bytes.
//   protocol 2: secret = HKDF-SHA-256(Z, "CTAP2 HMAC key") || HKDF-SHA-256(Z, "CTAP2 AES key");
//               AES-256-CBC with a random IV sent in front; the whole 32-byte HMAC.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "ctap/crypto.h"
#include "ctap/secure_wipe.h"

namespace orvanta {

enum class PinProtocol : uint8_t { One = 1, Two = 2 };

// The protocol to speak with a key whose getInfo lists `supported` (member 6): protocol 2
// only when the key lists it and not protocol 1; protocol 1 when the list is absent, empty
// or names 1, as CTAP 2.0 keys expect.
PinProtocol choosePinProtocol(std::span<const uint64_t> supported);

inline constexpr size_t PIN_SECRET_MAX_LENGTH = 64;

// The shared secret of one key agreement; wiped when it ends.
class PinSecret {
  public:
    PinProtocol protocol() const { return protocol_; }
    std::span<const uint8_t> bytes() const { return secret_.bytes(); }
    // The key of pinUvAuthParam made with the secret itself (setPIN and the like).
    std::span<const uint8_t> hmacKey() const { return bytes().first(SHA256_LENGTH); }
    // The AES key: the whole secret in protocol 1, its second half in protocol 2.
    std::span<const uint8_t, AES_KEY_LENGTH> aesKey() const {
        return bytes().last<AES_KEY_LENGTH>();
    }

    // Derives the secret from the X coordinate of the shared point.
    int derive(PinProtocol protocol, std::span<const uint8_t, P256_COORDINATE_LENGTH> sharedX);

  private:
    SecretBytes<PIN_SECRET_MAX_LENGTH> secret_{SHA256_LENGTH};
    PinProtocol protocol_ = PinProtocol::One;
};

// Bytes that encrypting `plainLength` bytes gives (the IV in front in protocol 2).
size_t pinCiphertextLength(PinProtocol protocol, size_t plainLength);
// Length of pinUvAuthParam: 16 bytes in protocol 1, 32 in protocol 2.
size_t pinAuthLength(PinProtocol protocol);

// Encrypts whole blocks; `output` must hold pinCiphertextLength bytes. Protocol 2 draws its
// IV from the system's random generator. 0 or a crypto code.
int pinEncrypt(const PinSecret& secret, std::span<const uint8_t> plain, std::span<uint8_t> output);
// Decrypts; `output` must hold the plaintext (the ciphertext less the IV in protocol 2).
// CRYPTO_BAD_LENGTH for a ciphertext not in whole blocks or (protocol 2) without its IV.
int pinDecrypt(const PinSecret& secret, std::span<const uint8_t> ciphertext,
               std::span<uint8_t> output);
// Length of the plaintext of a ciphertext of `length` bytes (0 when it has none).
size_t pinPlainLength(PinProtocol protocol, size_t length);

// pinUvAuthParam over `message` keyed by `key` (a PIN token, or PinSecret::hmacKey()):
// writes pinAuthLength(protocol) bytes.
int pinAuthenticate(PinProtocol protocol, std::span<const uint8_t> key,
                    std::span<const uint8_t> message, std::span<uint8_t> output);

}  // namespace orvanta
