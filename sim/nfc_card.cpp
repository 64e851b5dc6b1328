#include "sim/nfc_card.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

#include "common/aids.h"
#include "common/iso_status.h"
#include "ctap/ctap_protocol.h"
#include "sim/apdu_handler.h"
#include "transport/ctaphid_protocol.h"
#include "transport/nfc_protocol.h"

namespace orvanta {

namespace {

constexpr uint32_t TOUCH_CHECK_MS = 100;

bool selectsFido(const Apdu& a) {
    return a.p1 == ISO_SELECT_BY_NAME && a.dataLength == sizeof FIDO_AID &&
           std::memcmp(a.data, FIDO_AID, sizeof FIDO_AID) == 0;
}

}  // namespace

const std::vector<uint8_t>& NfcCard::atr() {
    static const std::vector<uint8_t> bytes = [] {
        constexpr std::string_view historical = "ORVANTA1";
        // T0: TD1 follows, then the number of historical bytes; TD1: T=0, TD2 follows;
        // TD2: T=1. The check byte makes T0 to the last byte XOR to zero.
        std::vector<uint8_t> a(4 + historical.size() + 1);
        a[0] = 0x3B;
        a[1] = static_cast<uint8_t>(0x80 | historical.size());
        a[2] = 0x80;
        a[3] = 0x01;
        std::copy(historical.begin(), historical.end(), a.begin() + 4);
        uint8_t check = 0;
        for (size_t i = 1; i + 1 < a.size(); ++i) {
            check ^= a[i];
        }
        a.back() = check;
        return a;
    }();
    return bytes;
}

void NfcCard::powerCycle() {
    endWait();
    key_.powerCycle();
    fidoSelected_ = false;
    chain_.clear();
    outgoing_.clear();
}

std::vector<uint8_t> NfcCard::transmit(std::span<const uint8_t> apdu) {
    const std::optional<Apdu> parsed = parseApdu(apdu.data(), apdu.size());
    if (parsed && parsed->cla == ISO_CLA && parsed->ins == ISO_INS_GET_RESPONSE &&
        outgoing_.pending()) {
        return outgoing_.next(parsed->le);
    }
    outgoing_.clear();
    if (!parsed) {
        return statusReply(SW_WRONG_LENGTH);
    }
    std::vector<uint8_t> reply = answer(apdu);
    const size_t data = reply.size() - 2;
    if (parsed->extended || data <= SHORT_REPLY_DATA) {
        return reply;
    }
    // More than a short APDU's answer can carry: the rest waits for GET RESPONSE.
    const auto status = static_cast<uint16_t>((reply[data] << 8) | reply[data + 1]);
    reply.resize(data);
    outgoing_.start(std::move(reply), status, SIZE_MAX);
    return outgoing_.next(parsed->le);
}

std::vector<uint8_t> NfcCard::answer(std::span<const uint8_t> apdu) {
    const Apdu a = *parseApdu(apdu.data(), apdu.size());
    if (a.cla == ISO_CLA && a.ins == ISO_INS_SELECT) {
        // The applets keep their own selection (the U2F applet's version command needs it).
        std::vector<uint8_t> applet = key_.cardApdu(apdu.data(), apdu.size());
        endWait();
        chain_.clear();
        fidoSelected_ = selectsFido(a);
        if (!fidoSelected_) {
            return applet;
        }
        const std::string_view version = key_.profile().u2f ? NFC_VERSION_U2F : NFC_VERSION_FIDO2;
        return withStatus(std::vector<uint8_t>(version.begin(), version.end()), SW_NO_ERROR);
    }
    const bool ctapClass = (a.cla & ~ISO_CLA_CHAINING) == NFCCTAP_CLA;
    if (ctapClass &&
        (a.ins == NFCCTAP_MSG || a.ins == NFCCTAP_GETRESPONSE || a.ins == NFCCTAP_CONTROL)) {
        if (!fidoSelected_ || !key_.profile().ctap2) {
            return statusReply(SW_INS_NOT_SUPPORTED);
        }
        if (a.ins == NFCCTAP_MSG) {
            return ctapMessage(a.cla, a.p1, std::span<const uint8_t>(a.data, a.dataLength));
        }
        if (a.ins == NFCCTAP_GETRESPONSE) {
            return ctapGetResponse();
        }
        if (a.p1 != NFCCTAP_CONTROL_END) {
            return statusReply(SW_WRONG_DATA);
        }
        endWait();
        chain_.clear();
        return statusReply(SW_NO_ERROR);
    }
    return key_.cardApdu(apdu.data(), apdu.size());
}

std::vector<uint8_t> NfcCard::ctapMessage(uint8_t cla, uint8_t p1, std::span<const uint8_t> data) {
    if ((cla & ISO_CLA_CHAINING) != 0) {
        if (chain_.size() + data.size() > CTAPHID_MAX_MESSAGE) {
            chain_.clear();
            return statusReply(SW_WRONG_LENGTH);
        }
        chain_.insert(chain_.end(), data.begin(), data.end());
        return statusReply(SW_NO_ERROR);
    }
    std::vector<uint8_t> message = std::move(chain_);
    chain_.clear();
    message.insert(message.end(), data.begin(), data.end());
    if (message.empty()) {
        return statusReply(SW_WRONG_LENGTH);
    }
    endWait();  // a new command replaces one still waiting
    Ctap2Outcome outcome = key_.cardCtap2(message.data(), message.size());
    if (!outcome.needsTouch) {
        return withStatus(std::move(outcome.reply), SW_NO_ERROR);
    }
    if (key_.cardTouched()) {
        return withStatus(outcome.complete(), SW_NO_ERROR);
    }
    waiting_ = std::move(outcome.complete);
    waitStart_ = clock_.tickCount();
    if ((p1 & NFCCTAP_P1_GETRESPONSE_SUPPORTED) == 0) {
        // A client that does not poll gets the answer when it is there: the card holds on.
        for (;;) {
            clock_.sleep(TOUCH_CHECK_MS);
            std::vector<uint8_t> reply = ctapGetResponse();
            if (reply.size() != 3 || reply[1] != (NFC_SW_KEEPALIVE >> 8)) {
                return reply;
            }
        }
    }
    return withStatus({CTAPHID_KEEPALIVE_UPNEEDED}, NFC_SW_KEEPALIVE);
}

std::vector<uint8_t> NfcCard::ctapGetResponse() {
    if (!waiting_) {
        return statusReply(SW_CONDITIONS_NOT_SATISFIED);
    }
    if (clock_.tickCount() - waitStart_ >= USER_PRESENCE_TIMEOUT_MS) {
        endWait();
        return withStatus({ctap_status::USER_ACTION_TIMEOUT}, SW_NO_ERROR);
    }
    if (!key_.cardTouched()) {
        return withStatus({CTAPHID_KEEPALIVE_UPNEEDED}, NFC_SW_KEEPALIVE);
    }
    std::function<std::vector<uint8_t>()> complete = std::move(waiting_);
    waiting_ = nullptr;
    return withStatus(complete(), SW_NO_ERROR);
}

void NfcCard::endWait() {
    if (waiting_) {
        waiting_ = nullptr;
        key_.cardWaitEnded();
    }
}

}  // namespace orvanta
