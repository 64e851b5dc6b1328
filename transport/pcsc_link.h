#pragma once
// A FIDO key reached as a smart card (an NFC reader or a CCID interface): ISO 7816 APDUs to
// its FIDO application. An APDU (CTAPHID_MSG) goes to the card as it is; a CTAP2 message
// (CTAPHID_CBOR) goes in the NFC framing (NFCCTAP_MSG), and while the card waits for the user
// it is polled and each poll is a keepalive. A card has no CTAPHID: no channel, no INIT
// facts, no PING or WINK.

#include <memory>
#include <span>
#include <string>

#include "transport/ctap_link.h"
#include "transport/nfc_framing.h"

namespace orvanta {

class PcscLink final : public CtapLink {
  public:
    explicit PcscLink(std::unique_ptr<CardChannel> card) : card_(std::move(card)) {}

    // Selects the FIDO application; false, with the reason, when the card has none, does
    // not answer or is gone. A card that names only U2F_V2 is asked for its
    // authenticatorGetInfo, so that ctap2() can say whether it speaks CTAP2.
    bool open(std::string* error);
    // What the card answered to the SELECT (e.g. "U2F_V2" or "FIDO_2_0").
    const std::string& versionText() const { return version_; }
    bool ctap2() const { return ctap2_; }
    // The card went away or stopped answering: every call fails from now on.
    bool removed() const { return removed_; }

    Result<Bytes> call(uint8_t command, std::span<const uint8_t> payload,
                       const CallOptions& options) override;
    LinkFacts facts() const override { return {}; }

  private:
    Result<Bytes> callApdu(std::span<const uint8_t> apdu);
    Result<Bytes> callCtap(std::span<const uint8_t> message, const CallOptions& options);
    Result<Bytes> finishCtap(const CardAnswer& answer, const CallOptions& options);
    CardAnswer sendCtap(std::span<const uint8_t> message);
    CardAnswer selectFido();
    // The running call's cancel ends the wait for the card unless the APDU must be sent
    // whatever happens (the end of a cancelled command).
    CardAnswer transceive(std::span<const uint8_t> apdu, bool cancellable = true);
    void endCommand();

    std::unique_ptr<CardChannel> card_;
    // The running call's cancel; none outside a call.
    CardCancel cancelled_;
    std::string version_;
    bool ctap2_ = false;
    bool removed_ = false;
    // Whether the FIDO application is the card's selected one; other applets' SELECTs and
    // failed exchanges leave it unknown, and the next CTAP command selects it again.
    bool fidoSelected_ = false;
    // The card refused an extended APDU: CTAP messages go as chains of short ones.
    bool shortOnly_ = false;
};

}  // namespace orvanta
