#pragma once
// The vocabulary of a FIDO key reached as a smart card (an NFC reader or a CCID interface),
// shared by the inspector's card link and the virtual card: the FIDO application's AID, the
// CTAP commands as APDUs and their status words.

#include <cstddef>
#include <cstdint>

namespace orvanta {

// SELECT by name of the FIDO application; its answer names what the card speaks.
inline constexpr uint8_t FIDO_AID[] = {0xA0, 0x00, 0x00, 0x06, 0x47, 0x2F, 0x00, 0x01};
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
// 61xx: xx more bytes wait for GET RESPONSE (00: 256 or more).
inline constexpr uint16_t SW_BYTES_REMAINING = 0x6100;
// 6Cxx: wrong Le; xx is the length the card has.
inline constexpr uint16_t SW_WRONG_LE = 0x6C00;

// The ISO 7816 status words the card link acts on (the same values as in ctap/iso_status.h,
// which sits above transport/).
inline constexpr uint16_t NFC_SW_OK = 0x9000;
inline constexpr uint16_t NFC_SW_WRONG_LENGTH = 0x6700;

// The largest data field of a short APDU, and of one short reply.
inline constexpr size_t SHORT_APDU_DATA = 255;
inline constexpr size_t SHORT_REPLY_DATA = 256;

}  // namespace orvanta
