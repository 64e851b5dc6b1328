#pragma once
// PIN entry and PIN token with CTAP2 PIN protocol 1: getKeyAgreement, then getPINToken.
// Nothing is remembered between calls: every fetch asks for the PIN again and makes a
// fresh key agreement.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "ctap/cbor.h"
#include "ctap/crypto.h"
#include "ctap/user_prompts.h"
#include "transport/device_session.h"

namespace orvanta {

inline constexpr size_t PIN_TOKEN_SIZE = 32;

// Where a PIN token is written.
using PinTokenOut = std::span<uint8_t, PIN_TOKEN_SIZE>;

// Asks for the PIN and obtains the token. 0: token written; 2: the user cancelled (nothing
// sent); otherwise the failure of fetchPinToken, a positive one shown to the user with its
// status sentence (error icon).
int obtainPinToken(DeviceSession& session, UserPrompts& prompts, PinTokenOut token);

// The two exchanges for a confirmed PIN (UTF-8). 0, -1 (empty PIN, shown as
// "PIN cannot be empty!"; or no usable pinToken in the reply), a CTAP status, a transport
// result or a negative cryptographic library code.
int fetchPinToken(DeviceSession& session, const std::string& pin, UserPrompts& prompts,
                  PinTokenOut token);

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
