#pragma once
// CTAPHID framing: splitting requests into 65-byte output reports, allocating a channel,
// reassembling replies. The program's only path to a security key; every exchange runs
// on the session it is given.

#include <cstdint>
#include <span>
#include <vector>

#include "transport/ctaphid_protocol.h"
#include "transport/device_session.h"
#include "transport/result.h"

namespace orvanta {

using Bytes = std::vector<uint8_t>;

inline constexpr uint32_t REPORT_BUFFER_SIZE = 100;
inline constexpr uint32_t REPLY_BUFFER_SIZE = 4096;
inline constexpr uint32_t MAX_REQUEST_LENGTH = CTAPHID_MAX_MESSAGE;  // 7609
// How long a reply report may keep us waiting; every keepalive starts the wait again.
inline constexpr uint32_t REPORT_WAIT_MS = 3000;

// One CTAPHID message exchange: the request under `command`, the reply message's data
// (its BCNT bytes).
Result<Bytes> ctaphidExchange(DeviceSession& session, uint8_t command,
                              std::span<const uint8_t> request);

// An ISO 7816 APDU and its answer: the status word and the data before it.
struct ApduReply {
    uint16_t status = 0;
    Bytes data;
};
// An APDU exchange over CTAPHID_MSG (or the command the caller gives). A reply without a
// status word (a one-byte CTAPHID_ERROR) is a failed exchange.
Result<ApduReply> sendApdu(DeviceSession& session, std::span<const uint8_t> apdu,
                           uint8_t command = CTAPHID_MSG);

// A CTAP2 answer: the status byte and the CBOR after it.
struct CborReply {
    uint8_t status = 0;
    Bytes data;
};
// A CTAP2 command (command byte + CBOR) over CTAPHID_CBOR.
Result<CborReply> sendCbor(DeviceSession& session, std::span<const uint8_t> request);

}  // namespace orvanta
