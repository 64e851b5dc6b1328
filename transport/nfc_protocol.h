#pragma once
// The vocabulary of a FIDO key reached as a smart card (an NFC reader or a CCID interface),
// shared by the inspector's card link and the virtual card: the CTAP commands as APDUs and
// the status word of their own (the AIDs and the ISO 7816 status words are in common/).

#include <cstddef>
#include <cstdint>

namespace orvanta {

// The FIDO application's answer to SELECT names what the card speaks.
inline constexpr const char* NFC_VERSION_U2F = "U2F_V2";
inline constexpr const char* NFC_VERSION_FIDO2 = "FIDO_2_0";

// ISO 7816 instructions the card link uses for every application.
inline constexpr uint8_t ISO_CLA = 0x00;
inline constexpr uint8_t ISO_INS_SELECT = 0xA4;
inline constexpr uint8_t ISO_SELECT_BY_NAME = 0x04;
inline constexpr uint8_t ISO_INS_GET_RESPONSE = 0xC0;
// CLA bit 4: more pieces of the same command follow (command chaining).
inline constexpr uint8_t ISO_CLA_CHAINING = 0x10;

// CTAP2 over a card: the command byte and CBOR as the data of one APDU.
inline constexpr uint8_t NFCCTAP_CLA = 0x80;
inline constexpr uint8_t NFCCTAP_MSG = 0x10;
// Polls a command that is still running (the card answered NFC_SW_KEEPALIVE).
inline constexpr uint8_t NFCCTAP_GETRESPONSE = 0x11;
// P1 END: the card stops waiting for the user and drops the running command.
inline constexpr uint8_t NFCCTAP_CONTROL = 0x12;
inline constexpr uint8_t NFCCTAP_CONTROL_END = 0x01;
// P1 of NFCCTAP_MSG: the client polls with NFCCTAP_GETRESPONSE, so the card may answer
// NFC_SW_KEEPALIVE instead of holding the reader until the user has touched it.
inline constexpr uint8_t NFCCTAP_P1_GETRESPONSE_SUPPORTED = 0x80;

// The command runs on (waiting for the user's presence); data: one keepalive status byte.
inline constexpr uint16_t NFC_SW_KEEPALIVE = 0x9100;

// The largest data field of a short APDU, and of one short reply.
inline constexpr size_t SHORT_APDU_DATA = 255;
inline constexpr size_t SHORT_REPLY_DATA = 256;

}  // namespace orvanta
