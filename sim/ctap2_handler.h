#pragma once
// The CTAP2 side of a virtual key, reached through CTAPHID_CBOR: authenticatorGetInfo,
// authenticatorClientPIN, authenticatorMakeCredential with packed attestation, reset and
// selection.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "sim/client_pin.h"
#include "sim/key_state.h"

namespace orvanta {

// The answer to one CTAP2 message: either a reply at once, or a request that waits for
// the user's touch and is answered by `complete` once the key is touched.
struct Ctap2Outcome {
    Bytes reply;  // status byte + CBOR
    bool needsTouch = false;
    // The key blinks before a touch can answer: the request waits at least one keepalive
    // step, so a CANCEL sent right after it finds it waiting.
    bool blinksFirst = false;
    std::function<Bytes()> complete;
};

class Ctap2Handler {
  public:
    explicit Ctap2Handler(VirtualKeyState& key) : key_(key), pin_(key) {}

    // message: the CTAP2 command byte followed by its CBOR parameters.
    Ctap2Outcome handle(const uint8_t* message, size_t length);

    ClientPin& pin() { return pin_; }
    const ClientPin& pin() const { return pin_; }

  private:
    Ctap2Outcome makeCredential(CborSpan request);
    // The answer that ends the request before any touch, if the PIN rules give one; sets
    // `verified` when a valid pinAuth came with it.
    std::optional<Ctap2Outcome> checkPinAuth(CborSpan request, const uint8_t* clientDataHash,
                                             bool& verified);
    // Makes the credential once the key is touched: the packed attestation reply.
    Bytes registerCredential(const std::array<uint8_t, 32>& clientDataHash,
                             const Sha256Digest& rpIdHash, bool verified);

    VirtualKeyState& key_;
    ClientPin pin_;
};

}  // namespace orvanta
