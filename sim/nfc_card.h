#pragma once
// The virtual key as a contactless card: the ISO 7816 front of the same handlers its HID
// side reaches. SELECT of the FIDO application answers the version string NFC keys give
// ("U2F_V2" when the key speaks U2F, else "FIDO_2_0"); NFCCTAP_MSG carries CTAP2 (short,
// extended or chained APDUs) and, while the key waits for the user's touch, answers
// NFC_SW_KEEPALIVE to it and to NFCCTAP_GETRESPONSE; every other APDU goes to the applets
// and U2F as over CTAPHID_MSG. An answer longer than a short APDU can carry comes in 61xx
// pieces by GET RESPONSE. orvanta-vicc puts it behind the vpcd virtual reader.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "sim/apdu_handler.h"
#include "sim/virtual_key.h"
#include "transport/clock.h"

namespace orvanta {

class NfcCard {
  public:
    // The touch waits run on the clock (the key's, as a rule).
    NfcCard(VirtualKey& key, Clock& clock) : key_(key), clock_(clock) {}
    NfcCard(const NfcCard&) = delete;
    NfcCard& operator=(const NfcCard&) = delete;

    // The answer to reset, in the form readers give contactless cards (T=0 and T=1,
    // historical bytes naming the card, check byte).
    static const std::vector<uint8_t>& atr();
    // Power off, power on and reset alike: the card leaves the field and comes back, so
    // nothing is selected or waiting; the key keeps its PIN.
    void powerCycle();
    // One command APDU; its response data followed by the status word.
    std::vector<uint8_t> transmit(std::span<const uint8_t> apdu);

    VirtualKey& key() { return key_; }
    bool waitingForTouch() const { return static_cast<bool>(waiting_); }

  private:
    std::vector<uint8_t> answer(std::span<const uint8_t> apdu);
    std::vector<uint8_t> ctapMessage(uint8_t cla, uint8_t p1, std::span<const uint8_t> data);
    std::vector<uint8_t> ctapGetResponse();
    void endWait();

    VirtualKey& key_;
    Clock& clock_;
    bool fidoSelected_ = false;
    std::vector<uint8_t> chain_;                     // the pieces of a chained NFCCTAP_MSG so far
    std::function<std::vector<uint8_t>()> waiting_;  // the CTAP2 command waiting for a touch
    uint32_t waitStart_ = 0;
    PiecedAnswer outgoing_;  // a long answer that GET RESPONSE still gives
};

}  // namespace orvanta
