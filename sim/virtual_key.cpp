#include "sim/virtual_key.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "ctap/ctap_protocol.h"
#include "transport/clock.h"

namespace orvanta {

namespace {

constexpr size_t PACKET = 64;
constexpr size_t INIT_DATA = 57;
constexpr size_t CONT_DATA = 59;

uint32_t readCid(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

void writeCid(uint8_t* p, uint32_t cid) {
    p[0] = static_cast<uint8_t>(cid >> 24);
    p[1] = static_cast<uint8_t>(cid >> 16);
    p[2] = static_cast<uint8_t>(cid >> 8);
    p[3] = static_cast<uint8_t>(cid);
}

// A channel that is neither the request's nor reserved.
uint32_t otherChannel(uint32_t cid) {
    uint32_t other = cid ^ 0x00A5A500;
    if (other == 0 || other == CTAPHID_BROADCAST_CID || other == cid) {
        other = 0x0BADC0DE;
    }
    return other;
}

// Broken CBOR behind a success status: a map that announces more than it holds, a text
// with an 8-byte length, a byte string that runs far past the end, a reserved header.
const std::vector<uint8_t> MALFORMED_CBOR = {0xA5, 0x01, 0x7B, 0x00, 0x00, 0x00, 0x01,
                                             0x00, 0x00, 0x00, 0x00, 0x02, 0x5A, 0xFF,
                                             0xFF, 0xFF, 0xF0, 0x1C, 0xFE};

}  // namespace

std::vector<uint8_t> LoggedRequest::bytes() const {
    std::vector<uint8_t> b;
    b.reserve(payload.size() + 1);
    b.push_back(command);
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

VirtualKey::VirtualKey(Profile profile, uint32_t serial, Clock& clock)
    : serial_(serial),
      clock_(clock),
      state_(std::move(profile), serial, clock),
      apdu_(state_),
      ctap2_(state_),
      nextChannel_(0x01000001u + (serial << 16)) {}

void VirtualKey::setTouchPolicy(TouchPolicy policy) {
    state_.profile.touch = policy;
    state_.presence.setPolicy(policy);
}

void VirtualKey::powerCycle() {
    channels_.clear();
    assembly_ = Assembly{};
    pending_ = Pending{};
    stalledChannel_.reset();
    queue_.clear();
    apdu_.reset();
    ctap2_.pin().powerCycle();
    state_.presence.consume();
}

const std::vector<uint8_t>& VirtualKey::attestationCertificate() const {
    return state_.attestation().certificate();
}

const std::vector<uint8_t>& VirtualKey::caCertificate() const {
    return state_.attestation().caCertificate();
}

void VirtualKey::linkDelay() const {
    if (state_.profile.linkDelayMs != 0) {
        clock_.sleep(state_.profile.linkDelayMs);
    }
}

void VirtualKey::writeReport(const uint8_t* report, size_t length) {
    if (!attached_ || report == nullptr || length < 2) {
        return;
    }
    ++state_.counters.reportsWritten;
    linkDelay();
    // Byte 0 is the report ID; a short report reads as padded with zeros.
    uint8_t packet[PACKET] = {};
    std::memcpy(packet, report + 1, std::min(length - 1, PACKET));
    const uint32_t cid = readCid(packet);
    if (pending_.active && clock_.tickCount() - pending_.started >= USER_PRESENCE_TIMEOUT_MS) {
        pending_ = Pending{};  // the wait ran out while nobody was listening
    }
    if (packet[4] & 0x80) {
        initPacket(cid, packet);
    } else {
        continuationPacket(cid, packet);
    }
}

void VirtualKey::initPacket(uint32_t cid, const uint8_t* packet) {
    const uint8_t command = packet[4];
    const uint16_t length = static_cast<uint16_t>(packet[5] << 8 | packet[6]);
    if (command == CTAPHID_INIT) {
        if (cid == 0 || (cid != CTAPHID_BROADCAST_CID && !knownChannel(cid))) {
            sendError(cid, CtaphidError::InvalidChannel);
            return;
        }
        if (length != 8) {
            sendError(cid, CtaphidError::InvalidLength);
            return;
        }
        // INIT on a channel resynchronises it: whatever it was doing is dropped.
        if (assembly_.active && assembly_.cid == cid) {
            assembly_ = Assembly{};
        }
        if (pending_.active && pending_.cid == cid) {
            pending_ = Pending{};
        }
        log_.push_back({cid, command, std::vector<uint8_t>(packet + 7, packet + 15)});
        handleInit(cid, packet + 7);
        return;
    }
    const bool breaksRules = state_.breaks(RuleBreak::Hid);
    if (!breaksRules && (cid == 0 || cid == CTAPHID_BROADCAST_CID || !knownChannel(cid))) {
        sendError(cid, CtaphidError::InvalidChannel);
        return;
    }
    if (pending_.active) {
        if (command == CTAPHID_CANCEL && pending_.cid == cid) {
            ++state_.counters.cancels;
            log_.push_back({cid, command, {}});
            const uint8_t waitingCommand = pending_.command;
            pending_ = Pending{};
            state_.presence.consume();
            // KEEPALIVE_CANCEL, or a rule breaker's OTHER
            queueReply(cid, waitingCommand, {static_cast<uint8_t>(breaksRules ? 0x7F : 0x2D)},
                       ReplyKind::Message);
            return;
        }
        sendError(cid, CtaphidError::ChannelBusy);
        return;
    }
    if (command == CTAPHID_CANCEL) {
        ++state_.counters.cancels;  // nothing to cancel; CANCEL has no reply
        log_.push_back({cid, command, {}});
        return;
    }
    if (assembly_.active && breaksRules) {
        assembly_ = Assembly{};  // a rule breaker drops the unfinished message, busy or not
    }
    if (assembly_.active) {
        if (assembly_.cid != cid) {
            sendError(cid, CtaphidError::ChannelBusy);
        } else {
            assembly_ = Assembly{};
            sendError(cid, CtaphidError::InvalidSequence);
        }
        return;
    }
    if (length > CTAPHID_MAX_MESSAGE) {
        sendError(cid, CtaphidError::InvalidLength);
        return;
    }
    const size_t first = std::min<size_t>(length, INIT_DATA);
    std::vector<uint8_t> data(packet + 7, packet + 7 + first);
    if (first == length) {
        dispatch(cid, command, std::move(data));
        return;
    }
    assembly_.active = true;
    assembly_.cid = cid;
    assembly_.command = command;
    assembly_.length = length;
    assembly_.nextSequence = 0;
    assembly_.data = std::move(data);
}

void VirtualKey::continuationPacket(uint32_t cid, const uint8_t* packet) {
    if (!assembly_.active) {
        return;  // a stray continuation is ignored
    }
    if (cid != assembly_.cid) {
        sendError(cid,
                  knownChannel(cid) ? CtaphidError::ChannelBusy : CtaphidError::InvalidChannel);
        return;
    }
    const uint8_t sequence = packet[4];
    if ((sequence != assembly_.nextSequence || sequence > 127) && !state_.breaks(RuleBreak::Hid)) {
        assembly_ = Assembly{};
        sendError(cid, CtaphidError::InvalidSequence);
        return;
    }
    ++assembly_.nextSequence;
    const size_t take = std::min<size_t>(assembly_.length - assembly_.data.size(), CONT_DATA);
    assembly_.data.insert(assembly_.data.end(), packet + 5, packet + 5 + take);
    if (assembly_.data.size() == assembly_.length) {
        Assembly done = std::move(assembly_);
        assembly_ = Assembly{};
        dispatch(done.cid, done.command, std::move(done.data));
    }
}

void VirtualKey::dispatch(uint32_t cid, uint8_t command, std::vector<uint8_t> payload) {
    log_.push_back({cid, command, payload});
    const FaultMode fault = state_.profile.fault;
    const bool clientPin =
        command == CTAPHID_CBOR && !payload.empty() && payload[0] == AUTHENTICATOR_CLIENT_PIN;
    if (fault == FaultMode::ChannelBusy || (fault == FaultMode::ClientPinBusy && clientPin)) {
        sendError(cid, CtaphidError::ChannelBusy);
        return;
    }
    switch (command) {
        case CTAPHID_MSG: {
            ++state_.counters.msgRequests;
            queueReply(cid, CTAPHID_MSG, apdu_.handle(payload.data(), payload.size()),
                       ReplyKind::Message);
            return;
        }
        case CTAPHID_CBOR:
            if (!state_.profile.ctap2) {
                sendError(cid, CtaphidError::InvalidCommand);
                return;
            }
            handleCbor(cid, payload);
            return;
        case CTAPHID_PING:
            if (state_.breaks(RuleBreak::Hid) && payload.size() > INIT_DATA + 1) {
                payload.resize(INIT_DATA);  // echoes the first packet only
            }
            queueReply(cid, CTAPHID_PING, std::move(payload), ReplyKind::Message);
            return;
        case CTAPHID_WINK:
            if (state_.breaks(RuleBreak::Hid)) {
                sendError(cid, CtaphidError::InvalidCommand);  // though it claims WINK
                return;
            }
            queueReply(cid, command, {}, ReplyKind::Message);
            return;
        case CTAPHID_LOCK:
            queueReply(cid, command, {}, ReplyKind::Message);
            return;
        default:
            if (state_.breaks(RuleBreak::Hid)) {
                queueReply(cid, command, std::move(payload), ReplyKind::Message);
                return;
            }
            sendError(cid, CtaphidError::InvalidCommand);
            return;
    }
}

std::vector<uint8_t> VirtualKey::cardApdu(const uint8_t* apdu, size_t length) {
    log_.push_back({0, CTAPHID_MSG, std::vector<uint8_t>(apdu, apdu + length)});
    ++state_.counters.msgRequests;
    return apdu_.handle(apdu, length);
}

Ctap2Outcome VirtualKey::cardCtap2(const uint8_t* message, size_t length) {
    log_.push_back({0, CTAPHID_CBOR, std::vector<uint8_t>(message, message + length)});
    ++state_.counters.cborRequests;
    return ctap2_.handle(message, length);
}

bool VirtualKey::cardTouched() {
    if (!state_.presence.check()) {
        return false;
    }
    state_.presence.consume();
    return true;
}

void VirtualKey::handleInit(uint32_t cid, const uint8_t* nonce) {
    ++state_.counters.initRequests;
    uint32_t channel = cid;
    if (cid == CTAPHID_BROADCAST_CID && state_.breaks(RuleBreak::Hid) && !channels_.empty()) {
        channel = *channels_.begin();  // the same channel for everyone
    } else if (cid == CTAPHID_BROADCAST_CID) {
        channel = nextChannel_++;
        if (nextChannel_ == CTAPHID_BROADCAST_CID || nextChannel_ == 0) {
            nextChannel_ = 1;
        }
        channels_.insert(channel);
    }
    std::vector<uint8_t> reply(nonce, nonce + 8);
    reply.resize(17);
    writeCid(reply.data() + 8, channel);
    reply[12] = 2;  // CTAPHID protocol version
    reply[13] = state_.profile.firmwareMajor;
    reply[14] = state_.profile.firmwareMinor;
    reply[15] = state_.profile.firmwareBuild;
    uint8_t capabilities = CTAPHID_CAPABILITY_WINK;
    if (state_.profile.ctap2) {
        capabilities |= CTAPHID_CAPABILITY_CBOR;
    }
    bool anyApplet = false;
    for (const auto& a : state_.profile.applets) {
        anyApplet = anyApplet || a.present;
    }
    if (!state_.profile.u2f && !anyApplet) {
        capabilities |= CTAPHID_CAPABILITY_NMSG;
    }
    reply[16] = capabilities;
    queueReply(cid, CTAPHID_INIT, std::move(reply), ReplyKind::Init);
}

void VirtualKey::handleCbor(uint32_t cid, const std::vector<uint8_t>& payload) {
    ++state_.counters.cborRequests;
    Ctap2Outcome outcome = ctap2_.handle(payload.data(), payload.size());
    if (!outcome.needsTouch) {
        queueReply(cid, CTAPHID_CBOR, std::move(outcome.reply), ReplyKind::Message);
        return;
    }
    // The request is the first presence check either way; a key that blinks first answers
    // no sooner than its first keepalive step.
    if (state_.presence.check() && !outcome.blinksFirst) {
        state_.presence.consume();
        queueReply(cid, CTAPHID_CBOR, outcome.complete(), ReplyKind::Message);
        return;
    }
    pending_.active = true;
    pending_.cid = cid;
    pending_.command = CTAPHID_CBOR;
    pending_.started = clock_.tickCount();
    pending_.complete = std::move(outcome.complete);
}

void VirtualKey::finishPending() {
    Pending done = std::move(pending_);
    pending_ = Pending{};
    state_.presence.consume();
    queueReply(done.cid, done.command, done.complete(), ReplyKind::Message);
}

void VirtualKey::sendError(uint32_t cid, CtaphidError code) {
    ++state_.counters.ctaphidErrors;
    queueReply(cid, CTAPHID_ERROR, {static_cast<uint8_t>(code)}, ReplyKind::Error);
}

void VirtualKey::queueReply(uint32_t cid, uint8_t command, std::vector<uint8_t> payload,
                            ReplyKind kind) {
    const FaultMode fault = state_.profile.fault;
    if (fault == FaultMode::Silence) {
        return;
    }
    if (fault == FaultMode::EndlessKeepalive && kind != ReplyKind::Init) {
        stalledChannel_ = cid;  // the answer never comes; keepalives do
        return;
    }
    uint16_t announced = static_cast<uint16_t>(payload.size());
    if (kind == ReplyKind::Message) {
        const bool cborData = command == CTAPHID_CBOR && payload.size() > 1 && payload[0] == 0;
        if (fault == FaultMode::TruncatedCbor && cborData) {
            payload.resize(1 + (payload.size() - 1) / 2);
            announced = static_cast<uint16_t>(payload.size());
        } else if (fault == FaultMode::MalformedCbor && cborData) {
            payload.resize(1);
            payload.insert(payload.end(), MALFORMED_CBOR.begin(), MALFORMED_CBOR.end());
            announced = static_cast<uint16_t>(payload.size());
        } else if (fault == FaultMode::OversizedBcnt) {
            announced = 0xFFFF;
        } else if (fault == FaultMode::WrongChannel) {
            cid = otherChannel(cid);
        }
    }
    queuePackets(cid, command, payload, announced);
}

void VirtualKey::queuePackets(uint32_t cid, uint8_t command, const std::vector<uint8_t>& payload,
                              uint16_t announced) {
    size_t offset = 0;
    uint8_t sequence = 0;
    bool first = true;
    while (first || offset < payload.size()) {
        std::vector<uint8_t> report(VIRTUAL_REPORT_LENGTH, 0);
        writeCid(report.data() + 1, cid);
        size_t take = 0;
        if (first) {
            report[5] = command;
            report[6] = static_cast<uint8_t>(announced >> 8);
            report[7] = static_cast<uint8_t>(announced);
            take = std::min(payload.size() - offset, INIT_DATA);
            std::copy_n(payload.begin() + static_cast<ptrdiff_t>(offset), take, report.begin() + 8);
            first = false;
        } else {
            report[5] = sequence++;
            take = std::min(payload.size() - offset, CONT_DATA);
            std::copy_n(payload.begin() + static_cast<ptrdiff_t>(offset), take, report.begin() + 6);
        }
        offset += take;
        queue_.push_back(std::move(report));
    }
}

void VirtualKey::queueKeepalive(uint32_t cid, uint8_t status) {
    ++state_.counters.keepalives;
    std::vector<uint8_t> keepalive(VIRTUAL_REPORT_LENGTH, 0);
    writeCid(keepalive.data() + 1, cid);
    keepalive[5] = CTAPHID_KEEPALIVE;
    keepalive[7] = 1;
    keepalive[8] = status;
    queue_.push_back(std::move(keepalive));
}

int VirtualKey::readReport(uint8_t* report, size_t capacity, uint32_t timeoutMs) {
    if (!attached_) {
        return -1;
    }
    if (queue_.empty() && stalledChannel_ && state_.profile.fault == FaultMode::EndlessKeepalive) {
        clock_.sleep(KEEPALIVE_INTERVAL_MS);
        queueKeepalive(*stalledChannel_, CTAPHID_KEEPALIVE_PROCESSING);
    }
    if (queue_.empty() && pending_.active && state_.profile.fault != FaultMode::Silence) {
        // The key is waiting for a touch: time passes in keepalive steps.
        clock_.sleep(KEEPALIVE_INTERVAL_MS);
        if (state_.presence.check()) {
            finishPending();
        } else if (clock_.tickCount() - pending_.started >= USER_PRESENCE_TIMEOUT_MS) {
            const uint32_t cid = pending_.cid;
            const uint8_t command = pending_.command;
            pending_ = Pending{};
            state_.presence.consume();
            queueReply(cid, command, {0x2F}, ReplyKind::Message);  // USER_ACTION_TIMEOUT
        } else {
            queueKeepalive(pending_.cid, CTAPHID_KEEPALIVE_UPNEEDED);
        }
    }
    if (queue_.empty()) {
        clock_.sleep(timeoutMs);
        return 0;
    }
    linkDelay();
    const std::vector<uint8_t>& next = queue_.front();
    const size_t n = std::min(capacity, next.size());
    std::memcpy(report, next.data(), n);
    queue_.pop_front();
    ++state_.counters.reportsRead;
    return static_cast<int>(n);
}

}  // namespace orvanta
