#include "ctap/pin_retries.h"

#include <array>

#include "ctap/cbor.h"
#include "ctap/ctap_protocol.h"
#include "transport/exchange.h"

namespace orvanta {

namespace {

using namespace client_pin;

// {1: protocol, 2: subcommand}. The protocol is optional for these two questions since
// CTAP 2.1, but CTAP 2.0 keys require it.
Result<CborReply> ask(DeviceSession& session, PinProtocol protocol, uint32_t subcommand) {
    const std::array<uint8_t, 6> request = {AUTHENTICATOR_CLIENT_PIN,
                                            0xA2,
                                            static_cast<uint8_t>(KEY_PIN_PROTOCOL),
                                            static_cast<uint8_t>(protocol),
                                            static_cast<uint8_t>(KEY_SUBCOMMAND),
                                            static_cast<uint8_t>(subcommand)};
    Result<CborReply> reply = sendCbor(session, request);
    if (reply && reply->status != ctap_status::OK) {
        return Error::ctapStatus(reply->status);
    }
    return reply;
}

CborSpan replyMap(const CborReply& reply) {
    return CborSpan{reply.data.data(), static_cast<uint32_t>(reply.data.size())};
}

std::optional<uint64_t> unsignedMember(CborSpan map, int32_t key) {
    const CborSpan item = mapFindInt(map, key);
    const CborHeader header = readHeader(item);
    if (header.headerLength == 0 || header.majorType != 0) {
        return std::nullopt;
    }
    return header.argument;
}

std::optional<bool> booleanMember(CborSpan map, int32_t key) {
    const CborHeader header = readHeader(mapFindInt(map, key));
    if (header.headerLength == 0 || header.majorType != 7 ||
        (header.additionalInfo != 20 && header.additionalInfo != 21)) {
        return std::nullopt;
    }
    return header.additionalInfo == 21;
}

}  // namespace

Result<PinRetries> readPinRetries(DeviceSession& session, PinProtocol protocol) {
    Result<CborReply> reply = ask(session, protocol, GET_RETRIES);
    if (!reply) {
        return reply.error();
    }
    const CborSpan map = replyMap(*reply);
    const std::optional<uint64_t> retries = unsignedMember(map, REPLY_RETRIES);
    if (!retries) {
        return Error::malformed();
    }
    return PinRetries{*retries, booleanMember(map, REPLY_POWER_CYCLE_STATE)};
}

Result<uint64_t> readUvRetries(DeviceSession& session, PinProtocol protocol) {
    Result<CborReply> reply = ask(session, protocol, GET_UV_RETRIES);
    if (!reply) {
        return reply.error();
    }
    const std::optional<uint64_t> retries = unsignedMember(replyMap(*reply), REPLY_UV_RETRIES);
    if (!retries) {
        return Error::malformed();
    }
    return *retries;
}

}  // namespace orvanta
