#include "transport/nfc_framing.h"

#include <algorithm>
#include <utility>

#include "common/aids.h"
#include "common/iso_status.h"
#include "transport/ctaphid_protocol.h"
#include "transport/nfc_protocol.h"

namespace orvanta {

namespace {

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

std::vector<uint8_t> shortApdu(uint8_t cla, std::span<const uint8_t> data, bool withLe) {
    std::vector<uint8_t> apdu = {cla, NFCCTAP_MSG, NFCCTAP_P1_GETRESPONSE_SUPPORTED, 0x00,
                                 static_cast<uint8_t>(data.size())};
    apdu.insert(apdu.end(), data.begin(), data.end());
    if (withLe) {
        apdu.push_back(0x00);
    }
    return apdu;
}

CardAnswer::Outcome outcomeOf(CardFailure failure) {
    switch (failure) {
        case CardFailure::Removed:
            return CardAnswer::Outcome::Removed;
        case CardFailure::Silent:
            return CardAnswer::Outcome::Silent;
        case CardFailure::Cancelled:
            return CardAnswer::Outcome::Cancelled;
        default:
            return CardAnswer::Outcome::Failed;
    }
}

}  // namespace

CardAnswer transceiveApdu(CardChannel& card, std::span<const uint8_t> apdu,
                          const CardCancel& cancelled) {
    CardAnswer answer;
    std::vector<uint8_t> command(apdu.begin(), apdu.end());
    bool leRetried = false;
    uint32_t getResponses = 0;
    for (;;) {
        CardReply reply = card.transmit(command, cancelled);
        if (reply.failure != CardFailure::None) {
            answer.outcome = outcomeOf(reply.failure);
            return answer;
        }
        if (reply.bytes.size() < 2) {
            answer.outcome = CardAnswer::Outcome::Malformed;
            return answer;
        }
        const size_t dataLength = reply.bytes.size() - 2;
        const uint16_t status =
            static_cast<uint16_t>((reply.bytes[dataLength] << 8) | reply.bytes[dataLength + 1]);
        // The answer with its status word is bounded as a CTAPHID message is.
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

}  // namespace orvanta
