#include "transport/exchange.h"

#include <mutex>

namespace orvanta {

namespace {

// Failures that say the key is not talking to us; a refused request (CTAPHID_ERROR) or a
// request we would not send says nothing of the next one.
bool endsTheRun(TransportCause cause) {
    switch (cause) {
        case TransportCause::Timeout:
        case TransportCause::NoChannel:
        case TransportCause::Framing:
        case TransportCause::Read:
        case TransportCause::Write:
            return true;
        default:
            return false;
    }
}

}  // namespace

Result<Bytes> exchange(DeviceSession& session, uint8_t command, std::span<const uint8_t> request) {
    CtapLink* link = session.link();
    if (link == nullptr || !session.present()) {
        return Error::transport(TransportCause::NoDevice);
    }
    std::lock_guard<std::mutex> one(session.exchangeMutex());
    if (session.gaveUp()) {
        return Error::transport(TransportCause::GaveUp);
    }
    const CallOptions options{session.clock(), session.exchangeLimitMs(),
                              [&session] { return session.cancelRequested(); }, nullptr};
    Result<Bytes> reply = link->call(command, request, options);
    session.count(!reply && reply.error().cause == TransportCause::KeyError);
    if (!reply && session.giveUpAfterTransportFailure() && endsTheRun(reply.error().cause)) {
        session.markGaveUp();
    }
    return reply;
}

bool withPackets(DeviceSession& session, const std::function<void(PacketPort&)>& work) {
    CtapLink* link = session.link();
    if (link == nullptr || !session.present()) {
        return false;
    }
    std::lock_guard<std::mutex> one(session.exchangeMutex());
    if (session.gaveUp()) {
        return false;
    }
    return link->withPackets(work);
}

Result<ApduReply> sendApdu(DeviceSession& session, std::span<const uint8_t> apdu, uint8_t command) {
    Result<Bytes> reply = exchange(session, command, apdu);
    if (!reply) {
        return reply.error();
    }
    Bytes& bytes = reply.value();
    if (bytes.size() < 2) {
        return Error::transport(TransportCause::ShortReply);
    }
    ApduReply answer;
    answer.status = static_cast<uint16_t>((bytes[bytes.size() - 2] << 8) | bytes.back());
    bytes.resize(bytes.size() - 2);
    answer.data = std::move(bytes);
    return answer;
}

Result<CborReply> sendCbor(DeviceSession& session, std::span<const uint8_t> request) {
    Result<Bytes> reply = exchange(session, CTAPHID_CBOR, request);
    if (!reply && reply.error().cause == TransportCause::KeyError && reply.error().code != 0) {
        // A CTAPHID_ERROR code shares its value with the CTAP2 status of the same meaning
        // (6: channel busy, 0x0B: invalid channel, ...), so it stands as the status and the
        // user is told that status's sentence. (An error without a code would read as
        // success: it stays a failed exchange.)
        CborReply refused;
        refused.status = static_cast<uint8_t>(reply.error().code);
        return refused;
    }
    if (!reply) {
        return reply.error();
    }
    Bytes& bytes = reply.value();
    if (bytes.empty()) {
        return Error::transport(TransportCause::ShortReply);
    }
    CborReply answer;
    answer.status = bytes[0];
    bytes.erase(bytes.begin());
    answer.data = std::move(bytes);
    return answer;
}

}  // namespace orvanta
