#pragma once
// The card's side of the vpcd socket protocol. vpcd (the virtual reader driver pcscd loads)
// listens on a TCP port; the card connects to it. Every message, both ways, is a two-byte
// big-endian length followed by that many bytes. A one-byte message from the reader is a
// control code (power off, power on, reset, or a request for the ATR, the only one that is
// answered); anything longer is a command APDU, answered with the response APDU.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/nfc_card.h"

namespace orvanta::vicc {

inline constexpr uint16_t VPCD_DEFAULT_PORT = 35963;
inline constexpr uint8_t VPCD_POWER_OFF = 0x00;
inline constexpr uint8_t VPCD_POWER_ON = 0x01;
inline constexpr uint8_t VPCD_RESET = 0x02;
inline constexpr uint8_t VPCD_GET_ATR = 0x04;

// The answer to one message from the reader; nothing for a message that gets none.
std::optional<std::vector<uint8_t>> answerVpcd(NfcCard& card, std::span<const uint8_t> message);

// Serves the reader on a connected socket until it closes the connection, a read or write
// fails, or stop is set (a signal that interrupts the wait sets it). Says why it ended.
std::string serveVpcd(int fd, NfcCard& card, const std::atomic<bool>& stop);

// A card that hangs: after answerLimit command APDUs it answers none (control codes still
// are), while it stays in the reader; onHang is told of the first command left unanswered.
struct Hang {
    uint32_t answerLimit = 0;
    std::function<void()> onHang;
};
std::string serveVpcd(int fd, NfcCard& card, const std::atomic<bool>& stop,
                      const std::optional<Hang>& hang);

}  // namespace orvanta::vicc
