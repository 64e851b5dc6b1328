#pragma once
// authenticatorClientPIN of a virtual key, PIN protocol 1 (CTAP 2.0): key agreement,
// setting the PIN, retries that count down and block, and the PIN token.

#include <array>
#include <cstddef>
#include <cstdint>

#include "ctap/cbor.h"
#include "sim/key_state.h"

namespace orvanta {

// CTAP status codes the virtual key answers with.
namespace ctap_status {
inline constexpr uint8_t OK = 0x00;
inline constexpr uint8_t INVALID_COMMAND = 0x01;
inline constexpr uint8_t INVALID_PARAMETER = 0x02;
inline constexpr uint8_t INVALID_LENGTH = 0x03;
inline constexpr uint8_t CBOR_UNEXPECTED_TYPE = 0x11;
inline constexpr uint8_t INVALID_CBOR = 0x12;
inline constexpr uint8_t MISSING_PARAMETER = 0x14;
inline constexpr uint8_t UNSUPPORTED_ALGORITHM = 0x26;
inline constexpr uint8_t UNSUPPORTED_OPTION = 0x2B;
inline constexpr uint8_t KEEPALIVE_CANCEL = 0x2D;
inline constexpr uint8_t NO_CREDENTIALS = 0x2E;
inline constexpr uint8_t USER_ACTION_TIMEOUT = 0x2F;
inline constexpr uint8_t PIN_INVALID = 0x31;
inline constexpr uint8_t PIN_BLOCKED = 0x32;
inline constexpr uint8_t PIN_AUTH_INVALID = 0x33;
inline constexpr uint8_t PIN_AUTH_BLOCKED = 0x34;
inline constexpr uint8_t PIN_NOT_SET = 0x35;
inline constexpr uint8_t PIN_REQUIRED = 0x36;
inline constexpr uint8_t PIN_POLICY_VIOLATION = 0x37;
inline constexpr uint8_t INVALID_SUBCOMMAND = 0x3E;
}  // namespace ctap_status

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
    // pinAuth of protocol 1: the first 16 bytes of HMAC-SHA-256(pinToken, clientDataHash).
    bool verifyPinAuth(const uint8_t* clientDataHash, const uint8_t* pinAuth,
                       uint32_t length) const;
    // New key agreement key and token, as after plugging the key in again.
    void powerCycle();
    // Forgets the PIN (authenticatorReset).
    void clear();

  private:
    Bytes keyAgreement();
    Bytes setPin(CborSpan request);
    Bytes pinToken(CborSpan request);
    // Shared secret with the platform key of request key 3; false when it is unusable.
    bool sharedSecret(CborSpan request, Sha256Digest& secret);

    VirtualKeyState& key_;
    SimKeyPair agreement_;
    std::array<uint8_t, 32> token_{};
    bool set_ = false;
    std::array<uint8_t, 16> pinHash_{};  // left half of SHA-256(PIN)
    uint8_t retries_ = PIN_RETRIES_MAX;
    uint8_t consecutiveFailures_ = 0;
};

}  // namespace orvanta
