#include "transport/nfc_bridge.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "common/aids.h"
#include "common/iso_status.h"
#include "transport/nfc_protocol.h"

namespace orvanta {

namespace {

// Channels the bridge hands out ("NFC" and a counter).
constexpr uint32_t FIRST_CHANNEL = 0x4E464301;
// CTAP2 status bytes the bridge answers itself (transport/ sits below ctap/).
constexpr uint8_t CTAP2_ERR_KEEPALIVE_CANCEL = 0x2D;
constexpr uint8_t CTAP2_ERR_USER_ACTION_TIMEOUT = 0x2F;
// The version string of the SELECT answer is text; anything longer is not one.
constexpr size_t MAX_VERSION_TEXT = 32;

constexpr uint8_t GET_RESPONSE_POLL[] = {NFCCTAP_CLA, NFCCTAP_GETRESPONSE, 0x00, 0x00};
constexpr uint8_t CONTROL_END[] = {NFCCTAP_CLA, NFCCTAP_CONTROL, NFCCTAP_CONTROL_END, 0x00};

uint32_t readCid(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

void writeCid(uint8_t* p, uint32_t cid) {
    p[0] = static_cast<uint8_t>(cid >> 24);
    p[1] = static_cast<uint8_t>(cid >> 16);
    p[2] = static_cast<uint8_t>(cid >> 8);
    p[3] = static_cast<uint8_t>(cid);
}

// The command again with Le set to le; empty when it is no short APDU whose Le can be set.
std::vector<uint8_t> withShortLe(std::span<const uint8_t> apdu, uint8_t le) {
    std::vector<uint8_t> command(apdu.begin(), apdu.end());
    if (apdu.size() < 4) {
        command.clear();
    } else if (apdu.size() == 4) {
        command.push_back(le);
    } else if (apdu.size() == 5) {
        command[4] = le;
    } else if (apdu[4] != 0 && apdu.size() == 5u + apdu[4]) {
        command.push_back(le);
    } else if (apdu[4] != 0 && apdu.size() == 6u + apdu[4]) {
        command.back() = le;
    } else {
        command.clear();
    }
    return command;
}

bool selectsByName(std::span<const uint8_t> apdu) {
    return apdu.size() >= 5 && (apdu[0] & 0xFC) == ISO_CLA && apdu[1] == ISO_INS_SELECT &&
           apdu[2] == ISO_SELECT_BY_NAME;
}

bool selectsFido(std::span<const uint8_t> apdu) {
    return selectsByName(apdu) && apdu[4] == sizeof FIDO_AID &&
           apdu.size() >= 5 + sizeof FIDO_AID &&
           std::equal(std::begin(FIDO_AID), std::end(FIDO_AID), apdu.begin() + 5);
}

// An extended APDU: the byte after the header is 0 and more follow.
bool isExtended(std::span<const uint8_t> apdu) {
    return apdu.size() >= 7 && apdu[4] == 0x00;
}

// U2F register, authenticate and version belong to the FIDO application.
bool isU2fCommand(std::span<const uint8_t> apdu) {
    return apdu.size() >= 4 && apdu[0] == ISO_CLA && apdu[1] >= 0x01 && apdu[1] <= 0x03;
}

std::vector<uint8_t> shortApdu(uint8_t cla, std::span<const uint8_t> data, bool withLe) {
    std::vector<uint8_t> apdu = {cla, NFCCTAP_MSG, NFCCTAP_P1_GETRESPONSE_SUPPORTED, 0x00,
                                 static_cast<uint8_t>(data.size())};
    apdu.insert(apdu.end(), data.begin(), data.end());
    if (withLe) {
        apdu.push_back(0x00);
    }
    return apdu;
}

}  // namespace

CardAnswer transceiveApdu(CardChannel& card, std::span<const uint8_t> apdu) {
    CardAnswer answer;
    std::vector<uint8_t> command(apdu.begin(), apdu.end());
    bool leRetried = false;
    uint32_t getResponses = 0;
    for (;;) {
        CardReply reply = card.transmit(command);
        if (reply.failure != CardFailure::None) {
            answer.outcome = reply.failure == CardFailure::Removed ? CardAnswer::Outcome::Removed
                                                                   : CardAnswer::Outcome::Failed;
            return answer;
        }
        if (reply.bytes.size() < 2) {
            answer.outcome = CardAnswer::Outcome::Malformed;
            return answer;
        }
        const size_t dataLength = reply.bytes.size() - 2;
        const uint16_t status =
            static_cast<uint16_t>((reply.bytes[dataLength] << 8) | reply.bytes[dataLength + 1]);
        // The answer travels in one CTAPHID message with its status word.
        if (answer.data.size() + dataLength > CTAPHID_MAX_MESSAGE - 2) {
            answer.outcome = CardAnswer::Outcome::Malformed;
            return answer;
        }
        if ((status & 0xFF00) == SW_WRONG_LE && !leRetried && getResponses == 0) {
            leRetried = true;
            std::vector<uint8_t> again = withShortLe(apdu, static_cast<uint8_t>(status));
            if (!again.empty()) {
                command = std::move(again);
                continue;
            }
        }
        answer.data.insert(answer.data.end(), reply.bytes.begin(),
                           reply.bytes.begin() + static_cast<ptrdiff_t>(dataLength));
        if ((status & 0xFF00) == SW_BYTES_REMAINING) {
            if (++getResponses > NFC_MAX_GET_RESPONSES) {
                answer.outcome = CardAnswer::Outcome::Malformed;
                return answer;
            }
            command = {ISO_CLA, ISO_INS_GET_RESPONSE, 0x00, 0x00, static_cast<uint8_t>(status)};
            continue;
        }
        answer.outcome = CardAnswer::Outcome::Answered;
        answer.status = status;
        return answer;
    }
}

std::vector<std::vector<uint8_t>> nfcCtapApdus(std::span<const uint8_t> message, bool shortOnly) {
    if (message.size() <= SHORT_APDU_DATA) {
        return {shortApdu(NFCCTAP_CLA, message, true)};
    }
    if (!shortOnly) {
        std::vector<uint8_t> apdu = {NFCCTAP_CLA,
                                     NFCCTAP_MSG,
                                     NFCCTAP_P1_GETRESPONSE_SUPPORTED,
                                     0x00,
                                     0x00,
                                     static_cast<uint8_t>(message.size() >> 8),
                                     static_cast<uint8_t>(message.size())};
        apdu.insert(apdu.end(), message.begin(), message.end());
        apdu.push_back(0x00);
        apdu.push_back(0x00);
        return {apdu};
    }
    std::vector<std::vector<uint8_t>> chain;
    for (size_t offset = 0; offset < message.size(); offset += SHORT_APDU_DATA) {
        const size_t piece = std::min(SHORT_APDU_DATA, message.size() - offset);
        const bool last = offset + piece == message.size();
        chain.push_back(shortApdu(last ? NFCCTAP_CLA : NFCCTAP_CLA | ISO_CLA_CHAINING,
                                  message.subspan(offset, piece), last));
    }
    return chain;
}

NfcBridge::NfcBridge(std::unique_ptr<CardChannel> card, Clock& clock)
    : card_(std::move(card)), clock_(clock), nextChannel_(FIRST_CHANNEL) {}

bool NfcBridge::open(std::string* error) {
    auto fail = [error](const char* reason) {
        if (error != nullptr) {
            *error = reason;
        }
        return false;
    };
    const CardAnswer select = selectFido();
    if (select.outcome == CardAnswer::Outcome::Removed) {
        return fail("the card was removed");
    }
    if (!select.answered()) {
        return fail("the card does not answer");
    }
    if (select.status != SW_NO_ERROR) {
        return fail("the card has no FIDO application");
    }
    version_.clear();
    for (uint8_t c : select.data) {
        if (c < 0x20 || c > 0x7E || version_.size() == MAX_VERSION_TEXT) {
            break;
        }
        version_.push_back(static_cast<char>(c));
    }
    ctap2_ = version_ == NFC_VERSION_FIDO2;
    if (!ctap2_) {
        // Keys that speak both name only U2F_V2, for the sake of U2F clients: whether CTAP2
        // is there too, authenticatorGetInfo tells.
        const uint8_t getInfo[] = {0x04};
        const CardAnswer info = sendCtap(getInfo);
        if (info.outcome == CardAnswer::Outcome::Removed) {
            return fail("the card was removed");
        }
        ctap2_ = info.answered() && info.status == SW_NO_ERROR && !info.data.empty() &&
                 info.data[0] == 0x00;
        if (info.answered() && info.status == NFC_SW_KEEPALIVE) {
            transceive(CONTROL_END);
        }
    }
    return true;
}

bool NfcBridge::knownChannel(uint32_t cid) const {
    return cid >= FIRST_CHANNEL && cid < nextChannel_;
}

int NfcBridge::write(const uint8_t* report, size_t length) {
    if (report == nullptr || length < 2 || removed_) {
        return -1;
    }
    // Byte 0 is the report ID; a short report reads as padded with zeros.
    std::array<uint8_t, CTAPHID_PACKET_SIZE> packet{};
    std::memcpy(packet.data(), report + 1, std::min<size_t>(length - 1, packet.size()));
    const uint32_t cid = readCid(packet.data());
    if ((packet[4] & 0x80) != 0) {
        initPacket(cid, packet);
    } else {
        continuationPacket(cid, packet);
    }
    return static_cast<int>(length);
}

void NfcBridge::initPacket(uint32_t cid, std::span<const uint8_t, CTAPHID_PACKET_SIZE> packet) {
    const uint8_t command = packet[4];
    const uint16_t length = static_cast<uint16_t>((packet[5] << 8) | packet[6]);
    const auto data = packet.subspan<7, CTAPHID_INIT_DATA>();
    if (command == CTAPHID_INIT) {
        if (cid != CTAPHID_BROADCAST_CID && !knownChannel(cid)) {
            queueError(cid, ctaphid_error::INVALID_CHANNEL);
            return;
        }
        if (length != CTAPHID_INIT_NONCE_LENGTH) {
            queueError(cid, ctaphid_error::INVALID_LEN);
            return;
        }
        if (assembly_ && assembly_->message.cid == cid) {
            assembly_.reset();
        }
        uint32_t channel = cid;
        if (cid == CTAPHID_BROADCAST_CID) {
            channel = nextChannel_++;
        }
        std::array<uint8_t, CTAPHID_INIT_REPLY_LENGTH> reply{};
        std::copy_n(data.begin(), CTAPHID_INIT_NONCE_LENGTH, reply.begin());
        writeCid(reply.data() + 8, channel);
        reply[12] = 2;  // CTAPHID protocol version; device version 0.0.0: a card has none
        reply[16] = ctap2_ ? CTAPHID_CAPABILITY_CBOR : 0;
        queueMessage(cid, CTAPHID_INIT, reply);
        return;
    }
    if (!knownChannel(cid)) {
        queueError(cid, ctaphid_error::INVALID_CHANNEL);
        return;
    }
    if (command == CTAPHID_CANCEL) {
        // Only a command the card is still working on can be cancelled; CANCEL has no
        // answer of its own.
        if (poll_ && poll_->cid == cid) {
            cancelPoll();
            const uint8_t cancelled[] = {CTAP2_ERR_KEEPALIVE_CANCEL};
            queueMessage(cid, CTAPHID_CBOR, cancelled);
        }
        return;
    }
    if (assembly_) {
        if (assembly_->message.cid == cid) {
            assembly_.reset();
            queueError(cid, ctaphid_error::INVALID_SEQ);
        } else {
            queueError(cid, ctaphid_error::CHANNEL_BUSY);
        }
        return;
    }
    if (length > CTAPHID_MAX_MESSAGE) {
        queueError(cid, ctaphid_error::INVALID_LEN);
        return;
    }
    Assembly assembly;
    assembly.message.cid = cid;
    assembly.message.command = command;
    assembly.length = length;
    const size_t first = std::min<size_t>(length, CTAPHID_INIT_DATA);
    assembly.message.payload.assign(data.begin(), data.begin() + static_cast<ptrdiff_t>(first));
    if (first == length) {
        accept(std::move(assembly.message));
        return;
    }
    assembly_ = std::move(assembly);
}

void NfcBridge::continuationPacket(uint32_t cid,
                                   std::span<const uint8_t, CTAPHID_PACKET_SIZE> packet) {
    if (!assembly_) {
        return;  // a stray continuation
    }
    if (assembly_->message.cid != cid) {
        queueError(
            cid, knownChannel(cid) ? ctaphid_error::CHANNEL_BUSY : ctaphid_error::INVALID_CHANNEL);
        return;
    }
    const uint8_t sequence = packet[4];
    if (sequence != assembly_->nextSequence) {
        assembly_.reset();
        queueError(cid, ctaphid_error::INVALID_SEQ);
        return;
    }
    ++assembly_->nextSequence;
    std::vector<uint8_t>& payload = assembly_->message.payload;
    const size_t take = std::min<size_t>(assembly_->length - payload.size(), CTAPHID_CONT_DATA);
    payload.insert(payload.end(), packet.begin() + 5,
                   packet.begin() + 5 + static_cast<ptrdiff_t>(take));
    if (payload.size() == assembly_->length) {
        Message done = std::move(assembly_->message);
        assembly_.reset();
        accept(std::move(done));
    }
}

void NfcBridge::accept(Message message) {
    if (poll_) {
        // A new request: the one the card still works on was given up (its exchange timed
        // out), and its late answer must not pass for this one's.
        cancelPoll();
    }
    switch (message.command) {
        case CTAPHID_PING:
            queueMessage(message.cid, CTAPHID_PING, message.payload);
            return;
        case CTAPHID_LOCK:
            queueMessage(message.cid, CTAPHID_LOCK, {});
            return;
        case CTAPHID_MSG:
        case CTAPHID_CBOR:
            if (message.payload.empty()) {
                queueError(message.cid, ctaphid_error::INVALID_LEN);
            } else if (pending_) {
                queueError(message.cid, ctaphid_error::CHANNEL_BUSY);
            } else {
                pending_ = std::move(message);  // the card is asked when the answer is read
            }
            return;
        default:
            // WINK among them: a card has no light to blink.
            queueError(message.cid, ctaphid_error::INVALID_CMD);
            return;
    }
}

int NfcBridge::read(uint8_t* report, size_t capacity, uint32_t timeoutMs) {
    if (report == nullptr || capacity == 0 || removed_) {
        return -1;
    }
    if (queue_.empty()) {
        bool ok = true;
        if (pending_) {
            Message message = std::move(*pending_);
            pending_.reset();
            ok = process(std::move(message));
        } else if (poll_) {
            ok = pollStep(timeoutMs);
        } else {
            clock_.sleep(timeoutMs);  // nothing asked, nothing will come
        }
        if (!ok) {
            return -1;
        }
    }
    if (queue_.empty()) {
        return 0;
    }
    const Report& next = queue_.front();
    const size_t n = std::min(capacity, next.size());
    std::memcpy(report, next.data(), n);
    queue_.pop_front();
    return static_cast<int>(n);
}

bool NfcBridge::process(Message message) {
    if (removed_) {
        return false;
    }
    return message.command == CTAPHID_MSG ? processApdu(message) : processCbor(message);
}

bool NfcBridge::processApdu(const Message& message) {
    const std::span<const uint8_t> apdu = message.payload;
    if (isU2fCommand(apdu) && !fidoSelected_) {
        // Another applet's query may have been the last: U2F goes to the FIDO application.
        // A card that will not select it says so in the command's own answer.
        if (selectFido().outcome == CardAnswer::Outcome::Removed) {
            return false;
        }
    }
    const CardAnswer answer = transceive(apdu);
    if (answer.outcome == CardAnswer::Outcome::Failed && isExtended(apdu)) {
        // Readers without extended APDUs fail them at the link: to the inspector that is the
        // card's wrong length, and it sends the short form next.
        const uint8_t wrongLength[] = {SW_WRONG_LENGTH >> 8, SW_WRONG_LENGTH & 0xFF};
        queueMessage(message.cid, CTAPHID_MSG, wrongLength);
        return true;
    }
    if (!answer.answered()) {
        return false;
    }
    if (selectsByName(apdu)) {
        fidoSelected_ = answer.status == SW_NO_ERROR && selectsFido(apdu);
    }
    std::vector<uint8_t> reply = answer.data;
    reply.push_back(static_cast<uint8_t>(answer.status >> 8));
    reply.push_back(static_cast<uint8_t>(answer.status));
    queueMessage(message.cid, CTAPHID_MSG, reply);
    return true;
}

bool NfcBridge::processCbor(const Message& message) {
    if (!fidoSelected_) {
        const CardAnswer select = selectFido();
        if (!select.answered()) {
            return false;
        }
        if (select.status != SW_NO_ERROR) {
            queueError(message.cid, ctaphid_error::INVALID_CMD);
            return true;
        }
    }
    return finishCtap(message.cid, sendCtap(message.payload));
}

CardAnswer NfcBridge::sendCtap(std::span<const uint8_t> message) {
    if (message.size() > SHORT_APDU_DATA && !shortOnly_) {
        const CardAnswer answer = transceive(nfcCtapApdus(message, false).front());
        const bool refused = (answer.answered() && answer.status == SW_WRONG_LENGTH) ||
                             answer.outcome == CardAnswer::Outcome::Failed;
        if (!refused) {
            return answer;
        }
        // The card (or its reader) takes short APDUs only.
        shortOnly_ = true;
        if (!fidoSelected_) {
            const CardAnswer select = selectFido();
            if (!select.answered() || select.status != SW_NO_ERROR) {
                return select;
            }
        }
    }
    CardAnswer answer;
    const std::vector<std::vector<uint8_t>> apdus = nfcCtapApdus(message, shortOnly_);
    for (size_t i = 0; i < apdus.size(); ++i) {
        answer = transceive(apdus[i]);
        if (!answer.answered() || (i + 1 < apdus.size() && answer.status != SW_NO_ERROR)) {
            return answer;
        }
    }
    return answer;
}

bool NfcBridge::finishCtap(uint32_t cid, const CardAnswer& answer) {
    if (!answer.answered()) {
        return false;
    }
    if (answer.status == SW_NO_ERROR) {
        if (answer.data.empty()) {
            return false;  // a CTAP answer starts with its status byte
        }
        queueMessage(cid, CTAPHID_CBOR, answer.data);
        return true;
    }
    if (answer.status == NFC_SW_KEEPALIVE) {
        if (!poll_) {
            const uint32_t now = clock_.tickCount();
            poll_ = Poll{cid, now, now};
        }
        const bool known =
            !answer.data.empty() && (answer.data[0] == CTAPHID_KEEPALIVE_PROCESSING ||
                                     answer.data[0] == CTAPHID_KEEPALIVE_UPNEEDED);
        queueKeepalive(cid, known ? answer.data[0] : CTAPHID_KEEPALIVE_UPNEEDED);
        return true;
    }
    // The card would not take the CTAP command (a U2F-only card, or one that refuses it).
    queueError(cid, ctaphid_error::INVALID_CMD);
    return true;
}

bool NfcBridge::pollStep(uint32_t timeoutMs) {
    const uint32_t since = clock_.tickCount() - poll_->last;
    if (since < NFC_POLL_INTERVAL_MS) {
        clock_.sleep(std::min(timeoutMs, NFC_POLL_INTERVAL_MS - since));
        if (clock_.tickCount() - poll_->last < NFC_POLL_INTERVAL_MS) {
            return true;
        }
    }
    const uint32_t cid = poll_->cid;
    if (clock_.tickCount() - poll_->started >= NFC_POLL_LIMIT_MS) {
        cancelPoll();
        if (removed_) {
            return false;
        }
        const uint8_t timeout[] = {CTAP2_ERR_USER_ACTION_TIMEOUT};
        queueMessage(cid, CTAPHID_CBOR, timeout);
        return true;
    }
    poll_->last = clock_.tickCount();
    const CardAnswer answer = transceive(GET_RESPONSE_POLL);
    if (!answer.answered() || answer.status != NFC_SW_KEEPALIVE) {
        poll_.reset();
    }
    return finishCtap(cid, answer);
}

void NfcBridge::cancelPoll() {
    poll_.reset();
    transceive(CONTROL_END);  // a card without the command refuses it; nothing waits then
}

CardAnswer NfcBridge::selectFido() {
    std::vector<uint8_t> apdu = {ISO_CLA, ISO_INS_SELECT, ISO_SELECT_BY_NAME, 0x00,
                                 sizeof FIDO_AID};
    apdu.insert(apdu.end(), std::begin(FIDO_AID), std::end(FIDO_AID));
    apdu.push_back(0x00);
    CardAnswer answer = transceive(apdu);
    fidoSelected_ = answer.answered() && answer.status == SW_NO_ERROR;
    return answer;
}

CardAnswer NfcBridge::transceive(std::span<const uint8_t> apdu) {
    CardAnswer answer = transceiveApdu(*card_, apdu);
    if (answer.outcome == CardAnswer::Outcome::Removed) {
        removed_ = true;
    }
    if (!answer.answered()) {
        fidoSelected_ = false;  // whatever the card did, its state is unknown now
    }
    return answer;
}

void NfcBridge::queueMessage(uint32_t cid, uint8_t command, std::span<const uint8_t> payload) {
    if (payload.size() > CTAPHID_MAX_MESSAGE) {
        queueError(cid, ctaphid_error::INVALID_LEN);
        return;
    }
    size_t offset = 0;
    uint8_t sequence = 0;
    do {
        Report report(REPORT_LENGTH, 0);
        uint8_t* packet = report.data() + 1;
        writeCid(packet, cid);
        size_t take;
        if (offset == 0) {
            packet[4] = command;
            packet[5] = static_cast<uint8_t>(payload.size() >> 8);
            packet[6] = static_cast<uint8_t>(payload.size());
            take = std::min<size_t>(payload.size(), CTAPHID_INIT_DATA);
            std::copy_n(payload.begin(), take, packet + 7);
        } else {
            packet[4] = sequence++;
            take = std::min<size_t>(payload.size() - offset, CTAPHID_CONT_DATA);
            std::copy_n(payload.begin() + static_cast<ptrdiff_t>(offset), take, packet + 5);
        }
        offset += take;
        queue_.push_back(std::move(report));
    } while (offset < payload.size());
}

void NfcBridge::queueError(uint32_t cid, uint8_t code) {
    const uint8_t payload[] = {code};
    queueMessage(cid, CTAPHID_ERROR, payload);
}

void NfcBridge::queueKeepalive(uint32_t cid, uint8_t status) {
    const uint8_t payload[] = {status};
    queueMessage(cid, CTAPHID_KEEPALIVE, payload);
}

}  // namespace orvanta
