#pragma once
// Exchanges with the key of a session: the program's only path to a security key. Each runs
// on the session's link with the session's limits, cancel and clock, one at a time.

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "transport/ctap_link.h"
#include "transport/ctaphid_protocol.h"
#include "transport/device_session.h"
#include "transport/result.h"

namespace orvanta {

// One message exchange: the request under `command`, the reply message's data.
Result<Bytes> exchange(DeviceSession& session, uint8_t command, std::span<const uint8_t> request);

// Runs work with single CTAPHID packets to the session's key, as one exchange (nothing
// else reaches the key meanwhile). False, and work is not run, when the key has no CTAPHID
// packets (a card), is gone, or an earlier exchange of a run gave up on it.
bool withPackets(DeviceSession& session, const std::function<void(PacketPort&)>& work);

// An ISO 7816 APDU and its answer: the status word and the data before it.
struct ApduReply {
    uint16_t status = 0;
    Bytes data;
};
// An APDU exchange (CTAPHID_MSG, or the command the caller gives). A reply without a status
// word is a failed exchange.
Result<ApduReply> sendApdu(DeviceSession& session, std::span<const uint8_t> apdu,
                           uint8_t command = CTAPHID_MSG);

// A CTAP2 answer: the status byte and the CBOR after it.
struct CborReply {
    uint8_t status = 0;
    Bytes data;
};
// A CTAP2 command (command byte + CBOR). A CTAPHID_ERROR reply is answered as its error code
// for the status, without CBOR.
Result<CborReply> sendCbor(DeviceSession& session, std::span<const uint8_t> request);

}  // namespace orvanta
