#pragma once
// The ISO 7816 side of a virtual key, reached through CTAPHID_MSG: U2F registration (with
// optional 0x61xx chaining and GET RESPONSE) and the vendor applets of the hardware page.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "sim/key_state.h"

namespace orvanta {

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

// Answers as they are sent: a status word alone, or data followed by one.
Bytes statusReply(uint16_t sw);
Bytes withStatus(Bytes data, uint16_t sw);

// An answer handed out in pieces by GET RESPONSE: every piece but the last ends in 61xx
// (xx: the size of the next piece, 00 for 256), the last in the answer's own status word.
class PiecedAnswer {
  public:
    // `pieceLimit`: the most one piece carries, whatever Le asks for.
    void start(Bytes data, uint16_t finalStatus, size_t pieceLimit);
    void clear();
    bool pending() const { return offset_ < data_.size(); }
    // 61xx for the first piece, before any is given.
    uint16_t remainingStatus() const;
    // The next piece, of at most `le` bytes (0: 256).
    Bytes next(uint32_t le);

  private:
    Bytes data_;
    size_t offset_ = 0;
    uint16_t finalStatus_ = 0;
    size_t pieceLimit_ = 0;
};

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
    PiecedAnswer pending_;  // what GET RESPONSE still has to give
};

}  // namespace orvanta
