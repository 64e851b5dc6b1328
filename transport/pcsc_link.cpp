#include "transport/pcsc_link.h"

#include <algorithm>
#include <iterator>

#include "common/aids.h"
#include "common/iso_status.h"
#include "transport/ctaphid_protocol.h"
#include "transport/nfc_protocol.h"

namespace orvanta {

namespace {

// The version string of the SELECT answer is text; anything longer is not one.
constexpr size_t MAX_VERSION_TEXT = 32;

constexpr uint8_t GET_RESPONSE_POLL[] = {NFCCTAP_CLA, NFCCTAP_GETRESPONSE, 0x00, 0x00};
constexpr uint8_t CONTROL_END[] = {NFCCTAP_CLA, NFCCTAP_CONTROL, NFCCTAP_CONTROL_END, 0x00};

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

// A card that stopped answering (gone, or its link failed) ends the call as a failed read
// does on a HID key; one silent for too long as a HID key's missing reply does.
Error stoppedAnswering(CardAnswer::Outcome outcome = CardAnswer::Outcome::Failed) {
    switch (outcome) {
        case CardAnswer::Outcome::Cancelled:
            return Error::transport(TransportCause::Cancelled);
        case CardAnswer::Outcome::Silent:
            return Error::transport(TransportCause::Timeout);
        default:
            return Error::transport(TransportCause::Read);
    }
}

// The running call's cancel, for as long as the call runs.
class CallCancel {
  public:
    CallCancel(CardCancel& slot, const CallOptions& options) : slot_(slot) {
        slot_ = [&options] { return options.cancelRequested(); };
    }
    ~CallCancel() { slot_ = nullptr; }
    CallCancel(const CallCancel&) = delete;
    CallCancel& operator=(const CallCancel&) = delete;

  private:
    CardCancel& slot_;
};

}  // namespace

bool PcscLink::open(std::string* error) {
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
        if (info.outcome == CardAnswer::Outcome::Silent) {
            return fail("the card does not answer");
        }
        ctap2_ = info.answered() && info.status == SW_NO_ERROR && !info.data.empty() &&
                 info.data[0] == 0x00;
        if (info.answered() && info.status == NFC_SW_KEEPALIVE) {
            endCommand();
        }
    }
    return true;
}

Result<Bytes> PcscLink::call(uint8_t command, std::span<const uint8_t> payload,
                             const CallOptions& options) {
    if (removed_) {
        return stoppedAnswering();
    }
    if (command != CTAPHID_MSG && command != CTAPHID_CBOR) {
        return Error::transport(TransportCause::Unsupported);
    }
    if (payload.empty() || payload.size() > CTAPHID_MAX_MESSAGE) {
        return Error::transport(TransportCause::BadRequest);
    }
    if (options.cancelRequested()) {
        return Error::transport(TransportCause::Cancelled);
    }
    const CallCancel cancel(cancelled_, options);
    Result<Bytes> reply = command == CTAPHID_MSG ? callApdu(payload) : callCtap(payload, options);
    if (reply && reply->size() > REPLY_BUFFER_SIZE) {
        return Error::transport(TransportCause::Framing);
    }
    return reply;
}

Result<Bytes> PcscLink::callApdu(std::span<const uint8_t> apdu) {
    if (isU2fCommand(apdu) && !fidoSelected_) {
        // Another applet's query may have been the last: U2F goes to the FIDO application.
        // A card that will not select it says so in the command's own answer.
        const CardAnswer select = selectFido();
        if (removed_ || select.outcome == CardAnswer::Outcome::Cancelled) {
            return stoppedAnswering(select.outcome);
        }
    }
    const CardAnswer answer = transceive(apdu);
    if (answer.outcome == CardAnswer::Outcome::Failed && isExtended(apdu)) {
        // Readers without extended APDUs fail them at the link: to the inspector that is the
        // card's wrong length, and it sends the short form next.
        return Bytes{SW_WRONG_LENGTH >> 8, SW_WRONG_LENGTH & 0xFF};
    }
    if (!answer.answered()) {
        return stoppedAnswering(answer.outcome);
    }
    if (selectsByName(apdu)) {
        fidoSelected_ = answer.status == SW_NO_ERROR && selectsFido(apdu);
    }
    Bytes reply = answer.data;
    reply.push_back(static_cast<uint8_t>(answer.status >> 8));
    reply.push_back(static_cast<uint8_t>(answer.status));
    return reply;
}

Result<Bytes> PcscLink::callCtap(std::span<const uint8_t> message, const CallOptions& options) {
    if (!fidoSelected_) {
        const CardAnswer select = selectFido();
        if (!select.answered()) {
            return stoppedAnswering(select.outcome);
        }
        if (select.status != SW_NO_ERROR) {
            return Error::transport(TransportCause::Unsupported);
        }
    }
    return finishCtap(sendCtap(message), options);
}

CardAnswer PcscLink::sendCtap(std::span<const uint8_t> message) {
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

Result<Bytes> PcscLink::finishCtap(const CardAnswer& first, const CallOptions& options) {
    CardAnswer answer = first;
    const uint32_t start = options.clock.tickCount();
    uint32_t lastPoll = start;
    // While the card waits for the user it answers NFC_SW_KEEPALIVE; it is polled until it
    // answers, the call is cancelled or its time is up.
    while (answer.answered() && answer.status == NFC_SW_KEEPALIVE) {
        const bool known =
            !answer.data.empty() && (answer.data[0] == CTAPHID_KEEPALIVE_PROCESSING ||
                                     answer.data[0] == CTAPHID_KEEPALIVE_UPNEEDED);
        if (options.keepalive) {
            options.keepalive(known ? answer.data[0] : CTAPHID_KEEPALIVE_UPNEEDED);
        }
        for (;;) {
            if (options.cancelRequested()) {
                endCommand();
                return Error::transport(TransportCause::Cancelled);
            }
            const uint32_t now = options.clock.tickCount();
            if (now - start >= options.limitMs) {
                endCommand();
                return Error::transport(TransportCause::Timeout);
            }
            const uint32_t since = now - lastPoll;
            if (since >= NFC_POLL_INTERVAL_MS) {
                break;
            }
            options.clock.sleep(
                std::min(NFC_POLL_INTERVAL_MS - since, options.limitMs - (now - start)));
        }
        lastPoll = options.clock.tickCount();
        answer = transceive(GET_RESPONSE_POLL);
    }
    if (!answer.answered()) {
        return stoppedAnswering(answer.outcome);
    }
    if (answer.status != SW_NO_ERROR) {
        // The card would not take the CTAP command (a U2F-only card, or one that refuses it).
        return Error::transport(TransportCause::Unsupported);
    }
    // A CTAP answer starts with its status byte; an empty one is the caller's short reply.
    return answer.data;
}

void PcscLink::endCommand() {
    // A card without the command refuses it; nothing waits then.
    transceive(CONTROL_END, false);
}

CardAnswer PcscLink::selectFido() {
    std::vector<uint8_t> apdu = {ISO_CLA, ISO_INS_SELECT, ISO_SELECT_BY_NAME, 0x00,
                                 sizeof FIDO_AID};
    apdu.insert(apdu.end(), std::begin(FIDO_AID), std::end(FIDO_AID));
    apdu.push_back(0x00);
    CardAnswer answer = transceive(apdu);
    fidoSelected_ = answer.answered() && answer.status == SW_NO_ERROR;
    return answer;
}

CardAnswer PcscLink::transceive(std::span<const uint8_t> apdu, bool cancellable) {
    if (removed_) {
        CardAnswer gone;
        gone.outcome = CardAnswer::Outcome::Removed;
        return gone;
    }
    CardAnswer answer = transceiveApdu(*card_, apdu, cancellable ? cancelled_ : CardCancel());
    // A card that did not answer in time still has its last command: nothing more goes to it.
    if (answer.outcome == CardAnswer::Outcome::Removed ||
        answer.outcome == CardAnswer::Outcome::Silent) {
        removed_ = true;
    }
    if (!answer.answered()) {
        fidoSelected_ = false;  // whatever the card did, its state is unknown now
    }
    return answer;
}

}  // namespace orvanta
