#pragma once
// authenticatorClientPIN of a virtual key, PIN/UV auth protocols 1 and 2 (those its profile
// lists): key agreement, setting the PIN, retries that count down and block, and the PIN
// token.

#include <array>
#include <cstddef>
#include <cstdint>

#include "ctap/cbor.h"
#include "ctap/ctap_protocol.h"
#include "ctap/pin_protocol.h"
#include "sim/key_state.h"

namespace orvanta {

inline constexpr uint8_t PIN_RETRIES_MAX = 8;
inline constexpr uint8_t PIN_CONSECUTIVE_LIMIT = 3;

class ClientPin {
  public:
    explicit ClientPin(VirtualKeyState& key);

    // One authenticatorClientPIN request (the CBOR map after the command byte); returns
    // the status byte followed by the reply map.
    Bytes handle(CborSpan request);

    bool isSet() const { return set_; }
    uint8_t retries() const { return retries_; }
    // Whether the profile speaks the protocol of this number.
    bool speaks(uint64_t protocol) const;
    // pinUvAuthParam over the client data hash: HMAC-SHA-256(pinToken, clientDataHash), its
    // first 16 bytes in protocol 1, all 32 in protocol 2.
    bool verifyPinAuth(PinProtocol protocol, const uint8_t* clientDataHash, const uint8_t* pinAuth,
                       uint32_t length) const;
    // New key agreement key and token, as after plugging the key in again.
    void powerCycle();
    // Forgets the PIN (authenticatorReset).
    void clear();

  private:
    Bytes keyAgreement();
    Bytes setPin(CborSpan request, PinProtocol protocol);
    Bytes pinToken(CborSpan request, PinProtocol protocol);
    // Shared secret with the platform key of request key 3; false when it is unusable.
    bool sharedSecret(CborSpan request, PinProtocol protocol, PinSecret& secret);
    void newAgreementKey();

    VirtualKeyState& key_;
    // The key agreement key: a P-256 scalar drawn from the key's generator.
    std::array<uint8_t, P256_SCALAR_LENGTH> agreement_{};
    std::array<uint8_t, 64> token_{};
    size_t tokenLength_ = 32;  // the profile's, 16 to 64
    bool set_ = false;
    std::array<uint8_t, 16> pinHash_{};  // left half of SHA-256(PIN)
    uint8_t retries_ = PIN_RETRIES_MAX;
    uint8_t consecutiveFailures_ = 0;
};

}  // namespace orvanta
