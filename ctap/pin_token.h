#pragma once
// PIN entry and PIN token with CTAP2 PIN protocol 1 or 2: getKeyAgreement, then getPINToken.
// Nothing is remembered between calls: every fetch asks for the PIN again and makes a
// fresh key agreement.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "ctap/cbor.h"
#include "ctap/crypto.h"
#include "ctap/pin_protocol.h"
#include "ctap/secure_wipe.h"
#include "ctap/user_prompts.h"
#include "transport/device_session.h"

namespace orvanta {

// The usual token length; keys may choose any multiple of 16 bytes from 16 to 64.
inline constexpr size_t PIN_TOKEN_SIZE = 32;
inline constexpr size_t PIN_TOKEN_MIN_SIZE = 16;
inline constexpr size_t PIN_TOKEN_MAX_SIZE = 64;

// A PIN token at the length the key gave it; wiped when it ends.
using PinToken = SecretBytes<PIN_TOKEN_MAX_SIZE>;

// obtainPinToken's result when the PIN was not given (nothing sent).
inline constexpr int PIN_ENTRY_CANCELLED = 2;

// Asks for the PIN and obtains the token. 0: token written; PIN_ENTRY_CANCELLED: the user
// cancelled; otherwise the failure of fetchPinToken, a positive one shown to the user with its
// status sentence (error icon).
int obtainPinToken(DeviceSession& session, UserPrompts& prompts, PinToken& token,
                   PinProtocol protocol = PinProtocol::One);

// The two exchanges for a confirmed PIN (UTF-8). 0, -1 (empty PIN, shown as
// "PIN cannot be empty!"; or no usable pinToken in the reply: not 16 to 64 bytes in whole
// AES blocks), a CTAP status, a transport result or a negative cryptographic library code.
// The token is changed only when one was obtained.
int fetchPinToken(DeviceSession& session, const std::string& pin, UserPrompts& prompts,
                  PinToken& token, PinProtocol protocol = PinProtocol::One);

// From a getKeyAgreement reply: the shared secret and the platform public key.
// 0, 0x12 (no byte-string x or y, or the random generator could not be seeded) or a
// negative library code.
int deriveSharedSecret(CborSpan response, std::span<uint8_t, SHARED_SECRET_LENGTH> sharedSecret,
                       P256CoordinateOut platformX, P256CoordinateOut platformY);
// The same with the key pair drawn from the given seed source instead of the entropy
// collector (deterministic keys and seeding failures for tests).
int deriveSharedSecret(CborSpan response, std::span<uint8_t, SHARED_SECRET_LENGTH> sharedSecret,
                       P256CoordinateOut platformX, P256CoordinateOut platformY,
                       EntropyFunction entropy, void* entropyContext);

}  // namespace orvanta
