#pragma once
// CTAPHID framing: splitting requests into 65-byte output reports, allocating a channel,
// reassembling replies. The program's only path to a security key.

#include <cstdint>

#include "transport/device_manager.h"

namespace orvanta {

inline constexpr uint8_t CTAPHID_MSG = 0x83;
inline constexpr uint8_t CTAPHID_INIT = 0x86;
inline constexpr uint8_t CTAPHID_CBOR = 0x90;
inline constexpr uint8_t CTAPHID_CANCEL = 0x91;
inline constexpr uint8_t CTAPHID_ERROR = 0xBF;
inline constexpr uint8_t CTAPHID_KEEPALIVE = 0xBB;

inline constexpr uint16_t TRANSPORT_FAILED = 0xFFFB;
inline constexpr uint16_t NO_LENGTH = 0xFFFE;

inline constexpr uint32_t REPORT_BUFFER_SIZE = 100;
inline constexpr uint32_t REPLY_BUFFER_SIZE = 4096;
inline constexpr uint32_t MAX_REQUEST_LENGTH = 57 + 128 * 59;  // 7609
// How long a reply report may keep us waiting; every keepalive starts the wait again.
inline constexpr uint32_t REPORT_WAIT_MS = 3000;
// No exchange lasts longer than this, keepalives or not.
inline constexpr uint32_t EXCHANGE_LIMIT_MS = 120000;

// Set to 1 before every enumeration by the refresh; the send operations require it.
extern int transportReady;

// One CTAPHID exchange on manager.selected. reply must hold REPLY_BUFFER_SIZE bytes.
// Returns 0 with *replyLength set to the reply's BCNT, or -1 on any failure.
int ctaphidExchange(DeviceManager& manager, const uint8_t* request, uint32_t requestLength,
                    uint8_t command, uint8_t* reply, uint32_t* replyLength);

// An APDU exchange (CTAPHID_MSG, or the command the caller gives) on the program's device.
// replyLength: capacity on entry, data bytes (status word excluded) on return; both the
// buffer and the length may be null. Returns the status word or TRANSPORT_FAILED.
uint16_t sendApdu(const uint8_t* request, int32_t requestLength, uint8_t* reply,
                  uint32_t* replyLength, uint8_t command = CTAPHID_MSG);

// A CTAP2 command (command byte + CBOR) over CTAPHID_CBOR on the program's device.
// replyLength: capacity on entry, CBOR bytes after the status byte on return.
// Returns the CTAP status byte, TRANSPORT_FAILED or NO_LENGTH.
uint16_t sendCbor(const uint8_t* request, int32_t requestLength, uint8_t* reply,
                  uint32_t* replyLength);

}  // namespace orvanta
