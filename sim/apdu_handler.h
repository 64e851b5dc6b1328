#pragma once
// The ISO 7816 side of a virtual key, reached through CTAPHID_MSG: U2F registration (with
// optional 0x61xx chaining and GET RESPONSE) and the vendor applets of the hardware page.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "sim/key_state.h"

namespace orvanta {

inline constexpr uint8_t VENDOR_RID_BYTES[5] = {0xF0, 0x4F, 0x52, 0x56, 0x41};

// A parsed command APDU (short or extended form). Data points into the caller's bytes.
struct Apdu {
    uint8_t cla = 0;
    uint8_t ins = 0;
    uint8_t p1 = 0;
    uint8_t p2 = 0;
    const uint8_t* data = nullptr;
    size_t dataLength = 0;
    bool extended = false;
    bool hasLe = false;
    uint32_t le = 0;  // 0 with hasLe: the most the form allows (256 or 65536)
};
// Empty when the bytes are no well-formed APDU.
std::optional<Apdu> parseApdu(const uint8_t* bytes, size_t length);

class ApduHandler {
  public:
    explicit ApduHandler(VirtualKeyState& key) : key_(key) {}

    // Answers one APDU: reply data followed by the status word.
    Bytes handle(const uint8_t* apdu, size_t length);
    // Power-up state: nothing selected, nothing waiting for GET RESPONSE.
    void reset();

  private:
    Bytes select(const Apdu& apdu);
    Bytes version();
    Bytes fingerprint();
    Bytes u2fRegister(const Apdu& apdu);
    Bytes getResponse(const Apdu& apdu);
    Bytes registrationResponse(const uint8_t* challenge, const uint8_t* application);

    VirtualKeyState& key_;
    std::optional<Applet> selected_;
    Bytes pendingResponse_;  // what GET RESPONSE still has to give
    size_t pendingOffset_ = 0;
};

}  // namespace orvanta
